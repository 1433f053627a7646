// The connection engine against the simulated crates, over the crate
// server on TCP and over the primary bus on a pseudo-terminal.

#include "EngineFixture.h"

#include "support/TempDir.h"

#include <algorithm>
#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>

using namespace std::chrono_literals;

namespace {

struct PathCase {
    const char* name;
    int ioType;
};

const PathCase kPaths[] = {{"primary", CPortMC_All::kPrimary}, {"tcp", CPortMC_All::kTcp}};

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A subscriber of the traffic tap, as a spy is: its own queue, drained by
// its own reader thread.
struct TapSubscriber {
    CFifo<_MCDATA> fifo{10};
    CFifoWr<_MCDATA> writer{fifo};
    std::mutex lock;
    std::condition_variable changed;
    std::vector<_MCDATA> records;

    TapSubscriber()
    {
        fifo.Notifier().SetCallback(
            [this](void*) {
                _MCDATA r;
                while (fifo.TryRead(r)) {
                    std::lock_guard g(lock);
                    records.push_back(r);
                    changed.notify_all();
                }
            },
            nullptr);
    }
    ~TapSubscriber() { fifo.Notifier().Stop(); }

    // The records of one direction, once `count` of them are there (or
    // after a second).
    std::vector<Bytes> Of(int direction, size_t count = 0)
    {
        std::unique_lock g(lock);
        auto of = [&] { return std::count_if(records.begin(), records.end(),
                                             [&](const _MCDATA& r) { return r.direction == direction; }); };
        changed.wait_for(g, 1s, [&] { return static_cast<size_t>(of()) >= count; });
        std::vector<Bytes> out;
        for (const auto& r : records)
            if (r.direction == direction)
                out.push_back(RecordBytes(r));
        return out;
    }
};

}  // namespace

class EnginePaths : public EngineTest, public ::testing::WithParamInterface<PathCase> {};

INSTANTIATE_TEST_SUITE_P(Paths, EnginePaths, ::testing::ValuesIn(kPaths),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(EnginePaths, RequestWithoutWaitReplyIsWrittenAsQueued)
{
    auto spy = std::make_unique<TapSubscriber>();
    engine->Tap().Add(_MCDATA::kSent, &spy->writer);
    Connect(GetParam().ioType);
    ASSERT_TRUE(engine->Queue(&replies.writer, Request({0xED, 0x01}, false)));
    ASSERT_TRUE(box.WaitFor("TX->ED 01 \r\n"));
    ASSERT_TRUE(engine->WaitUntilSent(5000));
    EXPECT_EQ(spy->Of(_MCDATA::kSent, 1), (std::vector<Bytes>{{0xED, 0x01}}));
    _MCDATA r;
    EXPECT_FALSE(replies.Next(r, 300)) << "nothing is delivered for a request that awaits no reply";
    engine->Tap().Remove(_MCDATA::kSent, &spy->writer);
}

TEST_P(EnginePaths, AwaitedRequestsCarryConsecutiveSequenceNumbersAndGetTheirReplies)
{
    auto spy = std::make_unique<TapSubscriber>();
    engine->Tap().Add(_MCDATA::kSent, &spy->writer);
    Connect(GetParam().ioType);
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(engine->Queue(&replies.writer, Request({0xED, 0x01}, true)));
        _MCDATA reply;
        ASSERT_TRUE(replies.Next(reply));
        EXPECT_EQ(reply.status, _MCDATA::kGood);
        EXPECT_EQ(reply.direction, _MCDATA::kReceived);
        EXPECT_EQ(RecordBytes(reply), (Bytes{0xFC, 0xED})) << "the header is removed from the reply";
    }
    ASSERT_TRUE(engine->WaitUntilSent(5000));
    const auto sent = spy->Of(_MCDATA::kSent, 2);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0], (Bytes{0xEC, sent[0][1], 0xED, 0x01}));
    EXPECT_EQ(sent[1], (Bytes{0xEC, static_cast<uint8_t>(sent[0][1] + 1), 0xED, 0x01}));
    engine->Tap().Remove(_MCDATA::kSent, &spy->writer);
}

TEST_P(EnginePaths, RepliesWithTwoByteCodesAreDecodedUnderTheirFourDigitCode)
{
    ASSERT_TRUE(engine->LoadDecodeFile(kDecodeFile));
    Connect(GetParam().ioType);
    const struct {
        Bytes command;
        const char* line;
    } cases[] = {
        {{0xBF, 0x0A, 0x00, 0x01}, "RX->Data decoded code=0xBE0A\r\nstatus=0x0000\r\n"},
        {{0x0E, 0x04, 0x01}, "RX->Data decoded code=0x0F04\r\noffline=1\r\n"},
    };
    for (const auto& c : cases) {
        _MCDATA request = Request({}, true);
        std::copy(c.command.begin(), c.command.end(), request.bytes);
        request.length = static_cast<uint8_t>(c.command.size());
        ASSERT_TRUE(engine->Queue(&replies.writer, request));
        _MCDATA reply;
        ASSERT_TRUE(replies.Next(reply));
        EXPECT_EQ(reply.status, _MCDATA::kGood);
        EXPECT_TRUE(box.WaitFor(c.line)) << box.Text();
    }
    EXPECT_EQ(box.Count("WARNING invalid size"), 0) << box.Text();
}

TEST_P(EnginePaths, AbortEndsTheWaitWithMinusThree)
{
    Connect(GetParam().ioType);
    Board().Faults().Set(SimFault::LostReply, 1);
    ASSERT_TRUE(engine->Queue(&replies.writer, Request({0xEA}, true, 4000)));
    ASSERT_TRUE(box.WaitFor("TX->EC "));
    const auto start = std::chrono::steady_clock::now();
    engine->AbortWait();
    _MCDATA r;
    ASSERT_TRUE(replies.Next(r));
    EXPECT_EQ(r.status, _MCDATA::kReplyAborted);
    EXPECT_EQ(r.length, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

// Requests queued back to back: after each reply the link's reader thread
// sends the next ones itself, the unanswered ones up to the next awaited
// one, and when the queue runs dry the send-queue thread takes over. The
// box shows every request before its reply, in queue order. Requests
// without Wait Reply use a command the board leaves unanswered, so that
// the text is exact; over TCP the crate server would answer those with an
// error after its timeout, so that path streams awaited requests only.
struct StreamCase {
    const char* name;
    int ioType;
    bool withUnawaited;
};

class EngineStreams : public EngineTest, public ::testing::WithParamInterface<StreamCase> {};

INSTANTIATE_TEST_SUITE_P(Streams, EngineStreams,
                         ::testing::Values(StreamCase{"primary_mixed", CPortMC_All::kPrimary, true},
                                           StreamCase{"tcp_awaited", CPortMC_All::kTcp, false}),
                         [](const auto& info) { return std::string(info.param.name); });

constexpr uint8_t kSilentCode = 0x99;

void MakeSilent(CSimBoard& board, uint8_t code)
{
    board.AddCommand(code, [](CSimBoard&, std::span<const uint8_t>) { return std::optional<std::vector<uint8_t>>(); });
}

TEST_P(EngineStreams, BackToBackRequestsGoOutInQueueOrderEachBeforeItsReply)
{
    constexpr int kRequests = 40;
    CFifo<_MCDATA> stream(kRequests + 1);
    CFifoWr<_MCDATA> streamWriter(stream);
    MakeSilent(Board(), kSilentCode);
    Connect(GetParam().ioType);
    std::string expected;
    int awaited = 0;
    char line[64];
    for (int i = 0; i < kRequests; ++i) {
        const bool await = !GetParam().withUnawaited || i % 3 != 2;
        if (await) {
            ASSERT_TRUE(engine->Queue(&streamWriter, Request({0xED, 0x01}, true)));
            std::snprintf(line, sizeof line, "TX->EC %02X ED 01 \r\nRX->EC %02X FC ED \r\n", awaited, awaited);
            ++awaited;
        } else {
            ASSERT_TRUE(engine->Queue(&streamWriter, Request({kSilentCode}, false)));
            std::snprintf(line, sizeof line, "TX->%02X \r\n", kSilentCode);
        }
        expected += line;
    }
    for (int i = 0; i < awaited; ++i) {
        _MCDATA r;
        ASSERT_TRUE(stream.Read(r, 5000)) << "reply " << i;
        EXPECT_EQ(r.status, _MCDATA::kGood) << "reply " << i;
        EXPECT_EQ(RecordBytes(r), (Bytes{0xFC, 0xED})) << "reply " << i;
    }
    ASSERT_TRUE(engine->WaitUntilSent(5000));
    ASSERT_TRUE(box.WaitFor("RX->EC " + std::string(line + 7, 2)));
    EXPECT_EQ(box.Text(), expected);
}

// The request after a reply is sent by the link's reader thread while the
// send-queue thread sleeps until the previous request's deadline; a
// shorter timeout and an abort must still reach the new request at once.
struct FollowUpCase {
    const char* name;
    int timeoutMs;
    bool abort;
    int32_t status;
};

class EngineFollowUps : public EngineTest, public ::testing::WithParamInterface<FollowUpCase> {};

INSTANTIATE_TEST_SUITE_P(FollowUps, EngineFollowUps,
                         ::testing::Values(FollowUpCase{"shorter_timeout", 150, false, _MCDATA::kReplyTimeout},
                                           FollowUpCase{"abort", 20000, true, _MCDATA::kReplyAborted}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(EngineFollowUps, RequestSentRightAfterAReplyEndsByItsOwnDeadlineOrAbort)
{
    MakeSilent(Board(), kSilentCode);
    Connect(CPortMC_All::kPrimary);
    ASSERT_TRUE(engine->Queue(&replies.writer, Request({0xED, 0x01}, true, 20000)));
    ASSERT_TRUE(engine->Queue(&replies.writer, Request({kSilentCode}, true, GetParam().timeoutMs)));
    _MCDATA r;
    ASSERT_TRUE(replies.Next(r));
    EXPECT_EQ(r.status, _MCDATA::kGood);
    ASSERT_TRUE(box.WaitFor("TX->EC 01 99 \r\n"));
    const auto start = std::chrono::steady_clock::now();
    if (GetParam().abort)
        engine->AbortWait();
    ASSERT_TRUE(replies.Next(r, 3000)) << "not only at the first request's deadline";
    EXPECT_EQ(r.status, GetParam().status);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

TEST_P(EnginePaths, TwoTapSubscribersBothGetEveryRecordInOrder)
{
    auto first = std::make_unique<TapSubscriber>();
    auto second = std::make_unique<TapSubscriber>();
    for (int direction : {_MCDATA::kSent, _MCDATA::kReceived}) {
        engine->Tap().Add(direction, &first->writer);
        engine->Tap().Add(direction, &second->writer);
        engine->Tap().Add(direction, &first->writer);  // already there: nothing
    }
    Connect(GetParam().ioType);
    constexpr int kRequests = 25;
    for (int i = 0; i < kRequests; ++i) {
        ASSERT_TRUE(engine->Queue(&replies.writer, Request({0xF5, 0x00, 0x00, static_cast<uint8_t>(i), 0x00, 0x00, 0x04},
                                                           true)));
        _MCDATA r;
        ASSERT_TRUE(replies.Next(r));
        ASSERT_EQ(r.status, _MCDATA::kGood);
    }
    ASSERT_TRUE(engine->WaitUntilSent(5000));
    ASSERT_TRUE(box.WaitFor("RX->", kRequests)) << box.Text();
    for (auto* s : {first.get(), second.get()}) {
        const auto sent = s->Of(_MCDATA::kSent, kRequests);
        const auto received = s->Of(_MCDATA::kReceived, kRequests);
        ASSERT_EQ(sent.size(), static_cast<size_t>(kRequests));
        ASSERT_EQ(received.size(), static_cast<size_t>(kRequests));
        for (int i = 0; i < kRequests; ++i) {
            ASSERT_EQ(sent[i].size(), 9u);
            EXPECT_EQ(sent[i][5], i);
            ASSERT_EQ(received[i].size(), 2u + 4u + 4u);
            EXPECT_EQ(received[i][1], sent[i][1]);
            EXPECT_EQ(received[i][5], i) << "replies in the order of their requests";
        }
    }
    for (int direction : {_MCDATA::kSent, _MCDATA::kReceived}) {
        engine->Tap().Remove(direction, &first->writer);
        engine->Tap().Remove(direction, &second->writer);
        engine->Tap().Remove(direction, &second->writer);  // absent: nothing
    }
}

TEST_P(EnginePaths, PrintRxOffStopsReceivedLinesWhileSentLinesGoOn)
{
    Connect(GetParam().ioType);
    _MCDATA r;
    ASSERT_TRUE(engine->Queue(&replies.writer, Request({0xED, 0x01}, true)));
    ASSERT_TRUE(replies.Next(r));
    ASSERT_TRUE(box.WaitFor("RX->"));
    engine->SetPrintRX(false);
    EXPECT_FALSE(engine->PrintRX());
    EXPECT_TRUE(engine->PrintTX());
    ASSERT_TRUE(engine->Queue(&replies.writer, Request({0xED, 0x00}, true)));
    ASSERT_TRUE(replies.Next(r));
    EXPECT_EQ(RecordBytes(r), (Bytes{0xFC, 0xED})) << "the requester still gets its reply";
    ASSERT_TRUE(box.WaitFor("TX->EC 01 ED 00 \r\n"));
    engine->SetPrintTX(false);
    ASSERT_TRUE(engine->Queue(&replies.writer, Request({0xED, 0x01}, true)));
    ASSERT_TRUE(replies.Next(r));
    ASSERT_TRUE(engine->WaitUntilSent(5000));
    EXPECT_EQ(box.Text(), "TX->EC 00 ED 01 \r\nRX->EC 00 FC ED \r\nTX->EC 01 ED 00 \r\n");
}

// The simulator answers a late reply over TCP with status -1 itself, so the
// late reply itself is seen on the bus only.
TEST_F(EngineTest, LateReplyAfterATimeoutIsNotTakenForTheNextRequests)
{
    Connect(CPortMC_All::kPrimary);
    Board().Faults().SetLateMs(400);
    Board().Faults().Set(SimFault::LateReply, 1);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(engine->Queue(&replies.writer, Request({0xEA}, true, 150)));
    _MCDATA r;
    ASSERT_TRUE(replies.Next(r));
    EXPECT_EQ(r.status, _MCDATA::kReplyTimeout);
    EXPECT_EQ(r.length, 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 150ms);
    ASSERT_TRUE(engine->Queue(&replies.writer, Request({0xED, 0x01}, true)));
    ASSERT_TRUE(replies.Next(r));
    EXPECT_EQ(r.status, _MCDATA::kGood);
    EXPECT_EQ(RecordBytes(r), (Bytes{0xFC, 0xED}));
    ASSERT_TRUE(box.WaitFor("RX->EC 00 13 "));
    EXPECT_TRUE(box.WaitFor("RX->EC 01 FC ED \r\n")) << "the late reply is printed, but not delivered";
}

TEST_F(EngineTest, LostReplyOnThePrimaryBusTimesOutWithMinusTwo)
{
    Connect(CPortMC_All::kPrimary);
    Board().Faults().Set(SimFault::LostReply, 1);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(engine->Queue(&replies.writer, Request({0xEA}, true, 200)));
    _MCDATA r;
    ASSERT_TRUE(replies.Next(r));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(r.status, _MCDATA::kReplyTimeout);
    EXPECT_GE(waited, 200ms);
    EXPECT_LT(waited, 2s);
}

TEST_F(EngineTest, CrateServerTimeoutReachesTheRequesterAtOnceAsMinusOne)
{
    Connect(CPortMC_All::kTcp);
    Board().Faults().Set(SimFault::LostReply, 1);
    ASSERT_TRUE(engine->Queue(&replies.writer, Request({0xEA}, true, 300)));
    _MCDATA r;
    ASSERT_TRUE(replies.Next(r));
    EXPECT_EQ(r.status, _MCDATA::kReadTimeout);
    ASSERT_TRUE(box.WaitFor("RX ERROR->\r\n")) << box.Text();
    EXPECT_EQ(box.Count("RX ERROR->\r\n"), 1);
}

TEST_F(EngineTest, UnsolicitedFramesOnThePrimaryBus)
{
    ASSERT_TRUE(engine->LoadDecodeFile(kDecodeFile));
    Connect(CPortMC_All::kPrimary);
    auto spy = std::make_unique<TapSubscriber>();
    engine->Tap().Add(_MCDATA::kSent, &spy->writer);
    const struct {
        Bytes frame;
        const char* line;
    } cases[] = {
        {{0xEC, 0x05}, "RX->EC 05 \r\n"},  // a bare header prints raw
        {{0xE8, 0x01, 0x02}, "RX->E8 01 02 \r\n"},
    };
    for (const auto& c : cases) {
        ASSERT_GE(sim.EmitUnsolicited(101, c.frame), 1);
        EXPECT_TRUE(box.WaitFor(c.line)) << box.Text();
    }
    ASSERT_TRUE(box.WaitFor("TX->E8 01 02 \r\n")) << "0xE8 frames are written back";
    EXPECT_EQ(spy->Of(_MCDATA::kSent, 1), (std::vector<Bytes>{{0xE8, 0x01, 0x02}}));
    engine->Tap().Remove(_MCDATA::kSent, &spy->writer);
}

TEST_F(EngineTest, UnsolicitedFramesOverTcpAreNotWrittenBack)
{
    Connect(CPortMC_All::kTcp);
    _MCDATA r;
    // The crate server sends unasked frames to clients that talked to the board.
    ASSERT_TRUE(engine->Queue(&replies.writer, Request({0xED, 0x01}, true)));
    ASSERT_TRUE(replies.Next(r));
    ASSERT_GE(sim.EmitUnsolicited(101, Bytes{0xE8, 0x07}), 1);
    ASSERT_TRUE(box.WaitFor("RX->E8 07 \r\n"));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(box.Count("TX->E8"), 0);
}

TEST_F(EngineTest, DroppedConnectionIsReportedOnce)
{
    Connect(CPortMC_All::kTcp);
    engine->PollLink();
    EXPECT_FALSE(engine->QueryCommandState().connectEnabled);
    Board().Faults().Set(SimFault::DropConnection, 1);
    ASSERT_TRUE(engine->Queue(&replies.writer, Request({0xEA}, true, 300)));
    _MCDATA r;
    ASSERT_TRUE(replies.Next(r));
    EXPECT_EQ(r.status, _MCDATA::kReplyTimeout);
    EXPECT_FALSE(engine->IsOpen());
    for (int tick = 0; tick < 3; ++tick)
        engine->PollLink();
    EXPECT_EQ(events.Count("Disconnected\r\n"), 1);

    auto state = engine->QueryCommandState();
    EXPECT_TRUE(state.connectEnabled);
    EXPECT_FALSE(state.disconnectEnabled);
    EXPECT_TRUE(state.changed);
    EXPECT_EQ(events.Count("Open ->10054\n"), 1) << events.Text();
    state = engine->QueryCommandState();
    EXPECT_FALSE(state.changed);
    EXPECT_EQ(events.Count("Open ->"), 1) << "a drop is reported once";

    ASSERT_TRUE(engine->Connect()) << "the window connects again";
    ASSERT_TRUE(engine->Link().WaitUntilOpen(5000));
    ASSERT_TRUE(engine->Queue(&replies.writer, Request({0xED, 0x01}, true)));
    ASSERT_TRUE(replies.Next(r));
    EXPECT_EQ(r.status, _MCDATA::kGood);
}

TEST_F(EngineTest, DisconnectIsNoDrop)
{
    Connect(CPortMC_All::kPrimary);
    engine->PollLink();
    engine->Disconnect();
    const auto state = engine->QueryCommandState();
    EXPECT_TRUE(state.connectEnabled);
    EXPECT_FALSE(state.disconnectEnabled);
    engine->PollLink();
    EXPECT_EQ(events.Text(), "Disconnected\r\n");
}

TEST_F(EngineTest, OpenAndWriteFailuresArePrinted)
{
    ASSERT_TRUE(engine->Link().SetProperty("ComName", CVariant::FromString("/nonexistent/tty")));
    EXPECT_FALSE(engine->Connect());
    EXPECT_FALSE(engine->Opened());
    EXPECT_EQ(events.Text().rfind("Open Error: ->2\n", 0), 0u) << events.Text();
    EXPECT_TRUE(engine->QueryCommandState().connectEnabled);

    Connect(CPortMC_All::kPrimary);
    _MCDATA tooLong = Request({}, false);
    tooLong.length = 241;
    ASSERT_TRUE(engine->Queue(nullptr, tooLong));
    ASSERT_TRUE(engine->WaitUntilSent(5000));
    EXPECT_NE(events.Text().find("Write Error: ->87\n"), std::string::npos) << events.Text();
    EXPECT_FALSE(engine->IsOpen()) << "a write failure closes the link";
}

TEST_F(EngineTest, SendQueueHoldsNineRequestsBehindTheOneInFlight)
{
    Connect(CPortMC_All::kPrimary);
    Board().Faults().Set(SimFault::LostReply, 1);
    ASSERT_TRUE(engine->Queue(&replies.writer, Request({0xEA}, true, 10000)));
    ASSERT_TRUE(box.WaitFor("TX->EC 00 EA"));
    for (int i = 0; i < 9; ++i) {
        EXPECT_FALSE(engine->IsQueueFull());
        ASSERT_TRUE(engine->Queue(nullptr, Request({0xED, 0x01}, false)));
    }
    EXPECT_TRUE(engine->IsQueueFull());
    std::atomic<bool> queued{false};
    std::thread tenth([&] { queued = engine->Queue(nullptr, Request({0xED, 0x00}, false)); });
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(queued) << "a full queue blocks the requester";
    engine->AbortWait();
    tenth.join();
    EXPECT_TRUE(queued);
    _MCDATA r;
    ASSERT_TRUE(replies.Next(r));
    EXPECT_EQ(r.status, _MCDATA::kReplyAborted);
    ASSERT_TRUE(engine->WaitUntilSent(5000));
    EXPECT_TRUE(box.WaitFor("TX->ED 00 \r\n"));
    EXPECT_EQ(box.Count("TX->ED 01 \r\n"), 9);
}

TEST_F(EngineTest, DroppedRequestsAreNotSent)
{
    Connect(CPortMC_All::kPrimary);
    Board().Faults().Set(SimFault::LostReply, 1);
    ASSERT_TRUE(engine->Queue(&replies.writer, Request({0xEA}, true, 10000)));
    ASSERT_TRUE(box.WaitFor("TX->EC 00 EA"));
    ASSERT_TRUE(engine->Queue(&replies.writer, Request({0xED, 0x01}, true)));
    ASSERT_TRUE(engine->Queue(nullptr, Request({0xED, 0x00}, false)));
    const auto dropped = engine->DropQueued();
    ASSERT_EQ(dropped.size(), 2u);
    EXPECT_EQ(dropped[0].replyWriter, &replies.writer);
    EXPECT_EQ(RecordBytes(dropped[1].data), (Bytes{0xED, 0x00}));
    engine->AbortWait();
    _MCDATA r;
    ASSERT_TRUE(replies.Next(r));
    EXPECT_EQ(r.status, _MCDATA::kReplyAborted);
    ASSERT_TRUE(engine->WaitUntilSent(5000));
    EXPECT_FALSE(replies.Next(r, 200)) << "nothing is delivered for a dropped request";
    EXPECT_EQ(box.Text(), "TX->EC 00 EA \r\n");
}

TEST_F(EngineTest, SlowDisplaySlowsTheLinkButLosesNoRecord)
{
    class SlowSink : public CTextSink {
    public:
        void Append(std::string_view text) override
        {
            std::this_thread::sleep_for(5ms);
            std::lock_guard g(lock);
            lines.emplace_back(text);
        }
        std::mutex lock;
        std::vector<std::string> lines;
    } slow;
    engine->Box().SetSink(&slow);
    Connect(CPortMC_All::kPrimary);
    constexpr int kRequests = 40;
    for (int i = 0; i < kRequests; ++i)
        ASSERT_TRUE(engine->Queue(nullptr, Request({0xF5, 0x00, 0x00, static_cast<uint8_t>(i), 0x00, 0x00, 0x01}, true)));
    ASSERT_TRUE(engine->WaitUntilSent(20000));
    // The last reply may still be on its way to the box.
    for (int i = 0; i < 100; ++i) {
        {
            std::lock_guard g(slow.lock);
            if (slow.lines.size() >= 2 * kRequests)
                break;
        }
        std::this_thread::sleep_for(20ms);
    }
    engine->Box().SetSink(nullptr);
    std::lock_guard g(slow.lock);
    ASSERT_EQ(slow.lines.size(), 2u * kRequests);
    for (int i = 0; i < kRequests; ++i) {
        char tx[64];
        std::snprintf(tx, sizeof tx, "TX->EC %02X F5 00 00 %02X 00 00 01 \r\n", i, i);
        EXPECT_EQ(slow.lines[2 * i], tx);
        EXPECT_EQ(slow.lines[2 * i + 1].rfind("RX->EC ", 0), 0u);
    }
}

TEST_F(EngineTest, LogFileHoldsExactlyTheBoxText)
{
    CTempDir dir;
    const std::string first = dir.Path() + "/first.log";
    const std::string second = dir.Path() + "/second.log";
    ASSERT_TRUE(engine->LoadDecodeFile(kDecodeFile));
    {
        std::ofstream existing(first, std::ios::binary);
        existing << "earlier\r\n";
    }
    CTrafficBox& b = engine->Box();
    b.SetLogFile(first);
    b.SetEnLog(true);
    b.SetEnTime(true);
    Connect(CPortMC_All::kPrimary);
    _MCDATA r;
    for (const Bytes& command : {Bytes{0xED, 0x01}, Bytes{0xBF, 0x0A, 0x00, 0x01}, Bytes{0xEA}}) {
        _MCDATA request = Request({}, true);
        std::copy(command.begin(), command.end(), request.bytes);
        request.length = static_cast<uint8_t>(command.size());
        ASSERT_TRUE(engine->Queue(&replies.writer, request));
        ASSERT_TRUE(replies.Next(r));
    }
    ASSERT_TRUE(box.WaitFor("RX->Data decoded code=0x13\r\n"));
    const std::string logged = box.Text();
    EXPECT_NE(logged.find(" TX->EC 00 ED 01 \r\n"), std::string::npos) << "the time comes first";
    EXPECT_EQ(readFile(first), "earlier\r\n" + logged) << "appended to the existing file";

    engine->ChangeLogFile(second);
    EXPECT_FALSE(b.EnLog());
    ASSERT_TRUE(engine->Queue(&replies.writer, Request({0xED, 0x00}, true)));
    ASSERT_TRUE(replies.Next(r));
    ASSERT_TRUE(box.WaitFor("TX->", 4));
    EXPECT_FALSE(b.IsLogOpen());
    EXPECT_EQ(readFile(first), "earlier\r\n" + logged) << "nothing more once the log file changed";
    EXPECT_FALSE(std::ifstream(second).good());

    b.SetEnLog(true);
    const size_t before = box.Text().size();
    ASSERT_TRUE(engine->Queue(&replies.writer, Request({0xED, 0x01}, true)));
    ASSERT_TRUE(replies.Next(r));
    ASSERT_TRUE(box.WaitFor("TX->", 5));
    ASSERT_TRUE(box.WaitFor("RX->", 5));
    EXPECT_EQ(readFile(second), box.Text().substr(before));
}

TEST_F(EngineTest, LogFileThatCannotBeOpenedIsReportedInTheBoxAndRetried)
{
    CTempDir dir;
    CTrafficBox& b = engine->Box();
    b.SetEnDecode(false);
    b.SetLogFile(dir.Path() + "/missing/traffic.log");
    b.SetEnLog(true);
    b.Print(TrafficRecord(_MCDATA::kSent, Bytes{0xEA}.data(), 1));
    b.Print(TrafficRecord(_MCDATA::kReceived, Bytes{0xFC, 0xED}.data(), 2));
    EXPECT_EQ(box.Text(), "Can't open log file\r\nTX->EA \r\nCan't open log file\r\nRX->FC ED \r\n");

    // Another log of this program holds the file: it is refused as well.
    const std::string held = dir.Path() + "/held.log";
    COutLogFile other;
    ASSERT_TRUE(other.Open(held));
    b.SetLogFile(held);
    b.Print(TrafficRecord(_MCDATA::kSent, Bytes{0xEA}.data(), 1));
    EXPECT_EQ(box.Count("Can't open log file\r\n"), 3);
    other.Close();
    b.Print(TrafficRecord(_MCDATA::kSent, Bytes{0xEB}.data(), 1));
    EXPECT_EQ(box.Count("Can't open log file\r\n"), 3);
    EXPECT_EQ(readFile(held), "TX->EB \r\n");
}

TEST_F(EngineTest, DecodeFileLoadAndWatch)
{
    CTempDir dir;
    const std::string path = dir.Path() + "/replies.dec";
    {
        std::ofstream f(path);
        f << "struct 0xFC {\n char command;\n char result;\n};\n";
    }
    EXPECT_TRUE(engine->LoadDecodeFile(path));
    EXPECT_EQ(events.Text(), "Reading decode file " + path + "\r\nRead Success\r\n");
    EXPECT_EQ(engine->DecodeFile(), path);
    EXPECT_FALSE(engine->DecodeFileChanged());

    engine->Box().Print(TrafficRecord(_MCDATA::kReceived, Bytes{0xFC, 0xED, 0x01}.data(), 3));
    EXPECT_EQ(box.Text().rfind("RX->Data decoded code=0xFC\r\n", 0), 0u) << box.Text();

    std::this_thread::sleep_for(1100ms);  // file times count in seconds on some file systems
    {
        std::ofstream f(path);
        f << "struct 0xFC {\n char command\n};\n";
    }
    EXPECT_TRUE(engine->DecodeFileChanged());
    EXPECT_FALSE(engine->DecodeFileChanged()) << "the watch rests until the next load";

    EXPECT_FALSE(engine->LoadDecodeFile(path));
    EXPECT_NE(events.Text().find("Read Fail: Line 2 "), std::string::npos) << events.Text();
    EXPECT_FALSE(engine->DecodeFileChanged());
    const size_t before = box.Text().size();
    engine->Box().Print(TrafficRecord(_MCDATA::kReceived, Bytes{0xFC, 0xED, 0x01}.data(), 3));
    EXPECT_EQ(box.Text().substr(before), "RX->FC ED 01 \r\n") << "nothing decodes after a failed load";

    events.Append("|");
    EXPECT_FALSE(engine->LoadDecodeFile("relative/none.dec"));
    EXPECT_NE(events.Text().find("|Reading decode file relative/none.dec\r\nRead Fail: "), std::string::npos);
}
