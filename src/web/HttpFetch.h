#pragma once
// Reads web pages and files over HTTP(S): a page into memory, a file to disk
// with progress and cancel, or the body as a stream for a reader.
//
// Threads: one CHttpFetch serves one thread at a time (the open transfer is
// its state); workers that fetch at once each use their own. Every call
// blocks until the server answers or the transfer ends, so the GUI thread
// never calls it: a worker does, and a download is stopped through the
// progress callback's answer.

#include "base/ByteStream.h"
#include "base/Error.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

class CHttpFile;

// A failure of the internet client itself (no network, bad or non-HTTP URL,
// a broken transfer), with one of the program's error codes.
class CInternetException : public CCodedError {
public:
    CInternetException(uint32_t error, const std::string& message) : CCodedError(error, message) {}
    uint32_t GetError() const { return code(); }
};

// Reasons passed to and answers expected from the download progress
// callback; the values of the file-copy progress routine.
enum : uint32_t { kProgressChunkFinished = 0, kProgressStreamSwitch = 1 };
enum : uint32_t { kProgressContinue = 0, kProgressCancel = 1, kProgressStop = 2, kProgressQuiet = 3 };

// Download progress: sizes in bytes (the stream sizes repeat the totals,
// there is one stream), source is the URL, destination the target path.
using HttpProgressFn = uint32_t (*)(int64_t totalSize, int64_t transferred, int64_t streamSize,
                                    int64_t streamTransferred, uint32_t streamNumber, uint32_t reason,
                                    const char* source, const char* destination, void* data);

class CHttpFetch {
public:
    CHttpFetch();
    ~CHttpFetch();
    CHttpFetch(const CHttpFetch&) = delete;
    CHttpFetch& operator=(const CHttpFetch&) = delete;

    // Closes a previous URL and opens this one (redirects followed, no
    // cache). True for a status of 200 to 299; false for any other status,
    // with the last error 2 for 404 and unchanged otherwise. Throws
    // CInternetException with 50 for a URL that is not http:// or https://
    // and when libcurl cannot be loaded, and for a server that cannot be
    // reached or answers no valid response.
    bool Open(const std::string& url);
    // The rest of the body, NUL-terminated (the buffer is kept until the next
    // ReadAll or Open). Throws CInternetException with 6 when no URL is open,
    // with 234 when the body is longer than the read limit, with 1460 when
    // the page deadline passes, or with the transfer's error when the body
    // breaks off.
    const char* ReadAll();
    // Streams the rest of the body into the file at path, replacing it only
    // when the whole body has arrived. Throws as ReadAll when no URL is open.
    // False, with nothing left behind at path, when the file cannot be
    // created (5), writing fails (29), the download deadline passes (1460),
    // the transfer breaks off (its error) or the progress callback answers
    // cancel or stop (995). The file is readable by its owner only, and is
    // removed when the program is ended by SIGINT or SIGTERM meanwhile.
    bool Download(const std::string& path);
    void Close();

    // The open body as a stream under the download deadline, null when no
    // URL is open. Reading it counts towards GetCount only through ReadAll
    // and Download.
    CByteStream* GetFile();
    // The status of the open URL, 0 when none.
    int GetStatus() const;
    // "Content-Length" of the last Open, 0 when absent.
    int64_t GetContentLength() const { return m_contentLength; }
    // Bytes read so far by ReadAll or Download since the last Open.
    int64_t GetCount() const { return m_count; }
    const std::vector<char>& GetBuffer() const { return m_buffer; }

    void SetProgress(HttpProgressFn callback, void* data)
    {
        m_progress = callback;
        m_progressData = data;
    }
    // A connection not made within connectMs fails; a transfer that moves
    // less than one byte per second for stallSeconds fails with 1460.
    void SetTimeouts(long connectMs, long stallSeconds)
    {
        m_connectMs = connectMs;
        m_stallSeconds = stallSeconds;
    }

    // Every fetch ends by a deadline counted from its Open, however slowly
    // the server sends: the response head and a page read by ReadAll by
    // pageSeconds, a body taken by Download or through GetFile by
    // downloadSeconds. New fetchers take the program's defaults.
    void SetDeadlines(long pageSeconds, long downloadSeconds)
    {
        m_pageSeconds = pageSeconds;
        m_downloadSeconds = downloadSeconds;
    }
    static void SetDefaultDeadlines(long pageSeconds, long downloadSeconds);
    static constexpr long kDefaultPageSeconds = 60;
    static constexpr long kDefaultDownloadSeconds = 300;

    // ReadAll refuses a body longer than this many bytes.
    void SetReadLimit(size_t bytes) { m_readLimit = bytes; }
    static constexpr size_t kDefaultReadLimit = 16 * 1024 * 1024;

private:
    using Clock = std::chrono::steady_clock;

    CHttpFile& RequireFile();
    Clock::time_point Deadline(long seconds) const;
    static std::string DeadlineText(const char* what, long seconds);

    std::unique_ptr<CHttpFile> m_file;
    std::vector<char> m_buffer;
    int64_t m_contentLength = 0;
    int64_t m_count = 0;
    HttpProgressFn m_progress = nullptr;
    void* m_progressData = nullptr;
    long m_connectMs = 30000;
    long m_stallSeconds = 60;
    static std::atomic<long> s_defaultPageSeconds;
    static std::atomic<long> s_defaultDownloadSeconds;
    long m_pageSeconds = s_defaultPageSeconds.load();
    long m_downloadSeconds = s_defaultDownloadSeconds.load();
    size_t m_readLimit = kDefaultReadLimit;
    Clock::time_point m_openedAt;
};
