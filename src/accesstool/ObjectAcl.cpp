#include "accesstool/ObjectAcl.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

bool CObjectAcl::Open(int dirfd, const std::string& name, bool folder)
{
    folder_ = folder;
    // O_NONBLOCK: should a FIFO have taken the file's place, opening it must not hang.
    const int flags = O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY |
                      (folder ? O_DIRECTORY : O_NONBLOCK);
    fd_ = CFileDescriptor(::openat(dirfd, name.c_str(), flags));
    if (!fd_.IsOpen())
        return Fail();
    struct stat st;
    if (::fstat(fd_.Get(), &st) != 0)
        return Fail();
    if (folder ? !S_ISDIR(st.st_mode) : !S_ISREG(st.st_mode)) {
        errno = folder ? ENOTDIR : EINVAL;
        return Fail();
    }
    return true;
}

bool CObjectAcl::Read()
{
    access_ = CAclList(acl_get_fd(fd_.Get()));
    if (!access_.IsValid())
        return Fail();
    if (folder_) {
        default_ = CAclList(acl_get_file(ProcPath().c_str(), ACL_TYPE_DEFAULT));
        if (!default_.IsValid())
            return Fail();
    }
    return true;
}

bool CObjectAcl::HasEntry(const CAccount& account) const
{
    return access_.HasEntry(account);
}

bool CObjectAcl::Update(const CAccount& account, unsigned accessPerms, unsigned inheritPerms)
{
    CAclList access;
    if (!access.CopyFrom(access_) || !access.RemoveEntries(account) ||
        !access.AddEntry(account, accessPerms))
        return Fail();
    if (!folder_)
        return acl_set_fd(fd_.Get(), access.Get()) == 0 || Fail();

    CAclList inherited;
    if (!inherited.CopyFrom(default_) || !inherited.RemoveEntries(account))
        return Fail();
    if (inherited.IsEmpty() && !inherited.AddBaseEntriesOf(access_))
        return Fail();
    if (!inherited.AddEntry(account, inheritPerms))
        return Fail();

    // The descriptor's /proc path reaches the same inode: there is no fd call for default ACLs.
    const std::string path = ProcPath();
    if (acl_set_file(path.c_str(), ACL_TYPE_DEFAULT, inherited.Get()) != 0)
        return Fail();
    if (acl_set_fd(fd_.Get(), access.Get()) != 0) {
        const int error = errno;
        acl_set_file(path.c_str(), ACL_TYPE_DEFAULT, default_.Get());
        errno = error;
        return Fail();
    }
    return true;
}

bool CObjectAcl::Fail()
{
    lastError_ = errno;
    return false;
}

std::string CObjectAcl::ProcPath() const
{
    return "/proc/self/fd/" + std::to_string(fd_.Get());
}
