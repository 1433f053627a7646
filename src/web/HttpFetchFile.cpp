#include "web/HttpFetchFile.h"

#include "base/Error.h"
#include "web/HttpFetch.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <strings.h>

namespace {

uint32_t CodeOfCurlError(const CCurlLibrary& curl, CURLcode result, CURL* easy)
{
    switch (result) {
    case CURLE_UNSUPPORTED_PROTOCOL:
        return err::NotSupported;
    case CURLE_URL_MALFORMAT:
        return err::BadParam;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return err::HostNotFound;
    case CURLE_COULDNT_CONNECT: {
        long osErrno = 0;
        curl.easyGetinfo(easy, CURLINFO_OS_ERRNO, &osErrno);
        uint32_t code = ErrnoToCode(static_cast<int>(osErrno));
        return code == err::Success ? err::ConnRefused : code;
    }
    case CURLE_OPERATION_TIMEDOUT:
        return err::Timeout;
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
        return err::ConnReset;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_TOO_MANY_REDIRECTS:
    case CURLE_BAD_CONTENT_ENCODING:
        return err::BadFrame;
    case CURLE_OUT_OF_MEMORY:
        return err::NoMemory;
    default:
        return err::ConnAborted;
    }
}

bool IsHttpUrl(const std::string& url)
{
    return strncasecmp(url.c_str(), "http://", 7) == 0 || strncasecmp(url.c_str(), "https://", 8) == 0;
}

bool IsFollowedRedirect(long status) { return status == 301 || status == 302 || status == 303 || status == 307 || status == 308; }

}  // namespace

CHttpFile::CHttpFile(const std::string& url, long connectMs, long stallSeconds, Clock::time_point headDeadline,
                     const std::string& headDeadlineText)
    : m_url(url), m_deadline(headDeadline), m_deadlineText(headDeadlineText)
{
    if (!IsHttpUrl(url))
        throw CInternetException(err::NotSupported, "Not an HTTP URL: " + url);
    m_curl = &CCurlLibrary::Get();
    m_easy = m_curl->easyInit();
    m_multi = m_curl->multiInit();
    if (!m_easy || !m_multi) {
        Release();
        throw CInternetException(err::NoMemory, "The internet client cannot start");
    }
    m_curl->easySetopt(m_easy, CURLOPT_URL, url.c_str());
    m_curl->easySetopt(m_easy, CURLOPT_PROTOCOLS_STR, "http,https");
    m_curl->easySetopt(m_easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    m_curl->easySetopt(m_easy, CURLOPT_FOLLOWLOCATION, 1L);
    m_curl->easySetopt(m_easy, CURLOPT_MAXREDIRS, 10L);
    m_curl->easySetopt(m_easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    m_curl->easySetopt(m_easy, CURLOPT_CONNECTTIMEOUT_MS, connectMs);
    m_curl->easySetopt(m_easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    m_curl->easySetopt(m_easy, CURLOPT_LOW_SPEED_TIME, stallSeconds);
    m_curl->easySetopt(m_easy, CURLOPT_NOSIGNAL, 1L);
    m_curl->easySetopt(m_easy, CURLOPT_ERRORBUFFER, m_errorBuffer);
    m_curl->easySetopt(m_easy, CURLOPT_HEADERFUNCTION, &CHttpFile::OnHeader);
    m_curl->easySetopt(m_easy, CURLOPT_HEADERDATA, this);
    m_curl->easySetopt(m_easy, CURLOPT_WRITEFUNCTION, &CHttpFile::OnBody);
    m_curl->easySetopt(m_easy, CURLOPT_WRITEDATA, this);
    // Always fetch from the server, never from a cache on the way.
    m_requestHeaders = m_curl->slistAppend(nullptr, "Cache-Control: no-cache");
    m_requestHeaders = m_curl->slistAppend(m_requestHeaders, "Pragma: no-cache");
    m_curl->easySetopt(m_easy, CURLOPT_HTTPHEADER, m_requestHeaders);
    m_curl->multiAddHandle(m_multi, m_easy);

    RunUntil([this] { return m_headersDone; });
    // A failure after the head has arrived is reported by Read.
    if (!m_headersDone && m_done && m_result != CURLE_OK) {
        CInternetException failure(CodeOfCurlError(*m_curl, m_result, m_easy), GetErrorMessage());
        Release();
        throw failure;
    }
    if (!m_headersDone) {
        long status = 0;
        m_curl->easyGetinfo(m_easy, CURLINFO_RESPONSE_CODE, &status);
        m_status = static_cast<int>(status);
    }
}

CHttpFile::~CHttpFile() { Release(); }

void CHttpFile::Release()
{
    if (m_multi && m_easy)
        m_curl->multiRemoveHandle(m_multi, m_easy);
    if (m_easy)
        m_curl->easyCleanup(m_easy);
    if (m_multi)
        m_curl->multiCleanup(m_multi);
    m_curl->slistFreeAll(m_requestHeaders);
    m_easy = nullptr;
    m_multi = nullptr;
    m_requestHeaders = nullptr;
}

void CHttpFile::SetDeadline(Clock::time_point deadline, const std::string& text)
{
    m_deadline = deadline;
    m_deadlineText = text;
}

std::string CHttpFile::GetErrorMessage() const
{
    if (m_deadlinePassed)
        return m_deadlineText;
    if (m_errorBuffer[0])
        return m_errorBuffer;
    return m_curl->easyStrerror(m_result);
}

size_t CHttpFile::OnHeader(char* data, size_t size, size_t count, void* self)
{
    auto* file = static_cast<CHttpFile*>(self);
    size_t length = size * count;
    std::string_view line(data, length);
    // Each response head (interim, redirect, final) starts with its status line.
    if (line.starts_with("HTTP/")) {
        file->m_headers.clear();
        file->m_headBlockHasLocation = false;
        file->m_headersDone = false;
    } else if (length >= 9 && strncasecmp(data, "Location:", 9) == 0) {
        file->m_headBlockHasLocation = true;
    }
    if (line == "\r\n" || line == "\n") {
        long status = 0;
        file->m_curl->easyGetinfo(file->m_easy, CURLINFO_RESPONSE_CODE, &status);
        bool followed = IsFollowedRedirect(status) && file->m_headBlockHasLocation;
        if (status >= 200 && !followed) {
            file->m_status = static_cast<int>(status);
            file->m_headersDone = true;
        }
    } else {
        file->m_headers.append(data, length);
    }
    return length;
}

size_t CHttpFile::OnBody(char* data, size_t size, size_t count, void* self)
{
    auto* file = static_cast<CHttpFile*>(self);
    file->m_pending.append(data, size * count);
    return size * count;
}

template <class Ready>
void CHttpFile::RunUntil(Ready ready)
{
    while (!ready() && !m_done) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(m_deadline - Clock::now()).count();
        if (left <= 0) {
            m_done = true;
            m_result = CURLE_OPERATION_TIMEDOUT;
            m_deadlinePassed = true;
            return;
        }
        int running = 0;
        if (m_curl->multiPerform(m_multi, &running) != CURLM_OK) {
            m_done = true;
            m_result = CURLE_OUT_OF_MEMORY;
            return;
        }
        int queued = 0;
        while (CURLMsg* message = m_curl->multiInfoRead(m_multi, &queued)) {
            if (message->msg == CURLMSG_DONE) {
                m_done = true;
                m_result = message->data.result;
            }
        }
        if (!ready() && !m_done)
            m_curl->multiPoll(m_multi, nullptr, 0, static_cast<int>(std::min<long long>(left, 1000)), nullptr);
    }
}

long CHttpFile::Read(void* buffer, size_t size)
{
    if (size == 0)
        return 0;
    RunUntil([this] { return m_pendingPos < m_pending.size(); });
    size_t available = m_pending.size() - m_pendingPos;
    if (available == 0) {
        if (m_result == CURLE_OK)
            return 0;
        if (m_deadlinePassed)
            SetLastErr(err::Timeout, m_deadlineText);
        else
            SetLastErr(CodeOfCurlError(*m_curl, m_result, m_easy));
        return -1;
    }
    size_t n = std::min({size, available, static_cast<size_t>(LONG_MAX)});
    std::memcpy(buffer, m_pending.data() + m_pendingPos, n);
    m_pendingPos += n;
    if (m_pendingPos == m_pending.size()) {
        m_pending.clear();
        m_pendingPos = 0;
    }
    return static_cast<long>(n);
}
