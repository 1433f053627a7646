// The simulated CAN nodes and the node controller board, driven directly.

#include "sim/SimCanController.h"
#include "sim/SimCanNode.h"

#include <bit>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

namespace {

// The data of the single frame a node answers; {0xDE, 0xAD} when it stays silent.
Bytes ask(CSimCanNode& node, Bytes data, uint8_t b = 0)
{
    SimCanAnswer a = node.Handle(b, data);
    if (a.frames.empty())
        return {0xDE, 0xAD};
    EXPECT_EQ(a.frames.size(), 1u);
    EXPECT_EQ(a.frames[0].node, node.Number());
    return a.frames[0].data;
}

bool silent(CSimCanNode& node, Bytes data, uint8_t b = 0) { return node.Handle(b, data).frames.empty(); }

Bytes le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

}  // namespace

TEST(SimCanNode, MonitorSubCommandsAnswerTheReadings)
{
    CSimCanNode n3(3), n7(7);
    SimCanReadings r = n3.Readings();
    r.adc[1] = 0x08D7;
    r.destination = 0x0203;
    r.threshold = 0x23;
    r.laser = 0x0830;
    r.latchUp = {1, 0, 2};
    r.major = 2;
    r.minor = 12;
    n3.SetReadings(r);
    struct Case {
        const char* what;
        Bytes request;
        Bytes reply;
    } cases[] = {
        {"GetDest", {0x06}, {0x03, 0x02}},
        {"RdVersion", {0x16}, {0x02, 0x0C}},
        {"RdDac", {0x17}, {0x23, 0x30, 0x08, 0x00}},
        {"ADC channel 1", {0x13, 0x01}, {0xD7, 0x08}},
        {"LatchUp without reset", {0x15, 0x00}, {1, 0, 2}},
        {"LatchUp with reset", {0x15, 0xFF}, {1, 0, 2}},
        {"LatchUp after reset", {0x15, 0x00}, {0, 0, 0}},
        {"temperatures elsewhere", {0x10, 0x00}, {}},
        {"unknown sub-command", {0x55}, {0xDE, 0xAD}},
        {"ResetErrorCnt", {0x0A}, {0xDE, 0xAD}},
        {"ADC channel out of range", {0x13, 0x08}, {0xDE, 0xAD}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ask(n3, c.request), c.reply) << c.what;

    // 24.5 is 0x41C40000: its three upper bytes, lowest first.
    EXPECT_EQ(ask(n7, {0x10, 0x00}), (Bytes{0x00, 0xC4, 0x41}));
    const size_t sensors = n7.Readings().temperatures.size();
    ASSERT_GT(sensors, 0u);
    EXPECT_EQ(ask(n7, {0x10, static_cast<uint8_t>(sensors)}), Bytes{}) << "an empty reply ends the list";
}

TEST(SimCanNode, ErrorStateIsPackedByNodeKind)
{
    SimCanErrorState s{.txCount = 7, .rxCount = 9, .canCode = 0x21, .rsCode = 0x42, .ackTime = 1285, .ackTime1 = 60, .flags = 0x81};
    CSimCanNode edge(9), inner(4);
    edge.SetErrorState(s);
    inner.SetErrorState(s);
    // Nodes 0 and 9: c0 = d2, c1 = d3, c2 = d0, c3 = d1, flags = d5.
    EXPECT_EQ(ask(edge, {0x01}), (Bytes{0x21, 0x42, 7, 9, 0, 0x81, 0, 0}));
    // Nodes 1 to 8: time A = (d5 d6) * 5, time B = (d3 d4) * 5, c3 = d7.
    Bytes d = ask(inner, {0x01});
    ASSERT_EQ(d.size(), 8u);
    EXPECT_EQ(d[0], 7);
    EXPECT_EQ(d[1], 9);
    EXPECT_EQ(d[2], 0x21);
    EXPECT_EQ(d[7], 0x42);
    EXPECT_EQ((d[5] * 256 + d[6]) * 5, 1285);
    EXPECT_EQ((d[3] * 256 + d[4]) * 5, 60);
}

TEST(SimCanNode, CountersComeInEightByteBlocksOrTheOldForm)
{
    CSimCanNode inner(3);
    inner.SetCounters({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 200}, {21, 22, 23, 24, 25, 26, 27, 28});
    EXPECT_EQ(ask(inner, {0x02, 0}), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(ask(inner, {0x02, 1}), (Bytes{9, 10, 11, 12, 200}));
    EXPECT_EQ(ask(inner, {0x02, 2}), Bytes{});
    EXPECT_EQ(ask(inner, {0x0B, 0}), (Bytes{21, 22, 23, 24, 25, 26, 27, 28}));
    EXPECT_EQ(ask(inner, {0x0B, 1}), Bytes{}) << "a full last block is followed by an empty one";
    EXPECT_TRUE(silent(inner, {0x0A}));
    EXPECT_EQ(ask(inner, {0x02, 1}), (Bytes{0, 0, 0, 0, 0}));

    struct Case {
        int node;
        uint8_t major, minor;
        bool old;
    } versions[] = {{0, 2, 7, true}, {0, 2, 8, false}, {9, 2, 4, true}, {9, 2, 5, false}, {4, 1, 0, false}};
    for (const auto& v : versions) {
        CSimCanNode n(static_cast<uint8_t>(v.node));
        n.SetVersion(v.major, v.minor);
        n.SetCounters({1, 2, 3, 4, 5, 6}, {11, 12, 13});
        EXPECT_EQ(n.OldCounterForm(), v.old) << v.node << " " << int(v.major) << "." << int(v.minor);
        if (v.old) {
            EXPECT_EQ(ask(n, {0x02, 0}), (Bytes{1, 2, 3, 4, 5, 6}));
            EXPECT_EQ(ask(n, {0x02, 1}), (Bytes{11, 12, 13}));
            EXPECT_TRUE(silent(n, {0x0B, 0})) << "old firmware does not know 0B";
        } else {
            EXPECT_EQ(ask(n, {0x02, 1}), Bytes{});
            EXPECT_EQ(ask(n, {0x0B, 0}), (Bytes{11, 12, 13}));
        }
    }
}

TEST(SimCanNode, HistogramsReadInBlocksAndClearAsRead)
{
    CSimCanNode n8(8), n3(3);
    SimCanReadings r = n8.Readings();
    ASSERT_EQ(r.histogram.size(), 256u);
    for (int i = 0; i < 256; ++i)
        r.histogram[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
    n8.SetReadings(r);
    Bytes all;
    for (uint8_t block = 0;; ++block) {
        Bytes b = ask(n8, {0x14, 0, block});
        all.insert(all.end(), b.begin(), b.end());
        if (b.size() < 8) {
            EXPECT_EQ(block, 32);
            break;
        }
    }
    EXPECT_EQ(all, r.histogram);
    EXPECT_EQ(ask(n8, {0x14, 1, 2}), (Bytes{16, 17, 18, 19, 20, 21, 22, 23}));
    EXPECT_EQ(ask(n8, {0x14, 0, 2}), Bytes(8, 0));
    EXPECT_EQ(ask(n8, {0x14, 0, 3}), (Bytes{24, 25, 26, 27, 28, 29, 30, 31}));
    EXPECT_EQ(ask(n3, {0x14, 0, 0}), Bytes{}) << "node without histogram";
}

TEST(SimCanNode, FirmwareIsWrittenInPagesInTheLoaderOnly)
{
    CSimCanNode n(5);
    auto data = [](uint8_t first, size_t count) {
        Bytes b;
        for (size_t i = 0; i < count; ++i)
            b.push_back(static_cast<uint8_t>(first + i));
        return b;
    };
    EXPECT_TRUE(silent(n, le32(0x1000), 0x1E));
    EXPECT_TRUE(silent(n, data(1, 8), 0x1F));
    EXPECT_EQ(n.Flash(0x1000, 1), Bytes{0xFF}) << "the running application takes no firmware";

    EXPECT_TRUE(silent(n, {0x04}));
    EXPECT_TRUE(n.InLoader());
    EXPECT_TRUE(silent(n, {0x16})) << "the loader answers no monitor sub-command";
    EXPECT_TRUE(silent(n, le32(0x1000), 0x1E));
    for (int m = 0; m < 8; ++m)
        EXPECT_TRUE(silent(n, data(static_cast<uint8_t>(8 * m), 8), 0x1F));
    EXPECT_EQ(n.Flash(0x1000, 64), data(0, 64)) << "a full page is programmed at once";

    EXPECT_TRUE(silent(n, le32(0x20000), 0x1E));
    for (int m = 0; m < 5; ++m)
        EXPECT_TRUE(silent(n, data(static_cast<uint8_t>(0x80 + 8 * m), 8), 0x1F));
    EXPECT_EQ(n.Flash(0x20000, 1), Bytes{0xFF}) << "a part page waits";

    // Read back: the address record, then the data records.
    EXPECT_TRUE(silent(n, le32(0x1000), 0x1E));
    SimCanAnswer a = n.Handle(0x1D, Bytes{64});
    ASSERT_EQ(a.frames.size(), 9u);
    EXPECT_EQ(a.frames[0].type, 0x1E);
    EXPECT_EQ(a.frames[0].data, le32(0x1000));
    Bytes back;
    for (size_t i = 1; i < a.frames.size(); ++i) {
        EXPECT_EQ(a.frames[i].type, 0x1F);
        back.insert(back.end(), a.frames[i].data.begin(), a.frames[i].data.end());
    }
    EXPECT_EQ(back, data(0, 64));
    a = n.Handle(0x1D, Bytes{3});
    ASSERT_EQ(a.frames.size(), 2u);
    EXPECT_EQ(a.frames[0].data, le32(0x1040)) << "reads move the address on";

    Bytes page = n.Flash(0x20000, 64);
    EXPECT_EQ(Bytes(page.begin(), page.begin() + 40), data(0x80, 40));
    EXPECT_EQ(Bytes(page.begin() + 40, page.end()), Bytes(24, 0xFF)) << "the rest of the page is erased";

    EXPECT_TRUE(silent(n, le32(0xFFFFFFFF), 0x1E));
    EXPECT_FALSE(n.InLoader());
    EXPECT_EQ(ask(n, {0x16}).size(), 2u);
}

TEST(SimCanNode, LoaderStartsTheApplicationUnlessFirmwareArrives)
{
    CSimCanNode idle(2), busy(3);
    idle.SetLoaderMs(50);
    busy.SetLoaderMs(50);
    EXPECT_TRUE(silent(idle, {0x04}));
    EXPECT_TRUE(silent(busy, {0x04}));
    EXPECT_TRUE(silent(busy, le32(0x2000), 0x1E));
    std::this_thread::sleep_for(80ms);
    EXPECT_FALSE(idle.InLoader());
    EXPECT_TRUE(busy.InLoader());
}

TEST(SimCanNode, FaultsChangeTheAnswer)
{
    CSimCanNode n(4);
    n.Faults().Set(SimCanFault::LostReply, 1);
    SimCanAnswer a = n.Handle(0, Bytes{0x16});
    EXPECT_TRUE(a.lost);
    EXPECT_TRUE(a.frames.empty());
    EXPECT_EQ(n.Handle(0, Bytes{0x16}).frames.size(), 1u) << "the count ran out";

    n.Faults().Set(SimCanFault::ForeignReply, 1);
    a = n.Handle(0, Bytes{0x16});
    ASSERT_EQ(a.frames.size(), 1u);
    EXPECT_EQ(a.frames[0].node, 5);
    EXPECT_EQ(a.frames[0].type, 0);
    EXPECT_EQ(a.frames[0].data.size(), 3u);

    n.Faults().Set(SimCanFault::LateReply, 1);
    n.Faults().SetLateMs(250);
    EXPECT_EQ(n.Handle(0, Bytes{0x16}).delayMs, 250);

    n.Faults().Set(SimCanFault::WriteError, 1);
    EXPECT_TRUE(n.Handle(0, Bytes{0x04}).writeError);
    EXPECT_FALSE(n.InLoader()) << "a message that failed to go out does nothing";
    n.Faults().Set(SimCanFault::LostReply, -1);
    EXPECT_TRUE(n.Handle(0, Bytes{0x0A}).frames.empty());
    EXPECT_EQ(n.Faults().Get(SimCanFault::LostReply), -1) << "no answer, nothing to lose";
}

TEST(SimCanController, CrateCommandsReachTheNodes)
{
    auto nodes = std::make_shared<CSimCanNodes>();
    CSimCanController c(nodes, 8);
    SimCanReadings r = nodes->Node(8)->Readings();
    r.major = 3;
    r.minor = 1;
    r.destination = 0x1234;
    r.adc = {0x0101, 0x0202, 0x0303, 0x0404, 0x0505, 0, 0, 0};
    for (size_t i = 0; i < 256; ++i)
        r.histogram[i] = static_cast<uint8_t>(255 - i);
    nodes->Node(8)->SetReadings(r);
    nodes->Node(2)->SetLoaderMs(10000);

    auto run = [&c](Bytes cmd) {
        auto reply = c.Execute(cmd);
        return reply ? *reply : Bytes{0xDE, 0xAD};
    };
    struct Case {
        const char* what;
        Bytes request;
        Bytes reply;
    } cases[] = {
        {"status of the connection node", {0xEA},
         {0xC4, 3, 1, 8, 0x34, 0x12, 0x01, 0x01, 0x02, 0x02, 0x03, 0x03, 0x05, 0x05}},
        {"version of node 6", {0xC5, 1, 0, 6, 0x16}, {0xC6, 0xC5, 2, 12}},
        {"no reply expected", {0xC5, 0, 0, 6, 0x0A}, {0xFC, 0xC5, 0x00}},
        {"no such node", {0xC5, 1, 0, 12, 0x16}, {0xFC, 0xC5, 0x02}},
        {"the node does not answer", {0xC5, 1, 0, 6, 0x77}, {0xFC, 0xC5, 0x02}},
        {"nine data bytes", {0xC5, 1, 0, 6, 1, 2, 3, 4, 5, 6, 7, 8, 9}, {0xFC, 0xC5, 0x01}},
        {"reset node 2", {0xC5, 0, 0, 2, 0x04}, {0xFC, 0xC5, 0x00}},
        {"set address of node 2", {0xC5, 0, 0x1E, 2, 0x00, 0x10, 0, 0}, {0xFC, 0xC5, 0x00}},
        {"read node 2", {0xC7, 2, 4}, {0xC6, 0x00, 0x10, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}},
        {"read too much", {0xC7, 2, 121}, {0xFC, 0xC7, 0x01}},
        {"read a node outside its loader", {0xC7, 6, 4}, {0xFC, 0xC7, 0x02}},
        {"histogram block 0", {0xC8, 0}, {0xC9, 255, 254, 253, 252, 251, 250, 249, 248}},
        {"histogram block 1, cleared", {0xC8, 1}, {0xC9, 247, 246, 245, 244, 243, 242, 241, 240}},
    };
    for (const auto& k : cases)
        EXPECT_EQ(run(k.request), k.reply) << k.what;

    for (int block = 2; block < 32; ++block)
        ASSERT_EQ(run({0xC8, 0}).size(), 9u);
    EXPECT_EQ(run({0xC8, 0}), Bytes{0xC9}) << "an empty block ends the pass";
    EXPECT_EQ(run({0xC8, 0}), (Bytes{0xC9, 255, 254, 253, 252, 251, 250, 249, 248}));
    EXPECT_EQ(run({0xC8, 0}), (Bytes{0xC9, 0, 0, 0, 0, 0, 0, 0, 0})) << "block 1 was cleared";

    nodes->Node(6)->Faults().Set(SimCanFault::WriteError, 1);
    EXPECT_EQ(run({0xC5, 1, 0, 6, 0x16}), (Bytes{0xFC, 0xC5, 0x07}));
    nodes->Node(6)->Faults().Set(SimCanFault::ForeignReply, 1);
    EXPECT_EQ(run({0xC5, 1, 0, 6, 0x16}), (Bytes{0xFC, 0xC5, 0x00}));
    nodes->Node(6)->Faults().Set(SimCanFault::LostReply, 1);
    EXPECT_EQ(run({0xC5, 1, 0, 6, 0x16}), (Bytes{0xDE, 0xAD})) << "lost: the board stays silent";
}

TEST(SimCanController, AttachedBoardAnswersWithTheControllerFirst)
{
    auto nodes = std::make_shared<CSimCanNodes>();
    CSimBoard board(40, 0x00010019, SimTiming{50, 100});
    auto controller = std::make_shared<CSimCanController>(nodes, 3);
    controller->Attach(board);
    controller.reset();  // the board keeps it
    auto s = board.Execute(Bytes{0xEA});
    ASSERT_TRUE(s);
    EXPECT_EQ((*s)[0], 0xC4);
    EXPECT_EQ((*s)[3], 3);
    auto v = board.Execute(Bytes{0xC5, 1, 0, 4, 0x16});
    ASSERT_TRUE(v);
    EXPECT_EQ(*v, (Bytes{0xC6, 0xC5, 2, 12}));
    auto mem = board.Execute(Bytes{0xF5, 0, 0, 0, 0, 0, 1});
    ASSERT_TRUE(mem);
    EXPECT_EQ((*mem)[0], 0xF4) << "the board's own commands stay";
}
