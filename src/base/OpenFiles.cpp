#include "base/OpenFiles.h"

#include "base/Error.h"

#include <sys/resource.h>

bool RaiseOpenFileLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        SetLastErrFromErrno();
        return false;
    }
    if (limit.rlim_cur == limit.rlim_max)
        return true;
    limit.rlim_cur = limit.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) {
        SetLastErrFromErrno();
        return false;
    }
    return true;
}
