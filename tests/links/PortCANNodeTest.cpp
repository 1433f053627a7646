// The CAN link to a gateway, against the simulated gateway on loopback.

#include "CanTestSupport.h"
#include "base/Error.h"
#include "links/PortCAN_Node.h"
#include "sim/SimCanSystem.h"

#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

struct NodeLink : ::testing::Test {
    void SetUp() override
    {
        SimConfig none;
        none.crateServer = none.secondaryServer = none.primaryBus = none.secondaryBus = false;
        crates = std::make_unique<CSimSystem>(none);
        can = std::make_unique<CSimCanSystem>(*crates, SimCanConfig{});
        ASSERT_TRUE(can->Start());
        link.SetProperty("Host", CVariant::FromString("127.0.0.1"));
        link.SetProperty("Port", CVariant::FromUInt16(can->GatewayPort()));
        link.SetMonitor(&tap, &CWriteTap::Hook);
    }
    void TearDown() override { link.Close(); }
    bool open()
    {
        return link.Open() && link.WaitUntilOpen(5000);
    }
    CSimCanNode& node(int n) { return *can->GatewayNodes().Node(n); }
    CSimCanFaults& faults() { return can->Gateway()->Faults(); }

    std::unique_ptr<CSimSystem> crates;
    std::unique_ptr<CSimCanSystem> can;
    CWriteTap tap;
    CPortCAN_Node link;
};

}  // namespace

TEST_F(NodeLink, SetUpSendsFiveConfigurationRecords)
{
    ASSERT_TRUE(link.Open());
    ASSERT_TRUE(link.WaitUntilOpen(5000)) << GetLastErr();
    ASSERT_FALSE(tap.written.empty());
    Bytes expected{0xAA, 0xAA, 0x55, 0x55, 5, 0, 0, 0, 1, 0, 0, 0};
    for (uint8_t code : {0x00, 0x03, 0x1F, 0x1E, 0x1D}) {
        Bytes r(13, 0);
        r[1] = code;
        r[2] = 1;
        expected.insert(expected.end(), r.begin(), r.end());
    }
    EXPECT_EQ(tap.written.front(), expected);
    EXPECT_EQ(tap.written.front().size(), 77u);
}

TEST_F(NodeLink, RefusedSetUpFailsTheOpenAndCloses)
{
    struct Case {
        SimCanFault fault;
        uint32_t error;
    } cases[] = {{SimCanFault::RefuseConfig, err::GatewayRefused}, {SimCanFault::ConfigKind, err::BadFrame}};
    for (const auto& c : cases) {
        faults().Set(c.fault, 1);
        ASSERT_TRUE(link.Open()) << "the connect runs in the background";
        EXPECT_FALSE(link.WaitUntilOpen(5000));
        EXPECT_EQ(GetLastErr(), c.error);
        EXPECT_FALSE(link.IsOpen());
    }
    // Set up in the foreground too when the background open is turned off.
    ASSERT_TRUE(link.SetProperty("OpenAsync", CVariant::FromBool(false)));
    faults().Set(SimCanFault::RefuseConfig, 1);
    EXPECT_FALSE(link.Open());
    EXPECT_EQ(GetLastErr(), err::GatewayRefused);
    EXPECT_TRUE(link.Open()) << GetLastErr();
    EXPECT_TRUE(link.IsOpen());
}

TEST_F(NodeLink, MessagesBecomeGatewayRecords)
{
    ASSERT_TRUE(open());
    struct Case {
        uint8_t a, b;
        bool reply;
        Bytes data;
        uint8_t typeByte;
    } cases[] = {
        {4, 0x00, true, {0x16}, 0x08},
        {4, 0x03, false, {}, 0x0B},
        {2, 0x1E, false, {0x00, 0x10, 0, 0}, 0xEA},
        {2, 0x1F, false, {1, 2, 3, 4, 5, 6, 7, 8}, 0xEB},
        {2, 0x1D, false, {64}, 0xE9},
        {0x12, 0x34, false, {1, 2}, 0xA8},
    };
    for (const auto& c : cases) {
        CanMessage m = message(c.a, c.b, c.reply, c.data);
        link.SendMessages(&m, 1);
        Bytes expected{0xAA, 0xAA, 0x55, 0x55, 1, 0, 0, 0, 0, 0, 0, 0, 0, c.typeByte, c.a, 0, uint8_t(c.data.size())};
        expected.insert(expected.end(), c.data.begin(), c.data.end());
        expected.resize(25, 0);
        EXPECT_EQ(tap.Last(), expected) << int(c.b);
    }
}

TEST_F(NodeLink, CommandReturnsTheNodesReply)
{
    ASSERT_TRUE(open());
    CanMessage version = message(4, 0, true, {0x16});
    CanRecord reply[2]{};
    for (uint8_t counter = 1; counter <= 3; ++counter) {
        int count = 1;
        ASSERT_TRUE(link.Command(&version, 1, reply, count)) << GetLastErr();
        EXPECT_EQ(count, 1);
        EXPECT_EQ(bytesOf(reply[0]), (Bytes{0, 0x0B, 4, counter, 2, 2, 12, 0, 0, 0, 0, 0, 0}));
        EXPECT_EQ(reply[0].FrameType(), 3);
    }
    CanMessage reset = message(4, 0, false, {0x0A});
    int count = 1;
    EXPECT_TRUE(link.Command(&reset, 1, reply, count));
    EXPECT_EQ(count, 0);
}

TEST_F(NodeLink, BadRequestsAndGatewayAnswersFail)
{
    ASSERT_TRUE(open());
    link.SetHeadTimeout(300);
    CanMessage version = message(4, 0, true, {0x16});
    CanMessage tooLong = version;
    tooLong.control = 0x19;
    CanRecord reply[1];
    struct Case {
        const char* what;
        std::function<void()> arrange;
        const CanMessage* msg;
        int count;
        uint32_t error;
    } cases[] = {
        {"length 9", [] {}, &tooLong, 1, err::BadParam},
        {"no message", [] {}, &version, 0, err::BadParam},
        {"write error", [&] { node(4).Faults().Set(SimCanFault::WriteError, 1); }, &version, 1, err::WriteFault},
        {"bad magic", [&] { faults().Set(SimCanFault::BadMagic, 1); }, &version, 1, err::BadFrame},
        {"lost reply", [&] { node(4).Faults().Set(SimCanFault::LostReply, 1); }, &version, 1, err::Timeout},
    };
    for (const auto& c : cases) {
        c.arrange();
        int count = 1;
        EXPECT_FALSE(link.Command(c.msg, c.count, reply, count)) << c.what;
        EXPECT_EQ(GetLastErr(), c.error) << c.what;
    }
    CanMessage many[65];
    std::fill(std::begin(many), std::end(many), message(4, 0, false, {0x0A}));
    EXPECT_FALSE(link.SendMessages(many, 65));
    EXPECT_EQ(GetLastErr(), err::BadParam);
    EXPECT_TRUE(link.SendMessages(many, 64)) << GetLastErr();
}

TEST_F(NodeLink, HeadsAreCheckedBeforeAnyRecordIsRead)
{
    ASSERT_TRUE(open());
    CanMessage version = message(4, 0, true, {0x16});
    CanRecord reply[1];
    int count = 1;
    faults().Set(SimCanFault::TooManyRecords, 1);
    const auto t0 = Clock::now();
    EXPECT_FALSE(link.Command(&version, 1, reply, count));
    EXPECT_EQ(GetLastErr(), err::BadFrame);
    EXPECT_LT(Clock::now() - t0, 500ms) << "no wait for the 65 records";

    ASSERT_TRUE(open());
    faults().Set(SimCanFault::EmptyMessage, 1);
    count = 1;
    EXPECT_TRUE(link.Command(&version, 1, reply, count)) << "an empty message reads no record";
    EXPECT_EQ(count, 1);
    EXPECT_EQ(reply[0].data[1], 12);
}

TEST_F(NodeLink, GatewayClosingMidMessageResetsTheConnection)
{
    ASSERT_TRUE(open());
    faults().Set(SimCanFault::CloseMidMessage, 1);
    CanMessage version = message(4, 0, true, {0x16});
    CanRecord reply[1];
    int count = 1;
    EXPECT_FALSE(link.Command(&version, 1, reply, count));
    EXPECT_EQ(GetLastErr(), err::ConnReset);
}

TEST_F(NodeLink, FirmwareRoundTripAndTooManyRecords)
{
    ASSERT_TRUE(open());
    CanRecord reply[16];
    int count = 0;
    auto send = [&](const CanMessage& m) {
        count = 16;
        return link.Command(&m, 1, reply, count);
    };
    ASSERT_TRUE(send(message(6, 0, false, {0x04})));
    ASSERT_TRUE(send(message(6, 0x1E, false, {0x00, 0x20, 0x00, 0x00})));
    for (uint8_t m = 0; m < 8; ++m)
        ASSERT_TRUE(send(message(6, 0x1F, false, Bytes(8, static_cast<uint8_t>(0x10 + m)))));
    ASSERT_TRUE(send(message(6, 0x1E, false, {0x00, 0x20, 0x00, 0x00})));

    CanMessage read = message(6, 0x1D, true, {64});
    count = 9;
    ASSERT_TRUE(link.Command(&read, 1, reply, count)) << GetLastErr();
    ASSERT_EQ(count, 9);
    EXPECT_EQ(reply[0].FrameType(), 0x1E);
    EXPECT_EQ(Bytes(reply[0].data, reply[0].data + 4), (Bytes{0x00, 0x20, 0x00, 0x00}));
    for (int i = 1; i < 9; ++i) {
        EXPECT_EQ(reply[i].FrameType(), 0x1F);
        EXPECT_EQ(reply[i].id, 6);
        EXPECT_EQ(Bytes(reply[i].data, reply[i].data + 8), Bytes(8, static_cast<uint8_t>(0x10 + i - 1)));
    }
    EXPECT_EQ(node(6).Flash(0x2038, 8), Bytes(8, 0x17));

    count = 1;
    EXPECT_FALSE(link.Command(&read, 1, reply, count));
    EXPECT_EQ(GetLastErr(), err::MoreData);
    EXPECT_EQ(count, 9) << "the count tells the room needed";
}

TEST_F(NodeLink, UnsolicitedMessagesAreReadOnlyBetweenCommands)
{
    struct Inbox {
        std::mutex lock;
        std::condition_variable arrived;
        std::vector<CanRecord> records;
        static void Read(CPortCAN* link, void* context)
        {
            auto* box = static_cast<Inbox*>(context);
            CanRecord r[4];
            int count = 1;
            if (link->ReceiveMessages(r, count)) {
                std::lock_guard l(box->lock);
                box->records.insert(box->records.end(), r, r + count);
                box->arrived.notify_all();
            }
        }
    } inbox;
    ASSERT_TRUE(open());
    ASSERT_TRUE(link.AsyncRead(&Inbox::Read, &inbox));
    CanMessage version = message(4, 0, true, {0x16});
    for (int i = 0; i < 20; ++i) {
        CanRecord reply[1];
        int count = 1;
        ASSERT_TRUE(link.Command(&version, 1, reply, count)) << i << " " << GetLastErr();
        ASSERT_EQ(reply[0].data[1], 12);
    }
    {
        std::lock_guard l(inbox.lock);
        EXPECT_TRUE(inbox.records.empty()) << "the reader took a command's reply";
    }
    const Bytes data{0x33, 0x44, 0x55};
    EXPECT_EQ(can->EmitUnsolicited(7, data), 1);
    std::unique_lock l(inbox.lock);
    ASSERT_TRUE(inbox.arrived.wait_for(l, 3s, [&] { return !inbox.records.empty(); }));
    EXPECT_EQ(inbox.records[0].id, 7);
    EXPECT_EQ(Bytes(inbox.records[0].data, inbox.records[0].data + inbox.records[0].length), data);
}
