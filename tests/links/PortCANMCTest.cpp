// The CAN link through a crate link and the CAN link that holds both
// kinds, against the simulated node controller and gateway.

#include "CanTestSupport.h"
#include "base/Error.h"
#include "links/PortCAN_All.h"
#include "sim/SimCanSystem.h"

#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>

using namespace std::chrono_literals;

namespace {

constexpr uint16_t kController = 102;

struct CanSim : ::testing::Test {
    void SetUp() override
    {
        SimConfig config;
        // The node controller first: the primary bus reaches the first crate.
        config.crates = {{0, 1, 2, kController, 0, 0x00010019}, {0, 1, 1, 101, 0, 0x00010019}};
        config.timing = {50, 100};
        crates = std::make_unique<CSimSystem>(config);
        ASSERT_TRUE(crates->Start());
        can = std::make_unique<CSimCanSystem>(*crates, SimCanConfig{{{kController, 3}}});
        ASSERT_TRUE(can->Start());
    }
    // Points a link at the node controller over the crate path `ioType`.
    void useCratePath(CPortCAN& link, int ioType)
    {
        ASSERT_TRUE(link.SetProperty("IOType", CVariant::FromInt(ioType)));
        if (ioType == 3) {
            ASSERT_TRUE(link.SetProperty("Host", CVariant::FromString("127.0.0.1")));
            ASSERT_TRUE(link.SetProperty("Port", CVariant::FromUInt16(crates->CrateServerPort())));
            ASSERT_TRUE(link.SetProperty("CCB ID", CVariant::FromInt(kController)));
        } else {
            const std::string path = ioType == 1 ? crates->PrimaryBusPath() : crates->SecondaryBusPath();
            ASSERT_TRUE(link.SetProperty("ComName", CVariant::FromString(path)));
            if (ioType == 2) {
                ASSERT_TRUE(link.SetProperty("CCB ID", CVariant::FromInt(CSimSystem::SecondaryAddress(1, kController))));
            }
        }
        ASSERT_TRUE(link.Open()) << GetLastErr();
        ASSERT_TRUE(link.WaitUntilOpen(5000)) << GetLastErr();
    }
    CSimCanNode& node(int n) { return *can->Nodes(kController)->Node(n); }

    std::unique_ptr<CSimSystem> crates;
    std::unique_ptr<CSimCanSystem> can;
};

}  // namespace

TEST_F(CanSim, TunnelledCommandsOnEveryCratePath)
{
    for (int ioType : {1, 2, 3}) {
        CPortCAN_MC link;
        useCratePath(link, ioType);
        CanMessage version = message(4, 0, true, {0x16});
        CanRecord reply{};
        for (uint8_t counter = 1; counter <= 2; ++counter) {
            int count = 1;
            ASSERT_TRUE(link.Command(&version, 1, &reply, count)) << ioType << " " << GetLastErr();
            EXPECT_EQ(bytesOf(reply), (Bytes{4, 0x0B, 0xFF, counter, 2, 2, 12, 0, 0, 0, 0, 0, 0})) << ioType;
        }
        uint8_t status[32];
        int size = sizeof status;
        const uint8_t ea = 0xEA;
        ASSERT_TRUE(link.CrateLink().Command(&ea, 1, status, size, 3000)) << ioType;
        EXPECT_EQ(status[0], 0xC4);
        EXPECT_EQ(status[3], 3) << "connection node";
        link.Close();
    }
}

TEST_F(CanSim, MessageBytesAndReplyRecords)
{
    CPortCAN_MC link;
    CWriteTap payloads;
    useCratePath(link, 3);
    link.SetMonitor(&payloads, &CWriteTap::Hook);

    CanMessage m = message(0x12, 0x34, true, {0x01, 0x02});
    ASSERT_TRUE(link.SendMessages(&m, 1));
    Bytes sent = payloads.Last();
    ASSERT_EQ(sent.size(), 8u);
    EXPECT_EQ(sent[0], 0xEC);
    EXPECT_EQ(Bytes(sent.begin() + 2, sent.end()), (Bytes{0xC5, 0x01, 0x34, 0x12, 0x01, 0x02}));
    CanRecord r{};
    int count = 1;
    ASSERT_TRUE(link.ReceiveMessages(&r, count));
    EXPECT_EQ(bytesOf(r), (Bytes{0x12, 0x08, 0xFF, 1, 1, 0x02, 0, 0, 0, 0, 0, 0, 0})) << "error record: no node 0x12";

    // The next command carries the next sequence number of this link.
    CanMessage reset = message(5, 0, false, {0x0A});
    count = 1;
    ASSERT_TRUE(link.Command(&reset, 1, &r, count));
    EXPECT_EQ(payloads.Last()[1], static_cast<uint8_t>(sent[1] + 1));
    EXPECT_EQ(payloads.Last()[3], 0x00) << "no reply expected";
    EXPECT_EQ(r.type, 0x08);
    EXPECT_EQ(r.status, 0x12) << "the template keeps the last node that owed a reply";
}

TEST_F(CanSim, RefusedRequestsAndBoardErrors)
{
    CPortCAN_MC link;
    useCratePath(link, 3);
    CanMessage tooLong = message(4, 0, true, {0x16});
    tooLong.control = 0x19;
    CanMessage two[2] = {message(4, 0, true, {0x16}), message(4, 0, true, {0x16})};
    CanRecord r{};
    int count = 1;
    EXPECT_FALSE(link.Command(&tooLong, 1, &r, count));
    EXPECT_EQ(GetLastErr(), err::BadParam);
    EXPECT_FALSE(link.SendMessages(two, 2));
    EXPECT_EQ(GetLastErr(), err::BadParam);
    count = 2;
    EXPECT_FALSE(link.ReceiveMessages(&r, count));
    EXPECT_EQ(GetLastErr(), err::BadParam);

    node(4).Faults().Set(SimCanFault::WriteError, 1);
    count = 1;
    EXPECT_FALSE(link.Command(&two[0], 1, &r, count));
    EXPECT_EQ(GetLastErr(), err::WriteFault);
    EXPECT_EQ(bytesOf(r), (Bytes{4, 0x08, 0xFF, 1, 1, 0x07, 0, 0, 0, 0, 0, 0, 0}));

    node(4).Faults().Set(SimCanFault::ForeignReply, 1);
    count = 1;
    EXPECT_TRUE(link.Command(&two[0], 1, &r, count)) << "a status of 0 passes";
    EXPECT_EQ(r.FrameType(), 0);
    EXPECT_EQ(r.length, 1);
}

TEST_F(CanSim, ALateReplyIsNotTakenForTheNextOne)
{
    CPortCAN_MC link;
    useCratePath(link, 3);
    ASSERT_TRUE(link.SetProperty("Timeout", CVariant::FromInt(0))) << "the crate link adds nothing to the wait";
    link.SetMessageTimeout(300);
    node(4).Faults().Set(SimCanFault::LateReply, 1);
    node(4).Faults().SetLateMs(500);
    CanMessage version = message(4, 0, true, {0x16});
    CanRecord r{};
    int count = 1;
    EXPECT_FALSE(link.Command(&version, 1, &r, count));
    EXPECT_EQ(GetLastErr(), err::Timeout);
    std::this_thread::sleep_for(300ms);
    CanMessage dest = message(4, 0, true, {0x06});
    count = 1;
    ASSERT_TRUE(link.Command(&dest, 1, &r, count)) << GetLastErr();
    EXPECT_EQ(Bytes(r.data, r.data + r.length), (Bytes{0x04, 0x01})) << "the destination, not the late version";
}

TEST_F(CanSim, UnsolicitedMessagesBetweenCommands)
{
    struct Inbox {
        std::mutex lock;
        std::condition_variable arrived;
        std::vector<CanRecord> records;
        static void Read(CPortCAN* link, void* context)
        {
            auto* box = static_cast<Inbox*>(context);
            CanRecord r{};
            int count = 1;
            if (link->ReceiveMessages(&r, count)) {
                std::lock_guard l(box->lock);
                box->records.push_back(r);
                box->arrived.notify_all();
            }
        }
    } inbox;
    CPortCAN_MC link;
    useCratePath(link, 3);
    ASSERT_TRUE(link.AsyncRead(&Inbox::Read, &inbox));
    CanMessage version = message(4, 0, true, {0x16});
    for (int i = 0; i < 20; ++i) {
        CanRecord r{};
        int count = 1;
        ASSERT_TRUE(link.Command(&version, 1, &r, count)) << i << " " << GetLastErr();
        ASSERT_EQ(r.data[1], 12);
    }
    {
        std::lock_guard l(inbox.lock);
        EXPECT_TRUE(inbox.records.empty());
    }
    EXPECT_GE(can->EmitUnsolicited(7, Bytes{0x61, 0x62}), 1);
    std::unique_lock l(inbox.lock);
    ASSERT_TRUE(inbox.arrived.wait_for(l, 3s, [&] { return !inbox.records.empty(); }));
    EXPECT_EQ(Bytes(inbox.records[0].data, inbox.records[0].data + inbox.records[0].length), (Bytes{0x61, 0x62}));
}

TEST_F(CanSim, CanAllChoosesThePathAndChainsTheSettings)
{
    CPortCAN_All link;
    CanRecord r{};
    int count = 1;
    CanMessage version = message(4, 0, true, {0x16});
    EXPECT_FALSE(link.Open());
    EXPECT_EQ(GetLastErr(), err::NotOpen);
    EXPECT_FALSE(link.SetProperty("CANIOType", CVariant::FromInt(3)));
    EXPECT_EQ(GetLastErr(), err::BadParam);

    auto names = [&link] {
        std::vector<std::string> out;
        _PROPDEF e;
        for (bool ok = link.GetNextProperty(e, true); ok; ok = link.GetNextProperty(e, false))
            out.push_back(e.name);
        return out;
    };
    EXPECT_EQ(names(), std::vector<std::string>{"CANIOType"});
    EXPECT_FALSE(link.SetProperty("CANIOType", CVariant::FromString("CAN Port Node"))) << "by name the type must match";
    ASSERT_TRUE(link.SetPropertyById(CPortCAN_All::kCANIOType, CVariant::FromString("CAN Port Node")));
    auto node = names();
    ASSERT_GE(node.size(), 3u);
    EXPECT_EQ(node[0], "CANIOType");
    EXPECT_EQ(node[1], "SocketType");
    CVariant type = CVariant::FromString("");
    ASSERT_TRUE(link.GetProperty(CPortCAN_All::kCANIOType, type));
    EXPECT_EQ(type.text(), "CAN Port Node");

    ASSERT_TRUE(link.SetProperty("Host", CVariant::FromString("127.0.0.1")));
    ASSERT_TRUE(link.SetProperty("Port", CVariant::FromUInt16(can->GatewayPort())));
    ASSERT_TRUE(link.Open());
    ASSERT_TRUE(link.WaitUntilOpen(5000)) << GetLastErr();
    ASSERT_TRUE(link.Command(&version, 1, &r, count)) << GetLastErr();
    EXPECT_EQ(r.id, 4);

    CPortCAN* gateway = link.Active();
    ASSERT_TRUE(link.SetPropertyById(CPortCAN_All::kCANIOType, CVariant::FromInt(1)));
    EXPECT_FALSE(gateway->IsOpen()) << "the gateway link was closed";
    auto compatible = names();
    ASSERT_GE(compatible.size(), 2u);
    EXPECT_EQ(compatible[1], "IOType");
    useCratePath(link, 3);
    count = 1;
    ASSERT_TRUE(link.Command(&version, 1, &r, count)) << GetLastErr();
    EXPECT_EQ(r.id, 0xFF);
}
