#include "VmeStandFixture.h"
#include "daq/DelayBrd.h"
#include "daq/Pu.h"
#include "daq/Ros.h"

#include <functional>

namespace {
constexpr uint32_t kPu = simvme::PuBase;
constexpr uint32_t kRos = simvme::RosBase;
constexpr uint32_t kDly = simvme::DelayBase;

class ModulesTest : public VmeStandTest {
protected:
    CPu pu{vme};
    CRos ros{vme};
    CDelayBrd delay{vme};
};

TEST_F(ModulesTest, DelaysAreReadModifyWritten)
{
    ASSERT_TRUE(vme.Write16(kPu + 0x3A, 0x1203));
    ASSERT_TRUE(pu.WrDelay1(0x45)) << pu.ErrorText();
    EXPECT_EQ(Reg16(kPu + 0x3A), 0x1205);
    ASSERT_TRUE(pu.WrDelay2(3)) << pu.ErrorText();
    EXPECT_EQ(Reg16(kPu + 0x3A), 0x0305);
    ASSERT_TRUE(pu.WrDelay2(0xFF));
    EXPECT_EQ(Reg16(kPu + 0x3A), 0x3F05) << "Delay2 keeps six bits";
    ASSERT_TRUE(pu.WrDelayEx(0xC7));
    EXPECT_EQ(Reg16(kPu + 0x18), 0x07);
}

TEST_F(ModulesTest, EventCounterReadsTwelveBits)
{
    ASSERT_TRUE(pu.WrEvCnt(0xF123));
    EXPECT_EQ(Reg16(kPu + 0x2C), 0xF123);
    uint16_t count = 0;
    ASSERT_TRUE(pu.RdEvCnt(count));
    EXPECT_EQ(count, 0x123);
}

TEST_F(ModulesTest, ConfigureWritesEveryRegister)
{
    _PUCONFIG c;
    c.ConfIO = 0x11;
    c.EnRW = 0x22;
    c.ResetEn = 0x33;
    c.ReTransmit = 0x44;
    c.ActiveIO = 0x55;
    c.RunMode = 0x66;
    c.EventCounter = 0x1234;
    c.Delay1 = 0x07;
    c.Delay2 = 0x48;
    c.DelayEx = 0x79;
    ASSERT_TRUE(pu.Configure(c)) << pu.ErrorText();
    const struct {
        uint32_t offset;
        uint16_t value;
    } expected[] = {{0x38, 0x11}, {0x3E, 0x22}, {0x2A, 0x33},   {0x12, 0x44}, {0x3C, 0x55},
                    {0x2E, 0x66}, {0x2C, 0x1234}, {0x3A, 0x0807}, {0x18, 0x39}};
    for (const auto& e : expected)
        EXPECT_EQ(Reg16(kPu + e.offset), e.value) << "offset 0x" << std::hex << e.offset;
}

TEST_F(ModulesTest, ConfigureUsesTheRecordsBaseAddress)
{
    _PUCONFIG c;
    c.BaseAddr = 0xB0000;  // no board there
    EXPECT_FALSE(pu.Configure(c));
    EXPECT_EQ(pu.BaseAddress(), 0xB0000u);
    EXPECT_EQ(pu.ErrorText(), "CPu::WrConfIO():" + BusErrorText(true, 0xB0038));
}

TEST_F(ModulesTest, ConfigureStopsAtTheFirstFailure)
{
    Stand().InjectBusError(simvme::A24Device, kPu + 0x2E, simvme::Access::Write);
    _PUCONFIG c;
    EXPECT_FALSE(pu.Configure(c));
    EXPECT_EQ(pu.Status(), simvme::BusError);
    EXPECT_EQ(pu.ErrorText(), "CPu::WrRunMode():" + BusErrorText(true, kPu + 0x2E));
    EXPECT_EQ(Reg16(kPu + 0x2C), 0x80) << "the event counter comes before RunMode";
    EXPECT_EQ(Reg16(kPu + 0x3C), 0) << "ActiveIO must not be written after a failure";
    EXPECT_EQ(Reg16(kPu + 0x3A), 0);
}

TEST_F(ModulesTest, ReadAllFifoAssemblesWordsFromHalves)
{
    Stand().LoadPuRecord({0x1111, 0x2222, 0x3333, 0x4444, 0x5555, 0x6666, 0x7777, 0x8888});
    Stand().LoadPuRecord({1, 2, 3, 4, 5, 6, 7, 8});
    ASSERT_TRUE(pu.ReadAllFifo(2)) << pu.ErrorText();
    ASSERT_EQ(pu.FifoRecords(), 2u);
    const std::vector<uint32_t> words(pu.FifoWords().begin(), pu.FifoWords().end());
    EXPECT_EQ(words, (std::vector<uint32_t>{0x22221111, 0x44443333, 0x66665555, 0x88887777,
                                            0x00020001, 0x00040003, 0x00060005, 0x00080007}));
    EXPECT_EQ(Stand().PuFifoDepth(), 0u);
}

TEST_F(ModulesTest, ReadAllFifoIsCappedAt4096Records)
{
    for (uint32_t r = 0; r < 5000; ++r)
        Stand().LoadPuRecord(CSimVmeStand::EventRecord(r, static_cast<int>(r)));
    const uint64_t before = Stand().AccessCount();
    ASSERT_TRUE(pu.ReadAllFifo(5000)) << pu.ErrorText();
    EXPECT_EQ(pu.FifoRecords(), 4096u);
    EXPECT_EQ(pu.FifoWords().size(), 4096u * 4);
    EXPECT_EQ(Stand().AccessCount() - before, 4096u * 8);
    EXPECT_EQ(Stand().PuFifoDepth(), 5000u - 4096);
    EXPECT_EQ(pu.FifoWords()[4095 * 4], (4095u << 16) | 4095u);
}

TEST_F(ModulesTest, ReadAllFifoKeepsTheRecordsBeforeAFailure)
{
    for (int r = 0; r < 3; ++r)
        Stand().LoadPuRecord(CSimVmeStand::EventRecord(7, r));
    ASSERT_TRUE(pu.ReadAllFifo(1));
    Stand().InjectBusError(simvme::A24Device, kPu + 0x0A, simvme::Access::Read);
    EXPECT_FALSE(pu.ReadAllFifo(2));
    EXPECT_EQ(pu.FifoRecords(), 0u);
    EXPECT_EQ(pu.ErrorText(), "CPu::ReadAllFifo():" + BusErrorText(false, kPu + 0x0A));
}

TEST_F(ModulesTest, RunStateShowsAReadyEventUntilClear)
{
    bool ready = true;
    ASSERT_TRUE(pu.RdRunState(ready));
    EXPECT_FALSE(ready);
    Stand().SetTriggerDelay(std::chrono::milliseconds(0));
    ASSERT_TRUE(delay.EnableIRQ(0, true));
    ASSERT_TRUE(delay.ClearBusy());
    for (int i = 0; i < 200 && Stand().TriggerCount() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(Stand().TriggerCount(), 1u);
    ASSERT_TRUE(pu.RdRunState(ready));
    EXPECT_TRUE(ready);
    ASSERT_TRUE(pu.Clear());
    ASSERT_TRUE(pu.RdRunState(ready));
    EXPECT_FALSE(ready);
    EXPECT_EQ(Stand().PuFifoDepth(), 0u) << "clear empties the event FIFO";
}

TEST_F(ModulesTest, ReadFifoOfAnEmptyRosGivesNineWords)
{
    ASSERT_TRUE(vme.Write32(kRos + 0x04, 0xFF));
    ASSERT_TRUE(ros.ReadFifo()) << ros.ErrorText();
    EXPECT_EQ(ros.Words(), (std::vector<uint32_t>{0xE00100FF, 0xF0000008, 0xF0000009, 0xF000000A,
                                                  0xF000000B, 0xF000000C, 0xF000000D, 0xF000000E,
                                                  0xF000000F}));
}

TEST_F(ModulesTest, ReadFifoPairsWordsAndStopsAfterTwentyItems)
{
    Stand().LoadRosWord(2, 0x0001ABCD);
    Stand().LoadRosWord(2, 0xFFFF1234);
    for (int i = 0; i < 25; ++i) {
        Stand().LoadRosWord(6, static_cast<uint32_t>(i));
        Stand().LoadRosWord(6, 0x100u + static_cast<uint32_t>(i));
    }
    ASSERT_TRUE(ros.ReadFifo()) << ros.ErrorText();
    std::vector<uint32_t> expected{0xE0010000, 0xF0000008, 0xF0000009, 0xF000000A, 0xABCD1234,
                                   0xF000000B, 0xF000000C, 0xF000000D, 0xF000000E};
    for (uint32_t i = 0; i < 20; ++i)
        expected.push_back(i << 16 | (0x100 + i));
    expected.push_back(0xF000000F);
    EXPECT_EQ(ros.Words(), expected);
    ASSERT_TRUE(ros.PartialReset());
    ASSERT_TRUE(ros.ReadFifo());
    EXPECT_EQ(ros.Words().size(), 9u) << "partial reset empties the channels";
}

TEST_F(ModulesTest, DelayBoardDelayIsTwelveBits)
{
    ASSERT_TRUE(vme.Write16(kDly + 0x04, 0x1F5));
    ASSERT_TRUE(delay.WrDelay(0xABC)) << delay.ErrorText();
    EXPECT_EQ(Reg16(kDly + 0x02), 0xBC);
    EXPECT_EQ(Reg16(kDly + 0x04), 0xFA) << "control keeps bits 4-7 and takes delay bits 8-11";
    uint16_t d = 0;
    ASSERT_TRUE(delay.RdDelay(d));
    EXPECT_EQ(d, 0xABC);
    ASSERT_TRUE(delay.WrDelay(0xF123));
    ASSERT_TRUE(delay.RdDelay(d));
    EXPECT_EQ(d, 0x123);
}

TEST_F(ModulesTest, DelayBoardControlBits)
{
    ASSERT_TRUE(vme.Write16(kDly + 0x04, 0x0005));
    ASSERT_TRUE(delay.EnableDelay());
    EXPECT_EQ(Reg16(kDly + 0x04), 0x45);
    ASSERT_TRUE(delay.SelInput(true));
    EXPECT_EQ(Reg16(kDly + 0x04), 0xC5);
    ASSERT_TRUE(delay.SelInput(false));
    EXPECT_EQ(Reg16(kDly + 0x04), 0x45);
    ASSERT_TRUE(delay.ClearBusy());
    EXPECT_EQ(Reg16(kDly + 0x04), 0x55);
    ASSERT_TRUE(delay.WrVector());
    EXPECT_EQ(Reg16(kDly + 0x00), 0x55);
}

TEST_F(ModulesTest, EnableIrqSetsAndClearsOneSource)
{
    ASSERT_TRUE(delay.EnableIRQ(1, true));
    ASSERT_TRUE(delay.EnableIRQ(0, true));
    ASSERT_TRUE(delay.EnableIRQ(15, true));
    EXPECT_EQ(Reg16(kDly + 0x06), 0x8003);
    ASSERT_TRUE(delay.EnableIRQ(1, false));
    EXPECT_EQ(Reg16(kDly + 0x06), 0x8001);
    EXPECT_FALSE(delay.EnableIRQ(16, true));
    EXPECT_EQ(delay.Status(), 87);
    EXPECT_EQ(delay.ErrorText(), "CDelayBrd::EnableIRQ(): Error 87\r\nInvalid argument\r\n");
    EXPECT_FALSE(delay.EnableIRQ(-1, true));
    EXPECT_EQ(Reg16(kDly + 0x06), 0x8001);
}

TEST_F(ModulesTest, ASuccessClearsTheLastError)
{
    Stand().InjectBusError(simvme::A24Device, kPu + 0x28, simvme::Access::Both);
    EXPECT_FALSE(pu.Clear());
    EXPECT_FALSE(pu.ErrorText().empty());
    Stand().ClearBusErrors();
    EXPECT_TRUE(pu.Clear());
    EXPECT_EQ(pu.Status(), 0);
    EXPECT_EQ(pu.ErrorText(), "");
}

// Every label reaches the text when the access it makes fails.
struct Boards {
    CPu& pu;
    CRos& ros;
    CDelayBrd& dly;
};
using B = Boards;

struct LabelCase {
    const char* label;
    uint32_t address;
    simvme::Access access;
    std::function<bool(Boards&)> op;
    int module;  // 0 PU, 1 ROS, 2 delay board
};

TEST_F(ModulesTest, EveryLabelReachesTheTextOnABusError)
{
    using A = simvme::Access;
    const LabelCase cases[] = {
        {"CPu::WrConfIO():", kPu + 0x38, A::Write, [](B& b) { return b.pu.WrConfIO(1); }, 0},
        {"CPu::WrEnRW():", kPu + 0x3E, A::Write, [](B& b) { return b.pu.WrEnRW(1); }, 0},
        {"CPu::WrResEn():", kPu + 0x2A, A::Write, [](B& b) { return b.pu.WrResEn(1); }, 0},
        {"CPu::WrReTransmit():", kPu + 0x12, A::Write, [](B& b) { return b.pu.WrReTransmit(1); }, 0},
        {"CPu::WrActiveIO():", kPu + 0x3C, A::Write, [](B& b) { return b.pu.WrActiveIO(1); }, 0},
        {"CPu::WrRunMode():", kPu + 0x2E, A::Write, [](B& b) { return b.pu.WrRunMode(1); }, 0},
        {"CPu::WrEvCnt():", kPu + 0x2C, A::Write, [](B& b) { return b.pu.WrEvCnt(1); }, 0},
        {"CPu::RdEvCnt():", kPu + 0x2C, A::Read, [](B& b) { uint16_t n; return b.pu.RdEvCnt(n); }, 0},
        {"CPu::WrDelay1():", kPu + 0x3A, A::Read, [](B& b) { return b.pu.WrDelay1(1); }, 0},
        {"CPu::WrDelay1():", kPu + 0x3A, A::Write, [](B& b) { return b.pu.WrDelay1(1); }, 0},
        {"CPu::WrDelay2():", kPu + 0x3A, A::Read, [](B& b) { return b.pu.WrDelay2(1); }, 0},
        {"CPu::WrDelay2():", kPu + 0x3A, A::Write, [](B& b) { return b.pu.WrDelay2(1); }, 0},
        {"CPu::WrDelayEx():", kPu + 0x18, A::Write, [](B& b) { return b.pu.WrDelayEx(1); }, 0},
        {"CPu::Clear():", kPu + 0x28, A::Write, [](B& b) { return b.pu.Clear(); }, 0},
        {"CPu::RdRunState():", kPu + 0x14, A::Read, [](B& b) { bool r; return b.pu.RdRunState(r); }, 0},
        {"CPu::ReadAllFifo():", kPu + 0x10, A::Read, [](B& b) { return b.pu.ReadAllFifo(1); }, 0},
        {"CRos::Init():", kRos + 0x00, A::Write, [](B& b) { return b.ros.Init(); }, 1},
        {"CRos::PartialReset():", kRos + 0x00, A::Write, [](B& b) { return b.ros.PartialReset(); }, 1},
        {"CRos::ReadFifo():", kRos + 0x04, A::Read, [](B& b) { return b.ros.ReadFifo(); }, 1},
        {"CRos::ReadFifo():", kRos + 0x4C, A::Read, [](B& b) { return b.ros.ReadFifo(); }, 1},
        {"CDelayBrd::WrDelay();", kDly + 0x02, A::Write, [](B& b) { return b.dly.WrDelay(1); }, 2},
        {"CDelayBrd::WrDelay();", kDly + 0x04, A::Read, [](B& b) { return b.dly.WrDelay(1); }, 2},
        {"CDelayBrd::WrDelay();", kDly + 0x04, A::Write, [](B& b) { return b.dly.WrDelay(1); }, 2},
        {"CDelayBrd::RdDelay();", kDly + 0x02, A::Read, [](B& b) { uint16_t v; return b.dly.RdDelay(v); }, 2},
        {"CDelayBrd::RdDelay();", kDly + 0x04, A::Read, [](B& b) { uint16_t v; return b.dly.RdDelay(v); }, 2},
        {"CDelayBrd::WrVector();", kDly + 0x00, A::Write, [](B& b) { return b.dly.WrVector(); }, 2},
        {"CDelayBrd::EnableIRQ();", kDly + 0x06, A::Read, [](B& b) { return b.dly.EnableIRQ(0, true); }, 2},
        {"CDelayBrd::EnableIRQ():", kDly + 0x06, A::Write, [](B& b) { return b.dly.EnableIRQ(0, true); }, 2},
        {"CDelayBrd::ClearBusy():", kDly + 0x04, A::Read, [](B& b) { return b.dly.ClearBusy(); }, 2},
        {"CDelayBrd::ClearBusy():", kDly + 0x04, A::Write, [](B& b) { return b.dly.ClearBusy(); }, 2},
        {"CDelayBrd::EnableDelay():", kDly + 0x04, A::Read, [](B& b) { return b.dly.EnableDelay(); }, 2},
        {"CDelayBrd::EnableDelay():", kDly + 0x04, A::Write, [](B& b) { return b.dly.EnableDelay(); }, 2},
        {"CDelayBrd::SelInput():", kDly + 0x04, A::Read, [](B& b) { return b.dly.SelInput(true); }, 2},
        {"CDelayBrd::SelInput():", kDly + 0x04, A::Write, [](B& b) { return b.dly.SelInput(true); }, 2},
    };
    Stand().LoadPuRecord({});
    Boards boards{pu, ros, delay};
    for (const LabelCase& c : cases) {
        SCOPED_TRACE(c.label);
        Stand().ClearBusErrors();
        Stand().InjectBusError(simvme::A24Device, c.address, c.access);
        EXPECT_FALSE(c.op(boards));
        const CVmeModule& module = c.module == 0 ? static_cast<CVmeModule&>(pu)
                                   : c.module == 1 ? static_cast<CVmeModule&>(ros)
                                                   : static_cast<CVmeModule&>(delay);
        EXPECT_EQ(module.Status(), simvme::BusError);
        EXPECT_EQ(module.ErrorText(),
                  c.label + BusErrorText(c.access == simvme::Access::Write, c.address));
    }
}
}  // namespace
