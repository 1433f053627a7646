// The relay with the simulator behind it and real clients on 127.0.0.1:
// our own TCP crate links, and raw sockets for the wire bytes and for the
// clients that misbehave.

#include "RelayTestSupport.h"

#include <atomic>
#include <thread>

using namespace relaytest;

namespace {

const Bytes kStatus = {0xEA};

Bytes BytesOf(const _MCDATA& r) { return Bytes(r.bytes, r.bytes + r.length); }

TEST_F(RelayTest, TwoClientsAtOnceEachGetTheirOwnCratesReplies)
{
    StartRelay(CPortMC_All::kTcp);
    auto a = OpenClientLink(port, 101), b = OpenClientLink(port, 102);
    ASSERT_TRUE(a && b);
    std::atomic<int> wrong{0}, failed{0};
    auto run = [&](CPortMC_All& link, uint16_t ccbid) {
        for (int i = 0; i < 100; ++i) {
            uint8_t reply[256];
            int n = sizeof reply;
            if (!link.Command(kStatus.data(), 1, reply, n, 1000))
                ++failed;
            else if (reply[0] != 0x13 || statusCcbid(reply) != ccbid)
                ++wrong;
        }
    };
    std::thread ta(run, std::ref(*a), 101), tb(run, std::ref(*b), 102);
    ta.join();
    tb.join();
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(wrong, 0) << "a reply went to the other client";
    const auto clients = server->Clients();
    ASSERT_EQ(clients.size(), 2u);
    // Payloads counted: 3 bytes (0xEC, sequence, 0xEA) per command each way in.
    EXPECT_EQ(clients[0]->receivedBytes + clients[1]->receivedBytes, 600u);
    EXPECT_GT(clients[0]->sentBytes, 100u * 3);
    EXPECT_EQ(server->LinkSentBytes().exchange(0), 600u) << "the link sent the same payloads";
}

TEST_F(RelayTest, WireBytesWithAndWithoutTheSequenceHeader)
{
    StartRelay(CPortMC_All::kPrimary);
    Fd c = Connect();
    struct Case {
        const char* what;
        Bytes payload;
        bool sequenced;
    } cases[] = {
        {"with 0xEC", {0xEC, 0x77, 0xEA}, true},
        {"without", {0xEA}, false},
        {"a lone 0xEC is a command byte", {0xEC}, false},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        const Answer a = Exchange(c, k.payload, 1234, 0x0102);
        EXPECT_EQ(a.head.ccbid, 0x0102);
        EXPECT_EQ(a.head.field, 1234) << "the last field echoes the request's timeout";
        EXPECT_EQ(a.head.length, a.payload.size() + 12);
        ASSERT_GE(a.payload.size(), 3u);
        if (k.sequenced) {
            EXPECT_EQ(a.payload[0], 0xEC);
            EXPECT_EQ(a.payload[1], 0x77);
            EXPECT_EQ(a.payload[2], 0x13);
        } else if (k.payload[0] == 0xEA) {
            EXPECT_EQ(a.payload[0], 0x13);
            EXPECT_EQ(statusCcbid(a.payload.data()), 101);
        } else {
            EXPECT_NE(a.payload[0], 0xEC) << "no header invented";
        }
    }
}

TEST_F(RelayTest, CrateTimeoutAnswersThatClientAndEveryoneGoesOn)
{
    StartRelay(CPortMC_All::kPrimary);
    Fd quiet = Connect(), other = Connect();
    sim.Board(101)->Faults().Set(SimFault::LostReply, 1);
    const auto t0 = Clock::now();
    const Answer a = Exchange(quiet, {0xEC, 5, 0xEA}, 300, 0x0203);
    EXPECT_GE(msSince(t0), 280);
    EXPECT_EQ(a.head.ccbid, 0x0203);
    EXPECT_EQ(a.head.length, 13u);
    EXPECT_EQ(a.head.field, -1);
    EXPECT_EQ(a.payload, Bytes{0x02});
    EXPECT_TRUE(out.WaitFor("Command Timeout. val=300\n"));

    EXPECT_EQ(Exchange(other, kStatus).payload[0], 0x13);
    EXPECT_EQ(Exchange(quiet, kStatus).payload[0], 0x13) << "the late reply is not taken for the next";
    EXPECT_TRUE(server->IsConnected());
    EXPECT_FALSE(server->StopRequested().IsSet());
}

TEST_F(RelayTest, ClientTimeoutsAreCappedAndNeverUnbounded)
{
    StartRelay(CPortMC_All::kPrimary, {{"MaxCmdTimeOut", "300"}});
    Fd c = Connect();
    struct Case {
        int32_t asked;
        long atLeastMs, belowMs;
    } cases[] = {{100000, 280, 1500}, {-1, 0, 250}, {INT32_MIN, 0, 250}};
    for (const auto& k : cases) {
        SCOPED_TRACE(k.asked);
        sim.Board(101)->Faults().Set(SimFault::LostReply, 1);
        const auto t0 = Clock::now();
        const Answer a = Exchange(c, kStatus, k.asked);
        EXPECT_GE(msSince(t0), k.atLeastMs);
        EXPECT_LT(msSince(t0), k.belowMs);
        EXPECT_EQ(a.payload, Bytes{0x02});
        EXPECT_TRUE(out.WaitFor("Command Timeout. val=" + std::to_string(k.asked) + "\n"));
        sim.Board(101)->Faults().ClearAll();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

TEST_F(RelayTest, BadRequestAnswersThatClientOnlyAndTheServerGoesOn)
{
    StartRelay(CPortMC_All::kPrimary);
    Fd bad = Connect(), good = Connect();
    // 239 command bytes fit the head's limit but not the link's frame.
    const Answer a = Exchange(bad, Bytes(239, 0xEA), 1000, 7);
    EXPECT_EQ(a.head.ccbid, 7);
    EXPECT_EQ(a.head.length, 13u);
    EXPECT_EQ(a.head.field, -1);
    EXPECT_EQ(a.payload, Bytes{0x03});
    EXPECT_TRUE(out.WaitFor("Command Error: ->87\nInvalid argument\n"));

    EXPECT_EQ(Exchange(good, kStatus).payload[0], 0x13);
    EXPECT_EQ(Exchange(bad, kStatus).payload[0], 0x13);
    EXPECT_TRUE(server->IsConnected());
    EXPECT_TRUE(server->Link().IsOpen());
    EXPECT_FALSE(server->StopRequested().IsSet());
}

TEST_F(RelayTest, LinkFailureAnswersStopsTheServerAndAsksTheOwnerToDisconnect)
{
    StartRelay(CPortMC_All::kTcp);
    Fd a = Connect(), b = Connect();
    ASSERT_EQ(Exchange(b, kStatus).payload[0], 0x13);
    sim.Board(101)->Faults().Set(SimFault::DropConnection, 1);
    const Answer answer = Exchange(a, kStatus);
    EXPECT_EQ(answer.head.field, -1);
    EXPECT_EQ(answer.payload, Bytes{0x03});
    EXPECT_TRUE(out.WaitFor("Command Error: ->10054\n"));
    EXPECT_TRUE(server->StopRequested().Wait(1000));
    EXPECT_TRUE(events.Wait("stop"));
    EXPECT_FALSE(server->Link().IsOpen());

    // The owner's reaction: Disconnect on its own thread.
    server->Disconnect();
    EXPECT_TRUE(out.WaitFor("Disconnected\r\n"));
    EXPECT_FALSE(server->IsConnected());
    uint8_t byte;
    EXPECT_LE(recv(b.get(), &byte, 1, 0), 0) << "every client is closed";
    EXPECT_EQ(out.Count("Command Error:"), 1u);
}

TEST_F(RelayTest, AddressOutsideTheAllowlistIsClosedBeforeAnyByteIsRead)
{
    StartRelay(CPortMC_All::kPrimary, {{"BindAddress", ""}, {"AllowClients", "127.0.0.1/32, 10.0.0.0/8"}});
    Fd outsider(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in from{};
    from.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.2", &from.sin_addr);
    sockaddr_in to = porttest::Loopback(port);
    ASSERT_EQ(bind(outsider.get(), reinterpret_cast<sockaddr*>(&from), sizeof from), 0);
    ASSERT_EQ(connect(outsider.get(), reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    SendRequest(outsider, 101, kStatus, 1000);
    Answer a;
    EXPECT_FALSE(ReadAnswer(outsider, a, 1000));
    const std::string address = "127.0.0.2:" + std::to_string(porttest::LocalPort(outsider.get()));
    EXPECT_TRUE(events.Wait("refused " + address + ": address not in the allowlist"));
    EXPECT_EQ(server->LinkSentBytes().load(), 0u) << "nothing of the outsider reached the crate";
    EXPECT_TRUE(server->Clients().empty());

    Fd insider = Connect();
    EXPECT_EQ(Exchange(insider, kStatus).payload[0], 0x13);
}

TEST_F(RelayTest, ClientOverTheLimitIsRefused)
{
    StartRelay(CPortMC_All::kPrimary, {{"MaxClients", "2"}});
    Fd a = Connect(), b = Connect();
    ASSERT_EQ(Exchange(a, kStatus).payload[0], 0x13);
    ASSERT_EQ(Exchange(b, kStatus).payload[0], 0x13);
    Fd c = Connect();
    EXPECT_TRUE(events.Wait("refused " + AddressOf(c) + ": client limit reached"));
    Answer answer;
    SendRequest(c, 101, kStatus, 1000);
    EXPECT_FALSE(ReadAnswer(c, answer, 1000));
    EXPECT_EQ(server->Clients().size(), 2u);
}

TEST_F(RelayTest, TricklingClientIsDroppedAtTheDeadlineWhileOthersGoOn)
{
    StartRelay(CPortMC_All::kPrimary);  // "FrameDeadline" 500 ms
    Fd slow = Connect(), good = Connect();
    const auto head = mcframe::BuildTcpHead(101, 1, 1000);
    const auto t0 = Clock::now();
    int served = 0;
    for (size_t i = 0; i < head.size() && !events.Wait("closed " + AddressOf(slow) + ": frame not completed in time", 0);
         ++i) {
        porttest::WriteAll(slow.get(), &head[i], 1);
        // One byte per second; the other client is served meanwhile.
        while (msSince(t0) < static_cast<long>(i + 1) * 1000 &&
               !events.Wait("closed " + AddressOf(slow) + ": frame not completed in time", 0)) {
            EXPECT_EQ(Exchange(good, kStatus).payload[0], 0x13);
            ++served;
        }
    }
    EXPECT_TRUE(events.Wait("closed " + AddressOf(slow) + ": frame not completed in time"));
    EXPECT_LT(msSince(t0), 1500);
    EXPECT_GT(served, 5);
    EXPECT_EQ(Exchange(good, kStatus).payload[0], 0x13);
}

TEST_F(RelayTest, HeadAnnouncingHugeLengthIsRefusedWithoutWaitingForTheBody)
{
    StartRelay(CPortMC_All::kPrimary);
    Fd good = Connect();
    struct Case {
        uint32_t length;
        const char* reason;
    } cases[] = {{0xFFFFFFFF, "frame longer than allowed"}, {12 + 241, "frame longer than allowed"},
                 {11, "bad frame head"}};
    for (const auto& k : cases) {
        SCOPED_TRACE(k.length);
        Fd c = Connect();
        uint8_t head[12] = {0x55, 0x55, 0, 101, uint8_t(k.length >> 24), uint8_t(k.length >> 16),
                            uint8_t(k.length >> 8), uint8_t(k.length), 0, 0, 3, 0xE8};
        const auto t0 = Clock::now();
        ASSERT_TRUE(porttest::WriteAll(c.get(), head, sizeof head));
        EXPECT_TRUE(events.Wait("closed " + AddressOf(c) + ": " + k.reason, 1000));
        EXPECT_LT(msSince(t0), 300);
        EXPECT_EQ(Exchange(good, kStatus).payload[0], 0x13);
    }
    // 0xEC, sequence and 0xEA for each of the good client's commands.
    EXPECT_EQ(server->LinkSentBytes().exchange(0), 3u * 3) << "only the good client's commands reached the link";
}

TEST_F(RelayTest, HeadWithoutStartBytesIsIgnored)
{
    StartRelay(CPortMC_All::kPrimary);
    Fd c = Connect();
    const uint8_t junk[12] = {0x55, 0x54, 0, 101, 0, 0, 0, 13, 0, 0, 3, 0xE8};
    ASSERT_TRUE(porttest::WriteAll(c.get(), junk, sizeof junk));
    EXPECT_EQ(Exchange(c, kStatus).payload[0], 0x13) << "the next head is read as a head";
    EXPECT_EQ(server->LinkSentBytes().load(), 3u);
}

TEST_F(RelayTest, ClientThatNeverReadsIsClosedAndTheOthersKeepTheirPace)
{
    StartRelay(CPortMC_All::kPrimary, {{"WriteDeadline", "300"}});
    Fd stalled(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int small = 4096;
    setsockopt(stalled.get(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in to = porttest::Loopback(port);
    ASSERT_EQ(connect(stalled.get(), reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    auto good = OpenClientLink(port, 101);
    ASSERT_TRUE(good);
    const std::string closed = "closed " + AddressOf(stalled) + ": client stopped reading";

    // Reads of 230 bytes each; the stalled client sends them and never reads.
    const Bytes read = ReadMemCommand(0x1000, 230);
    std::atomic<bool> stop{false};
    std::thread flood([&] {
        while (!stop && SendRequest(stalled, 101, read, 1000))
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    });
    long worst = 0;
    int served = 0;
    const auto t0 = Clock::now();
    while (!events.Wait(closed, 0) && msSince(t0) < 10000) {
        uint8_t reply[256];
        int n = sizeof reply;
        const auto t = Clock::now();
        ASSERT_TRUE(good->Command(kStatus.data(), 1, reply, n, 1000));
        worst = std::max(worst, msSince(t));
        ++served;
    }
    stop = true;
    flood.join();
    EXPECT_TRUE(events.Wait(closed));
    EXPECT_GT(served, 10);
    EXPECT_LT(worst, 200) << "no command of the other client waited on the stalled one";
    uint8_t reply[256];
    int n = sizeof reply;
    EXPECT_TRUE(good->Command(kStatus.data(), 1, reply, n, 1000));
}

TEST_F(RelayTest, UnsolicitedFramesAreEchoedOnThePrimaryBusAndNotPassedOn)
{
    StartRelay(CPortMC_All::kPrimary);
    CFifo<_MCDATA> ring(16);
    CSpyWriter writer(ring);
    server->Spies().Register(CSpyDistribution::kWantSent | CSpyDistribution::kWantReceived, &writer);
    Fd c = Connect();
    ASSERT_EQ(Exchange(c, kStatus).payload[0], 0x13);
    _MCDATA r;
    ASSERT_TRUE(ring.Read(r, 1000));  // the command
    ASSERT_TRUE(ring.Read(r, 1000));  // its reply

    const Bytes unasked = {0xE8, 0x01, 0x02, 0x03};
    ASSERT_TRUE(sim.PrimaryBus()->Emit(unasked));
    ASSERT_TRUE(ring.Read(r, 2000));
    EXPECT_EQ(r.direction, _MCDATA::kReceived);
    EXPECT_EQ(Bytes(r.bytes, r.bytes + r.length), unasked);
    ASSERT_TRUE(ring.Read(r, 2000));
    EXPECT_EQ(r.direction, _MCDATA::kSent);
    EXPECT_EQ(Bytes(r.bytes, r.bytes + r.length), unasked) << "sent straight back to the crate";

    ASSERT_TRUE(sim.PrimaryBus()->Emit(Bytes{0x44, 0x01}));
    ASSERT_TRUE(ring.Read(r, 2000));
    EXPECT_EQ(r.direction, _MCDATA::kReceived);
    EXPECT_FALSE(ring.Read(r, 300)) << "other frames are not echoed";
    uint8_t byte;
    EXPECT_EQ(recv(c.get(), &byte, 1, MSG_DONTWAIT), -1) << "clients get no unasked frames";
    server->Spies().Register(0, &writer);
}

TEST_F(RelayTest, UnsolicitedFramesBetweenBusyCommandsAreNeverTakenForReplies)
{
    StartRelay(CPortMC_All::kPrimary);
    CFifo<_MCDATA> ring(256);
    CSpyWriter writer(ring);
    server->Spies().Register(CSpyDistribution::kWantSent | CSpyDistribution::kWantReceived, &writer);
    Fd c = Connect();
    const Bytes unasked = {0xE8, 0x07};
    for (int i = 0; i < 20; ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(Exchange(c, kStatus).payload[0], 0x13);
        // Sent while the link is busy: taken before the next command's reply.
        ASSERT_TRUE(sim.PrimaryBus()->Emit(unasked));
        std::this_thread::sleep_for(std::chrono::milliseconds(i % 3 ? 1 : 40));
        ASSERT_EQ(Exchange(c, kStatus).payload[0], 0x13);
    }
    int echoed = 0, received = 0;
    _MCDATA r;
    while (ring.Read(r, 200)) {
        if (BytesOf(r) == unasked)
            ++(r.direction == _MCDATA::kSent ? echoed : received);
    }
    EXPECT_EQ(received, 20);
    EXPECT_EQ(echoed, 20);
    server->Spies().Register(0, &writer);
}

TEST_F(RelayTest, ClosedClientsLeaveTheTableAtTheNextTick)
{
    StartRelay(CPortMC_All::kPrimary);
    Fd a = Connect(), b = Connect();
    ASSERT_EQ(Exchange(a, kStatus).payload[0], 0x13);
    ASSERT_EQ(Exchange(b, kStatus).payload[0], 0x13);
    auto clients = server->Clients();
    ASSERT_EQ(clients.size(), 2u);
    EXPECT_EQ(clients[0]->title, AddressOf(a));
    EXPECT_EQ(clients[1]->title, AddressOf(b));

    const std::string titleA = AddressOf(a);
    a.Reset();
    ASSERT_TRUE(events.Wait("closed " + titleA + ": closed by the client"));
    EXPECT_TRUE(server->CloseClient(clients[1]->socket->Id()));
    ASSERT_TRUE(events.Wait("closed " + AddressOf(b) + ": closed by the server"));
    for (const auto& client : clients)
        for (int i = 0; i < 100 && !client->socket->IsFinished(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(server->Clients().size(), 2u) << "removed by the tick, not before";
    server->Tick();
    EXPECT_TRUE(server->Clients().empty());
    EXPECT_TRUE(events.Wait("removed " + titleA));
    EXPECT_TRUE(events.Wait("removed " + AddressOf(b)));
    EXPECT_FALSE(server->CloseClient(12345));
}

TEST_F(RelayTest, ConnectFailuresLeaveEverythingClosed)
{
    server = std::make_unique<CRelayServer>(out, &events);
    server->Link().SetPropertyById(CPortMC_All::kIOType, CVariant::FromInt(CPortMC_All::kPrimary));
    server->Link().SetProperty("ComName", CVariant::FromString("/nonexistent/ttyRelay"));
    server->Settings().SetProperty("ServerPort", CVariant::FromInt(0));
    EXPECT_FALSE(server->Connect());
    EXPECT_EQ(out.Text(), "Open Error: ->2\nNo such file or directory\n");
    EXPECT_FALSE(server->IsConnected());
    EXPECT_EQ(server->ListeningPort(), 0);

    // A port in use: the link opened is closed again.
    porttest::Fd busy;
    uint16_t taken;
    busy = porttest::Listen(taken);
    server->Link().SetProperty("ComName", CVariant::FromString(sim.PrimaryBusPath()));
    server->Settings().SetProperty("ServerPort", CVariant::FromInt(taken));
    server->Settings().SetProperty("BindAddress", CVariant::FromString("127.0.0.1"));
    EXPECT_FALSE(server->Connect());
    EXPECT_TRUE(out.WaitFor("Open Error: ->10048\n"));
    EXPECT_FALSE(server->Link().IsOpen());
}

TEST_F(RelayTest, OpenOutcomeIsReportedOnceAndWarningOnlyForOpenAccess)
{
    StartRelay(CPortMC_All::kTcp);
    CRelayServer::LinkState s = server->UpdateLinkState();
    EXPECT_TRUE(s.open && !s.CanConnect() && s.CanDisconnect());
    server->UpdateLinkState();
    EXPECT_EQ(out.Count("Open ->0\nThe operation completed successfully.\n"), 1u);
    EXPECT_EQ(out.Count("Warning"), 0u) << "bound to 127.0.0.1";
    server->Disconnect();
    s = server->UpdateLinkState();
    EXPECT_TRUE(!s.open && s.CanConnect() && !s.CanDisconnect());
    EXPECT_EQ(out.Count("Disconnected\r\n"), 1u);

    server->Settings().SetProperty("BindAddress", CVariant::FromString(""));
    server->SetOpenAccessHint("limit it here");
    ASSERT_TRUE(server->Connect());
    EXPECT_TRUE(out.WaitFor("Warning: listening on all addresses, port " + std::to_string(server->ListeningPort()) +
                         ", and every client may connect; limit it here\r\n"));
}

}  // namespace
