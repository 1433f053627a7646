#include "web/HttpFetch.h"

#include "base/Error.h"
#include "base/TempFiles.h"
#include "base/Trace.h"
#include "language/Match.h"
#include "web/HttpFetchFile.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <random>
#include <unistd.h>

namespace {

constexpr size_t kPieceSize = 4096;

// A download in progress: a new file beside the target, for its owner's
// eyes only, renamed over the target by Commit and deleted otherwise.
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
            m_guard.emplace(path);
            m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (m_fd >= 0) {
                m_path = path;
                return true;
            }
            m_guard.reset();
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
    // Registered before the file exists, so that no moment is left in
    // which a signal would leave it behind.
    std::optional<CTempFileGuard> m_guard;
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

std::atomic<long> CHttpFetch::s_defaultPageSeconds{kDefaultPageSeconds};
std::atomic<long> CHttpFetch::s_defaultDownloadSeconds{kDefaultDownloadSeconds};

CHttpFetch::CHttpFetch() = default;
CHttpFetch::~CHttpFetch() = default;

bool CHttpFetch::Open(const std::string& url)
{
    Close();
    m_openedAt = Clock::now();
    try {
        m_file = std::make_unique<CHttpFile>(url, m_connectMs, m_stallSeconds, Deadline(m_pageSeconds),
                                             DeadlineText("response", m_pageSeconds));
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

CByteStream* CHttpFetch::GetFile()
{
    if (m_file)
        m_file->SetDeadline(Deadline(m_downloadSeconds), DeadlineText("download", m_downloadSeconds));
    return m_file.get();
}

void CHttpFetch::SetDefaultDeadlines(long pageSeconds, long downloadSeconds)
{
    s_defaultPageSeconds = pageSeconds;
    s_defaultDownloadSeconds = downloadSeconds;
}

CHttpFetch::Clock::time_point CHttpFetch::Deadline(long seconds) const
{
    return m_openedAt + std::chrono::seconds(seconds);
}

std::string CHttpFetch::DeadlineText(const char* what, long seconds)
{
    return std::string("The ") + what + " took longer than its deadline of " + std::to_string(seconds) + " s";
}

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
    file.SetDeadline(Deadline(m_pageSeconds), DeadlineText("page", m_pageSeconds));
    m_buffer.clear();
    auto tooLong = [this] {
        return CInternetException(err::MoreData, "The page is longer than its limit of " + std::to_string(m_readLimit) +
                                                     " bytes");
    };
    if (m_contentLength > 0 && static_cast<uint64_t>(m_contentLength) > m_readLimit)
        throw tooLong();
    char piece[kPieceSize];
    for (;;) {
        long n = file.Read(piece, sizeof piece);
        if (n < 0)
            throw CInternetException(GetLastErr(), file.GetErrorMessage());
        if (n == 0)
            break;
        if (m_buffer.size() + static_cast<size_t>(n) > m_readLimit)
            throw tooLong();
        m_buffer.insert(m_buffer.end(), piece, piece + n);
        m_count += n;
    }
    m_buffer.push_back('\0');
    return m_buffer.data();
}

bool CHttpFetch::Download(const std::string& path)
{
    CHttpFile& file = RequireFile();
    file.SetDeadline(Deadline(m_downloadSeconds), DeadlineText("download", m_downloadSeconds));
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
