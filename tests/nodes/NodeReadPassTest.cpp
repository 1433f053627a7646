// Read passes over the simulated nodes on both paths: what is read and
// printed, the one-shot flags, the grid built from a pass, unsolicited
// messages.

#include "NodeTestSupport.h"
#include "nodes/NodeGrid.h"

namespace {

using ReadPassTest = NodeSim;

// Position of a piece of text, npos when it is missing.
size_t at(const std::string& text, const std::string& piece) { return text.find(piece); }

}  // namespace

TEST_P(ReadPassTest, FullPassReadsEveryNodeAndSkipsTheConnectionNodesErrors)
{
    OpenMonitor();
    const NodePassResult result = monitor->ReadPass();
    const std::string text = out->Text();
    ASSERT_TRUE(result.ran) << text;
    const NodeMonitorData data = monitor->Data();
    EXPECT_EQ(data.connectionNode, ExpectedConnection());

    // The lines in order.
    size_t last = 0;
    for (int n = 0; n < kNodeCount; ++n) {
        const size_t p = at(text, "Reading node " + std::to_string(n) + "\r\n");
        ASSERT_NE(p, std::string::npos) << n;
        EXPECT_GE(p, last) << n;
        last = p;
    }
    EXPECT_GT(at(text, "Reading Histograms\r\n"), last);
    EXPECT_GT(at(text, "Reading Temperatures\r\n"), at(text, "Reading Histograms\r\n"));

    for (int n = 0; n < kNodeCount; ++n) {
        const NodeData& d = data.nodes[static_cast<size_t>(n)];
        const SimCanReadings r = node(n).Readings();
        EXPECT_TRUE(d.version.valid) << n;
        EXPECT_EQ(d.version.major, r.major) << n;
        EXPECT_EQ(d.version.minor, r.minor) << n;
        EXPECT_TRUE(d.destination.valid) << n;
        EXPECT_EQ(d.destination.value, r.destination) << n;
        if (n == 3 && GetParam() == CanPath::Crate)
            continue;
        EXPECT_TRUE(d.error.valid) << n;
        EXPECT_TRUE(d.counters.valid) << n;
        EXPECT_EQ(d.counters.can, r.canCounters) << n;
        EXPECT_EQ(d.counters.rs485, r.rsCounters) << n;
        EXPECT_TRUE(d.dac.valid) << n;
        EXPECT_EQ(d.dac.threshold, r.threshold) << n;
        EXPECT_EQ(d.dac.laser, r.laser) << n;
        EXPECT_TRUE(d.latchUp.valid) << n;
        EXPECT_TRUE(d.analog.valid) << n;
    }
    EXPECT_EQ(data.histograms[0].node, 8);
    EXPECT_EQ(data.histograms[0].bins, node(8).Readings().histogram);
    EXPECT_EQ(data.histograms[1].node, 9);
    EXPECT_EQ(data.histograms[1].bins, node(9).Readings().histogram);
    EXPECT_TRUE(data.temperaturesValid);
    EXPECT_EQ(data.temperatures, (std::vector<float>{24.5f, 31.0f, 28.5f}));

    EXPECT_EQ(out->Count("Error GetError()"), 0u) << text;
    EXPECT_EQ(out->Count("Error GetErrorCnt()"), 0u) << text;
    if (GetParam() == CanPath::Crate) {
        // Node 3: no error requests; version, destination and analog values
        // through EA; the requests without a crate form refused.
        const NodeData& d = data.nodes[3];
        EXPECT_FALSE(d.error.valid);
        EXPECT_FALSE(d.counters.valid);
        EXPECT_EQ(d.analog.mask, 0x0F);
        EXPECT_EQ(node(3).MessageCount(), 0);
        EXPECT_EQ(result.failures, 2);
        EXPECT_EQ(result.refused, 2);
        EXPECT_TRUE(out->Has("node=3: Error RdDac() ->87\nInvalid argument\n")) << text;
        EXPECT_TRUE(out->Has("node=3: Error LatchUp() ->87\nInvalid argument\n")) << text;
    } else {
        EXPECT_EQ(result.failures, 0) << text;
        EXPECT_EQ(data.nodes[9].analog.mask, 0b1011) << "node 9 is read over the bus";
    }
}

TEST_P(ReadPassTest, CounterCellsAreWhiteYellowAndRed)
{
    OpenMonitor();
    Bytes can(13, 0);
    can[1] = 5;    // "CAN_ERR_CMDOVFL"
    can[2] = 200;  // "CAN_ERR_ACKOVFL"
    can[4] = 127;  // "CAN_ERR_SW"
    can[5] = 128;  // "CAN_ERR_TX"
    node(2).SetCounters(can, {0, 0, 0, 9, 0, 0, 0});  // counter 3: "RS_CRCERR"
    ASSERT_TRUE(monitor->ReadPass().ran) << out->Text();
    const NodeGrid grid = BuildNodeGrid(monitor->Data());
    auto cell = [&grid](const char* label, int n) {
        for (size_t r = 0; r < kNodeGridLabels.size(); ++r)
            if (std::string(kNodeGridLabels[r]) == label)
                return grid[r][static_cast<size_t>(n)];
        ADD_FAILURE() << label;
        return NodeGridCell{};
    };
    struct Case {
        const char* label;
        const char* text;
        NodeCellColour colour;
    } cases[] = {
        {"CAN_ERR_HDOVFL", "0", NodeCellColour::White},   {"CAN_ERR_CMDOVFL", "5", NodeCellColour::Yellow},
        {"CAN_ERR_ACKOVFL", "200", NodeCellColour::Red},  {"CAN_ERR_SW", "127", NodeCellColour::Yellow},
        {"CAN_ERR_TX", "128", NodeCellColour::Red},       {"RS_CRCERR", "9", NodeCellColour::Yellow},
        {"RS_OERR", "0", NodeCellColour::White},
    };
    for (const Case& c : cases) {
        const NodeGridCell got = cell(c.label, 2);
        EXPECT_EQ(got.text, c.text) << c.label;
        EXPECT_EQ(got.colour, c.colour) << c.label;
    }
    EXPECT_EQ(NodeCellBgr(cell("CAN_ERR_CMDOVFL", 2).colour), 0x00FFFFu);
    EXPECT_EQ(NodeCellBgr(cell("CAN_ERR_ACKOVFL", 2).colour), 0x0000FFu);
    EXPECT_EQ(cell("Firmware Version", 2).text, "2.12");
    EXPECT_EQ(cell("Firmware Version", 0).text, "2.7");
    EXPECT_EQ(cell("Dest", 5).text, "0x0105");
    EXPECT_EQ(cell("Temperature", 7).text, "24.5 31.0 28.5");
    EXPECT_EQ(cell("Ack Time", 4).text, "125");
    EXPECT_EQ(cell("Ack Time1", 4).text, "60");
}

TEST_P(ReadPassTest, FlagsApplyToOnePassOnly)
{
    OpenMonitor();
    SimCanReadings r5 = node(5).Readings();
    r5.latchUp = {1, 2, 3};
    r5.canCounters[0] = 40;
    node(5).SetReadings(r5);
    const Bytes histogram8 = node(8).Readings().histogram;

    monitor->Flags().Set(CNodePassFlags::ResetCounters);
    monitor->Flags().Set(CNodePassFlags::ClearHistograms);
    monitor->Flags().Set(CNodePassFlags::ResetLatchUp);
    ASSERT_TRUE(monitor->ReadPass().ran) << out->Text();
    EXPECT_EQ(monitor->Flags().Pending(), 0u);
    NodeMonitorData data = monitor->Data();
    EXPECT_EQ(data.nodes[5].latchUp.state, (std::array<uint8_t, 3>{1, 2, 3})) << "read, then reset";
    EXPECT_EQ(data.nodes[5].counters.can[0], 40) << "read, then reset";
    EXPECT_EQ(node(5).Readings().latchUp, (std::array<uint8_t, 3>{0, 0, 0}));
    EXPECT_EQ(node(5).Readings().canCounters[0], 0);
    EXPECT_TRUE(data.histograms[0].bins.empty()) << "cleared histograms show empty";
    EXPECT_TRUE(data.histograms[1].bins.empty());
    EXPECT_EQ(node(8).Readings().histogram, Bytes(256, 0));
    EXPECT_EQ(node(9).Readings().histogram, Bytes(256, 0));

    // The next pass reads and resets nothing.
    r5 = node(5).Readings();
    r5.latchUp = {4, 5, 6};
    r5.canCounters[0] = 41;
    node(5).SetReadings(r5);
    SimCanReadings r8 = node(8).Readings();
    r8.histogram = histogram8;
    node(8).SetReadings(r8);
    ASSERT_TRUE(monitor->ReadPass().ran);
    data = monitor->Data();
    EXPECT_EQ(data.nodes[5].latchUp.state, (std::array<uint8_t, 3>{4, 5, 6}));
    EXPECT_EQ(node(5).Readings().latchUp, (std::array<uint8_t, 3>{4, 5, 6}));
    EXPECT_EQ(node(5).Readings().canCounters[0], 41);
    EXPECT_EQ(data.histograms[0].bins, histogram8);
    EXPECT_EQ(node(8).Readings().histogram, histogram8) << "kept on the node";
}

TEST_P(ReadPassTest, FailedHistogramReadKeepsThePreviousBins)
{
    OpenMonitor();
    ASSERT_TRUE(monitor->ReadPass().ran);
    const Bytes before = monitor->Data().histograms[0].bins;
    ASSERT_EQ(before.size(), 256u);
    node(8).Faults().Set(SimCanFault::WriteError, -1);
    const NodePassResult result = monitor->ReadPass();
    node(8).Faults().ClearAll();
    EXPECT_TRUE(out->Has("Error ReadHistog(8) ->29\n")) << out->Text();
    EXPECT_GT(result.failures, result.refused);
    EXPECT_EQ(monitor->Data().histograms[0].bins, before);
    EXPECT_FALSE(monitor->Data().nodes[8].version.valid) << "other items of the node are marked not valid";
}

TEST_P(ReadPassTest, UnsolicitedMessagesArePrinted)
{
    OpenMonitor();
    // The crate server sends a board's unsolicited frames to the clients that addressed it.
    ASSERT_TRUE(monitor->Channel().GetNode());
    ASSERT_GE(can->EmitUnsolicited(7, Bytes{0x61, 0x62}), 1);
    EXPECT_TRUE(out->WaitFor("Unexpected Data: dlc=2 61 62 00 00 00 00 00 00\r\n", 3000)) << out->Text();
    monitor->Close();
    EXPECT_TRUE(out->Has("Disconnected\r\n"));
}

INSTANTIATE_TEST_SUITE_P(BothPaths, ReadPassTest, ::testing::Values(CanPath::Crate, CanPath::Gateway), PathName);

TEST(NodeReadPass, FailedGetNodeEndsThePassAndKeepsTheFlags)
{
    CCapturedOut out;
    auto link = std::make_unique<CPortCAN_All>();
    CNodeChannel channel(*link);
    CNodePassFlags flags;
    flags.Set(CNodePassFlags::ClearHistograms);
    NodeMonitorData data;
    const NodePassResult result = RunNodeReadPass(channel, data, flags, out, nullptr);
    EXPECT_FALSE(result.ran);
    EXPECT_EQ(out.Text(), "Error GetNode() ->87\nInvalid argument\n");
    EXPECT_EQ(flags.Pending(), unsigned(CNodePassFlags::ClearHistograms));
}

TEST(NodeGrid, LabelsAndCounterRows)
{
    EXPECT_EQ(kNodeGridLabels.front(), std::string("TX Can ErrCnt"));
    EXPECT_EQ(kNodeGridLabels[31], std::string(""));
    EXPECT_EQ(kNodeGridLabels.back(), std::string("Firmware Version"));
    auto label = [](int row) { return std::string(row ? kNodeGridLabels[static_cast<size_t>(row - 1)] : "-"); };
    struct Case {
        int node;
        size_t counter;
        const char* can;
        const char* rs;
    } cases[] = {
        {1, 0, "CAN_ERR_HDOVFL", "RS_OERR"},   {1, 1, "CAN_ERR_CMDOVFL", "RS_FERR"},
        {1, 3, "CAN_ERR_RXPORT", "RS_CRCERR"}, {1, 5, "CAN_ERR_TX", "RS_BOERR1"},
        {1, 6, "CAN_ERR_DBLRX", "RS_TOERR"},   {1, 7, "CAN_ERR_DBLRX1", "-"},
        {1, 12, "CAN_ERR_TX2RPT", "-"},        {1, 13, "-", "-"},
        {8, 4, "CAN_ERR_SW", "RS_SYNCERR"},    {8, 5, "CAN_ERR_TX", "-"},
        {0, 1, "CAN_ERR_TXOVFL", "RS_FERR"},   {9, 5, "CAN_ERR_TX", "RS_TOERR"},
        {9, 6, "-", "RS_CRCERR"},              {0, 7, "-", "RS_CMDOVFL"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(label(CanCounterRow(c.node, c.counter)), c.can) << c.node << " " << c.counter;
        EXPECT_EQ(label(RsCounterRow(c.node, c.counter)), c.rs) << c.node << " " << c.counter;
    }
}

TEST(NodeGrid, ItemsNotReadLeaveTheirCellsEmpty)
{
    NodeMonitorData data;
    data.nodes[4].version = {3, 1, true};
    data.nodes[4].analog.mask = 0b0101;
    data.nodes[4].analog.value = {10, 20, 30, 40};
    data.nodes[6].version = {3, 1, false};
    const NodeGrid grid = BuildNodeGrid(data);
    EXPECT_EQ(grid[kRowFirmwareVersion - 1][4].text, "3.1");
    EXPECT_EQ(grid[kRowFirmwareVersion - 1][6].text, "");
    EXPECT_EQ(grid[kRowVLeft - 1][4].text, "10");
    EXPECT_EQ(grid[kRowVRight - 1][4].text, "");
    EXPECT_EQ(grid[kRowBoardCurrent - 1][4].text, "30");
    for (const auto& row : {kRowCanCounters, kRowRsCounters, kRowTemperature})
        for (const NodeGridCell& cell : grid[static_cast<size_t>(row - 1)]) {
            EXPECT_EQ(cell.text, "");
            EXPECT_EQ(cell.colour, NodeCellColour::Plain);
        }
}
