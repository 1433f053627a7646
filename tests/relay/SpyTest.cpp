// The spy distribution and the spy's printing: registration by flags, the
// records as spies get them, every record in the same order for every spy,
// and a full ring that holds the watched link without losing anything.

#include "RelayTestSupport.h"
#include "relay/Spy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <thread>

using namespace relaytest;

namespace {

const Bytes kStatus = {0xEA};
const std::string kDecodeFile = std::string(TELVANE_SOURCE_DIR) + "/examples/Cb_v126.dec";

Bytes BytesOf(const _MCDATA& r) { return Bytes(r.bytes, r.bytes + r.length); }

TEST(SpyDistribution, FlagsChooseTheListsAndRecordsAreFilledAsSpiesExpect)
{
    struct Case {
        unsigned flags;
        bool sent, received;
    } cases[] = {{0, false, false}, {1, true, false}, {2, false, true}, {3, true, true}};
    EXPECT_EQ(CSpyDistribution::FlagsFor(true, true), 3u);
    EXPECT_EQ(CSpyDistribution::FlagsFor(true, false), 2u);
    EXPECT_EQ(CSpyDistribution::FlagsFor(false, true), 1u);
    for (const auto& k : cases) {
        SCOPED_TRACE(k.flags);
        CSpyDistribution d;
        CFifo<_MCDATA> ring(8);
        CSpyWriter w(ring);
        d.Register(3, &w);
        d.Register(k.flags, &w);  // a re-join replaces the lists
        const uint8_t cmd[] = {0xEC, 0x01, 0xEA};
        const uint8_t reply[] = {0xEC, 0x01, 0x13, 0x00, 0x65};
        d.DistributeSent(cmd, sizeof cmd, 101);
        d.DistributeReceived(reply, sizeof reply);
        _MCDATA r;
        if (k.sent) {
            ASSERT_TRUE(ring.TryRead(r));
            EXPECT_EQ(r.direction, _MCDATA::kSent);
            EXPECT_EQ(r.tag, 101);
            EXPECT_EQ(BytesOf(r), Bytes(cmd, cmd + sizeof cmd));
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(r.waitReply, 0);
            EXPECT_EQ(r.text, 0);
        }
        if (k.received) {
            ASSERT_TRUE(ring.TryRead(r));
            EXPECT_EQ(r.direction, _MCDATA::kReceived);
            EXPECT_EQ(r.tag, 0);
            EXPECT_EQ(BytesOf(r), Bytes(reply, reply + sizeof reply));
        }
        EXPECT_FALSE(ring.TryRead(r));
        EXPECT_EQ(d.SubscriberCount(), k.flags ? 1u : 0u);
    }
}

TEST(SpyDistribution, ReadyRecordsGoToTheSentListAndLongChunksKeepTheirFirstBytes)
{
    CSpyDistribution d;
    CFifo<_MCDATA> ring(8);
    CSpyWriter w(ring);
    d.Register(CSpyDistribution::kWantSent, &w);
    _MCDATA ready = SpyRecord(_MCDATA::kReceived, kStatus.data(), 1, 7);
    d.DistributeSent(ready);
    Bytes chunk(300);
    for (size_t i = 0; i < chunk.size(); ++i)
        chunk[i] = uint8_t(i);
    d.DistributeSent(chunk.data(), int(chunk.size()));
    _MCDATA r;
    ASSERT_TRUE(ring.TryRead(r));
    EXPECT_EQ(r.direction, _MCDATA::kSent) << "a ready record is marked sent";
    EXPECT_EQ(r.tag, 7);
    ASSERT_TRUE(ring.TryRead(r));
    EXPECT_EQ(r.length, 255);
    EXPECT_EQ(BytesOf(r), Bytes(chunk.begin(), chunk.begin() + 255));
}

TEST_F(RelayTest, TwoSpiesSeeEveryRecordInTheSameOrder)
{
    StartRelay(CPortMC_All::kTcp);
    CCapturedOut textA, textB;
    auto spyA = std::make_unique<CSpy>(textA), spyB = std::make_unique<CSpy>(textB);
    ASSERT_TRUE(spyA->LoadDecodeFile(kDecodeFile));
    spyA->Watch(&server->Spies());
    spyB->SetDecode(false);
    spyB->Watch(&server->Spies());
    EXPECT_EQ(textA.Text(), "Reading decode file " + kDecodeFile + "\r\nRead Success\r\n");

    auto a = OpenClientLink(port, 101), b = OpenClientLink(port, 102);
    ASSERT_TRUE(a && b);
    auto run = [&](CPortMC_All& link) {
        for (int i = 0; i < 20; ++i) {
            uint8_t reply[256];
            int n = sizeof reply;
            EXPECT_TRUE(link.Command(kStatus.data(), 1, reply, n, 1000));
        }
    };
    std::thread ta(run, std::ref(*a)), tb(run, std::ref(*b));
    ta.join();
    tb.join();
    spyA.reset();  // prints what its ring still holds
    spyB.reset();

    EXPECT_EQ(textA.Count("TX [101]->EC "), 20u);
    EXPECT_EQ(textA.Count("TX [102]->EC "), 20u);
    EXPECT_EQ(textA.Count("RX->Data decoded code=0x13\r\n"), 40u);
    EXPECT_EQ(textA.Count("ccb_id=101"), 20u);
    EXPECT_EQ(textA.Count("ccb_id=102"), 20u);
    EXPECT_EQ(textB.Count("RX->EC "), 40u);
    // The same records in the same order: the TX lines of both spies match,
    // and each command is followed by its reply before the next command.
    auto txLines = [](const std::string& text) {
        std::vector<std::string> lines;
        for (size_t at = text.find("TX ["); at != std::string::npos; at = text.find("TX [", at + 1))
            lines.push_back(text.substr(at, text.find("\r\n", at) - at));
        return lines;
    };
    EXPECT_EQ(txLines(textA.Text()), txLines(textB.Text()));
    const std::string t = textB.Text();
    size_t pos = 0;
    for (int i = 0; i < 40; ++i) {
        const size_t tx = t.find("TX [", pos), rx = t.find("RX->", pos);
        ASSERT_NE(tx, std::string::npos);
        ASSERT_LT(tx, rx) << "record " << i;
        pos = rx + 1;
        EXPECT_TRUE(t.find("TX [", pos) == std::string::npos || t.find("TX [", pos) > rx);
    }
}

TEST_F(RelayTest, SpyWithPrintTxOffShowsRepliesUntilTurnedOn)
{
    StartRelay(CPortMC_All::kPrimary);
    CCapturedOut text;
    auto spy = std::make_unique<CSpy>(text);
    spy->SetDecode(false);
    spy->SetPrint(true, false);
    spy->Watch(&server->Spies());
    Fd c = Connect();
    Exchange(c, kStatus);
    ASSERT_TRUE(text.WaitFor("RX->EC "));
    spy->SetPrint(true, true);
    Exchange(c, kStatus);
    ASSERT_TRUE(text.WaitFor("TX->EC 01 EA \r\n"));
    spy.reset();
    EXPECT_EQ(text.Count("TX->"), 1u) << "commands appear only from the change on";
    EXPECT_EQ(text.Count("RX->"), 2u);
}

TEST_F(RelayTest, FullSpyRingHoldsUpTheLinkWithoutLosingARecord)
{
    StartRelay(CPortMC_All::kPrimary);
    CFifo<_MCDATA> ring(3);  // two records
    CSpyWriter writer(ring);
    server->Spies().Register(CSpyDistribution::kWantSent | CSpyDistribution::kWantReceived, &writer);
    Fd c = Connect();
    Exchange(c, kStatus);  // fills the ring: command and reply

    ASSERT_TRUE(SendRequest(c, 101, {0xEC, 0x42, 0xEA}, 1000));
    Answer a;
    EXPECT_FALSE(ReadAnswer(c, a, 300)) << "the link waits for the spy";

    // A registration gets through while the link waits on the full ring.
    CFifo<_MCDATA> other(64);
    CSpyWriter otherWriter(other);
    const auto t0 = Clock::now();
    server->Spies().Register(CSpyDistribution::kWantReceived, &otherWriter);
    EXPECT_LT(msSince(t0), 200);

    std::vector<_MCDATA> seen(4);
    ASSERT_TRUE(ring.Read(seen[0], 0));
    EXPECT_FALSE(ReadAnswer(c, a, 300)) << "the reply record is still waiting for room";
    ASSERT_TRUE(ring.Read(seen[1], 0));
    ASSERT_TRUE(ReadAnswer(c, a));
    EXPECT_EQ(a.payload[0], 0xEC);
    EXPECT_EQ(a.payload[1], 0x42);
    ASSERT_TRUE(ring.Read(seen[2], 1000));
    ASSERT_TRUE(ring.Read(seen[3], 1000));
    const int directions[] = {0, 1, 0, 1};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(seen[i].direction, directions[i]);
        if (i % 2 == 0) {
            EXPECT_EQ(seen[i].length, 3);
        } else {
            EXPECT_GT(seen[i].length, 3);
        }
        EXPECT_EQ(seen[i].bytes[0], 0xEC);
        EXPECT_EQ(seen[i].bytes[1], i / 2) << "the link's own sequence";
        EXPECT_EQ(seen[i].bytes[2], i % 2 ? 0x13 : 0xEA);
    }
    _MCDATA r;
    ASSERT_TRUE(other.Read(r, 1000));
    EXPECT_EQ(r.direction, _MCDATA::kReceived) << "the new spy got the reply";

    // A spy that leaves while the link waits on it lets the link go on.
    Exchange(c, kStatus);
    ASSERT_TRUE(SendRequest(c, 101, kStatus, 1000));
    EXPECT_FALSE(ReadAnswer(c, a, 300));
    server->Spies().Register(0, &writer);
    ASSERT_TRUE(ReadAnswer(c, a));
    EXPECT_EQ(a.payload[0], 0x13);
    server->Spies().Register(0, &otherWriter);
}

TEST(Spy, DecodeFileLoadTextsAndChangeWatch)
{
    CCapturedOut text;
    CSpy spy(text);
    EXPECT_FALSE(spy.LoadDecodeFile("/nonexistent/relay.dec"));
    EXPECT_EQ(text.Text().rfind("Reading decode file /nonexistent/relay.dec\r\nRead Fail: ", 0), 0u);
    EXPECT_EQ(text.Text().substr(text.Text().size() - 2), "\r\n");

    char path[] = "/tmp/relay-spy-XXXXXX.dec";
    const int fd = mkstemps(path, 4);
    ASSERT_GE(fd, 0);
    const std::string source = "struct Status 0x13 { VI1 a; };\n";
    ASSERT_EQ(write(fd, source.data(), source.size()), ssize_t(source.size()));
    close(fd);
    const bool loaded = spy.LoadDecodeFile(path);
    EXPECT_FALSE(spy.DecodeFileChanged());
    timespec later[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path, later, 0), 0);
    EXPECT_TRUE(spy.DecodeFileChanged()) << "watched whether or not it compiled: " << loaded;
    spy.LoadDecodeFile(path);
    EXPECT_FALSE(spy.DecodeFileChanged());
    unlink(path);
}

}  // namespace
