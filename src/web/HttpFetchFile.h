#pragma once
// One open URL on libcurl: the response status and headers, and the body
// pulled on demand as a byte stream.

#include "base/ByteStream.h"

#include <cstdint>
#include <curl/curl.h>
#include <string>

class CHttpFile : public CByteStream {
public:
    // Connects and waits for the final response head (after redirects).
    // Throws CInternetException when no response arrives.
    CHttpFile(const std::string& url, long connectMs, long stallSeconds);
    ~CHttpFile() override;
    CHttpFile(const CHttpFile&) = delete;
    CHttpFile& operator=(const CHttpFile&) = delete;

    const std::string& GetUrl() const { return m_url; }
    int GetStatus() const { return m_status; }
    // The header lines of the final response, each ending in CR LF.
    const std::string& GetRawHeaders() const { return m_headers; }
    // libcurl's description of the last failure.
    std::string GetErrorMessage() const;

    // Up to size bytes of the body; 0 at its end; -1 with the last error set
    // when the transfer fails (a body cut short included).
    long Read(void* buffer, size_t size) override;

private:
    void Release();
    static size_t OnHeader(char* data, size_t size, size_t count, void* self);
    static size_t OnBody(char* data, size_t size, size_t count, void* self);
    // Drives the transfer until ready() holds or it has ended.
    template <class Ready>
    void RunUntil(Ready ready);

    std::string m_url;
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
};
