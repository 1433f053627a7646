#include "base/ByteStream.h"

#include "base/Error.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

CFileStream::~CFileStream() { Close(); }

bool CFileStream::Open(const std::string& path)
{
    Close();
    m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_fd < 0) {
        SetLastErrFromErrno();
        return false;
    }
    return true;
}

void CFileStream::Close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

long CFileStream::Read(void* buffer, size_t size)
{
    if (m_fd < 0) {
        SetLastErr(err::NotOpen);
        return -1;
    }
    for (;;) {
        ssize_t n = ::read(m_fd, buffer, size);
        if (n >= 0)
            return static_cast<long>(n);
        if (errno != EINTR) {
            SetLastErrFromErrno();
            return -1;
        }
    }
}

int64_t CFileStream::Size() const
{
    struct stat st;
    if (m_fd < 0 || fstat(m_fd, &st) != 0)
        return -1;
    return st.st_size;
}

long CMemoryStream::Read(void* buffer, size_t size)
{
    size_t n = std::min(size, m_size - m_pos);
    if (n)
        std::memcpy(buffer, m_data + m_pos, n);
    m_pos += n;
    return static_cast<long>(n);
}
