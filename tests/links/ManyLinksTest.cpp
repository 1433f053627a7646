// Many crate links in one process, as a firmware update of dozens of crates
// or a busy server holds them: descriptors, concurrent settings walks, and
// the teardown of a reader blocked on a full ring.

#include "base/Fifo.h"
#include "base/OpenFiles.h"
#include "links/PortMCSim.h"

#include <atomic>
#include <dirent.h>
#include <thread>

using namespace std::chrono_literals;

namespace {
int openDescriptors()
{
    int n = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir))
            ++n;
        closedir(dir);
    }
    return n;
}

std::string settingText(CPortMC& link, int32_t id)
{
    CVariant value = CVariant::FromString("");
    std::string text;
    if (link.GetProperty(id, value))
        value.ToText(text);
    return text;
}
}  // namespace

TEST(ManyLinks, ALinkSpendsDescriptorsOnlyOnTheKindItUses)
{
    const int before = openDescriptors();
    auto unchosen = std::make_unique<CPortMC_All>();
    EXPECT_EQ(openDescriptors(), before) << "a link with no IOType holds no descriptor";
    auto tcp = std::make_unique<CPortMC_All>();
    ASSERT_TRUE(tcp->SetPropertyById(CPortMC_All::kIOType, CVariant::FromInt(CPortMC_All::kTcp)));
    EXPECT_LE(openDescriptors() - before, 6) << "only the TCP link's port was made";
}

TEST_F(SimLinkTest, TwoHundredCrateLinksOpenAtOnce)
{
    ASSERT_TRUE(RaiseOpenFileLimit()) << GetLastErr();
    constexpr int kLinks = 200;
    std::vector<std::unique_ptr<CPortMC_All>> links;
    for (int i = 0; i < kLinks; ++i) {
        links.push_back(std::make_unique<CPortMC_All>());
        OpenLink(*links.back(), CPortMC_All::kTcp, 101 + i % 3);
        if (HasFatalFailure())
            return;
    }
    const uint8_t status = 0xEA;
    for (int i = 0; i < kLinks; ++i) {
        uint8_t reply[256];
        int count = sizeof reply;
        ASSERT_TRUE(links[i]->Command(&status, 1, reply, count, 5000)) << "link " << i << ": " << GetLastErr();
        EXPECT_EQ(statusCcbid(reply), 101 + i % 3);
    }
}

TEST(ManyLinks, ThirtyTwoCopiesWhileThePaneWalksKeepEverySetting)
{
    // Each worker copies its own template, as firmware workers copy the
    // window's link; the properties pane walks another link meanwhile.
    constexpr int kWorkers = 32;
    std::vector<std::unique_ptr<CPortMC_All>> sources, targets;
    for (int i = 0; i < kWorkers; ++i) {
        sources.push_back(std::make_unique<CPortMC_All>());
        targets.push_back(std::make_unique<CPortMC_All>());
        CPortMC_All& s = *sources.back();
        ASSERT_TRUE(s.SetPropertyById(CPortMC_All::kIOType, CVariant::FromInt(CPortMC_All::kTcp)));
        ASSERT_TRUE(s.SetProperty("Host", CVariant::FromString("10.0.0." + std::to_string(i))));
        ASSERT_TRUE(s.SetProperty("Port", CVariant::FromUInt16(static_cast<uint16_t>(20000 + i))));
        ASSERT_TRUE(s.SetProperty("CCB ID", CVariant::FromInt(300 + i)));
    }
    auto pane = std::make_unique<CPortMC_All>();
    ASSERT_TRUE(pane->SetPropertyById(CPortMC_All::kIOType, CVariant::FromInt(CPortMC_All::kPrimary)));

    std::atomic<bool> done{false};
    std::thread walker([&] {
        while (!done) {
            _PROPDEF e;
            for (bool more = pane->GetNextProperty(e, true); more; more = pane->GetNextProperty(e, false)) {
            }
        }
    });
    std::vector<std::thread> workers;
    for (int round = 0; round < 20; ++round) {
        workers.clear();
        for (int i = 0; i < kWorkers; ++i)
            workers.emplace_back([&, i] { CopySettings(*sources[i], *targets[i]); });
        for (auto& w : workers)
            w.join();
        for (int i = 0; i < kWorkers; ++i)
            for (const _PROPDEF& e : sources[i]->Properties())
                ASSERT_EQ(settingText(*targets[i], e.id), settingText(*sources[i], e.id))
                    << "worker " << i << " lost \"" << e.name << "\" in round " << round;
    }
    done = true;
    walker.join();
}

TEST_F(SimLinkTest, OwnerClosesTheRingThenTheLinkWhileItsReaderIsBlockedOnIt)
{
    // The link's reader hands every unsolicited frame to a ring that nobody
    // drains: the thread that would drain it is the one tearing down.
    auto ring = std::make_unique<CFifo<int>>(2);
    auto link = std::make_unique<CPortMC_All>();
    OpenLink(*link, CPortMC_All::kTcp, 101);
    struct Reader {
        CFifo<int>* ring;
        std::atomic<int> blockedWrites{0};
        static void OnData(CPortMC* l, void* context)
        {
            auto* r = static_cast<Reader*>(context);
            uint8_t buf[256];
            int n = sizeof buf;
            if (!l->ReceiveFrame(buf, n, 500))
                return;
            ++r->blockedWrites;
            r->ring->Write(n);
        }
    } reader{ring.get()};
    const uint8_t status = 0xEA;
    uint8_t reply[256];
    int count = sizeof reply;
    ASSERT_TRUE(link->Command(&status, 1, reply, count, 5000));
    ASSERT_TRUE(link->AsyncRead(&Reader::OnData, &reader));
    const Bytes e8{0xE8, 0x01};
    for (int i = 0; i < 3; ++i)
        ASSERT_GE(sim.EmitUnsolicited(101, e8), 1);
    for (int i = 0; i < 300 && reader.blockedWrites < 2; ++i)
        std::this_thread::sleep_for(10ms);
    ASSERT_GE(reader.blockedWrites, 2) << "the reader is blocked on the full ring";

    const auto t0 = std::chrono::steady_clock::now();
    ring->Close();
    link->Close();
    link.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 5s);
    EXPECT_FALSE(ring->Write(9)) << "a closed ring refuses writes at once";
    EXPECT_EQ(ring->Count(), 1u) << "the written element is whole, nothing half-written";
}
