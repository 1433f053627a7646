// The DAQ server on the simulated stand, through real TCP clients on
// 127.0.0.1: a small client of our own for the protocol, Python's socket
// module for clients that misbehave.
#include "DaqClient.h"
#include "support/CapturedOut.h"
#include "support/RunCommand.h"
#include "VmeStandFixture.h"
#include "daq/DaqServer.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;

namespace {

std::string Misbehave(uint16_t port, const char* kind)
{
    const std::string script = std::string(TELVANE_SOURCE_DIR) + "/tests/daq/daq_misbehave.py";
    return RunCommand("python3 " + script + " " + std::to_string(port) + " " + kind).out;
}

class DaqServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        unsetenv("TELVANE_VME_LIBRARY");
        Stand().PowerUp();
        Stand().SetRosPresent(RosPresent());
    }
    void TearDown() override
    {
        server.Close();
        Stand().PowerUp();
    }
    virtual bool RosPresent() const { return false; }
    static CSimVmeStand& Stand() { return CSimVmeStand::Global(); }

    void Open()
    {
        ListenSettings s = CDaqServer::DefaultSettings(0);
        s.bindAddress = "127.0.0.1";
        ASSERT_TRUE(server.Open(s)) << log.Text();
        ASSERT_TRUE(client.Connect(server.Port()));
    }
    // A request that must succeed.
    Reply Ok(const Bytes& payload, uint16_t id = 1)
    {
        const Reply r = client.Request(id, payload);
        EXPECT_TRUE(r.magic) << "no reply";
        EXPECT_EQ(r.id, id);
        EXPECT_EQ(r.status, 1000u) << log.Text();
        return r;
    }
    // A request that must fail with `text` in the log.
    void Fails(const Bytes& payload, const std::string& text, CDaqTestClient* c = nullptr)
    {
        const Reply r = (c ? *c : client).Request(0x0A0B, payload);
        EXPECT_TRUE(r.magic) << "no reply";
        EXPECT_EQ(r.id, 0x0A0B);
        EXPECT_EQ(r.length, 13u);
        EXPECT_EQ(r.status, 0xFFFFFFFFu);
        EXPECT_EQ(r.payload, Bytes{0x02});
        EXPECT_TRUE(log.WaitFor(text + "\r\n")) << log.Text();
    }

    CCapturedOut log;
    CDaqEngine engine;
    CDaqServer server{engine, log};
    CDaqTestClient client;
};

TEST_F(DaqServerTest, RunOfTwoEventsWithoutRos)
{
    Open();
    Ok(StartRunPayload(2), 6);
    ASSERT_TRUE(client.Send({0x55, 0x55, 0x00, 0x07, 0x00, 0x00, 0x00, 0x0D, 0x00, 0x00, 0x00, 0x00, 0xC0}));
    const Reply r = client.ReadReply();
    EXPECT_EQ(r.id, 7);
    EXPECT_EQ(r.status, 1000u);
    EXPECT_EQ(r.length, 12u + 1 + 2 * 17 * 4);
    ASSERT_FALSE(r.payload.empty());
    EXPECT_EQ(r.payload[0], 0xC0);
    std::vector<uint32_t> expected = EventWithoutRos(1, 2);
    const auto second = EventWithoutRos(2, 2);
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(r.Words(), expected);
}

TEST_F(DaqServerTest, InvalidCommandAndInvalidParam)
{
    Open();
    Fails({0xC7}, "ExeCmd: Invalid Command 0xC7");
    Fails(ReadRegPayload(2, 4, 0x10), "ReadReg:\r\nInvalid Param");
    Fails(WriteRegPayload(2, 4, 0x10, 1), "WriteReg:\r\nInvalid Param");
    Ok(ReadRegPayload(1, 0x2E, 0x10));
}

TEST_F(DaqServerTest, SequenceHeaderInFrontIsStripped)
{
    Open();
    Ok(WriteRegPayload(10, 0x06, 0x10, 0x5A5A));
    Bytes payload = {0xEC, 0x33};
    const Bytes read = ReadRegPayload(10, 0x06, 0x10);
    payload.insert(payload.end(), read.begin(), read.end());
    EXPECT_EQ(Ok(payload, 0x99).payload, (Bytes{0xC2, 0, 0, 0x5A, 0x5A}));
}

TEST_F(DaqServerTest, TooFewTriggersLoseTheRun)
{
    Open();
    Stand().MissTriggers(1);
    Ok(StartRunPayload(1));
    const auto start = std::chrono::steady_clock::now();
    Fails({0xC0}, "Lose Trigger");
    EXPECT_GE(std::chrono::steady_clock::now() - start, 990ms);
}

TEST_F(DaqServerTest, RunBeyondTheLimitIsRefusedAndTheServerGoesOn)
{
    Open();
    Fails(StartRunPayload(0xFFFFFFFF), "StartRun:\r\n4294967295 events exceed the limit of 100000 (MaxRunEvents)");
    Ok(StartRunPayload(1));
    EXPECT_EQ(Ok({0xC0}).Words(), EventWithoutRos(1, 1));
}

TEST_F(DaqServerTest, ReadsAndWritesOnEveryBoard)
{
    Open();
    const struct {
        uint32_t board, offset;
        uint16_t width;
        uint32_t value, readBack;
    } cases[] = {
        {0, 0x40, 0x20, 0xA1B2C3D4, 0xA1B2C3D4}, {1, 0x3E, 0x10, 0x7E, 0x7E},
        {2, 0x08, 0x10, 0x5C3, 0x5C3},           {10, 0x08, 0x10, 0x1111, 0x1111},
        {11, 0x0A, 0x20, 0x12342222, 0x2222},    {20, 0x02, 0x10, 0x66, 0x66},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "board " << c.board);
        const Reply w = Ok(WriteRegPayload(c.board, c.offset, c.width, c.value), 0x100 + uint16_t(c.board));
        EXPECT_EQ(w.payload[0], 0xC3);
        EXPECT_EQ(w.Value(), c.value);
        const Reply r = Ok(ReadRegPayload(c.board, c.offset, c.width), 0x200 + uint16_t(c.board));
        EXPECT_EQ(r.payload[0], 0xC2);
        EXPECT_EQ(r.payload.size(), 5u);
        EXPECT_EQ(r.Value(), c.readBack);
    }
    Fails(ReadRegPayload(30, 0x04, 0x20), "ReadReg():CVme::Read(A00004): Error 1");
}

TEST_F(DaqServerTest, SeveralClientsAtOnceGetTheirOwnReplies)
{
    Open();
    constexpr int kClients = 4, kRequests = 100;
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int c = 0; c < kClients; ++c)
        threads.emplace_back([&, c] {
            CDaqTestClient mine;
            if (!mine.Connect(server.Port())) {
                ++wrong;
                return;
            }
            const uint32_t offset = 0x40 + 2 * c;
            for (int i = 0; i < kRequests; ++i) {
                const uint16_t id = static_cast<uint16_t>(c << 12 | i);
                const uint32_t value = static_cast<uint32_t>(c << 8 | i);
                const Reply w = mine.Request(id, WriteRegPayload(11, offset, 0x10, value));
                const Reply r = mine.Request(id + 1, ReadRegPayload(11, offset, 0x10));
                if (w.id != id || w.status != 1000 || r.id != id + 1 || r.Value() != value)
                    ++wrong;
            }
        });
    // Runs go on meanwhile on the first client.
    for (int run = 0; run < 20; ++run) {
        Ok(StartRunPayload(3));
        EXPECT_EQ(Ok({0xC0}).Words().size(), 3u * 17);
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST_F(DaqServerTest, OversizedHeadsAreRefusedBeforeAnyAllocation)
{
    Open();
    const struct {
        const char* kind;
    } cases[] = {{"huge"}, {"toolong"}, {"short"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        const std::string out = Misbehave(server.Port(), c.kind);
        ASSERT_EQ(out.rfind("closed ", 0), 0u) << out;
        EXPECT_LT(std::stoi(out.substr(7)), 400) << "closed on the head, not at the read deadline";
    }
    EXPECT_TRUE(log.WaitFor("closed: frame longer than allowed\r\n")) << log.Text();
    EXPECT_TRUE(log.WaitFor("closed: bad frame head\r\n")) << log.Text();

    Bytes longest(255, 0);
    longest[0] = 0xC7;
    Fails(longest, "ExeCmd: Invalid Command 0xC7");
}

TEST_F(DaqServerTest, ClientsThatLeaveMidRequestHurtNobody)
{
    Open();
    EXPECT_EQ(Misbehave(server.Port(), "midway"), "gone\n");
    Stand().MissTriggers(1);
    Ok(StartRunPayload(1));
    // This collect waits a second for its trigger with nobody to answer to.
    EXPECT_EQ(Misbehave(server.Port(), "abandon"), "gone\n");
    EXPECT_TRUE(log.WaitFor("Lose Trigger\r\n")) << log.Text();
    Ok(StartRunPayload(1));
    EXPECT_EQ(Ok({0xC0}).Words(), EventWithoutRos(1, 1));
    EXPECT_TRUE(log.WaitFor("closed: closed by the client\r\n")) << log.Text();
}

TEST_F(DaqServerTest, BegunHeadMustArriveWithinTheReadDeadline)
{
    Open();
    const std::string out = Misbehave(server.Port(), "trickle");
    ASSERT_EQ(out.rfind("closed after ", 0), 0u) << out;
    EXPECT_LT(std::stoi(out.substr(13)), 12) << "the head never completed";
    EXPECT_TRUE(log.WaitFor("closed: frame not completed in time\r\n")) << log.Text();
    Ok(ReadRegPayload(1, 0x2E, 0x10));
}

TEST_F(DaqServerTest, HeadWithoutMagicIsDropped)
{
    Open();
    Bytes junk = RequestFrame(3, {});
    junk[0] = 0xAA;
    ASSERT_TRUE(client.Send(junk));
    EXPECT_EQ(Ok(ReadRegPayload(1, 0x2E, 0x10), 4).payload, (Bytes{0xC2, 0, 0, 0, 0x42}));
}

TEST_F(DaqServerTest, ClientListCountsAndClosing)
{
    Open();
    Ok({0xC1, 0, 0, 0, 0});
    Ok({0xEC, 0x01, 0xC0});
    auto clients = server.Clients();
    ASSERT_EQ(clients.size(), 1u);
    EXPECT_TRUE(clients[0].open);
    EXPECT_EQ(clients[0].address.rfind("127.0.0.1:", 0), 0u);
    EXPECT_EQ(clients[0].received, 5u + 3u);
    EXPECT_EQ(clients[0].sent, 2u + 1u);
    EXPECT_EQ(server.TotalReceived(), 8u);
    EXPECT_EQ(server.TotalSent(), 3u);

    ASSERT_TRUE(server.CloseClient(clients[0].id));
    EXPECT_FALSE(server.CloseClient(clients[0].id + 100));
    EXPECT_TRUE(client.ClosedByPeer(2000));
    ASSERT_TRUE(log.WaitFor("closed: closed by the server\r\n"));
    for (int i = 0; i < 100 && server.RemoveClosedClients() == 0; ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(server.Clients().empty());
}

TEST_F(DaqServerTest, OpenAndCloseLines)
{
    ListenSettings open = CDaqServer::DefaultSettings(0);
    ASSERT_TRUE(server.Open(open));
    server.Close();
    server.Close();
    const std::string text = log.Text();
    EXPECT_EQ(text.rfind("Warning: listening on all addresses, port ", 0), 0u) << text;
    EXPECT_NE(text.find("\r\nDAQ server opened\r\nDAQ server closed\r\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("DAQ server closed", text.find("DAQ server closed") + 1), std::string::npos)
        << "a second Close writes nothing";
    EXPECT_EQ(Stand().OpenHandles(), 0u);
}

TEST_F(DaqServerTest, FailedInitClosesTheServerAgain)
{
    Stand().InjectBusError(simvme::A24Device, simvme::DelayBase + 0x04, simvme::Access::Read);
    ListenSettings s = CDaqServer::DefaultSettings(0);
    s.bindAddress = "127.0.0.1";
    EXPECT_FALSE(server.Open(s));
    EXPECT_FALSE(server.IsOpen());
    EXPECT_EQ(log.Text(), "DAQ server opened\r\nCDelayBrd::EnableDelay():" +
                              BusErrorText(false, simvme::DelayBase + 4) + "\r\nDAQ server closed\r\n");
    EXPECT_EQ(Stand().OpenHandles(), 0u);
}

TEST_F(DaqServerTest, BusyPortAndBadBindAddressAreOpenErrors)
{
    Open();
    CCapturedOut otherLog;
    CDaqEngine otherEngine;
    CDaqServer other(otherEngine, otherLog);
    ListenSettings s = CDaqServer::DefaultSettings(server.Port());
    s.bindAddress = "127.0.0.1";
    EXPECT_FALSE(other.Open(s));
    EXPECT_EQ(otherLog.Text().rfind("Open Error: ->10048\n", 0), 0u) << otherLog.Text();
    s.bindAddress = "localhost";
    EXPECT_FALSE(other.Open(s));
    EXPECT_NE(otherLog.Text().find("Open Error: ->87\n"), std::string::npos) << otherLog.Text();
}

TEST_F(DaqServerTest, AllowlistKeepsOtherNetworksOut)
{
    ListenSettings s = CDaqServer::DefaultSettings(0);
    s.bindAddress = "127.0.0.1";
    CIpv4Network net;
    ASSERT_TRUE(CIpv4Network::Parse("10.0.0.0/8", net));
    s.allowed = {net};
    ASSERT_TRUE(server.Open(s));
    ASSERT_TRUE(client.Connect(server.Port()));
    EXPECT_TRUE(client.ClosedByPeer(2000));
    EXPECT_TRUE(log.WaitFor("refused: address not in the allowlist\r\n")) << log.Text();
    EXPECT_EQ(log.Text().find("Warning"), std::string::npos) << "access is limited: no warning";
}

class DaqServerRosTest : public DaqServerTest {
protected:
    bool RosPresent() const override { return true; }
};

TEST_F(DaqServerRosTest, RunWithRosDataAndRosRegisters)
{
    Stand().SetRosData(2);
    Open();
    Ok(StartRunPayload(2));
    const std::vector<uint32_t> w = Ok({0xC0}).Words();
    const uint32_t r = 1 + 8 + 8 * 2, size = 13 + r + 4;
    ASSERT_EQ(w.size(), 2u * size);
    EXPECT_EQ(w[6], 10 + r);
    EXPECT_EQ(w[9], r + 1);
    EXPECT_EQ(w[10], 0xE00100FFu);
    EXPECT_EQ(w[12], (CSimVmeStand::RosWordA(1, 0, 0) << 16) | 1u);
    EXPECT_EQ(w[13], (CSimVmeStand::RosWordA(1, 0, 1) << 16) | 1u);
    EXPECT_EQ(w[size + 12], (CSimVmeStand::RosWordA(2, 0, 0) << 16) | 2u);
    EXPECT_EQ(w[size + 12 + r], 2u) << "PU record of event 2";

    EXPECT_EQ(Ok(ReadRegPayload(30, 0x04, 0x20)).Value(), 0xFFu);
    EXPECT_EQ(Ok(WriteRegPayload(30, 0x04, 0x20, 0x1F)).Value(), 0x1Fu);
    EXPECT_EQ(Ok(ReadRegPayload(30, 0x04, 0x20)).Value(), 0x1Fu);
}
}  // namespace
