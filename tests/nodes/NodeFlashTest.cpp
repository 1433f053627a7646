// Node firmware updates of the simulated nodes on both paths: the result
// lines, page addressing, failed tries, verify, and the exclusion of read
// passes while an update runs.

#include "NodeTestSupport.h"
#include "support/TempDir.h"

#include <condition_variable>

namespace {

class FlashTest : public NodeSim {
protected:
    // An image of the given blocks, written to a file, as a job for `node`.
    NodeFlashJob Job(const std::map<uint32_t, Bytes>& blocks, int node, bool verify = false)
    {
        const std::string path = dir.File("image" + std::to_string(++files) + ".hex");
        WriteIntelHex(path, blocks);
        return NodeFlashJob{path, node, verify};
    }
    std::string Connection() const { return "Connection node=" + std::to_string(ExpectedConnection()) + "\r\n"; }

    CTempDir dir;
    int files = 0;
};

constexpr char kWriteFault[] = "The system cannot write to the specified device.";

}  // namespace

TEST_P(FlashTest, PagesApartAreEachAnnouncedByTheirAddress)
{
    OpenMonitor();
    const Bytes a = Pattern(64, 1), b = Pattern(64, 2);
    const NodeFlashJob job = Job({{0x1000, a}, {0x2000, b}}, 5);
    ASSERT_TRUE(monitor->Update(job)) << out->Text();
    EXPECT_EQ(out->Text(), "Reading hex file " + job.file + "\r\n"
                           "Read success\r\n"
                           "start=0x00001000 end=0x00002040 size=4160\r\n"
                           "Reading connection node\r\n" +
                               Connection() +
                               "Resetting node 5\r\n"
                               "Send ADDR 00001000\r\n"
                               "Send Data 00001000\r\n"
                               "Send ADDR 00002000\r\n"
                               "Send Data 00002000\r\n"
                               "Result=OK\r\n"
                               "Unlock=OK\r\n");
    EXPECT_EQ(node(5).Flash(0x1000, 64), a);
    EXPECT_EQ(node(5).Flash(0x2000, 64), b);
    EXPECT_FALSE(node(5).InLoader()) << "unlocked";
}

TEST_P(FlashTest, ConsecutivePagesAreAnnouncedOnceAndVerified)
{
    OpenMonitor();
    // Three pages and 10 bytes that page filling completes to a fourth.
    const Bytes image = Pattern(3 * 64 + 10, 9);
    ASSERT_TRUE(monitor->Update(Job({{0x1000, image}}, 2, true))) << out->Text();
    EXPECT_EQ(out->Count("Send ADDR "), 2u) << "once to write, once to verify\n" << out->Text();
    EXPECT_EQ(out->Count("Send Data "), 4u);
    EXPECT_EQ(out->Count("Read Data "), 4u);
    EXPECT_TRUE(out->Has("Send Data 000010C0\r\n-------- VERIFY -------\r\nSend ADDR 00001000\r\nRead Data 00001000\r\n"
                         "Read Data 00001040\r\n"))
        << out->Text();
    EXPECT_TRUE(out->Has("Result=OK\r\nUnlock=OK\r\n"));
    Bytes expected = image;
    expected.resize(4 * 64, 0xFF);
    EXPECT_EQ(node(2).Flash(0x1000, 4 * 64), expected);
}

TEST_P(FlashTest, ChunkAboveTheFilledAreaGoesAsFiveMessages)
{
    OpenMonitor();
    const Bytes tail = Pattern(40, 0x30);
    const int before = node(6).MessageCount();
    ASSERT_TRUE(monitor->Update(Job({{0x20000, tail}}, 6))) << out->Text();
    EXPECT_TRUE(out->Has("Send ADDR 00020000\r\nSend Data 00020000\r\nResult=OK\r\n")) << out->Text();
    EXPECT_FALSE(out->Has("Error Software on Read HEX"));
    // Reset, address, five data messages, unlock.
    EXPECT_EQ(node(6).MessageCount() - before, 8);
    EXPECT_EQ(node(6).Flash(0x20000, 40), tail);
    EXPECT_EQ(node(6).Flash(0x20028, 24), Bytes(24, 0xFF));
}

TEST_P(FlashTest, FourFailedTriesInARowAreRepeated)
{
    OpenMonitor();
    const Bytes page = Pattern(64, 0x44);
    node(4).Faults().Set(SimCanFault::FlashWriteError, 4);
    ASSERT_TRUE(monitor->Update(Job({{0x1000, page}}, 4))) << out->Text();
    EXPECT_EQ(out->Count(std::string("WRITE DATA error addr=1000 : ") + kWriteFault + "\r\n"), 4u) << out->Text();
    EXPECT_EQ(out->Count("Send ADDR 00001000\r\n"), 5u) << "each try starts with the address";
    EXPECT_TRUE(out->Has("Result=OK\r\nUnlock=OK\r\n"));
    EXPECT_EQ(node(4).Flash(0x1000, 64), page);
}

TEST_P(FlashTest, FiveFailedTriesInARowFailTheUpdateWithoutUnlock)
{
    OpenMonitor();
    node(4).Faults().Set(SimCanFault::FlashWriteError, 5);
    EXPECT_FALSE(monitor->Update(Job({{0x1000, Pattern(64, 0x44)}, {0x2000, Pattern(64, 0x45)}}, 4)));
    EXPECT_EQ(out->Count("WRITE DATA error addr=1000 : "), 5u) << out->Text();
    EXPECT_FALSE(out->Has("Send Data 00002000")) << "the run ends";
    EXPECT_TRUE(out->Has("Result=FAIL\r\n"));
    EXPECT_FALSE(out->Has("Unlock"));
    EXPECT_TRUE(node(4).InLoader()) << "a failed run leaves the node in its loader";
}

TEST_P(FlashTest, ConnectionNodeIsNotUpdated)
{
    OpenMonitor();
    const uint8_t connection = ExpectedConnection();
    EXPECT_FALSE(monitor->Update(Job({{0x1000, Pattern(64, 1)}}, connection)));
    EXPECT_TRUE(out->Has(Connection() + "Can't update connected node\r\n")) << out->Text();
    EXPECT_FALSE(out->Has("Resetting"));
    EXPECT_EQ(node(connection).MessageCount(), 0);
}

TEST_P(FlashTest, VerifyRetriesReadsAndStopsAtADifference)
{
    OpenMonitor();
    const std::map<uint32_t, Bytes> image = {{0x1000, Pattern(128, 0x50)}};
    struct Case {
        SimCanFault fault;
        const char* line;
        bool ok;
    } cases[] = {
        {SimCanFault::WrongReadAddress, "INVALID ADDR addr=00001000 raddr=00001040\r\nSend ADDR 00001000\r\n", true},
        {SimCanFault::ForeignReply, "READ DATA error : The data is invalid.\r\nSend ADDR 00001000\r\n", true},
        {SimCanFault::CorruptReadData, "Read Data 00001000\r\nVerify FAIL\r\nResult=FAIL\r\n", false},
    };
    for (const Case& c : cases) {
        out->Clear();
        node(1).Faults().Set(c.fault, 1);
        EXPECT_EQ(monitor->Update(Job(image, 1, true)), c.ok) << out->Text();
        EXPECT_TRUE(out->Has(c.line)) << out->Text();
        EXPECT_EQ(out->Has("Unlock=OK\r\n"), c.ok);
        node(1).Faults().ClearAll();
    }
}

TEST_P(FlashTest, BadImagesAndNodesEndBeforeAnythingIsSent)
{
    OpenMonitor();
    EXPECT_FALSE(monitor->Update(NodeFlashJob{dir.File("missing.hex"), 5, false}));
    EXPECT_EQ(out->Text(), "Reading hex file " + dir.File("missing.hex") + "\r\nError read hex file: No such file or directory\r\n");
    out->Clear();
    EXPECT_FALSE(monitor->Update(Job({{0x1000, Pattern(64, 1)}}, -1)));
    EXPECT_EQ(out->Text(), "Invalid Node number\r\n");
    EXPECT_EQ(node(5).MessageCount(), 0);
}

TEST_P(FlashTest, ReadPassStartedDuringAnUpdateWaitsForIt)
{
    OpenMonitor();
    monitor->SetResetWaitMs(300);
    std::map<uint32_t, Bytes> image;
    for (uint32_t page = 0; page < 8; ++page)
        image[0x1000 + 0x100 * page] = Pattern(64, static_cast<uint8_t>(page));
    std::mutex lock;
    std::condition_variable ended;
    bool updateDone = false, passDone = false, updateOk = false;
    NodePassResult pass;
    ASSERT_TRUE(monitor->StartUpdate(Job(image, 5, true), [&](bool ok) {
        std::lock_guard l(lock);
        updateOk = ok;
        updateDone = true;
        ended.notify_all();
    }));
    ASSERT_TRUE(out->WaitFor("Resetting node 5\r\n", 5000)) << out->Text();
    ASSERT_TRUE(monitor->StartReadPass([&](const NodePassResult& r) {
        std::lock_guard l(lock);
        pass = r;
        passDone = true;
        ended.notify_all();
    }));
    EXPECT_FALSE(monitor->StartUpdate(Job(image, 6), nullptr)) << "one update at a time";
    {
        std::unique_lock l(lock);
        ASSERT_TRUE(ended.wait_for(l, std::chrono::seconds(60), [&] { return updateDone && passDone; }));
    }
    const std::string text = out->Text();
    EXPECT_TRUE(updateOk) << text;
    EXPECT_TRUE(pass.ran) << text;
    EXPECT_EQ(pass.failures, pass.refused) << "node 5 was out of its loader when the pass reached it\n" << text;
    EXPECT_TRUE(out->Has("Waiting for the node firmware update to end\r\n")) << text;
    EXPECT_LT(text.find("Unlock=OK"), text.find("Reading node 0")) << text;
    EXPECT_EQ(node(5).Flash(0x1700, 64), Pattern(64, 7));
}

TEST_P(FlashTest, UpdateStartedDuringAReadPassWaitsForIt)
{
    OpenMonitor();
    // Late replies keep the pass busy long enough to start the update.
    node(8).Faults().SetLateMs(100);
    node(8).Faults().Set(SimCanFault::LateReply, 5);
    std::mutex lock;
    std::condition_variable ended;
    int done = 0;
    bool updateOk = false;
    ASSERT_TRUE(monitor->StartReadPass([&](const NodePassResult&) {
        std::lock_guard l(lock);
        ++done;
        ended.notify_all();
    }));
    ASSERT_TRUE(out->WaitFor("Reading node 0\r\n", 5000));
    ASSERT_TRUE(monitor->StartUpdate(Job({{0x1000, Pattern(64, 3)}}, 8), [&](bool ok) {
        std::lock_guard l(lock);
        updateOk = ok;
        ++done;
        ended.notify_all();
    }));
    {
        std::unique_lock l(lock);
        ASSERT_TRUE(ended.wait_for(l, std::chrono::seconds(60), [&] { return done == 2; }));
    }
    const std::string text = out->Text();
    EXPECT_TRUE(updateOk) << text;
    EXPECT_TRUE(out->Has("Waiting for the read pass to end\r\n")) << text;
    EXPECT_LT(text.find("Reading Temperatures"), text.find("Reading connection node")) << text;
}

TEST_P(FlashTest, CloseAbortsAWaitingUpdate)
{
    OpenMonitor();
    ASSERT_TRUE(AcquireNodeLink(monitor->Channel(), "test", *out, nullptr));
    std::atomic<bool> done{false};
    ASSERT_TRUE(monitor->StartUpdate(Job({{0x1000, Pattern(64, 3)}}, 5), [&](bool) { done = true; }));
    ASSERT_TRUE(out->WaitFor("Waiting for the test to end\r\n", 5000)) << out->Text();
    monitor->Close();
    EXPECT_TRUE(done);
    EXPECT_FALSE(out->Has("Resetting"));
    monitor->Channel().Lock().Release();
}

INSTANTIATE_TEST_SUITE_P(BothPaths, FlashTest, ::testing::Values(CanPath::Crate, CanPath::Gateway), PathName);
