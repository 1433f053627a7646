#include "console/LogFile.h"

#include "base/Error.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

bool CLogFile::Open(const std::string& path)
{
    Close();
    if (path.empty()) {
        SetLastErr(err::NotFound);
        return false;
    }
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        SetLastErrFromErrno();
        return false;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        SetLastErrFromErrno(errno == EWOULDBLOCK ? EACCES : errno);
        ::close(fd);
        return false;
    }
    m_fd = fd;
    return true;
}

void CLogFile::Close()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

bool CLogFile::Write(std::string_view text)
{
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
