#pragma once
// One open URL on libcurl (see CurlLibrary.h): the response status and headers, and the body
// pulled on demand as a byte stream.

#include "base/ByteStream.h"
#include "web/CurlLibrary.h"

#include <chrono>
#include <cstdint>
#include <string>

class CHttpFile : public CByteStream {
public:
    using Clock = std::chrono::steady_clock;

    // Connects and waits for the final response head (after redirects) until
    // headDeadline. Throws CInternetException when no response arrives, with
    // 1460 and headDeadlineText when the deadline passes first.
    CHttpFile(const std::string& url, long connectMs, long stallSeconds, Clock::time_point headDeadline,
              const std::string& headDeadlineText);
    ~CHttpFile() override;
    CHttpFile(const CHttpFile&) = delete;
    CHttpFile& operator=(const CHttpFile&) = delete;

    const std::string& GetUrl() const { return m_url; }
    int GetStatus() const { return m_status; }
    // The header lines of the final response, each ending in CR LF.
    const std::string& GetRawHeaders() const { return m_headers; }
    // libcurl's description of the last failure.
    std::string GetErrorMessage() const;

    // The transfer fails with 1460 and this text when it has not ended by
    // then.
    void SetDeadline(Clock::time_point deadline, const std::string& text);

    // Up to size bytes of the body; 0 at its end; -1 with the last error set
    // when the transfer fails (a body cut short or a passed deadline
    // included).
    long Read(void* buffer, size_t size) override;

private:
    void Release();
    static size_t OnHeader(char* data, size_t size, size_t count, void* self);
    static size_t OnBody(char* data, size_t size, size_t count, void* self);
    // Drives the transfer until ready() holds or it has ended.
    template <class Ready>
    void RunUntil(Ready ready);

    std::string m_url;
    const CCurlLibrary* m_curl = nullptr;
    CURLM* m_multi = nullptr;
    CURL* m_easy = nullptr;
    curl_slist* m_requestHeaders = nullptr;
    char m_errorBuffer[256] = {};
    std::string m_headers;
    bool m_headBlockHasLocation = false;
    bool m_headersDone = false;
    int m_status = 0;
    std::string m_pending;
    size_t m_pendingPos = 0;
    bool m_done = false;
    CURLcode m_result = CURLE_OK;
    Clock::time_point m_deadline;
    std::string m_deadlineText;
    bool m_deadlinePassed = false;
};
