#include "shell/LogFile.h"

#include "base/Error.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

bool COutLogFile::Open(const std::string& path)
{
    Close();
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        SetLastErrFromErrno();
        return false;
    }
    // A write lock on the whole file keeps a second writer out, as a
    // share-deny-write open does; readers are not hindered.
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (fcntl(fd, F_OFD_SETLK, &lock) != 0) {
        int e = errno;
        ::close(fd);
        if (e == EAGAIN || e == EACCES)
            SetLastErr(err::SharingViolation);
        else
            SetLastErrFromErrno(e);
        return false;
    }
    m_fd = fd;
    m_path = path;
    return true;
}

void COutLogFile::Close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_path.clear();
}

bool COutLogFile::Write(std::string_view text)
{
    if (m_fd < 0) {
        SetLastErr(err::NotOpen);
        return false;
    }
    while (!text.empty()) {
        ssize_t n = ::write(m_fd, text.data(), text.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            SetLastErrFromErrno();
            return false;
        }
        text.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}
