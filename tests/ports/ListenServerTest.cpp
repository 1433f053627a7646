// The listening server against real loopback clients, well-behaved and not:
// tricklers, clients that never read, heads announcing huge bodies, hosts
// outside the allowlist, one client too many.

#include "PortTestUtil.h"
#include "base/Error.h"
#include "ports/ListenServer.h"

#include <condition_variable>
#include <gtest/gtest.h>
#include <optional>

using namespace porttest;

namespace {

// The test protocol: a 5-byte head, 0xA5 and a big-endian body length. A
// head starting 0x00 is skipped, any other is refused. Frames are echoed.
constexpr size_t kHead = 5;

std::vector<uint8_t> Frame(const std::vector<uint8_t>& body, uint32_t announced)
{
    std::vector<uint8_t> f(kHead + body.size());
    f[0] = 0xA5;
    for (int i = 0; i < 4; ++i)
        f[1 + i] = uint8_t(announced >> (24 - 8 * i));
    std::copy(body.begin(), body.end(), f.begin() + kHead);
    return f;
}
std::vector<uint8_t> Frame(const std::vector<uint8_t>& body) { return Frame(body, uint32_t(body.size())); }

struct Closed {
    std::string address;
    ListenCloseReason reason;
    uint32_t error;
};

class EchoHandler : public CListenHandler {
public:
    size_t HeadSize() const override { return kHead; }
    ListenHeadCheck CheckHead(const uint8_t* h) override
    {
        if (h[0] == 0x00)
            return ListenHeadCheck::Ignore();
        if (h[0] != 0xA5)
            return ListenHeadCheck::Refuse();
        return ListenHeadCheck::Frame(uint64_t(h[1]) << 24 | h[2] << 16 | h[3] << 8 | h[4]);
    }
    void OnFrame(CListenClient& client, const uint8_t*, std::vector<uint8_t>& body) override
    {
        {
            std::lock_guard g(lock);
            ++frames;
        }
        const auto f = Frame(body);
        client.Send(f.data(), f.size());
    }
    bool OnConnect(CListenClient& client) override
    {
        std::lock_guard g(lock);
        connected.push_back(client.Address());
        return true;
    }
    void OnClose(CListenClient& client, ListenCloseReason reason, uint32_t error) override
    {
        std::lock_guard g(lock);
        closed.push_back({client.Address(), reason, error});
        changed.notify_all();
    }
    void OnRefuse(const std::string& address, ListenRefuseReason reason) override
    {
        std::lock_guard g(lock);
        refused.emplace_back(address, reason);
        changed.notify_all();
    }
    void OnWarning(const std::string& line) override
    {
        std::lock_guard g(lock);
        warnings.push_back(line);
    }

    // Waits up to 3 s until `n` clients were closed; their records.
    std::vector<Closed> WaitClosed(size_t n)
    {
        std::unique_lock g(lock);
        changed.wait_for(g, std::chrono::seconds(3), [&] { return closed.size() >= n; });
        return closed;
    }
    // Waits up to 3 s for the close of the client at `address`.
    std::optional<ListenCloseReason> WaitReason(const std::string& address)
    {
        std::unique_lock g(lock);
        std::optional<ListenCloseReason> reason;
        changed.wait_for(g, std::chrono::seconds(3), [&] {
            for (const auto& c : closed)
                if (c.address == address)
                    reason = c.reason;
            return reason.has_value();
        });
        return reason;
    }
    size_t WaitRefused(size_t n)
    {
        std::unique_lock g(lock);
        changed.wait_for(g, std::chrono::seconds(3), [&] { return refused.size() >= n; });
        return refused.size();
    }
    int Frames()
    {
        std::lock_guard g(lock);
        return frames;
    }

    std::mutex lock;
    std::condition_variable changed;
    int frames = 0;
    std::vector<std::string> connected;
    std::vector<Closed> closed;
    std::vector<std::pair<std::string, ListenRefuseReason>> refused;
    std::vector<std::string> warnings;
};

ListenSettings LoopbackSettings()
{
    ListenSettings s;
    s.bindAddress = "127.0.0.1";
    s.readDeadlineMs = 300;
    s.writeDeadlineMs = 300;
    return s;
}

// A client connected from a chosen loopback source address.
Fd ConnectFrom(const char* source, uint16_t port)
{
    Fd s(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, source, &local.sin_addr);
    sockaddr_in remote = Loopback(port);
    if (bind(s.get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        connect(s.get(), reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0)
        return Fd();
    return s;
}

// One echo round trip; false when it did not come back within timeoutMs.
bool Echo(int fd, const std::vector<uint8_t>& body, int timeoutMs = 2000)
{
    const auto f = Frame(body);
    std::vector<uint8_t> back(f.size());
    return WriteAll(fd, f.data(), f.size()) && ReadAll(fd, back.data(), back.size(), timeoutMs) && back == f;
}

// True when the server closed the connection (end of file or reset)
// within timeoutMs; the server sends these clients nothing else.
bool ClosedByServerWithin(int fd, int timeoutMs)
{
    uint8_t b;
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, timeoutMs) == 1 && recv(fd, &b, 1, MSG_PEEK) <= 0;
}
bool ClosedByServer(int fd) { return ClosedByServerWithin(fd, 2000); }

class ListenServerTest : public ::testing::Test {
protected:
    void Start(const ListenSettings& s) { ASSERT_TRUE(server.Start(s, handler)) << GetLastErr(); }

    EchoHandler handler;
    CListenServer server;
};

TEST(Ipv4Network, ParsesAddressesAndNetworksAndRefusesTheRest)
{
    struct Case {
        const char* text;
        bool ok;
        const char* normal;
    } cases[] = {
        {"10.1.0.0/16", true, "10.1.0.0/16"},
        {"192.168.1.7", true, "192.168.1.7/32"},
        {"0.0.0.0/0", true, "0.0.0.0/0"},
        {"10.1.2.0/16", false, ""},  // host bits below the prefix
        {"10.1.0.0/33", false, ""},
        {"10.1.0.0/", false, ""},
        {"10.1.0.0/1x", false, ""},
        {"10.1.0/16", false, ""},
        {"host.example", false, ""},
        {"", false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        CIpv4Network n;
        ASSERT_EQ(CIpv4Network::Parse(c.text, n), c.ok);
        if (c.ok) {
            EXPECT_EQ(n.Text(), c.normal);
        }
    }
}

TEST(Ipv4Network, ContainsExactlyTheAddressesUnderItsPrefix)
{
    CIpv4Network n;
    ASSERT_TRUE(CIpv4Network::Parse("172.16.0.0/12", n));
    uint32_t a;
    for (const char* inside : {"172.16.0.0", "172.31.255.255", "172.20.1.2"}) {
        ASSERT_TRUE(ParseIpv4(inside, a));
        EXPECT_TRUE(n.Contains(a)) << inside;
    }
    for (const char* outside : {"172.15.255.255", "172.32.0.0", "10.0.0.1"}) {
        ASSERT_TRUE(ParseIpv4(outside, a));
        EXPECT_FALSE(n.Contains(a)) << outside;
    }
    ASSERT_TRUE(CIpv4Network::Parse("0.0.0.0/0", n));
    ASSERT_TRUE(ParseIpv4("255.255.255.255", a));
    EXPECT_TRUE(n.Contains(a));
}

TEST(Ipv4Network, ListsSplitOnCommasAndBlanksAndNameTheBadEntry)
{
    std::vector<CIpv4Network> list;
    std::string bad;
    ASSERT_TRUE(ParseNetworkList(" 10.0.0.0/8, 127.0.0.1 ,192.168.0.0/24", list, bad));
    EXPECT_EQ(NetworkListText(list), "10.0.0.0/8,127.0.0.1/32,192.168.0.0/24");
    ASSERT_TRUE(ParseNetworkList("", list, bad));
    EXPECT_TRUE(list.empty());
    list.resize(1);
    EXPECT_FALSE(ParseNetworkList("10.0.0.0/8,10.0.0.300", list, bad));
    EXPECT_EQ(bad, "10.0.0.300");
    EXPECT_EQ(list.size(), 1u) << "a failed parse leaves the list as it was";
}

TEST_F(ListenServerTest, TwoClientsAtOnceEachGetTheirOwnEchoes)
{
    Start(LoopbackSettings());
    Fd a = ConnectTo(server.Port()), b = ConnectTo(server.Port());
    ASSERT_GE(a.get(), 0);
    ASSERT_GE(b.get(), 0);
    auto run = [&](int fd, uint8_t tag, bool& ok) {
        ok = true;
        for (int i = 0; i < 200 && ok; ++i)
            ok = Echo(fd, std::vector<uint8_t>(1 + i % 40, uint8_t(tag + i)));
    };
    bool okA = false, okB = false;
    std::thread ta(run, a.get(), 0x10, std::ref(okA));
    std::thread tb(run, b.get(), 0x80, std::ref(okB));
    ta.join();
    tb.join();
    EXPECT_TRUE(okA);
    EXPECT_TRUE(okB);
    EXPECT_EQ(handler.Frames(), 400);
    EXPECT_EQ(server.ClientCount(), 2);
    std::lock_guard g(handler.lock);
    ASSERT_EQ(handler.connected.size(), 2u);
    EXPECT_EQ(handler.connected[0], "127.0.0.1:" + std::to_string(LocalPort(a.get())));
}

TEST_F(ListenServerTest, EmptyBodiesSkippedHeadsAndRefusedHeads)
{
    Start(LoopbackSettings());
    Fd c = ConnectTo(server.Port());
    ASSERT_TRUE(Echo(c.get(), {}));
    const uint8_t skipped[kHead] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF};
    ASSERT_TRUE(WriteAll(c.get(), skipped, sizeof skipped));
    EXPECT_TRUE(Echo(c.get(), {1, 2, 3})) << "a skipped head reads nothing after it";
    const uint8_t refused[kHead] = {0x17, 0, 0, 0, 1};
    ASSERT_TRUE(WriteAll(c.get(), refused, sizeof refused));
    EXPECT_TRUE(ClosedByServer(c.get()));
    const auto closed = handler.WaitClosed(1);
    ASSERT_EQ(closed.size(), 1u);
    EXPECT_EQ(closed[0].reason, ListenCloseReason::BadHead);
    EXPECT_EQ(handler.Frames(), 2);
}

TEST_F(ListenServerTest, WarnsOnceOnlyWhenEveryAddressListensForEveryone)
{
    struct Case {
        const char* bind;
        const char* allow;
        bool warns;
    } cases[] = {{"", "", true}, {"0.0.0.0", "", true}, {"127.0.0.1", "", false}, {"", "127.0.0.0/8", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.bind) + " | " + c.allow);
        EchoHandler h;
        ListenSettings s;
        s.bindAddress = c.bind;
        std::string bad;
        ASSERT_TRUE(ParseNetworkList(c.allow, s.allowed, bad));
        s.openAccessHint = "limit it with --bind or --allow";
        CListenServer srv;
        ASSERT_TRUE(srv.Start(s, h)) << GetLastErr();
        if (c.warns) {
            ASSERT_EQ(h.warnings.size(), 1u);
            EXPECT_EQ(h.warnings[0], "Warning: listening on all addresses, port " + std::to_string(srv.Port()) +
                                         ", and every client may connect; limit it with --bind or --allow");
        } else {
            EXPECT_TRUE(h.warnings.empty());
        }
    }
}

TEST_F(ListenServerTest, AddressOutsideTheAllowlistIsClosedBeforeAnyByteIsRead)
{
    ListenSettings s;  // every address, so that 127.0.0.2 reaches it
    ASSERT_TRUE(CIpv4Network::Parse("127.0.0.1", s.allowed.emplace_back()));
    Start(s);
    Fd outsider = ConnectFrom("127.0.0.2", server.Port());
    ASSERT_GE(outsider.get(), 0);
    const auto f = Frame({1, 2, 3});
    WriteAll(outsider.get(), f.data(), f.size());
    EXPECT_TRUE(ClosedByServer(outsider.get()));
    ASSERT_EQ(handler.WaitRefused(1), 1u);
    {
        std::lock_guard g(handler.lock);
        EXPECT_EQ(handler.refused[0].first, "127.0.0.2:" + std::to_string(LocalPort(outsider.get())));
        EXPECT_EQ(handler.refused[0].second, ListenRefuseReason::NotAllowed);
        EXPECT_TRUE(handler.connected.empty());
    }
    Fd insider = ConnectFrom("127.0.0.1", server.Port());
    EXPECT_TRUE(Echo(insider.get(), {4, 5}));
    EXPECT_EQ(handler.Frames(), 1);
}

TEST_F(ListenServerTest, ClientOverTheLimitIsRefusedUntilAnotherLeaves)
{
    ListenSettings s = LoopbackSettings();
    s.maxClients = 2;
    Start(s);
    Fd a = ConnectTo(server.Port()), b = ConnectTo(server.Port());
    ASSERT_TRUE(Echo(a.get(), {1}));
    ASSERT_TRUE(Echo(b.get(), {2}));
    Fd c = ConnectTo(server.Port());
    EXPECT_TRUE(ClosedByServer(c.get()));
    ASSERT_EQ(handler.WaitRefused(1), 1u);
    EXPECT_EQ(handler.refused[0].second, ListenRefuseReason::TooManyClients);
    EXPECT_TRUE(Echo(a.get(), {3})) << "the clients within the limit go on";

    a.Reset();
    ASSERT_EQ(handler.WaitClosed(1).size(), 1u);
    EXPECT_EQ(handler.closed[0].reason, ListenCloseReason::PeerClosed);
    Fd d = ConnectTo(server.Port());
    EXPECT_TRUE(Echo(d.get(), {4}));
}

TEST_F(ListenServerTest, TricklingClientIsClosedAtTheReadDeadlineWhileOthersGoOn)
{
    Start(LoopbackSettings());  // 300 ms
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"head", Frame({9, 9, 9})},
        {"body", Frame(std::vector<uint8_t>(8, 7))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Fd slow = ConnectTo(server.Port()), good = ConnectTo(server.Port());
        // The body case sends its head at once, then trickles the body.
        const size_t atOnce = std::string(c.what) == "body" ? kHead : 0;
        ASSERT_TRUE(WriteAll(slow.get(), c.bytes.data(), atOnce));
        const std::string slowAddress = "127.0.0.1:" + std::to_string(LocalPort(slow.get()));
        const auto t0 = Clock::now();
        for (size_t i = atOnce; i < c.bytes.size() && !ClosedByServerWithin(slow.get(), 0); ++i) {
            WriteAll(slow.get(), &c.bytes[i], 1);
            EXPECT_TRUE(Echo(good.get(), {uint8_t(i)}, 250));
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        EXPECT_EQ(handler.WaitReason(slowAddress), ListenCloseReason::ReadDeadline);
        EXPECT_LT(msSince(t0), 1000);
        EXPECT_TRUE(ClosedByServer(slow.get()));
        EXPECT_TRUE(Echo(good.get(), {0x42}));
    }
}

TEST_F(ListenServerTest, HeadAnnouncingAHugeBodyIsRefusedAtOnce)
{
    ListenSettings s = LoopbackSettings();
    s.maxBodyLength = 1000;
    Start(s);
    for (uint32_t announced : {1001u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(announced);
        Fd c = ConnectTo(server.Port());
        ASSERT_TRUE(Echo(c.get(), std::vector<uint8_t>(1000, 1))) << "the limit itself passes";
        const auto f = Frame({1, 2, 3}, announced);
        const auto t0 = Clock::now();
        ASSERT_TRUE(WriteAll(c.get(), f.data(), f.size()));
        EXPECT_TRUE(ClosedByServer(c.get()));
        EXPECT_LT(msSince(t0), 250) << "refused on the head, not after waiting for the body";
    }
    const auto closed = handler.WaitClosed(2);
    ASSERT_EQ(closed.size(), 2u);
    EXPECT_EQ(closed[0].reason, ListenCloseReason::TooLong);
    EXPECT_EQ(closed[1].reason, ListenCloseReason::TooLong);
    EXPECT_EQ(handler.Frames(), 2);
}

TEST_F(ListenServerTest, ClientThatNeverReadsIsClosedAndOthersKeepTheirPace)
{
    ListenSettings s = LoopbackSettings();
    s.sendBufferBytes = 8192;
    Start(s);
    Fd stalled(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int small = 4096;
    setsockopt(stalled.get(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in a = Loopback(server.Port());
    ASSERT_EQ(connect(stalled.get(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    Fd good = ConnectTo(server.Port());

    // Frames of 4 kB echoed to a client that never reads fill both socket
    // buffers; from then on the server reads nothing more from it.
    const auto big = Frame(std::vector<uint8_t>(4096, 0x33));
    std::atomic<bool> stop{false};
    std::thread flood([&] {
        pollfd p{stalled.get(), POLLOUT, 0};
        while (!stop && poll(&p, 1, 50) >= 0) {
            if ((p.revents & POLLOUT) && send(stalled.get(), big.data(), big.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0 &&
                errno != EAGAIN)
                return;
        }
    });
    long worst = 0;
    const auto t0 = Clock::now();
    bool closed = false;
    while (!closed && msSince(t0) < 3000) {
        const auto t = Clock::now();
        ASSERT_TRUE(Echo(good.get(), {1, 2, 3}));
        worst = std::max(worst, msSince(t));
        std::lock_guard g(handler.lock);
        closed = !handler.closed.empty();
    }
    stop = true;
    flood.join();
    EXPECT_EQ(handler.WaitReason("127.0.0.1:" + std::to_string(LocalPort(stalled.get()))),
              ListenCloseReason::Stalled);
    EXPECT_LT(worst, 150) << "the stalled client never held up the other";
    EXPECT_TRUE(Echo(good.get(), {4}));
}

TEST_F(ListenServerTest, SendFromAnotherThreadAndTheOutputLimit)
{
    ListenSettings s = LoopbackSettings();
    s.maxQueuedBytes = 64 * 1024;
    s.sendBufferBytes = 8192;
    Start(s);
    Fd c = ConnectTo(server.Port());
    ASSERT_TRUE(Echo(c.get(), {1}));
    auto clients = server.Clients();
    ASSERT_EQ(clients.size(), 1u);
    const std::vector<uint8_t> pushed = {0xDE, 0xAD};
    ASSERT_TRUE(clients[0]->Send(pushed.data(), pushed.size()));
    std::vector<uint8_t> got(2);
    ASSERT_TRUE(ReadAll(c.get(), got.data(), got.size()));
    EXPECT_EQ(got, pushed);

    // The client stops reading: pushes queue up to the limit, then fail
    // and close the client rather than grow without bound.
    const std::vector<uint8_t> chunk(16 * 1024, 0x5A);
    int accepted = 0;
    while (clients[0]->Send(chunk.data(), chunk.size()))
        ASSERT_LT(++accepted, 1000);
    EXPECT_FALSE(clients[0]->IsOpen());
    const auto closed = handler.WaitClosed(1);
    ASSERT_EQ(closed.size(), 1u);
    EXPECT_EQ(closed[0].reason, ListenCloseReason::OutputLimit);
    EXPECT_FALSE(clients[0]->Send(pushed.data(), pushed.size())) << "closed clients take nothing";
}

TEST_F(ListenServerTest, OwnerCloseAndStopEndEveryClient)
{
    Start(LoopbackSettings());
    Fd a = ConnectTo(server.Port()), b = ConnectTo(server.Port()), d = ConnectTo(server.Port());
    for (int fd : {a.get(), b.get(), d.get()})
        ASSERT_TRUE(Echo(fd, {7}));
    auto clients = server.Clients();
    ASSERT_EQ(clients.size(), 3u);
    clients[0]->Close();
    EXPECT_TRUE(ClosedByServer(a.get()));
    ASSERT_EQ(handler.WaitClosed(1).size(), 1u);
    EXPECT_EQ(handler.closed[0].reason, ListenCloseReason::ClosedByOwner);

    const uint8_t halfHead[2] = {0xA5, 0};
    ASSERT_TRUE(WriteAll(b.get(), halfHead, sizeof halfHead));  // b is inside a read
    const uint16_t port = server.Port();
    const auto t0 = Clock::now();
    server.Stop();
    EXPECT_LT(msSince(t0), 250);
    EXPECT_FALSE(server.IsRunning());
    const auto closed = handler.WaitClosed(3);
    ASSERT_EQ(closed.size(), 3u);
    EXPECT_EQ(closed[1].reason, ListenCloseReason::Stopping);
    EXPECT_EQ(closed[2].reason, ListenCloseReason::Stopping);
    EXPECT_TRUE(clients[1]->IsFinished() && clients[2]->IsFinished());
    EXPECT_TRUE(ClosedByServer(d.get()));
    EXPECT_LT(ConnectTo(port).get(), 0) << "nobody listens any more";
}

TEST_F(ListenServerTest, StartRefusesBadSettingsAndBusyPorts)
{
    ListenSettings bad = LoopbackSettings();
    bad.bindAddress = "127.0.0";
    EXPECT_FALSE(server.Start(bad, handler));
    EXPECT_EQ(GetLastErr(), err::BadParam);
    bad = LoopbackSettings();
    bad.readDeadlineMs = 0;
    EXPECT_FALSE(server.Start(bad, handler));
    EXPECT_EQ(GetLastErr(), err::BadParam);

    Start(LoopbackSettings());
    CListenServer second;
    ListenSettings same = LoopbackSettings();
    same.port = server.Port();
    EXPECT_FALSE(second.Start(same, handler));
    EXPECT_EQ(GetLastErr(), err::AddrInUse);
}

}  // namespace
