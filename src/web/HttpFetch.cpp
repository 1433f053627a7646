#include "web/HttpFetch.h"

#include "base/Error.h"
#include "base/Trace.h"
#include "language/Match.h"
#include "web/HttpFetchFile.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <unistd.h>

namespace {

constexpr size_t kPieceSize = 4096;

// A download in progress: a new file beside the target, renamed over the
// target by Commit and deleted otherwise.
class CPartialFile {
public:
    CPartialFile() = default;
    ~CPartialFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        if (!m_path.empty())
            ::unlink(m_path.c_str());
    }
    CPartialFile(const CPartialFile&) = delete;
    CPartialFile& operator=(const CPartialFile&) = delete;

    bool Create(const std::string& target)
    {
        size_t slash = target.rfind('/');
        std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
        std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
        std::random_device random;
        for (int attempt = 0; attempt < 100; ++attempt) {
            char suffix[16];
            std::snprintf(suffix, sizeof suffix, ".%08x.part", static_cast<unsigned>(random()));
            std::string path = folder + "." + name + suffix;
            m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (m_fd >= 0) {
                m_path = path;
                return true;
            }
            if (errno != EEXIST)
                return false;
        }
        return false;
    }

    bool Write(const char* data, size_t size)
    {
        while (size > 0) {
            ssize_t n = ::write(m_fd, data, size);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            data += n;
            size -= static_cast<size_t>(n);
        }
        return true;
    }

    // False with the last error set when the data cannot be completed or
    // the file cannot take the target's name.
    bool Commit(const std::string& target)
    {
        int fd = m_fd;
        m_fd = -1;
        if (::close(fd) != 0) {
            SetLastErr(err::WriteFault);
            return false;
        }
        if (::rename(m_path.c_str(), target.c_str()) != 0) {
            SetLastErrFromErrno();
            return false;
        }
        m_path.clear();
        return true;
    }

private:
    int m_fd = -1;
    std::string m_path;
};

// The "Content-Length" value of a response head; 0 when absent or beyond
// 64 bits.
int64_t ContentLengthOf(const std::string& headers)
{
    CMatch header("Content-Length:[ \t]*\\c[0-9]+\\c", true);
    if (!header.Match(headers.c_str(), 0))
        return 0;
    std::string digits = header.GetCapture(1, 2, headers.c_str());
    int64_t length = 0;
    if (std::from_chars(digits.data(), digits.data() + digits.size(), length).ec != std::errc())
        return 0;
    return length;
}

}  // namespace

CHttpFetch::CHttpFetch() = default;
CHttpFetch::~CHttpFetch() = default;

bool CHttpFetch::Open(const std::string& url)
{
    Close();
    try {
        m_file = std::make_unique<CHttpFile>(url, m_connectMs, m_stallSeconds);
    } catch (const CInternetException& e) {
        if (trace::On(trace::Http))
            trace::Write(trace::Http, this, "error", nullptr, 0, url + " ->" + std::to_string(e.GetError()) + " " + e.what());
        throw;
    }
    m_contentLength = ContentLengthOf(m_file->GetRawHeaders());
    m_count = 0;
    int status = m_file->GetStatus();
    if (trace::On(trace::Http))
        trace::Write(trace::Http, this, "open", nullptr, 0, url + " status " + std::to_string(status));
    if (status >= 200 && status <= 299)
        return true;
    if (status == 404)
        SetLastErr(err::NotFound);
    return false;
}

void CHttpFetch::Close()
{
    if (m_file && trace::On(trace::Http))
        trace::Write(trace::Http, this, "close", nullptr, 0, std::to_string(m_count) + " bytes read");
    m_file.reset();
}

CByteStream* CHttpFetch::GetFile() { return m_file.get(); }

int CHttpFetch::GetStatus() const { return m_file ? m_file->GetStatus() : 0; }

CHttpFile& CHttpFetch::RequireFile()
{
    if (!m_file)
        throw CInternetException(err::NotOpen, "No URL is open");
    return *m_file;
}

const char* CHttpFetch::ReadAll()
{
    CHttpFile& file = RequireFile();
    m_buffer.clear();
    char piece[kPieceSize];
    for (;;) {
        long n = file.Read(piece, sizeof piece);
        if (n < 0)
            throw CInternetException(GetLastErr(), file.GetErrorMessage());
        if (n == 0)
            break;
        m_buffer.insert(m_buffer.end(), piece, piece + n);
        m_count += n;
    }
    m_buffer.push_back('\0');
    return m_buffer.data();
}

bool CHttpFetch::Download(const std::string& path)
{
    CHttpFile& file = RequireFile();
    CPartialFile target;
    if (!target.Create(path)) {
        SetLastErr(err::AccessDenied);
        return false;
    }
    bool reporting = m_progress != nullptr;
    auto report = [&](uint32_t reason) {
        if (!reporting)
            return true;
        uint32_t answer = m_progress(m_contentLength, m_count, m_contentLength, m_count, 1, reason, file.GetUrl().c_str(),
                                     path.c_str(), m_progressData);
        if (answer == kProgressQuiet)
            reporting = false;
        return answer != kProgressCancel && answer != kProgressStop;
    };
    if (!report(kProgressStreamSwitch)) {
        SetLastErr(err::Aborted);
        return false;
    }
    char piece[kPieceSize];
    for (;;) {
        long n = file.Read(piece, sizeof piece);
        if (n < 0)
            return false;
        if (n == 0)
            break;
        if (!target.Write(piece, static_cast<size_t>(n))) {
            SetLastErr(err::WriteFault);
            return false;
        }
        m_count += n;
        if (!report(kProgressChunkFinished)) {
            SetLastErr(err::Aborted);
            return false;
        }
    }
    return target.Commit(path);
}
