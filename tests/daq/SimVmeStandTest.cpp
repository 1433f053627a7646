// The simulated stand's behaviour as a driver, through the bt_* table.
#include "daq/Ros.h"
#include "daq/VmeDriver.h"
#include "sim/SimVmeStand.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <thread>

using namespace std::chrono_literals;

namespace {
class SimVmeDriverTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CSimVmeStand::Global().PowerUp();
        ASSERT_NE(bt.bt_gen_name(0, simvme::A24Device, name, sizeof name), nullptr);
        ASSERT_EQ(bt.bt_open(&a24, name, BT_RDWR), 0);
    }
    void TearDown() override
    {
        if (a24)
            bt.bt_close(a24);
        CSimVmeStand::Global().PowerUp();
    }

    int Read(uint32_t address, size_t length, uint32_t& value, bt_desc_t h = nullptr)
    {
        size_t done = 99;
        value = 0;
        const int status = bt.bt_read(h ? h : a24, &value, address, length, &done);
        EXPECT_EQ(done, status == 0 ? length : 0u);
        return status;
    }
    int Write(uint32_t address, size_t length, uint32_t value, bt_desc_t h = nullptr)
    {
        size_t done = 99;
        const uint16_t half = static_cast<uint16_t>(value);
        const int status =
            bt.bt_write(h ? h : a24, length == 2 ? static_cast<const void*>(&half) : &value,
                        address, length, &done);
        EXPECT_EQ(done, status == 0 ? length : 0u);
        return status;
    }
    std::string Text(int status, const char* message = "")
    {
        char buffer[250];
        return bt.bt_strerror(a24, status, message, buffer, sizeof buffer);
    }

    const BtFunctions& bt = SimVmeDriverTable();
    char name[20] = "";
    bt_desc_t a24 = nullptr;
};

TEST_F(SimVmeDriverTest, NamesAndOpening)
{
    EXPECT_STREQ(name, "simvme0.5");
    char tiny[4];
    EXPECT_EQ(bt.bt_gen_name(0, 5, tiny, sizeof tiny), nullptr) << "name does not fit";
    bt_desc_t h = nullptr;
    EXPECT_EQ(bt.bt_open(&h, "simvme0.3", BT_RDWR), simvme::NoDevice);
    EXPECT_EQ(bt.bt_open(&h, "simvme1.5", BT_RDWR), simvme::NoDevice);
    EXPECT_EQ(bt.bt_open(&h, "simvme0.5x", BT_RDWR), simvme::NoDevice);
    EXPECT_EQ(bt.bt_open(&h, "simvme0.5", 0), simvme::BadParam);
    EXPECT_EQ(h, nullptr);
    int dummy = 0;
    EXPECT_EQ(bt.bt_close(&dummy), simvme::BadHandle);
    EXPECT_EQ(Read(simvme::PuBase, 2, *reinterpret_cast<uint32_t*>(&dummy), &dummy),
              simvme::BadHandle);
}

TEST_F(SimVmeDriverTest, Information)
{
    EXPECT_EQ(bt.bt_set_info(a24, BT_INFO_DATAWIDTH, 0), 0);
    EXPECT_EQ(bt.bt_set_info(a24, BT_INFO_SWAP, 4), 0);
    EXPECT_EQ(bt.bt_set_info(a24, 99, 1), simvme::BadParam);
    uint32_t value = 0;
    EXPECT_EQ(bt.bt_get_info(a24, BT_INFO_SWAP, &value), 0);
    EXPECT_EQ(value, 4u);
    EXPECT_EQ(bt.bt_get_info(a24, BT_INFO_RESET_DELAY, &value), 0);
    EXPECT_EQ(value, simvme::ResetDelayMs);
    EXPECT_EQ(bt.bt_get_info(a24, 99, &value), simvme::BadParam);
}

TEST_F(SimVmeDriverTest, AccessWidthsAndAlignment)
{
    const uint32_t pu = simvme::PuBase;
    uint32_t v = 0;
    ASSERT_EQ(Write(pu + 0x38, 4, 0x12345678), 0);
    ASSERT_EQ(Read(pu + 0x38, 2, v), 0);
    EXPECT_EQ(v, 0x1234u) << "a D16 board takes the high half at the lower address";
    ASSERT_EQ(Read(pu + 0x3A, 2, v), 0);
    EXPECT_EQ(v, 0x5678u);
    ASSERT_EQ(Read(pu + 0x38, 4, v), 0);
    EXPECT_EQ(v, 0x12345678u);

    const struct {
        uint32_t address;
        size_t length;
        int status;
    } bad[] = {
        {pu + 0x39, 2, simvme::BusError},              // odd address
        {pu + 0x3E, 4, simvme::BusError},              // runs past the board
        {pu + 0x40, 2, simvme::BusError},              // no board
        {simvme::RosBase + 0x04, 2, simvme::BusError}, // the ROS is D32 only
        {simvme::RosBase + 0x42, 4, simvme::BusError}, // misaligned D32
        {simvme::RosBase + 0x10, 4, simvme::BusError}, // hole in the ROS map
        {pu + 0x38, 1, simvme::BadParam},
        {pu + 0x38, 8, simvme::BadParam},
        {0x1000000 + pu, 2, simvme::BusError},         // beyond 24 bits
    };
    for (const auto& b : bad) {
        SCOPED_TRACE(testing::Message() << std::hex << b.address << " len " << b.length);
        EXPECT_EQ(Read(b.address, b.length, v), b.status);
    }
}

TEST_F(SimVmeDriverTest, BusErrorTextNamesTheAddressUntilCleared)
{
    uint32_t v = 0;
    ASSERT_EQ(Read(0x0ABCDE, 2, v), simvme::BusError);
    EXPECT_EQ(Text(simvme::BusError), "VME bus error: no board answered at address 0xABCDE");
    EXPECT_EQ(Text(simvme::BusError, "read"), "read: VME bus error: no board answered at address 0xABCDE");
    ASSERT_EQ(bt.bt_clrerr(a24), 0);
    EXPECT_EQ(Text(simvme::BusError), "VME bus error: no board answered");
    EXPECT_EQ(Text(simvme::NoDevice), "No such VME adapter device");
    EXPECT_EQ(Text(77), "Unknown VME adapter status 77");
    char small[8];
    EXPECT_STREQ(bt.bt_strerror(a24, simvme::BadParam, "", small, sizeof small), "Invalid");
}

TEST_F(SimVmeDriverTest, InjectedBusErrorsHitOnlyTheirAccess)
{
    auto& stand = CSimVmeStand::Global();
    const uint32_t reg = simvme::PuBase + 0x2C;
    stand.InjectBusError(simvme::A24Device, reg, simvme::Access::Write);
    uint32_t v = 0;
    EXPECT_EQ(Write(reg, 2, 5), simvme::BusError);
    EXPECT_EQ(Read(reg, 2, v), 0);
    stand.InjectBusError(simvme::A24Device, reg, simvme::Access::Read);
    EXPECT_EQ(Read(reg, 2, v), simvme::BusError);
    EXPECT_EQ(Write(reg, 2, 5), 0);
    stand.InjectBusError(simvme::A16Device, reg, simvme::Access::Both);
    EXPECT_EQ(Read(reg + 2, 2, v), 0) << "only the chosen register fails";
    stand.ClearBusErrors();
    EXPECT_EQ(Read(reg, 2, v), 0);
    EXPECT_EQ(v, 5u);
}

TEST_F(SimVmeDriverTest, ReadOnlyHandleCannotWrite)
{
    bt_desc_t ro = nullptr;
    ASSERT_EQ(bt.bt_open(&ro, name, 1), 0);
    uint32_t v = 0;
    EXPECT_EQ(Read(simvme::PuBase, 2, v, ro), 0);
    EXPECT_EQ(Write(simvme::PuBase, 2, 1, ro), simvme::BadParam);
    EXPECT_EQ(bt.bt_close(ro), 0);
}

TEST_F(SimVmeDriverTest, PuFifoPopsAfterTheLastHalf)
{
    auto& stand = CSimVmeStand::Global();
    stand.LoadPuRecord({1, 2, 3, 4, 5, 6, 7, 8});
    stand.LoadPuRecord({11, 12, 13, 14, 15, 16, 17, 18});
    uint32_t v = 0;
    ASSERT_EQ(Read(simvme::PuBase + 0x06, 2, v), 0);
    EXPECT_EQ(v, 3u);
    ASSERT_EQ(Read(simvme::PuBase + 0x06, 2, v), 0);
    EXPECT_EQ(v, 3u) << "only reading 0x10 moves on";
    ASSERT_EQ(Read(simvme::PuBase + 0x10, 2, v), 0);
    EXPECT_EQ(v, 8u);
    ASSERT_EQ(Read(simvme::PuBase + 0x02, 2, v), 0);
    EXPECT_EQ(v, 11u);
    EXPECT_EQ(stand.PuFifoDepth(), 1u);
}

TEST_F(SimVmeDriverTest, BusResetDisarmsAndClearsBoards)
{
    auto& stand = CSimVmeStand::Global();
    stand.LoadPuRecord({});
    ASSERT_EQ(Write(simvme::DelayBase + 0x06, 2, 1), 0);
    ASSERT_EQ(Write(simvme::DelayBase + 0x04, 2, 0x10), 0);
    ASSERT_EQ(bt.bt_reset(a24), 0);
    EXPECT_EQ(stand.PuFifoDepth(), 0u);
    uint32_t v = 1;
    ASSERT_EQ(Read(simvme::DelayBase + 0x06, 2, v), 0);
    EXPECT_EQ(v, 0u);
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(stand.TriggerCount(), 0u) << "a reset board is busy again";
}

TEST_F(SimVmeDriverTest, RosPresenceAndData)
{
    auto& stand = CSimVmeStand::Global();
    stand.SetRosPresent(false);
    uint32_t v = 0;
    EXPECT_EQ(Read(simvme::RosBase + 0x04, 4, v), simvme::BusError);
    stand.SetRosPresent(true);
    EXPECT_EQ(Read(simvme::RosBase + 0x40, 4, v), 0);
    EXPECT_EQ(v, 1u << 19) << "an empty channel reads with bit 19 set";
}

TEST_F(SimVmeDriverTest, InitialisedRosGetsDataWithEachTrigger)
{
    CVme vme;
    ASSERT_TRUE(vme.Init(simvme::A24Device)) << vme.ErrorText();
    CRos ros(vme);
    ASSERT_TRUE(ros.Init()) << ros.ErrorText();
    auto& stand = CSimVmeStand::Global();
    stand.SetRosData(2);
    stand.SetTriggerDelay(0ms);
    ASSERT_EQ(Write(simvme::DelayBase + 0x06, 2, 1), 0);
    ASSERT_EQ(Write(simvme::DelayBase + 0x04, 2, 0x10), 0);
    for (int i = 0; i < 400 && stand.TriggerCount() == 0; ++i)
        std::this_thread::sleep_for(5ms);
    ASSERT_EQ(stand.TriggerCount(), 1u);
    ASSERT_TRUE(ros.ReadFifo()) << ros.ErrorText();
    std::vector<uint32_t> expected{0xE00100FF};
    for (int ch = 0; ch < 8; ++ch) {
        expected.push_back(0xF0000008u + static_cast<uint32_t>(ch));
        for (int i = 0; i < 2; ++i)
            expected.push_back((CSimVmeStand::RosWordA(1, ch, i) & 0xFFFF) << 16 |
                               (CSimVmeStand::RosWordB(1, ch, i) & 0xFFFF));
    }
    EXPECT_EQ(ros.Words(), expected);
}
}  // namespace
