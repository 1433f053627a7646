#include "base/Error.h"
#include "support/HttpPeer.h"
#include "support/ReadFile.h"
#include "support/TempDir.h"
#include "web/HttpFetch.h"

#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/socket.h>
#include <netinet/in.h>

namespace {

std::string Pattern(size_t n)
{
    std::string bytes(n, '\0');
    for (size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<char>(i % 251);
    return bytes;
}


// A loopback port that nothing listens on.
int ClosedPort()
{
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t length = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &length);
    close(s);
    return ntohs(a.sin_port);
}

uint32_t ErrorOfOpen(const std::string& url)
{
    try {
        CHttpFetch fetch;
        fetch.Open(url);
    } catch (const CInternetException& e) {
        EXPECT_STRNE(e.what(), "");
        return e.GetError();
    }
    return 0;
}

struct ProgressCall {
    int64_t total, transferred, streamSize, streamTransferred;
    uint32_t stream, reason;
    std::string source, destination;
};

struct ProgressLog {
    std::vector<ProgressCall> calls;
    size_t cancelAtCall = SIZE_MAX;
    uint32_t answer = kProgressCancel;
};

uint32_t RecordProgress(int64_t total, int64_t transferred, int64_t streamSize, int64_t streamTransferred,
                        uint32_t stream, uint32_t reason, const char* source, const char* destination, void* data)
{
    auto* log = static_cast<ProgressLog*>(data);
    log->calls.push_back({total, transferred, streamSize, streamTransferred, stream, reason, source, destination});
    return log->calls.size() - 1 == log->cancelAtCall ? log->answer : kProgressContinue;
}

class HttpFetchTest : public ::testing::Test {
protected:
    CTempDir m_dir;
    CHttpPeer m_peer{m_dir.Path()};
    CHttpFetch m_fetch;
};

}  // namespace

TEST_F(HttpFetchTest, OpenAnswersByStatus)
{
    const struct {
        std::string path;
        bool result;
        uint32_t error;  // last error afterwards; 4242 means left alone
    } cases[] = {
        {"/bytes/10", true, 4242},     {"/status/204", true, 4242},  {"/status/299", true, 4242},
        {"/status/404", false, 2},     {"/status/500", false, 4242}, {"/status/403", false, 4242},
        {"/status/300", false, 4242},  {"/nothing/here", false, 2},  {"/redirect/bytes/5", true, 4242},
    };
    for (const auto& c : cases) {
        SetLastErr(4242);
        EXPECT_EQ(m_fetch.Open(m_peer.Url(c.path)), c.result) << c.path;
        EXPECT_EQ(GetLastErr(), c.error) << c.path;
    }
}

TEST_F(HttpFetchTest, ReadAllReadsWholeBodyWhateverTheLengthHeaderSays)
{
    const struct {
        std::string path;
        size_t size;
        int64_t contentLength;
    } cases[] = {
        {"/bytes/0", 0, 0},
        {"/bytes/10000", 10000, 10000},
        {"/nolength/70000", 70000, 0},
        {"/chunked/9500", 9500, 0},
        {"/redirect/bytes/4097", 4097, 4097},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(m_fetch.Open(m_peer.Url(c.path))) << c.path;
        EXPECT_EQ(m_fetch.GetContentLength(), c.contentLength) << c.path;
        const char* text = m_fetch.ReadAll();
        ASSERT_EQ(m_fetch.GetBuffer().size(), c.size + 1) << c.path;
        EXPECT_EQ(std::string(text, c.size), Pattern(c.size)) << c.path;
        EXPECT_EQ(text[c.size], '\0') << c.path;
        EXPECT_EQ(m_fetch.GetCount(), static_cast<int64_t>(c.size)) << c.path;
    }
}

TEST_F(HttpFetchTest, RequestAsksServerNotCacheAndNamesNoAgent)
{
    ASSERT_TRUE(m_fetch.Open(m_peer.Url("/echo")));
    std::string request = m_fetch.ReadAll();
    EXPECT_NE(request.find("GET /echo HTTP/1.1\r\n"), std::string::npos) << request;
    EXPECT_NE(request.find("Cache-Control: no-cache"), std::string::npos) << request;
    EXPECT_NE(request.find("Pragma: no-cache"), std::string::npos) << request;
    EXPECT_EQ(request.find("User-Agent"), std::string::npos) << request;
}

TEST_F(HttpFetchTest, UrlsThatAreNotHttpThrow)
{
    for (const char* url : {"ftp://127.0.0.1/file", "file:///etc/hostname", "crates.xml", "", "httpx://a/b"})
        EXPECT_EQ(ErrorOfOpen(url), err::NotSupported) << url;
    EXPECT_NE(ErrorOfOpen(m_peer.Url("/bytes/1").replace(0, 4, "HTTP")), err::NotSupported);
}

TEST_F(HttpFetchTest, UnreachableServerThrows)
{
    EXPECT_EQ(ErrorOfOpen("http://127.0.0.1:" + std::to_string(ClosedPort()) + "/x"), err::ConnRefused);
    EXPECT_EQ(ErrorOfOpen("http://127.0.0.1:99999/x"), err::BadParam);
}

TEST_F(HttpFetchTest, WithoutOpenUrlReadsThrowNotOpen)
{
    for (int round = 0; round < 2; ++round) {
        try {
            m_fetch.ReadAll();
            ADD_FAILURE() << "ReadAll did not throw";
        } catch (const CInternetException& e) {
            EXPECT_EQ(e.GetError(), err::NotOpen);
        }
        try {
            m_fetch.Download(m_dir.File("x"));
            ADD_FAILURE() << "Download did not throw";
        } catch (const CInternetException& e) {
            EXPECT_EQ(e.GetError(), err::NotOpen);
        }
        EXPECT_EQ(m_fetch.GetFile(), nullptr);
        // The same after a URL was opened and closed again.
        ASSERT_TRUE(m_fetch.Open(m_peer.Url("/bytes/3")));
        m_fetch.Close();
    }
}

TEST_F(HttpFetchTest, BodyCutShortIsAnErrorNotATruncatedSuccess)
{
    ASSERT_TRUE(m_fetch.Open(m_peer.Url("/cut/20000")));
    EXPECT_EQ(m_fetch.GetContentLength(), 20000);
    try {
        m_fetch.ReadAll();
        ADD_FAILURE() << "ReadAll accepted a body cut short";
    } catch (const CInternetException& e) {
        EXPECT_EQ(e.GetError(), err::ConnReset) << e.what();
    }

    ASSERT_TRUE(m_fetch.Open(m_peer.Url("/cut/20000")));
    EXPECT_FALSE(m_fetch.Download(m_dir.File("cut.bin")));
    EXPECT_EQ(GetLastErr(), err::ConnReset);
    EXPECT_TRUE(m_dir.Entries().empty());
}

TEST_F(HttpFetchTest, StalledServerTimesOut)
{
    m_fetch.SetTimeouts(2000, 1);
    ASSERT_TRUE(m_fetch.Open(m_peer.Url("/stall/100000")));
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(m_fetch.Download(m_dir.File("stall.bin")));
    EXPECT_EQ(GetLastErr(), err::Timeout);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_EQ(m_fetch.GetCount(), 100);
    EXPECT_TRUE(m_dir.Entries().empty());

    // A server that takes the connection and never answers.
    start = std::chrono::steady_clock::now();
    try {
        m_fetch.Open(m_peer.Url("/silent"));
        ADD_FAILURE() << "Open returned from a silent server";
    } catch (const CInternetException& e) {
        EXPECT_EQ(e.GetError(), err::Timeout) << e.what();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

TEST_F(HttpFetchTest, DownloadReportsStreamSwitchThenEachChunk)
{
    const std::string target = m_dir.File("image.bin");
    const std::string url = m_peer.Url("/bytes/20000");
    ProgressLog log;
    m_fetch.SetProgress(RecordProgress, &log);
    ASSERT_TRUE(m_fetch.Open(url));
    ASSERT_TRUE(m_fetch.Download(target));
    EXPECT_EQ(ReadFile(target), Pattern(20000));
    EXPECT_EQ(m_dir.Entries(), std::vector<std::string>{"image.bin"});

    ASSERT_GE(log.calls.size(), 6u);
    EXPECT_EQ(log.calls[0].reason, kProgressStreamSwitch);
    EXPECT_EQ(log.calls[0].transferred, 0);
    int64_t previous = 0;
    for (const auto& call : log.calls) {
        EXPECT_EQ(call.total, 20000);
        EXPECT_EQ(call.streamSize, call.total);
        EXPECT_EQ(call.streamTransferred, call.transferred);
        EXPECT_EQ(call.stream, 1u);
        EXPECT_EQ(call.source, url);
        EXPECT_EQ(call.destination, target);
        EXPECT_LE(call.transferred - previous, 4096);
        previous = call.transferred;
    }
    for (size_t i = 1; i < log.calls.size(); ++i) {
        EXPECT_EQ(log.calls[i].reason, kProgressChunkFinished);
        EXPECT_GT(log.calls[i].transferred, log.calls[i - 1].transferred);
    }
    EXPECT_EQ(log.calls.back().transferred, 20000);
    EXPECT_EQ(m_fetch.GetCount(), 20000);
}

TEST_F(HttpFetchTest, DownloadWithoutLengthHeaderOrChunkedStillCompletes)
{
    for (const char* path : {"/nolength/30000", "/chunked/30001"}) {
        ASSERT_TRUE(m_fetch.Open(m_peer.Url(path)));
        EXPECT_EQ(m_fetch.GetContentLength(), 0);
        ASSERT_TRUE(m_fetch.Download(m_dir.File("body")));
        std::string body = ReadFile(m_dir.File("body"));
        EXPECT_EQ(body, Pattern(body.size() == 30000 ? 30000 : 30001)) << path;
        EXPECT_GE(body.size(), 30000u);
    }
}

TEST_F(HttpFetchTest, CancelLeavesNoFileAndKeepsAnOldOne)
{
    for (uint32_t answer : {kProgressCancel, kProgressStop}) {
        for (size_t cancelAt : {0u, 2u}) {
            const std::string target = m_dir.File("firmware.hex");
            {
                std::ofstream old(target);
                old << "previous image";
            }
            ProgressLog log;
            log.cancelAtCall = cancelAt;
            log.answer = answer;
            m_fetch.SetProgress(RecordProgress, &log);
            ASSERT_TRUE(m_fetch.Open(m_peer.Url("/bytes/50000")));
            SetLastErr(0);
            EXPECT_FALSE(m_fetch.Download(target));
            EXPECT_EQ(GetLastErr(), err::Aborted);
            EXPECT_EQ(log.calls.size(), cancelAt + 1);
            EXPECT_EQ(ReadFile(target), "previous image");
            EXPECT_EQ(m_dir.Entries(), std::vector<std::string>{"firmware.hex"});
            std::filesystem::remove(target);
            ASSERT_TRUE(m_fetch.Open(m_peer.Url("/bytes/100")));
            m_fetch.SetProgress(RecordProgress, &log);
            log.cancelAtCall = SIZE_MAX;
            EXPECT_TRUE(m_fetch.Download(target)) << "a fresh download after a cancel";
            EXPECT_EQ(ReadFile(target), Pattern(100));
            std::filesystem::remove(target);
        }
    }
}

TEST_F(HttpFetchTest, QuietAnswerStopsFurtherCalls)
{
    ProgressLog log;
    log.cancelAtCall = 1;
    log.answer = kProgressQuiet;
    m_fetch.SetProgress(RecordProgress, &log);
    ASSERT_TRUE(m_fetch.Open(m_peer.Url("/bytes/50000")));
    EXPECT_TRUE(m_fetch.Download(m_dir.File("quiet.bin")));
    EXPECT_EQ(log.calls.size(), 2u);
    EXPECT_EQ(ReadFile(m_dir.File("quiet.bin")), Pattern(50000));
}

TEST_F(HttpFetchTest, DownloadIntoMissingFolderFailsWithAccessDenied)
{
    ASSERT_TRUE(m_fetch.Open(m_peer.Url("/bytes/10")));
    EXPECT_FALSE(m_fetch.Download(m_dir.File("no/such/folder/file.bin")));
    EXPECT_EQ(GetLastErr(), err::AccessDenied);
}

TEST_F(HttpFetchTest, BodyReadsAsStream)
{
    ASSERT_TRUE(m_fetch.Open(m_peer.Url("/chunked/12345")));
    CByteStream* body = m_fetch.GetFile();
    ASSERT_NE(body, nullptr);
    std::string got;
    char piece[777];
    long n;
    while ((n = body->Read(piece, sizeof piece)) > 0) {
        EXPECT_LE(n, 777);
        got.append(piece, static_cast<size_t>(n));
    }
    EXPECT_EQ(n, 0);
    EXPECT_EQ(body->Read(piece, sizeof piece), 0) << "the end stays the end";
    EXPECT_EQ(got, Pattern(12345));

    ASSERT_TRUE(m_fetch.Open(m_peer.Url("/cut/9000")));
    got.clear();
    while ((n = m_fetch.GetFile()->Read(piece, sizeof piece)) > 0)
        got.append(piece, static_cast<size_t>(n));
    EXPECT_EQ(n, -1);
    EXPECT_EQ(GetLastErr(), err::ConnReset);
    EXPECT_EQ(got, Pattern(4500));
}

TEST_F(HttpFetchTest, ProxyFromEnvironmentIsUsed)
{
    struct SavedEnv {
        const char* name;
        std::string value;
        bool present;
    } saved[] = {{"http_proxy", "", false}, {"no_proxy", "", false}, {"NO_PROXY", "", false}};
    for (auto& s : saved) {
        if (const char* v = getenv(s.name)) {
            s.value = v;
            s.present = true;
        }
        unsetenv(s.name);
    }
    setenv("http_proxy", m_peer.Url("").c_str(), 1);
    bool opened = m_fetch.Open("http://crates.invalid/DivadiduvList.xml");
    std::string body = opened ? m_fetch.ReadAll() : "";
    for (const auto& s : saved) {
        if (s.present)
            setenv(s.name, s.value.c_str(), 1);
        else
            unsetenv(s.name);
    }
    EXPECT_TRUE(opened);
    EXPECT_EQ(body, "proxied http://crates.invalid/DivadiduvList.xml");
}

TEST_F(HttpFetchTest, ContentLengthComesFromTheFinalResponseHead)
{
    const struct {
        std::string path;
        int64_t length;
    } cases[] = {
        {"/bytes/123456", 123456},
        {"/redirect/redirect/bytes/77", 77},  // not the 0 of the redirects
        {"/status/404", 10},  // "status 404"
        {"/nolength/10", 0},
        {"/chunked/10", 0},
    };
    for (const auto& c : cases) {
        m_fetch.Open(m_peer.Url(c.path));
        EXPECT_EQ(m_fetch.GetContentLength(), c.length) << c.path;
        EXPECT_EQ(m_fetch.GetCount(), 0) << c.path;
    }
}
