// The DAQ engine on the simulated stand, driven in-process.
#include "DaqFrames.h"
#include "VmeStandFixture.h"
#include "base/Error.h"
#include "daq/DaqEngine.h"

#include <chrono>
#include <map>
#include <string>
#include <thread>

using namespace std::chrono_literals;

namespace {
using Clock = std::chrono::steady_clock;

class DaqEngineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        unsetenv("TELVANE_VME_LIBRARY");
        Stand().PowerUp();
        // Without a ROS, Init skips the ROS's second of settling.
        Stand().SetRosPresent(false);
    }
    void TearDown() override
    {
        engine.Stop();
        Stand().PowerUp();
    }
    static CSimVmeStand& Stand() { return CSimVmeStand::Global(); }

    void InitEngine() { ASSERT_TRUE(engine.Init()) << engine.ErrorText(); }

    Reply Exe(const Bytes& payload, uint16_t id = 1, bool expectOk = true)
    {
        Bytes frame;
        EXPECT_EQ(engine.ExeCmd(payload.data(), payload.size(), id, frame, &lastText), expectOk) << lastText;
        return Reply::Parse(frame);
    }

    std::vector<uint32_t> Run(uint32_t events)
    {
        EXPECT_TRUE(engine.StartRun(events)) << engine.ErrorText();
        std::vector<uint32_t> words;
        EXPECT_TRUE(engine.WaitEvents(words)) << engine.ErrorText();
        return words;
    }

    CDaqEngine engine;
    std::string lastText;
};

TEST_F(DaqEngineTest, RunOfTwoEventsWithoutRosSerialisesSeventeenWordsEach)
{
    InitEngine();
    EXPECT_FALSE(engine.RosAnswered());
    std::vector<uint32_t> expected = EventWithoutRos(1, 2);
    const std::vector<uint32_t> second = EventWithoutRos(2, 2);
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(Run(2), expected);
    EXPECT_EQ(engine.EventCount(), 2u);

    std::vector<uint32_t> again;
    ASSERT_TRUE(engine.WaitEvents(again));
    EXPECT_EQ(again, expected) << "a complete run can be fetched twice";
}

TEST_F(DaqEngineTest, EventSizeFollowsTheEventCounter)
{
    Stand().SetEventSize(3);
    InitEngine();
    const std::vector<uint32_t> w = Run(1);
    ASSERT_EQ(w.size(), 13u + 12u);
    EXPECT_EQ(w[0], 25u);
    EXPECT_EQ(w[10], 14u) << "P + 2";
    EXPECT_EQ(w[11], 13u * 256 + 1) << "(P + 1) x 256 + 1";
    EXPECT_EQ(w[12 + 4], (1u << 16) | 1u) << "record 1 of event 1";
    EXPECT_EQ(w[12 + 8], (2u << 16) | 1u) << "record 2 of event 1";
    EXPECT_EQ(w.back(), 25u);
}

TEST_F(DaqEngineTest, RunOfNoEventsIsEmptyAndComplete)
{
    InitEngine();
    EXPECT_TRUE(Run(0).empty());
}

TEST_F(DaqEngineTest, MissedTriggerFailsWithLoseTriggerAfterTheWait)
{
    InitEngine();
    Stand().MissTriggers(1);
    ASSERT_TRUE(engine.StartRun(1));
    std::vector<uint32_t> words = {99};
    const auto start = Clock::now();
    EXPECT_FALSE(engine.WaitEvents(words));
    const auto waited = Clock::now() - start;
    EXPECT_EQ(engine.Status(), 0x42A);
    EXPECT_EQ(engine.ErrorText(), "Lose Trigger");
    EXPECT_GE(waited, 990ms);
    EXPECT_LT(waited, 3000ms);
    EXPECT_EQ(words, std::vector<uint32_t>{99}) << "no words on failure";

    EXPECT_EQ(Run(2).size(), 34u) << "the next run is not affected";
}

TEST_F(DaqEngineTest, TriggerWithoutDelayNeverRacesTheStartOfARun)
{
    Stand().SetTriggerDelay(0ms);
    InitEngine();
    uint32_t next = 1;
    for (int run = 0; run < 200; ++run) {
        const std::vector<uint32_t> w = Run(3);
        ASSERT_EQ(w.size(), 3u * 17) << "run " << run;
        for (uint32_t e = 0; e < 3; ++e)
            ASSERT_EQ(w[17 * e + 12], (next + e) & 0xFFFF) << "run " << run << " event " << e;
        next += 3;
    }
}

TEST_F(DaqEngineTest, RunBeyondTheLimitIsRefusedAndKeepsTheLastRun)
{
    CDaqSettings settings;
    ASSERT_TRUE(settings.Set(CDaqSettings::MaxRunEvents, 3));
    engine.SetSettings(settings);
    InitEngine();
    const std::vector<uint32_t> three = Run(3);
    ASSERT_EQ(three.size(), 51u);

    const struct {
        uint32_t events;
        const char* text;
    } refused[] = {
        {4, "StartRun:\r\n4 events exceed the limit of 3 (MaxRunEvents)"},
        {0xFFFFFFFF, "StartRun:\r\n4294967295 events exceed the limit of 3 (MaxRunEvents)"},
    };
    for (const auto& r : refused) {
        EXPECT_FALSE(engine.StartRun(r.events));
        EXPECT_EQ(engine.Status(), 87);
        EXPECT_EQ(engine.ErrorText(), r.text);
    }
    std::vector<uint32_t> words;
    ASSERT_TRUE(engine.WaitEvents(words));
    EXPECT_EQ(words, three) << "the refused runs touched neither store nor trigger";
}

TEST_F(DaqEngineTest, FailedEventReadEndsTheWaitWithTheModuleText)
{
    InitEngine();
    Stand().InjectBusError(simvme::A24Device, simvme::PuBase + 0x2C, simvme::Access::Read);
    ASSERT_TRUE(engine.StartRun(1));
    std::vector<uint32_t> words;
    const auto start = Clock::now();
    EXPECT_FALSE(engine.WaitEvents(words));
    EXPECT_LT(Clock::now() - start, 900ms) << "no need to wait for the time-out";
    EXPECT_EQ(engine.Status(), simvme::BusError);
    EXPECT_EQ(engine.ErrorText(), "CPu::RdEvCnt():" + BusErrorText(false, simvme::PuBase + 0x2C));
}

TEST_F(DaqEngineTest, InitAppliesTheSettingsToThePu)
{
    CDaqSettings settings;
    ASSERT_TRUE(settings.Assign("PU_RunMode=0x17"));
    ASSERT_TRUE(settings.Assign("PU_Delay1=5"));
    ASSERT_TRUE(settings.Assign("PU_Delay2=0x3F"));
    engine.SetSettings(settings);
    InitEngine();
    const struct {
        uint32_t offset;
        uint32_t value;
    } regs[] = {{0x2E, 0x17}, {0x3A, 0x3F05}, {0x3E, 0xFF}, {0x3C, 0xFF}, {0x2A, 0xFF}};
    for (const auto& r : regs) {
        uint32_t value = 0;
        ASSERT_TRUE(engine.ReadReg(CDaqEngine::kPu, r.offset, 0x10, value)) << engine.ErrorText();
        EXPECT_EQ(value, r.value) << std::hex << r.offset;
    }
}

TEST_F(DaqEngineTest, FailedInitReportsTheModuleAndLeavesNothingOpen)
{
    Stand().InjectBusError(simvme::A24Device, simvme::PuBase + 0x38, simvme::Access::Write);
    EXPECT_FALSE(engine.Init());
    EXPECT_EQ(engine.Status(), simvme::BusError);
    EXPECT_EQ(engine.ErrorText(), "CPu::WrConfIO():" + BusErrorText(true, simvme::PuBase + 0x38));
    EXPECT_FALSE(engine.IsOpen());
    EXPECT_EQ(Stand().OpenHandles(), 0u);
    EXPECT_EQ(Stand().InstalledCallbacks(), 0u);
}

TEST_F(DaqEngineTest, StopDisablesTheInterruptAndClosesBothDevices)
{
    InitEngine();
    EXPECT_EQ(Stand().OpenHandles(), 2u);
    EXPECT_EQ(Stand().InstalledCallbacks(), 1u);
    uint32_t enable = 0;
    ASSERT_TRUE(engine.ReadReg(CDaqEngine::kDelayRegisters, 0x06, 0x10, enable));
    EXPECT_EQ(enable, 0x3u) << "sources 0 and 1";
    ASSERT_TRUE(engine.Stop());
    EXPECT_EQ(Stand().OpenHandles(), 0u);
    EXPECT_EQ(Stand().InstalledCallbacks(), 0u);
    uint32_t value = 0;
    EXPECT_FALSE(engine.ReadReg(CDaqEngine::kPu, 0x2C, 0x10, value));
    EXPECT_EQ(engine.ErrorText(), "ReadReg():CVme::Read(A002C): Error 6\r\nBad file descriptor\r\n");
}

TEST_F(DaqEngineTest, StopDuringAFastRunEnds)
{
    Stand().SetTriggerDelay(0ms);
    InitEngine();
    ASSERT_TRUE(engine.StartRun(100000));
    while (engine.EventCount() < 10)
        std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(engine.Stop());
    const uint32_t count = engine.EventCount();
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(engine.EventCount(), count) << "no event read after Stop";
}

// Register access by board: what a write leaves and what a read returns.
TEST_F(DaqEngineTest, RegistersOfEveryBoard)
{
    InitEngine();
    const struct {
        uint32_t board, offset;
        uint16_t width;
        uint32_t write;
        uint32_t readBoard, readOffset;
        uint16_t readWidth;
        uint32_t expected;
        const char* what;
    } cases[] = {
        {0, 0x10, 0x20, 0x12345678, 0, 0x10, 0x20, 0x12345678, "TTCvi D32"},
        {0, 0x10, 0x20, 0x12345678, 0, 0x12, 0x10, 0x5678, "TTCvi D16 low half"},
        {0, 0x20, 0x10, 0x1234ABCD, 0, 0x20, 0x20, 0xABCD0000, "TTCvi D16 write takes 16 bits"},
        {1, 0x38, 0x10, 0x00AB, 1, 0x38, 0x10, 0x00AB, "PU ConfIO"},
        {1, 0x38, 0x20, 0x00120034, 1, 0x3A, 0x10, 0x0034, "PU D32"},
        {2, 0x08, 0x10, 0xABC, 2, 0x08, 0x10, 0xABC, "delay, 12 bits"},
        {2, 0x08, 0x10, 0xABC, 20, 0x02, 0x10, 0xBC, "delay low byte register"},
        {2, 0x0C, 0x10, 0x000, 20, 0x04, 0x10, 0x80 | 0x40 | 0xA, "input on: bit 7 set"},
        {2, 0x0C, 0x10, 0x200, 20, 0x04, 0x10, 0x40 | 0xA, "input off: bit 7 clear"},
        {10, 0x20, 0x20, 0x12345678, 10, 0x20, 0x20, 0x5678, "pattern generator 1 is D16 only"},
        {11, 0x22, 0x10, 0xBEEF, 11, 0x22, 0x10, 0xBEEF, "pattern generator 2"},
        {20, 0x02, 0x20, 0x11223344, 2, 0x08, 0x10, 0xA44, "delay registers are D16 only"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(engine.WriteReg(c.board, c.offset, c.width, c.write)) << engine.ErrorText();
        uint32_t value = 0xFFFFFFFF;
        ASSERT_TRUE(engine.ReadReg(c.readBoard, c.readOffset, c.readWidth, value)) << engine.ErrorText();
        EXPECT_EQ(value, c.expected);
    }
}

TEST_F(DaqEngineTest, DelayFunctionsWithoutAccessSucceed)
{
    InitEngine();
    const uint64_t before = Stand().AccessCount();
    uint32_t value = 0x1234;
    EXPECT_TRUE(engine.ReadReg(2, 0, 0x10, value));
    EXPECT_TRUE(engine.ReadReg(2, 0x0C, 0x10, value));
    EXPECT_TRUE(engine.WriteReg(2, 0, 0x10, 7));
    EXPECT_EQ(Stand().AccessCount(), before) << "offset 0, and a read of 0x0C, touch no board";
}

TEST_F(DaqEngineTest, InvalidBoardsAndOffsetsFailWith22)
{
    InitEngine();
    const uint32_t invalid[][2] = {{2, 4}, {2, 0x0A}, {2, 0x10}, {3, 0}, {12, 0}, {21, 0}, {31, 0}, {0xFFFFFFFF, 0}};
    for (const auto& bo : invalid) {
        SCOPED_TRACE(testing::Message() << "board " << bo[0] << " offset " << bo[1]);
        uint32_t value = 0;
        EXPECT_FALSE(engine.ReadReg(bo[0], bo[1], 0x10, value));
        EXPECT_EQ(engine.Status(), 22);
        EXPECT_EQ(engine.ErrorText(), "ReadReg:\r\nInvalid Param");
        EXPECT_FALSE(engine.WriteReg(bo[0], bo[1], 0x10, 1));
        EXPECT_EQ(engine.Status(), 22);
        EXPECT_EQ(engine.ErrorText(), "WriteReg:\r\nInvalid Param");
    }
}

TEST_F(DaqEngineTest, FailedBusAccessesCarryTheLabels)
{
    InitEngine();
    uint32_t value = 0;
    EXPECT_FALSE(engine.ReadReg(CDaqEngine::kRos, 0x04, 0x20, value)) << "no ROS on this stand";
    EXPECT_EQ(engine.Status(), simvme::BusError);
    EXPECT_EQ(engine.ErrorText(), "ReadReg():" + BusErrorText(false, simvme::RosBase + 4));
    Stand().InjectBusError(simvme::A24Device, simvme::DelayBase + 0x04, simvme::Access::Read);
    EXPECT_FALSE(engine.WriteReg(2, 0x0C, 0x10, 0));
    EXPECT_EQ(engine.ErrorText(),
              "WriteReg():CDelayBrd::SelInput():" + BusErrorText(false, simvme::DelayBase + 4));
    EXPECT_FALSE(engine.ReadReg(2, 0x08, 0x10, value));
    EXPECT_EQ(engine.ErrorText(),
              "ReadReg():CDelayBrd::RdDelay();" + BusErrorText(false, simvme::DelayBase + 4));
}

// Requests through ExeCmd: the reply frames byte for byte.
TEST_F(DaqEngineTest, ExeCmdRepliesEchoTheIdWithStatusAndPayload)
{
    InitEngine();
    Bytes frame;
    const Bytes startRun = StartRunPayload(2);
    ASSERT_TRUE(engine.ExeCmd(startRun.data(), startRun.size(), 0x1234, frame));
    EXPECT_EQ(frame, (Bytes{0x55, 0x55, 0x12, 0x34, 0, 0, 0, 14, 0, 0, 0x03, 0xE8, 0xC1, 0}));

    const Reply events = Exe({0xC0}, 7);
    EXPECT_EQ(events.id, 7);
    EXPECT_EQ(events.status, 1000u);
    EXPECT_EQ(events.length, 12u + 1 + 2 * 17 * 4);
    ASSERT_EQ(events.payload.size(), 1u + 2 * 17 * 4);
    EXPECT_EQ(events.payload[0], 0xC0);
    EXPECT_EQ(Bytes(events.payload.begin() + 1, events.payload.begin() + 5), (Bytes{17, 0, 0, 0}))
        << "words least significant byte first";
    EXPECT_EQ(events.Words()[17 + 12], 2u);

    const Reply write = Exe(WriteRegPayload(11, 0x22, 0x10, 0xCAFE), 0xFFFF);
    EXPECT_EQ(write.id, 0xFFFF);
    EXPECT_EQ(write.payload, (Bytes{0xC3, 0, 0, 0xCA, 0xFE}));
    const Reply read = Exe(ReadRegPayload(11, 0x22, 0x10), 3);
    EXPECT_EQ(read.payload, (Bytes{0xC2, 0, 0, 0xCA, 0xFE}));
}

TEST_F(DaqEngineTest, ExeCmdFailuresReplyWithTheSingleByte02)
{
    InitEngine();
    const struct {
        Bytes payload;
        int status;
        const char* text;
    } cases[] = {
        {{0xC7}, 22, "ExeCmd: Invalid Command 0xC7"},
        {{0xBF, 1, 2}, 22, "ExeCmd: Invalid Command 0xBF"},
        {{0xEC}, 22, "ExeCmd: Invalid Command 0xEC"},
        {{0xEC, 0x05, 0xC4}, 22, "ExeCmd: Invalid Command 0xC4"},
        {{}, 87, "ExeCmd: Empty Command"},
        {{0xEC, 0x05}, 87, "ExeCmd: Empty Command"},
        {{0xC1, 0, 0, 1}, 87, "ExeCmd: Short Command 0xC1"},
        {{0xC2, 0, 0, 0, 1, 0, 0, 0, 0x2C, 0}, 87, "ExeCmd: Short Command 0xC2"},
        {{0xC3, 0, 0, 0, 1, 0, 0, 0, 0x2C, 0, 0x10, 0, 0, 0}, 87, "ExeCmd: Short Command 0xC3"},
        {ReadRegPayload(2, 4, 0x10), 22, "ReadReg:\r\nInvalid Param"},
        {WriteRegPayload(40, 0, 0x10, 1), 22, "WriteReg:\r\nInvalid Param"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Bytes frame;
        std::string text;
        SetLastErr(0);
        EXPECT_FALSE(engine.ExeCmd(c.payload.data(), c.payload.size(), 0x0102, frame, &text));
        EXPECT_EQ(GetLastErr(), 0x42Au);
        EXPECT_EQ(frame, (Bytes{0x55, 0x55, 0x01, 0x02, 0, 0, 0, 13, 0xFF, 0xFF, 0xFF, 0xFF, 0x02}));
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(engine.ErrorText(), c.text);
        EXPECT_EQ(engine.Status(), c.status);
    }
}

struct NotifyLog {
    std::vector<std::pair<int, Bytes>> calls;
    static void Callback(void* context, int direction, const uint8_t* payload, size_t length)
    {
        static_cast<NotifyLog*>(context)->calls.emplace_back(direction, Bytes(payload, payload + length));
    }
};

TEST_F(DaqEngineTest, NotifyReportsRequestThenReplyPayloads)
{
    InitEngine();
    NotifyLog log;
    engine.SetNotify(&NotifyLog::Callback, &log);
    const Bytes request = {0xEC, 0x01, 0xC1, 0, 0, 0, 0};
    Exe(request);
    Exe({0xC9}, 2, false);
    engine.SetNotify(nullptr, nullptr);
    Exe({0xC0});
    ASSERT_EQ(log.calls.size(), 4u);
    EXPECT_EQ(log.calls[0], std::make_pair(1, request)) << "the request as received";
    EXPECT_EQ(log.calls[1], std::make_pair(0, Bytes{0xC1, 0}));
    EXPECT_EQ(log.calls[2], std::make_pair(1, Bytes{0xC9}));
    EXPECT_EQ(log.calls[3], std::make_pair(0, Bytes{0x02}));
}

// With a ROS: its words between the header and the PU block.
class DaqEngineRosTest : public DaqEngineTest {
protected:
    void SetUp() override
    {
        DaqEngineTest::SetUp();
        Stand().SetRosPresent(true);
    }
};

TEST_F(DaqEngineRosTest, RunWithRosDataPlacesBothBlocks)
{
    Stand().SetEventSize(2);
    Stand().SetRosData(1);
    InitEngine();
    ASSERT_TRUE(engine.RosAnswered());
    const std::vector<uint32_t> w = Run(2);
    const uint32_t r = 1 + 8 + 8, p = 8, size = 13 + r + p;
    ASSERT_EQ(w.size(), 2u * size);
    for (uint32_t e = 0; e < 2; ++e) {
        SCOPED_TRACE(e);
        const uint32_t* ev = &w[e * size];
        const std::vector<uint32_t> head(ev, ev + 10);
        EXPECT_EQ(head, (std::vector<uint32_t>{size, 0, 1, 2, 0, 9, 10 + r, 0, 0, r + 1}));
        EXPECT_EQ(ev[10], 0xE00100FFu) << "ROS status word";
        EXPECT_EQ(ev[11], 0xF0000008u);
        EXPECT_EQ(ev[12], (CSimVmeStand::RosWordA(e + 1, 0, 0) << 16) | (e + 1));
        EXPECT_EQ(ev[11 + 2 * 7], 0xF000000Fu);
        EXPECT_EQ(ev[10 + r], p + 2);
        EXPECT_EQ(ev[11 + r], (p + 1) * 256 + 1);
        EXPECT_EQ(ev[12 + r], e + 1) << "PU record 0";
        EXPECT_EQ(ev[12 + r + 4], (1u << 16) | (e + 1)) << "PU record 1";
        EXPECT_EQ(ev[size - 1], size);
    }
    uint32_t value = 0;
    ASSERT_TRUE(engine.ReadReg(CDaqEngine::kRos, 0x04, 0x20, value)) << engine.ErrorText();
    EXPECT_EQ(value, 0xFFu) << "ROS D32 access";
    EXPECT_FALSE(engine.ReadReg(CDaqEngine::kRos, 0x04, 0x10, value)) << "the ROS answers D32 only";
}

TEST(DaqSettingsTest, KeysWidthsAndDefaults)
{
    const struct {
        const char* key;
        int bits;
        uint32_t value;
    } expected[] = {
        {"PU_BaseAddr", 32, 0xA0000},     {"PU_ConfIO", 8, 0},         {"PU_EnRW", 8, 0xFF},
        {"PU_ResetEn", 8, 0xFF},          {"PU_ReTransmit", 8, 0},     {"PU_ActiveIO", 8, 0xFF},
        {"PU_RunMode", 8, 0x42},          {"PU_EventCounter", 16, 0x80}, {"PU_Delay1", 8, 0},
        {"PU_Delay2", 8, 0},              {"PU_DelayEx", 8, 0},        {"ROS_BaseAddr", 32, 0xA00000},
        {"VMEDLY_BaseAddr", 32, 0xE00000}, {"TTCvi_BaseAddr", 32, 0xFF1000}, {"PatGen1_BaseAddr", 32, 0xF800},
        {"PatGen2_BaseAddr", 32, 0xF900}, {"ZOraPort", 32, 38888},     {"MaxRunEvents", 32, 100000},
    };
    const auto table = CDaqSettings::Table();
    ASSERT_EQ(table.size(), std::size(expected));
    CDaqSettings settings;
    for (size_t i = 0; i < table.size(); ++i) {
        EXPECT_STREQ(table[i].key, expected[i].key);
        EXPECT_EQ(table[i].bits, expected[i].bits) << expected[i].key;
        EXPECT_EQ(settings.Get(static_cast<CDaqSettings::Index>(i)), expected[i].value) << expected[i].key;
    }
}

TEST(DaqSettingsTest, AssignmentsCheckNameAndWidth)
{
    const struct {
        const char* text;
        bool ok;
        uint32_t error;
    } cases[] = {
        {"PU_ConfIO=0xFF", true, 0},      {"pu_confio=7", true, 0},          {"PU_ConfIO=0x100", false, 87},
        {"PU_EventCounter=65535", true, 0}, {"PU_EventCounter=65536", false, 87}, {"ZOraPort=0xFFFFFFFF", true, 0},
        {"ZOraPort=0x100000000", false, 87}, {"ZOraPort=-1", false, 87},     {"ZOraPort= 5", false, 87},
        {"ZOraPort=0X10", false, 87},     {"ZOraPort=12abc", false, 87},      {"ZOraPort=", false, 87},
        {"ZOraPort=0x", false, 87},       {"ZOraPort=0x-5", false, 87},       {"Nothing=1", false, 2},
        {"ZOraPort", false, 87},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        CDaqSettings settings;
        SetLastErr(0);
        EXPECT_EQ(settings.Assign(c.text), c.ok);
        if (!c.ok) {
            EXPECT_EQ(GetLastErr(), c.error);
        }
    }
    CDaqSettings settings;
    ASSERT_TRUE(settings.Assign("pu_confio=7"));
    EXPECT_EQ(settings.PuConfig().ConfIO, 7);
}

TEST(DaqSettingsTest, ProfileKeepsMissingKeysAndCutsStoredValuesToWidth)
{
    const std::map<std::string, uint32_t> profile = {
        {"PU_RunMode", 0x1FF}, {"PU_EventCounter", 0x12345}, {"ROS_BaseAddr", 0xB00000}};
    CDaqSettings settings;
    settings.Load([&](const char* key, uint32_t& value) {
        auto it = profile.find(key);
        if (it == profile.end())
            return false;
        value = it->second;
        return true;
    });
    EXPECT_EQ(settings.Get(CDaqSettings::PU_RunMode), 0xFFu);
    EXPECT_EQ(settings.Get(CDaqSettings::PU_EventCounter), 0x2345u);
    EXPECT_EQ(settings.Get(CDaqSettings::ROS_BaseAddr), 0xB00000u);
    EXPECT_EQ(settings.Get(CDaqSettings::ZOraPort), 38888u) << "missing key keeps the default";

    std::map<std::string, uint32_t> saved;
    settings.Save([&](const char* key, uint32_t value) { saved[key] = value; });
    EXPECT_EQ(saved.size(), CDaqSettings::Table().size());
    EXPECT_EQ(saved["PU_RunMode"], 0xFFu);
    EXPECT_EQ(saved["PatGen2_BaseAddr"], 0xF900u);
}
}  // namespace
