#include "accesstool/Volume.h"

#include <cerrno>
#include <sys/xattr.h>

bool VolumeSupportsAcls(const std::string& folder)
{
    const char* path = folder.empty() ? "." : folder.c_str();
    if (getxattr(path, "system.posix_acl_access", nullptr, 0) >= 0)
        return true;
    return errno != ENOTSUP && errno != EOPNOTSUPP;
}
