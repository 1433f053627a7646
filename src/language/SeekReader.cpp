#include "language/SeekReader.h"

#include "base/Error.h"
#include "base/ReadToEnd.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr size_t kWindowSize = 64 * 1024;
// A reload keeps this many bytes before the requested position in the
// window, so that looking back at the previous byte does not reload.
constexpr int64_t kLookBehind = 256;
}  // namespace

CSeekReader::~CSeekReader() { Close(); }

bool CSeekReader::Open(const std::string& path)
{
    Close();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        SetLastErrFromErrno();
        return false;
    }
    struct stat st;
    if (fstat(fd, &st) != 0) {
        SetLastErrFromErrno();
        ::close(fd);
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        ::close(fd);
        SetLastErr(err::AccessDenied);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        // A pipe or a device has no size to go by: read it to its end.
        const bool read = ReadAll(fd);
        ::close(fd);
        return read;
    }
    m_fd = fd;
    m_size = st.st_size;
    m_buffer.resize(kWindowSize);
    return true;
}

bool CSeekReader::ReadAll(int fd)
{
    std::vector<uint8_t> content;
    if (!ReadToEnd(fd, content))
        return false;
    m_buffer = std::move(content);
    m_memory = true;
    m_size = static_cast<int64_t>(m_buffer.size());
    m_window = m_buffer.data();
    m_winStart = 0;
    m_winLength = m_buffer.size();
    return true;
}

void CSeekReader::Attach(const void* data, size_t size)
{
    Close();
    m_memory = true;
    m_size = static_cast<int64_t>(size);
    m_window = static_cast<const uint8_t*>(data);
    m_winStart = 0;
    m_winLength = size;
}

void CSeekReader::Close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_memory = false;
    m_size = 0;
    m_window = nullptr;
    m_winStart = 0;
    m_winLength = 0;
}

int CSeekReader::Load(int64_t pos)
{
    if (m_fd < 0 || pos < 0 || pos >= m_size)
        return -1;
    int64_t start = pos > kLookBehind ? pos - kLookBehind : 0;
    size_t got = 0;
    while (got < m_buffer.size()) {
        ssize_t n = ::pread(m_fd, m_buffer.data() + got, m_buffer.size() - got, start + static_cast<int64_t>(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    m_window = m_buffer.data();
    m_winStart = start;
    m_winLength = got;
    uint64_t offset = static_cast<uint64_t>(pos - start);
    return offset < got ? m_window[offset] : -1;
}

std::string CSeekReader::Read(int64_t from, int64_t to)
{
    std::string text;
    if (from < 0 || to <= from)
        return text;
    text.reserve(static_cast<size_t>(to - from));
    for (int64_t p = from; p < to; ++p) {
        int c = At(p);
        if (c < 0)
            break;
        text.push_back(static_cast<char>(c));
    }
    return text;
}
