// The node operations against the simulated nodes, through the crate and
// through the gateway: node rules, reply acceptance, decoding.

#include "NodeTestSupport.h"

#include <functional>
#include <set>

namespace {

using NodeChannelTest = NodeSim;

struct Operation {
    const char* name;
    std::function<bool(CNodeChannel&, uint8_t node)> call;
};

// Every node operation on one node.
std::vector<Operation> operations()
{
    return {
        {"ResetNode", [](CNodeChannel& c, uint8_t n) { return c.ResetNode(n); }},
        {"ResetErrorCnt", [](CNodeChannel& c, uint8_t n) { return c.ResetErrorCnt(n); }},
        {"GetError", [](CNodeChannel& c, uint8_t n) { NodeErrorState s; return c.GetError(n, s); }},
        {"GetErrorCnt", [](CNodeChannel& c, uint8_t n) { NodeErrorCounters s; return c.GetErrorCnt(n, s); }},
        {"GetDest", [](CNodeChannel& c, uint8_t n) { NodeDestination s; return c.GetDest(n, s); }},
        {"RdDac", [](CNodeChannel& c, uint8_t n) { NodeDac s; return c.RdDac(n, s); }},
        {"LatchUp", [](CNodeChannel& c, uint8_t n) { NodeLatchUp s; return c.LatchUp(n, 0, s); }},
        {"RdVersion", [](CNodeChannel& c, uint8_t n) { NodeVersion s; return c.RdVersion(n, s); }},
        {"ReadAdc", [](CNodeChannel& c, uint8_t n) { uint16_t v; return c.ReadAdc(n, 0, v); }},
        {"RdAdcIntAll", [](CNodeChannel& c, uint8_t n) { NodeAnalog s; return c.RdAdcIntAll(n, s); }},
        {"SetAddress", [](CNodeChannel& c, uint8_t n) { return c.SetAddress(n, 0x1000); }},
        {"WriteData", [](CNodeChannel& c, uint8_t n) { const uint8_t b[2] = {1, 2}; return c.WriteData(n, b); }},
        {"ReadFlash", [](CNodeChannel& c, uint8_t n) { uint32_t a; Bytes d; return c.ReadFlash(n, 8, a, d); }},
    };
}

}  // namespace

TEST_P(NodeChannelTest, EveryOperationWaitsForTheConnectionNode)
{
    OpenMonitor();
    CNodeChannel& channel = monitor->Channel();
    ASSERT_EQ(channel.ConnectionNode(), kNodeUnknown);
    for (const Operation& op : operations()) {
        SetLastErr(0);
        EXPECT_FALSE(op.call(channel, 5)) << op.name;
        EXPECT_EQ(GetLastErr(), err::BadParam) << op.name;
    }
    std::vector<uint8_t> bins;
    EXPECT_FALSE(channel.ReadHistog(8, false, bins));
    EXPECT_EQ(GetLastErr(), err::BadParam);
    std::vector<float> temperatures;
    EXPECT_FALSE(channel.ReadTemperature(temperatures));
    EXPECT_EQ(GetLastErr(), err::BadParam);
    EXPECT_EQ(node(5).MessageCount(), 0) << "refused requests send nothing";

    ASSERT_TRUE(channel.GetNode()) << GetLastErr();
    EXPECT_EQ(channel.ConnectionNode(), ExpectedConnection());
    NodeVersion version;
    EXPECT_TRUE(channel.RdVersion(5, version)) << GetLastErr();
}

TEST_P(NodeChannelTest, NodesOutsideTheCrateAndHistogramsOfOtherNodesAreRefused)
{
    OpenMonitor();
    CNodeChannel& channel = monitor->Channel();
    ASSERT_TRUE(channel.GetNode());
    for (const Operation& op : operations()) {
        EXPECT_FALSE(op.call(channel, 10)) << op.name;
        EXPECT_EQ(GetLastErr(), err::BadParam) << op.name;
    }
    std::vector<uint8_t> bins;
    for (uint8_t n : {0, 5, 7, 10}) {
        EXPECT_FALSE(channel.ReadHistog(n, false, bins)) << int(n);
        EXPECT_EQ(GetLastErr(), err::BadParam) << int(n);
    }
    EXPECT_TRUE(channel.ReadHistog(9, false, bins)) << GetLastErr();
    EXPECT_EQ(bins, node(9).Readings().histogram);
}

TEST_F(NodeSim, ConnectionNodeIsReadThroughTheCrateOrRefused)
{
    Configure(monitor->Link(), CanPath::Crate);
    ASSERT_TRUE(monitor->Open(5000));
    CNodeChannel& channel = monitor->Channel();
    ASSERT_TRUE(channel.GetNode());
    ASSERT_EQ(channel.ConnectionNode(), 3);

    SimCanReadings r = node(3).Readings();
    r.major = 4;
    r.minor = 5;
    r.destination = 0x1234;
    r.adc = {100, 200, 300, 400, 500, 600, 700, 800};
    node(3).SetReadings(r);

    NodeVersion version;
    ASSERT_TRUE(channel.RdVersion(3, version));
    EXPECT_EQ(version.major, 4);
    EXPECT_EQ(version.minor, 5);
    NodeDestination destination;
    ASSERT_TRUE(channel.GetDest(3, destination));
    EXPECT_EQ(destination.value, 0x1234);
    NodeAnalog analog;
    ASSERT_TRUE(channel.RdAdcIntAll(3, analog));
    EXPECT_EQ(analog.mask, 0x0F);
    EXPECT_EQ(analog.value, (std::array<uint16_t, 4>{100, 200, 300, 500})) << "the controller's fourth value is channel 4";

    const std::set<std::string> throughCrate = {"GetDest", "RdVersion", "RdAdcIntAll"};
    for (const Operation& op : operations()) {
        const bool ok = op.call(channel, 3);
        if (throughCrate.count(op.name)) {
            EXPECT_TRUE(ok) << op.name << " " << GetLastErr();
        } else {
            EXPECT_FALSE(ok) << op.name;
            EXPECT_EQ(GetLastErr(), err::BadParam) << op.name;
        }
    }
    EXPECT_EQ(node(3).MessageCount(), 0) << "nothing reached node 3 over the bus";

    // Nodes 0 and 9 are read over the bus even as the connection node.
    can->Controller(kController)->SetConnectionNode(0);
    ASSERT_TRUE(channel.GetNode());
    NodeErrorState error;
    EXPECT_TRUE(channel.GetError(0, error)) << GetLastErr();
    EXPECT_GT(node(0).MessageCount(), 0);
}

TEST_F(NodeSim, ConnectionNode8HandsItsHistogramThroughTheCrate)
{
    Configure(monitor->Link(), CanPath::Crate);
    ASSERT_TRUE(monitor->Open(5000));
    can->Controller(kController)->SetConnectionNode(8);
    CNodeChannel& channel = monitor->Channel();
    ASSERT_TRUE(channel.GetNode());
    ASSERT_EQ(channel.ConnectionNode(), 8);

    SimCanReadings r = node(8).Readings();
    r.adc = {11, 22, 33, 44, 55, 66, 77, 88};
    node(8).SetReadings(r);
    NodeAnalog analog;
    ASSERT_TRUE(channel.RdAdcIntAll(8, analog));
    EXPECT_EQ(analog.mask, 0b1011) << "node 8 has values 0, 1 and 3";
    EXPECT_EQ(analog.value[0], 11);
    EXPECT_EQ(analog.value[1], 22);
    EXPECT_EQ(analog.value[3], 55);

    const Bytes expected = r.histogram;
    ASSERT_EQ(expected.size(), 256u);
    std::vector<uint8_t> bins;
    ASSERT_TRUE(channel.ReadHistog(8, true, bins)) << GetLastErr();
    EXPECT_EQ(bins, expected);
    EXPECT_EQ(node(8).Readings().histogram, Bytes(256, 0)) << "cleared as read";
    EXPECT_EQ(node(8).MessageCount(), 0) << "crate command C8, not the bus";
}

TEST_P(NodeChannelTest, GetErrorDecodesBothNodeKinds)
{
    OpenMonitor();
    CNodeChannel& channel = monitor->Channel();
    ASSERT_TRUE(channel.GetNode());
    SimCanErrorState state;
    state.txCount = 11;
    state.rxCount = 22;
    state.canCode = 33;
    state.rsCode = 44;
    state.ackTime = 1250;
    state.ackTime1 = 600;
    state.flags = 0x5A;
    struct Case {
        uint8_t node;
        uint16_t timeA, timeB;
        uint8_t flags;
    } cases[] = {{0, 0, 0, 0x5A}, {5, 1250, 600, 0}, {8, 1250, 600, 0}, {9, 0, 0, 0x5A}};
    for (const Case& c : cases) {
        node(c.node).SetErrorState(state);
        NodeErrorState e;
        ASSERT_TRUE(channel.GetError(c.node, e)) << int(c.node) << " " << GetLastErr();
        EXPECT_TRUE(e.valid);
        EXPECT_EQ(e.code, (std::array<uint8_t, 4>{11, 22, 33, 44})) << int(c.node);
        EXPECT_EQ(e.timeA, c.timeA) << int(c.node);
        EXPECT_EQ(e.timeB, c.timeB) << int(c.node);
        EXPECT_EQ(e.flags, c.flags) << int(c.node);
    }
}

TEST_P(NodeChannelTest, CounterFormFollowsTheVersionOfNodes0And9)
{
    OpenMonitor();
    CNodeChannel& channel = monitor->Channel();
    ASSERT_TRUE(channel.GetNode());
    const Bytes can6 = {1, 2, 3, 4, 5, 6};
    const Bytes rs8 = {11, 12, 13, 14, 15, 16, 17, 18};
    struct Case {
        uint8_t node, major, minor;
        bool oldForm;
    } cases[] = {{0, 2, 7, true}, {0, 2, 8, false}, {9, 2, 4, true}, {9, 2, 5, false}, {9, 1, 0, true}};
    for (const Case& c : cases) {
        CSimCanNode& n = node(c.node);
        n.SetVersion(c.major, c.minor);
        n.SetCounters(can6, rs8);
        ASSERT_EQ(n.OldCounterForm(), c.oldForm) << "the simulated node answers in the form of its version";
        NodeErrorCounters counters;
        ASSERT_TRUE(channel.GetErrorCnt(c.node, counters)) << int(c.node) << " " << GetLastErr();
        EXPECT_EQ(counters.can, can6) << int(c.node) << " " << int(c.minor);
        EXPECT_EQ(counters.rs485, rs8) << int(c.node) << " " << int(c.minor);
    }
    // Blocks are asked for while 8 bytes come back: 16 counters take three requests.
    Bytes can16(16);
    for (size_t i = 0; i < can16.size(); ++i)
        can16[i] = static_cast<uint8_t>(100 + i);
    node(4).SetCounters(can16, {7, 7, 7});
    NodeErrorCounters counters;
    ASSERT_TRUE(channel.GetErrorCnt(4, counters)) << GetLastErr();
    EXPECT_EQ(counters.can, can16);
    EXPECT_EQ(counters.rs485, (Bytes{7, 7, 7}));
}

TEST_P(NodeChannelTest, ForeignReplyOfTheWrongLengthFailsWith13)
{
    OpenMonitor();
    CNodeChannel& channel = monitor->Channel();
    ASSERT_TRUE(channel.GetNode());
    for (uint8_t n : {0, 4}) {
        node(n).Faults().Set(SimCanFault::ForeignReply, 1);
        NodeVersion version;
        EXPECT_FALSE(channel.RdVersion(n, version)) << int(n);
        EXPECT_EQ(GetLastErr(), err::BadFrame) << int(n);
        EXPECT_FALSE(version.valid);
        ASSERT_TRUE(channel.RdVersion(n, version)) << "the next request is in step again";
        EXPECT_EQ(version.Number(), node(n).Readings().major * 256u + node(n).Readings().minor);
    }
}

TEST(NodeReplyRule, FrameType3OrTheNodeWithTheExpectedLength)
{
    auto record = [](uint8_t status, uint8_t type, uint8_t length) {
        CanRecord r{};
        r.status = status;
        r.type = type;
        r.length = length;
        return r;
    };
    struct Case {
        CanRecord reply;
        bool accepted;
    } cases[] = {
        {record(0, 0x0B, 2), true},   // frame type 3 through the crate
        {record(0, 0x0B, 5), true},   // frame type 3 whatever its length
        {record(4, 0x08, 2), true},   // not type 3, from node 4, length 2
        {record(4, 0x08, 1), false},  // from node 4, wrong length
        {record(5, 0x08, 2), false},  // another node
        {record(0, 0xEA, 2), false},  // frame type 0x1E
    };
    for (const Case& c : cases)
        EXPECT_EQ(AcceptNodeReply(c.reply, 4, 2), c.accepted)
            << std::hex << int(c.reply.status) << " " << int(c.reply.type) << " " << int(c.reply.length);
}

TEST_P(NodeChannelTest, TemperaturesOfNode7)
{
    OpenMonitor();
    CNodeChannel& channel = monitor->Channel();
    ASSERT_TRUE(channel.GetNode());
    SimCanReadings r = node(7).Readings();
    r.temperatures = {24.5f, -3.25f, 100.0f, 0.0f};
    node(7).SetReadings(r);
    std::vector<float> celsius;
    ASSERT_TRUE(channel.ReadTemperature(celsius)) << GetLastErr();
    EXPECT_EQ(celsius, r.temperatures);

    r.temperatures.clear();
    node(7).SetReadings(r);
    ASSERT_TRUE(channel.ReadTemperature(celsius));
    EXPECT_TRUE(celsius.empty());
}

TEST_P(NodeChannelTest, FlashWrittenAndReadBack)
{
    OpenMonitor();
    CNodeChannel& channel = monitor->Channel();
    ASSERT_TRUE(channel.GetNode());
    const Bytes page = Pattern(64, 0x21);
    ASSERT_TRUE(channel.ResetNode(6));
    ASSERT_TRUE(channel.SetAddress(6, 0x1000)) << GetLastErr();
    for (size_t i = 0; i < page.size(); i += 8)
        ASSERT_TRUE(channel.WriteData(6, {page.data() + i, 8})) << GetLastErr();
    ASSERT_TRUE(channel.SetAddress(6, 0x1000));
    uint32_t address = 0;
    Bytes data;
    ASSERT_TRUE(channel.ReadFlash(6, 64, address, data)) << GetLastErr();
    EXPECT_EQ(address, 0x1000u);
    EXPECT_EQ(data, page);
    ASSERT_TRUE(channel.ReadFlash(6, 3, address, data)) << GetLastErr();
    EXPECT_EQ(address, 0x1040u) << "the read address moves on";
    EXPECT_EQ(data, (Bytes{0xFF, 0xFF, 0xFF}));

    if (GetParam() == CanPath::Gateway) {
        ASSERT_TRUE(channel.ReadFlash(6, 80, address, data)) << "ten messages of 8 bytes";
        EXPECT_FALSE(channel.ReadFlash(6, 81, address, data));
        EXPECT_EQ(GetLastErr(), err::BadArguments);
    } else {
        EXPECT_FALSE(channel.ReadFlash(6, 121, address, data)) << "more than the controller reads at once";
        EXPECT_EQ(GetLastErr(), err::BadFrame);
        EXPECT_FALSE(channel.ReadFlash(6, 256, address, data));
        EXPECT_EQ(GetLastErr(), err::BadParam);
    }
    node(6).Faults().Set(SimCanFault::ForeignReply, 1);
    EXPECT_FALSE(channel.ReadFlash(6, 8, address, data));
    EXPECT_EQ(GetLastErr(), err::BadFrame) << "a foreign address record";

    ASSERT_TRUE(channel.SetAddress(6, CNodeChannel::kUnlockAddress));
    EXPECT_FALSE(node(6).InLoader());
    EXPECT_EQ(node(6).Flash(0x1000, 64), page);
}

INSTANTIATE_TEST_SUITE_P(BothPaths, NodeChannelTest, ::testing::Values(CanPath::Crate, CanPath::Gateway), PathName);
