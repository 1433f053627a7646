// The socket port against real loopback peers: echo servers, a SOCKS5
// proxy (microsocks) and a scripted proxy for the failure replies.

#include "PortTestUtil.h"
#include "base/Error.h"
#include "ports/PortIO_Socket.h"

#include <future>
#include <gtest/gtest.h>
#include <mutex>

using namespace porttest;
using namespace std::chrono_literals;

extern char** environ;

namespace {

bool Configure(CPortIO_Socket& port, int32_t type, const std::string& host, uint16_t remote, uint16_t local = 0)
{
    return port.SetPropertyById(CPortIO_Socket::kSocketType, CVariant::FromInt(type)) &&
           port.SetPropertyById(CPortIO_Socket::kHost, CVariant::FromString(host)) &&
           port.SetPropertyById(CPortIO_Socket::kPort, CVariant::FromInt(remote)) &&
           port.SetPropertyById(CPortIO_Socket::kPortUDP, CVariant::FromInt(local));
}

TEST(SocketPort, TcpClientExchangesBytesAndDescribesThePeer)
{
    LoopbackServer echo(EchoSession);
    CPortIO_Socket port;
    ASSERT_TRUE(port.OpenSpec("127.0.0.1:" + std::to_string(echo.port()))) << GetLastErr();
    EXPECT_TRUE(port.IsOpen());
    EXPECT_EQ(port.GetDescription(), "127.0.0.1:" + std::to_string(echo.port()));
    const std::string text = "\x55\x55 frame\x00\xFF";
    ASSERT_TRUE(port.Write(text.data(), static_cast<int>(text.size())));
    std::string back(text.size(), '\0');
    ASSERT_TRUE(port.ReadExact(back.data(), static_cast<int>(back.size()), 2000)) << GetLastErr();
    EXPECT_EQ(back, text);
    EXPECT_TRUE(port.ReadExact(nullptr, 0, 0)) << "nothing to read succeeds at once";
    port.Close();
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.GetDescription(), "");
}

TEST(SocketPort, FailedConnectsLeaveAMappedErrorWithItsText)
{
    struct Case {
        std::string host;
        uint16_t port;
        uint32_t error;
        const char* text;
    } cases[] = {
        {"127.0.0.1", FreePort(), err::ConnRefused,
         "Open Error: ->10061\nConnection refused\n"},
        {"", 80, err::HostNotFound, "Open Error: ->11001\nName or service not known\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host);
        CPortIO_Socket port;
        ASSERT_TRUE(Configure(port, CPortIO_Socket::kTcp, c.host, c.port));
        EXPECT_FALSE(port.Open());
        uint32_t code = GetLastErr();
        EXPECT_EQ(code, c.error);
        EXPECT_EQ(formatErrorText("Open Error:", code), c.text);
        EXPECT_FALSE(port.IsOpen());
    }
}

TEST(SocketPort, PeerCloseFailsAPendingWaitWithAborted)
{
    LoopbackServer server([](const LoopbackServer&, int) { std::this_thread::sleep_for(150ms); });
    CPortIO_Socket port;
    ASSERT_TRUE(port.OpenSpec("127.0.0.1:" + std::to_string(server.port())));
    auto t0 = Clock::now();
    EXPECT_FALSE(port.WaitForData(5000));
    EXPECT_EQ(GetLastErr(), err::Aborted);
    EXPECT_LT(msSince(t0), 2000);
    EXPECT_FALSE(port.WaitForData(5000));
    EXPECT_EQ(GetLastErr(), err::Aborted) << "later waits fail the same way";
    EXPECT_FALSE(port.IsOpen()) << "a connection its peer closed is no longer open";
    EXPECT_EQ(GetLastErr(), err::ConnReset);
    // The first write after the peer's close may still be taken; the reset
    // it draws fails a later one.
    bool written = true;
    for (int i = 0; i < 50 && written; ++i) {
        written = port.Write("x", 1);
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_FALSE(written);
    EXPECT_EQ(GetLastErr(), err::ConnReset);
}

TEST(SocketPort, PeerCloseInTheMiddleOfAReadIsAReset)
{
    LoopbackServer server([](const LoopbackServer&, int fd) {
        WriteAll(fd, "abc", 3);
        std::this_thread::sleep_for(100ms);
    });
    CPortIO_Socket port;
    ASSERT_TRUE(port.OpenSpec("127.0.0.1:" + std::to_string(server.port())));
    char buf[8];
    EXPECT_FALSE(port.ReadExact(buf, 8, 5000));
    EXPECT_EQ(GetLastErr(), err::ConnReset);
    EXPECT_EQ(std::string(buf, 3), "abc");
}

TEST(SocketPort, CloseFromAnotherThreadEndsAPendingRead)
{
    LoopbackServer server([](const LoopbackServer& s, int fd) { s.WaitReadable(fd); });
    CPortIO_Socket port;
    ASSERT_TRUE(port.OpenSpec("127.0.0.1:" + std::to_string(server.port())));
    auto reader = std::async(std::launch::async, [&port] {
        char buf[4];
        bool ok = port.ReadExact(buf, 4, 10000);
        return std::make_pair(ok, GetLastErr());
    });
    std::this_thread::sleep_for(100ms);
    port.Close();
    ASSERT_EQ(reader.wait_for(1000ms), std::future_status::ready);
    auto [ok, code] = reader.get();
    EXPECT_FALSE(ok);
    EXPECT_EQ(code, err::Aborted);
    char buf[4];
    EXPECT_EQ(port.Read(buf, 4), -1);
    EXPECT_EQ(GetLastErr(), err::NotOpen);
}

TEST(SocketPort, ServerAcceptsIntoFreshPorts)
{
    for (const char* word : {"server", "SERVER", "Server"}) {
        SCOPED_TRACE(word);
        CPortIO_Socket listener;
        ASSERT_TRUE(listener.OpenSpec(std::string("0:") + word)) << GetLastErr();
        CVariant type;
        ASSERT_TRUE(listener.GetProperty(CPortIO_Socket::kSocketType, type));
        EXPECT_EQ(type.number(), CPortIO_Socket::kServer);
        uint16_t port = listener.GetLocalPort();
        ASSERT_NE(port, 0);
        EXPECT_FALSE(listener.WaitForData(50)) << "no client yet";
        EXPECT_EQ(GetLastErr(), err::Timeout);

        Fd client = ConnectTo(port);
        ASSERT_GE(client.get(), 0);
        ASSERT_TRUE(listener.WaitForData(2000));
        CPortIO_Socket conn;
        ASSERT_TRUE(conn.Accept(listener)) << GetLastErr();
        EXPECT_EQ(conn.GetDescription(), "127.0.0.1:" + std::to_string(LocalPort(client.get())));
        ASSERT_TRUE(WriteAll(client.get(), "ping", 4));
        char buf[4];
        ASSERT_TRUE(conn.ReadExact(buf, 4, 2000));
        EXPECT_EQ(std::string(buf, 4), "ping");
        ASSERT_TRUE(conn.Write("pong", 4));
        ASSERT_TRUE(ReadAll(client.get(), buf, 4));
        EXPECT_EQ(std::string(buf, 4), "pong");
    }
    CPortIO_Socket closedListener, conn;
    EXPECT_FALSE(conn.Accept(closedListener));
    EXPECT_EQ(GetLastErr(), err::NotOpen);
}

TEST(SocketPort, ListenerReaderAcceptsEachPendingClient)
{
    struct Server {
        std::mutex lock;
        std::vector<std::unique_ptr<CPortIO_Socket>> clients;
        static void OnClientWaiting(CPortIO* port, void* context)
        {
            auto* self = static_cast<Server*>(context);
            auto client = std::make_unique<CPortIO_Socket>();
            if (client->Accept(*static_cast<CPortIO_Socket*>(port))) {
                std::lock_guard l(self->lock);
                self->clients.push_back(std::move(client));
            }
        }
        size_t Count()
        {
            std::lock_guard l(lock);
            return clients.size();
        }
    } server;
    CPortIO_Socket listener;
    ASSERT_TRUE(listener.OpenSpec("0:server"));
    ASSERT_TRUE(listener.AsyncRead(Server::OnClientWaiting, &server));
    std::vector<Fd> clients;
    for (int i = 0; i < 3; ++i)
        clients.push_back(ConnectTo(listener.GetLocalPort()));
    auto t0 = Clock::now();
    while (server.Count() < 3 && msSince(t0) < 2000)
        std::this_thread::sleep_for(5ms);
    EXPECT_EQ(server.Count(), 3u);
    listener.Close();
}

TEST(SocketPort, DatagramsFromAnyoneButThePeerReadAsNothing)
{
    Fd peer(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in a = Loopback(0);
    ASSERT_EQ(bind(peer.get(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    uint16_t peerPort = LocalPort(peer.get());
    CPortIO_Socket port;
    ASSERT_TRUE(port.OpenSpec("127.0.0.1:" + std::to_string(peerPort) + ":0:DataGram")) << GetLastErr();
    CVariant type;
    ASSERT_TRUE(port.GetProperty(CPortIO_Socket::kSocketType, type));
    EXPECT_EQ(type.number(), CPortIO_Socket::kUdp);
    uint16_t local = port.GetLocalPort();
    ASSERT_NE(local, 0);

    ASSERT_TRUE(port.Write("to-peer", 7));
    char buf[16];
    sockaddr_in from{};
    socklen_t size = sizeof from;
    ASSERT_EQ(recvfrom(peer.get(), buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &size), 7);
    EXPECT_EQ(std::string(buf, 7), "to-peer");
    EXPECT_EQ(ntohs(from.sin_port), local) << "sent from the bound local port";

    Fd stranger(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in to = Loopback(local);
    ASSERT_EQ(sendto(stranger.get(), "spam", 4, 0, reinterpret_cast<sockaddr*>(&to), sizeof to), 4);
    ASSERT_TRUE(port.WaitForData(2000));
    EXPECT_EQ(port.Read(buf, sizeof buf), 0);

    ASSERT_EQ(sendto(stranger.get(), "spam", 4, 0, reinterpret_cast<sockaddr*>(&to), sizeof to), 4);
    ASSERT_EQ(sendto(peer.get(), "reply", 5, 0, reinterpret_cast<sockaddr*>(&to), sizeof to), 5);
    ASSERT_TRUE(port.ReadExact(buf, 5, 2000)) << "a stranger's datagram is passed over";
    EXPECT_EQ(std::string(buf, 5), "reply");
}

struct OpenGate {
    std::promise<void> entered;
    std::promise<bool> verdict;
    uint32_t errorOnRefusal = err::GatewayRefused;
    static bool Run(CPortIO* port, void* context)
    {
        auto* self = static_cast<OpenGate*>(context);
        EXPECT_NE(port, nullptr);
        self->entered.set_value();
        bool ok = self->verdict.get_future().get();
        if (!ok)
            SetLastErr(self->errorOnRefusal);
        return ok;
    }
};

TEST(SocketPort, BackgroundOpenReportsPendingThenTheResult)
{
    LoopbackServer echo(EchoSession);
    for (bool accept : {true, false}) {
        SCOPED_TRACE(accept);
        CPortIO_Socket port;
        OpenGate gate;
        ASSERT_TRUE(port.SetOpenCallback(OpenGate::Run, &gate));
        ASSERT_TRUE(Configure(port, CPortIO_Socket::kTcp, "127.0.0.1", echo.port()));
        ASSERT_TRUE(port.SetProperty("OpenAsync", CVariant::FromBool(true)));
        ASSERT_TRUE(port.Open());
        gate.entered.get_future().wait();
        EXPECT_FALSE(port.IsOpen());
        EXPECT_EQ(GetLastErr(), err::IoPending);
        gate.verdict.set_value(accept);
        auto t0 = Clock::now();
        while (!port.IsOpen() && GetLastErr() == err::IoPending && msSince(t0) < 2000)
            std::this_thread::sleep_for(2ms);
        EXPECT_EQ(port.IsOpen(), accept);
        EXPECT_EQ(GetLastErr(), accept ? err::Success : err::GatewayRefused);
    }
}

TEST(SocketPort, BackgroundOpenFailureAndReaderStartedWhileOpening)
{
    CPortIO_Socket refused;
    ASSERT_TRUE(Configure(refused, CPortIO_Socket::kTcp, "127.0.0.1", FreePort()));
    ASSERT_TRUE(refused.SetPropertyById(CPortIO_Socket::kOpenAsync, CVariant::FromInt(1)));
    ASSERT_TRUE(refused.Open());
    auto t0 = Clock::now();
    while (!refused.IsOpen() && GetLastErr() == err::IoPending && msSince(t0) < 2000)
        std::this_thread::sleep_for(2ms);
    EXPECT_FALSE(refused.IsOpen());
    EXPECT_EQ(GetLastErr(), err::ConnRefused);

    LoopbackServer echo(EchoSession);
    CPortIO_Socket port;
    OpenGate gate;
    ASSERT_TRUE(port.SetOpenCallback(OpenGate::Run, &gate));
    ASSERT_TRUE(Configure(port, CPortIO_Socket::kTcp, "127.0.0.1", echo.port()));
    ASSERT_TRUE(port.SetPropertyById(CPortIO_Socket::kOpenAsync, CVariant::FromBool(true)));
    ASSERT_TRUE(port.Open());
    struct Got {
        std::mutex lock;
        std::string text;
        static void OnData(CPortIO* p, void* context)
        {
            char buf[64];
            int n = p->Read(buf, sizeof buf);
            auto* self = static_cast<Got*>(context);
            std::lock_guard l(self->lock);
            if (n > 0)
                self->text.append(buf, static_cast<size_t>(n));
        }
    } got;
    ASSERT_TRUE(port.AsyncRead(Got::OnData, &got)) << "a reader may start while opening";
    gate.entered.get_future().wait();
    gate.verdict.set_value(true);
    t0 = Clock::now();
    while (!port.IsOpen() && msSince(t0) < 2000)
        std::this_thread::sleep_for(2ms);
    ASSERT_TRUE(port.Write("hello", 5));
    t0 = Clock::now();
    for (;;) {
        {
            std::lock_guard l(got.lock);
            if (got.text.size() >= 5 || msSince(t0) > 2000)
                break;
        }
        std::this_thread::sleep_for(2ms);
    }
    std::lock_guard l(got.lock);
    EXPECT_EQ(got.text, "hello");
}

TEST(SocketPort, CloseDuringABackgroundOpenEndsIt)
{
    LoopbackServer echo(EchoSession);
    CPortIO_Socket port;
    OpenGate gate;
    ASSERT_TRUE(port.SetOpenCallback(OpenGate::Run, &gate));
    ASSERT_TRUE(Configure(port, CPortIO_Socket::kTcp, "127.0.0.1", echo.port()));
    ASSERT_TRUE(port.SetPropertyById(CPortIO_Socket::kOpenAsync, CVariant::FromBool(true)));
    ASSERT_TRUE(port.Open());
    gate.entered.get_future().wait();
    auto closer = std::async(std::launch::async, [&port] { port.Close(); });
    std::this_thread::sleep_for(50ms);
    gate.verdict.set_value(true);
    ASSERT_EQ(closer.wait_for(2000ms), std::future_status::ready);
    EXPECT_FALSE(port.IsOpen());
}

TEST(SocketPort, AnOpenCallbackThatThrowsFailsTheOpenWithItsText)
{
    LoopbackServer echo(EchoSession);
    CPortIO_Socket port;
    ASSERT_TRUE(port.SetOpenCallback(
        [](CPortIO*, void*) -> bool { throw CCodedError(err::NotFound, "No crate YB0 S5 MB1 in the crate list"); },
        nullptr));
    ASSERT_TRUE(Configure(port, CPortIO_Socket::kTcp, "127.0.0.1", echo.port()));
    ASSERT_TRUE(port.SetPropertyById(CPortIO_Socket::kOpenAsync, CVariant::FromBool(true)));
    ASSERT_TRUE(port.Open());
    auto t0 = Clock::now();
    while (!port.IsOpen() && GetLastErr() == err::IoPending && msSince(t0) < 2000)
        std::this_thread::sleep_for(2ms);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(GetLastErr(), err::NotFound);
    EXPECT_EQ(formatErrorText("Open Error:", GetLastErr()), "Open Error: ->2\nNo crate YB0 S5 MB1 in the crate list\n");
}

TEST(SocketPort, AReaderCallbackThatThrowsEndsOnlyTheReader)
{
    LoopbackServer echo(EchoSession);
    CPortIO_Socket port;
    ASSERT_TRUE(Configure(port, CPortIO_Socket::kTcp, "127.0.0.1", echo.port()));
    ASSERT_TRUE(port.Open());
    ASSERT_TRUE(port.AsyncRead([](CPortIO*, void*) { throw std::runtime_error("from a reader callback"); }, nullptr));
    ASSERT_TRUE(port.Write("x", 1));
    std::this_thread::sleep_for(50ms);
    auto pauser = std::async(std::launch::async, [&port] { return port.PauseReader(); });
    ASSERT_EQ(pauser.wait_for(2000ms), std::future_status::ready) << "a pause does not wait for a dead reader";
    port.ResumeReader();
    char buf[4];
    EXPECT_EQ(port.Read(buf, sizeof buf), 1) << "the port still works";
    port.Close();
}

// microsocks on a free loopback port, stopped with the test.
class Microsocks {
public:
    Microsocks()
    {
        m_port = FreePort();
        std::string port = std::to_string(m_port);
        const char* argv[] = {"microsocks", "-i", "127.0.0.1", "-p", port.c_str(), nullptr};
        posix_spawn_file_actions_t quiet;
        posix_spawn_file_actions_init(&quiet);
        posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
        if (posix_spawnp(&m_pid, "microsocks", &quiet, nullptr, const_cast<char**>(argv), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&quiet);
        auto t0 = Clock::now();
        while (m_pid > 0 && msSince(t0) < 3000 && ConnectTo(m_port).get() < 0)
            std::this_thread::sleep_for(10ms);
    }
    ~Microsocks()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
    }
    bool running() const { return m_pid > 0; }
    uint16_t port() const { return m_port; }

private:
    pid_t m_pid = -1;
    uint16_t m_port = 0;
};

bool UseProxy(CPortIO_Socket& port, uint16_t proxyPort, int32_t type)
{
    return port.SetProperty("EnProxy", CVariant::FromBool(true)) &&
           port.SetProperty("Proxy", CVariant::FromString("127.0.0.1")) &&
           port.SetProperty("ProxyPort", CVariant::FromUInt16(proxyPort)) &&
           port.SetProperty("ProxyType", CVariant::FromInt32(type));
}

TEST(SocketPort, Socks5ThroughMicrosocksReachesTheEchoServer)
{
    Microsocks proxy;
    ASSERT_TRUE(proxy.running()) << "microsocks is installed by scripts/setup";
    LoopbackServer echo(EchoSession);
    CPortIO_Socket port;
    ASSERT_TRUE(UseProxy(port, proxy.port(), CPortIO_Socket::kSocks5));
    ASSERT_TRUE(port.OpenSpec("127.0.0.1:" + std::to_string(echo.port()))) << GetLastErr();
    EXPECT_EQ(port.GetDescription(), "127.0.0.1:" + std::to_string(proxy.port())) << "the proxy's address";
    const std::string text(300, 'x');
    ASSERT_TRUE(port.Write(text.data(), static_cast<int>(text.size())));
    std::string back(text.size(), '\0');
    ASSERT_TRUE(port.ReadExact(back.data(), static_cast<int>(back.size()), 2000)) << GetLastErr();
    EXPECT_EQ(back, text);
}

// A SOCKS5 proxy of our own that answers as a case says, records what the
// client sent, and then sends "PEER" as the far end's first bytes.
struct ScriptedProxy {
    std::vector<uint8_t> methodReply;
    std::vector<uint8_t> connectReply;  // empty: close after the method reply
    std::mutex lock;
    std::vector<uint8_t> received;

    void Session(const LoopbackServer& server, int fd)
    {
        auto take = [&](size_t n) {
            std::vector<uint8_t> b(n);
            if (!ReadAll(fd, b.data(), n))
                return false;
            std::lock_guard l(lock);
            received.insert(received.end(), b.begin(), b.end());
            return true;
        };
        if (!take(3) || !WriteAll(fd, methodReply.data(), methodReply.size()) || connectReply.empty())
            return;
        if (!take(5))
            return;
        uint8_t nameLength;
        {
            std::lock_guard l(lock);
            nameLength = received.back();
        }
        if (!take(nameLength + 2u) || !WriteAll(fd, connectReply.data(), connectReply.size()))
            return;
        WriteAll(fd, "PEER", 4);
        server.WaitReadable(fd);
    }
};

TEST(SocketPort, Socks5RepliesAreCheckedAndTheBoundAddressConsumed)
{
    std::vector<uint8_t> type03 = {0x05, 0x00, 0x00, 0x03, 10};
    for (char c : std::string("proxy.test"))
        type03.push_back(static_cast<uint8_t>(c));
    type03.insert(type03.end(), {0x1F, 0x90});
    std::vector<uint8_t> type04 = {0x05, 0x00, 0x00, 0x04};
    type04.insert(type04.end(), 18, 0xAB);
    struct Case {
        const char* what;
        std::vector<uint8_t> methodReply;
        std::vector<uint8_t> connectReply;
        bool opens;
        uint32_t error;
    } cases[] = {
        {"no acceptable method", {0x05, 0xFF}, {}, false, err::AccessDenied},
        {"user name and password wanted", {0x05, 0x02}, {}, false, err::BadFrame},
        {"not version 5", {0x04, 0x00}, {}, false, err::BadFrame},
        {"proxy hangs up", {0x05, 0x00}, {}, false, err::ConnReset},
        {"connection refused", {0x05, 0x00}, {0x05, 0x05, 0x00, 0x01, 0, 0, 0, 0, 0, 0}, false, err::ConnRefused},
        {"general failure", {0x05, 0x00}, {0x05, 0x01, 0x00, 0x01, 0, 0, 0, 0, 0, 0}, false, err::BadFrame},
        {"reply not version 5", {0x05, 0x00}, {0x04, 0x00, 0x00, 0x01, 0, 0, 0, 0, 0, 0}, false, err::BadFrame},
        {"IPv4 bound address", {0x05, 0x00}, {0x05, 0x00, 0x00, 0x01, 10, 0, 0, 1, 0x1F, 0x90}, true, 0},
        {"named bound address", {0x05, 0x00}, type03, true, 0},
        {"IPv6 bound address", {0x05, 0x00}, type04, true, 0},
        {"unknown address type", {0x05, 0x00}, {0x05, 0x00, 0x00, 0x07, 1, 2, 3, 4}, false, err::BadFrame},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedProxy script{c.methodReply, c.connectReply, {}, {}};
        LoopbackServer proxy([&script](const LoopbackServer& s, int fd) { script.Session(s, fd); });
        CPortIO_Socket port;
        ASSERT_TRUE(UseProxy(port, proxy.port(), CPortIO_Socket::kSocks5));
        ASSERT_TRUE(Configure(port, CPortIO_Socket::kTcp, "crate-7.lab", 0x1F90));
        EXPECT_EQ(port.Open(), c.opens);
        EXPECT_EQ(GetLastErr(), c.error);
        EXPECT_EQ(port.IsOpen(), c.opens) << "a failed handshake closes the socket";
        if (c.opens) {
            char peer[4];
            ASSERT_TRUE(port.ReadExact(peer, 4, 2000)) << "the bound address was read off exactly";
            EXPECT_EQ(std::string(peer, 4), "PEER");
            std::vector<uint8_t> expected = {0x05, 0x01, 0x00, 0x05, 0x01, 0x00, 0x03, 11};
            for (char ch : std::string("crate-7.lab"))
                expected.push_back(static_cast<uint8_t>(ch));
            expected.insert(expected.end(), {0x1F, 0x90});
            std::lock_guard l(script.lock);
            EXPECT_EQ(script.received, expected);
        }
        port.Close();
    }
}

TEST(SocketPort, ProxyRefusalsBeforeAnyHandshakeByte)
{
    struct Case {
        int32_t type;
        std::string host;
        uint32_t error;
    } cases[] = {
        {CPortIO_Socket::kSocks4, "crate", err::ProxyType},
        {CPortIO_Socket::kHttp, "crate", err::ProxyType},
        {CPortIO_Socket::kSocks5, std::string(256, 'h'), err::BadParam},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        ScriptedProxy script{{0x05, 0x00}, {0x05, 0x00, 0x00, 0x01, 0, 0, 0, 0, 0, 0}, {}, {}};
        LoopbackServer proxy([&script](const LoopbackServer& s, int fd) { script.Session(s, fd); });
        CPortIO_Socket port;
        ASSERT_TRUE(UseProxy(port, proxy.port(), c.type));
        ASSERT_TRUE(Configure(port, CPortIO_Socket::kTcp, c.host, 4000));
        EXPECT_FALSE(port.Open());
        EXPECT_EQ(GetLastErr(), c.error);
        EXPECT_FALSE(port.IsOpen());
        auto t0 = Clock::now();
        while (proxy.sessions() == 0 && msSince(t0) < 1000)
            std::this_thread::sleep_for(2ms);
        std::this_thread::sleep_for(20ms);
        std::lock_guard l(script.lock);
        EXPECT_TRUE(script.received.empty()) << "nothing was sent to the proxy";
    }
    ScriptedProxy script{{0x05, 0x00}, {0x05, 0x00, 0x00, 0x01, 0, 0, 0, 0, 0, 0}, {}, {}};
    LoopbackServer proxy([&script](const LoopbackServer& s, int fd) { script.Session(s, fd); });
    CPortIO_Socket port;
    ASSERT_TRUE(UseProxy(port, proxy.port(), CPortIO_Socket::kSocks5));
    ASSERT_TRUE(Configure(port, CPortIO_Socket::kTcp, std::string(255, 'h'), 4000));
    EXPECT_TRUE(port.Open()) << "255 bytes still fit the length byte: " << GetLastErr();
}

TEST(SocketPort, ReaderEndsWhenThePeerCloses)
{
    LoopbackServer server([](const LoopbackServer&, int fd) {
        WriteAll(fd, "bye", 3);
        std::this_thread::sleep_for(50ms);
    });
    struct Got {
        std::atomic<int> bytes{0};
        static void OnData(CPortIO* p, void* context)
        {
            char buf[16];
            int n = p->Read(buf, sizeof buf);
            if (n > 0)
                static_cast<Got*>(context)->bytes += n;
        }
    } got;
    CPortIO_Socket port;
    ASSERT_TRUE(port.OpenSpec("127.0.0.1:" + std::to_string(server.port())));
    ASSERT_TRUE(port.AsyncRead(Got::OnData, &got));
    auto t0 = Clock::now();
    while (got.bytes < 3 && msSince(t0) < 2000)
        std::this_thread::sleep_for(2ms);
    EXPECT_EQ(got.bytes.load(), 3);
    // The reader has ended: a pause finds none running and just counts.
    std::this_thread::sleep_for(200ms);
    auto pause = std::async(std::launch::async, [&port] { return port.PauseReader(); });
    ASSERT_EQ(pause.wait_for(1000ms), std::future_status::ready);
    EXPECT_TRUE(pause.get());
    port.Close();
}

}  // namespace
