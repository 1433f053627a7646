// Crate links against the simulated crates over all three paths.

#include "PortMCSim.h"

#include "base/Error.h"
#include "links/PortMCFrame.h"

#include <atomic>
#include <chrono>
#include <thread>

using namespace std::chrono_literals;

namespace {

const Bytes kStatus{0xEA};
const Bytes kProtectOn{0xED, 0x01};

struct PathCase {
    const char* name;
    int ioType;
    int ccbid;  // the board addressed on that path
};

const PathCase kPaths[] = {
    {"primary", CPortMC_All::kPrimary, 101},
    {"secondary", CPortMC_All::kSecondary, 20102},
    {"tcp", CPortMC_All::kTcp, 101},
};

CSimBoard* boardOf(CSimSystem& sim, const PathCase& p)
{
    return p.ioType == CPortMC_All::kSecondary ? sim.BoardBySecondaryAddress(static_cast<uint16_t>(p.ccbid))
                                               : sim.Board(static_cast<uint16_t>(p.ccbid));
}

bool command(CPortMC& link, const Bytes& cmd, Bytes& reply, int timeoutMs = 1000)
{
    reply.assign(256, 0);
    int n = static_cast<int>(reply.size());
    bool ok = link.Command(cmd.data(), static_cast<int>(cmd.size()), reply.data(), n, timeoutMs);
    reply.resize(static_cast<size_t>(n));
    return ok;
}

}  // namespace

class PortMCPaths : public SimLinkTest, public ::testing::WithParamInterface<PathCase> {};

TEST_P(PortMCPaths, StatusCommandAndSequenceNumbers)
{
    auto owned = std::make_unique<CPortMC_All>();
    CPortMC_All& link = *owned;
    OpenLink(link, GetParam().ioType, GetParam().ccbid);
    TrafficLog log;
    link.SetMonitor(&log, &TrafficLog::Hook);
    Bytes reply;
    ASSERT_TRUE(command(link, kStatus, reply)) << GetLastErr();
    ASSERT_EQ(reply.size(), 201u);
    EXPECT_EQ(reply[0], 0x13);
    EXPECT_EQ(statusCcbid(reply.data()), boardOf(sim, GetParam())->Ccbid());
    ASSERT_TRUE(command(link, kProtectOn, reply));
    EXPECT_EQ(reply, (Bytes{0xFC, 0xED}));

    std::lock_guard g(log.lock);
    ASSERT_EQ(log.sent.size(), 2u);
    EXPECT_EQ(log.sent[0], (Bytes{0xEC, 0x00, 0xEA}));
    EXPECT_EQ(log.sent[1], (Bytes{0xEC, 0x01, 0xED, 0x01})) << "the sequence number counts up";
    ASSERT_EQ(log.received.size(), 2u);
    EXPECT_EQ(log.received[1], (Bytes{0xEC, 0x01, 0xFC, 0xED}));
}

TEST_P(PortMCPaths, InjectedFaultsGiveTheirErrorAndTheNextCommandWorks)
{
    auto owned = std::make_unique<CPortMC_All>();
    CPortMC_All& link = *owned;
    OpenLink(link, GetParam().ioType, GetParam().ccbid);
    CSimBoard* board = boardOf(sim, GetParam());
    board->Faults().SetLateMs(400);
    const bool tcp = GetParam().ioType == CPortMC_All::kTcp;
    struct FaultCase {
        SimFault fault;
        bool ok;
        uint32_t error;
        Bytes reply;
    };
    const FaultCase cases[] = {
        {SimFault::LostReply, false, 1460, {}},
        {SimFault::StaleSequence, false, 13, {}},
        {SimFault::BadCrc, false, 13, {}},
        {SimFault::Busy, true, 0, {'?'}},
        {SimFault::Noise, true, 0, {0xFC, 0xED}},
        {SimFault::LateReply, false, 1460, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.fault));
        if (tcp && c.fault == SimFault::Noise)
            continue;  // no noise on a byte stream
        board->Faults().Set(c.fault, 1);
        Bytes reply;
        const bool ok = command(link, kProtectOn, reply, 200);
        EXPECT_EQ(ok, c.ok);
        EXPECT_EQ(GetLastErr(), c.error);
        if (c.ok) {
            EXPECT_EQ(reply, c.reply);
        }
        if (c.fault == SimFault::LateReply)
            std::this_thread::sleep_for(500ms);  // the late reply has arrived by now
        ASSERT_TRUE(command(link, kProtectOn, reply)) << "after the fault: " << GetLastErr();
        EXPECT_EQ(reply, (Bytes{0xFC, 0xED}));
    }
}

TEST_P(PortMCPaths, ReplyLargerThanTheBufferTellsTheSize)
{
    auto owned = std::make_unique<CPortMC_All>();
    CPortMC_All& link = *owned;
    OpenLink(link, GetParam().ioType, GetParam().ccbid);
    uint8_t small[10];
    int n = sizeof small;
    EXPECT_FALSE(link.Command(kStatus.data(), 1, small, n, 1000));
    EXPECT_EQ(GetLastErr(), 234u);
    EXPECT_EQ(n, 201);

    const Bytes tooLong(239, 0x00);
    n = sizeof small;
    EXPECT_FALSE(link.Command(tooLong.data(), 239, small, n, 1000));
    EXPECT_EQ(GetLastErr(), 87u);
    Bytes reply;
    EXPECT_TRUE(command(link, kProtectOn, reply)) << GetLastErr();
}

TEST_P(PortMCPaths, TwoThreadsCommandingOneLinkGetTheirOwnReplies)
{
    auto owned = std::make_unique<CPortMC_All>();
    CPortMC_All& link = *owned;
    OpenLink(link, GetParam().ioType, GetParam().ccbid);
    std::atomic<int> failures{0};
    auto worker = [&](uint8_t tag) {
        for (int i = 0; i < 25; ++i) {
            const uint8_t value = static_cast<uint8_t>(tag + i);
            Bytes reply;
            if (!command(link, {0xFE, 0x00, 0x40, tag, value}, reply) || reply != Bytes{0xFC, 0xFE})
                ++failures;
            if (!command(link, {0xF5, 0x00, 0x40, tag, 0, 0, 1}, reply) ||
                reply != Bytes{0xF4, 0x00, 0x40, tag, value})
                ++failures;
        }
    };
    std::thread a(worker, 0x10), b(worker, 0x80);
    a.join();
    b.join();
    EXPECT_EQ(failures, 0);
}

TEST_P(PortMCPaths, UnsolicitedFramesAreReadOnlyBetweenCommands)
{
    auto owned = std::make_unique<CPortMC_All>();
    CPortMC_All& link = *owned;
    OpenLink(link, GetParam().ioType, GetParam().ccbid);
    Bytes reply;
    ASSERT_TRUE(command(link, kStatus, reply));  // the servers learn which board this client talks to

    struct Reader {
        std::mutex lock;
        std::vector<Bytes> frames;
        std::atomic<int> calls{0};
        static void OnData(CPortMC* l, void* context)
        {
            auto* r = static_cast<Reader*>(context);
            ++r->calls;
            uint8_t buf[256];
            int n = sizeof buf;
            if (l->ReceiveFrame(buf, n, 500)) {
                std::lock_guard g(r->lock);
                r->frames.emplace_back(buf, buf + n);
            }
        }
    } reader;
    ASSERT_TRUE(link.AsyncRead(&Reader::OnData, &reader)) << GetLastErr();

    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(command(link, kProtectOn, reply)) << GetLastErr();
        EXPECT_EQ(reply, (Bytes{0xFC, 0xED}));
    }
    EXPECT_EQ(reader.calls, 0) << "replies are read by the commands, not by the reader";

    if (GetParam().ioType == CPortMC_All::kSecondary)
        return;  // a secondary board never speaks unasked
    const Bytes e8{0xE8, 0x01, 0x02, 0x03};
    ASSERT_GE(sim.EmitUnsolicited(boardOf(sim, GetParam())->Ccbid(), e8), 1);
    for (int i = 0; i < 200; ++i) {
        {
            std::lock_guard g(reader.lock);
            if (!reader.frames.empty())
                break;
        }
        std::this_thread::sleep_for(10ms);
    }
    {
        std::lock_guard g(reader.lock);
        ASSERT_EQ(reader.frames.size(), 1u);
        EXPECT_EQ(reader.frames[0], e8);
    }
    ASSERT_TRUE(command(link, kProtectOn, reply)) << GetLastErr();
}

INSTANTIATE_TEST_SUITE_P(AllPaths, PortMCPaths, ::testing::ValuesIn(kPaths),
                         [](const auto& info) { return std::string(info.param.name); });

using PortMCLink = SimLinkTest;

TEST_F(PortMCLink, PayloadLimitOnSend)
{
    auto owned = std::make_unique<CPortMC_All>();
    CPortMC_All& link = *owned;
    OpenLink(link, CPortMC_All::kPrimary, 101);
    TrafficLog log;
    link.SetMonitor(&log, &TrafficLog::Hook);
    Bytes payload(241, 0x00);
    EXPECT_FALSE(link.SendFrame(payload.data(), 241, 100));
    EXPECT_EQ(GetLastErr(), 87u);
    EXPECT_TRUE(link.SendFrame(payload.data(), 240, 100)) << GetLastErr();
    std::lock_guard g(log.lock);
    ASSERT_EQ(log.sent.size(), 1u);
    EXPECT_EQ(log.sent[0].size(), 240u);
}

TEST_F(PortMCLink, SilentLineTimesOut)
{
    auto owned = std::make_unique<CPortMC_All>();
    CPortMC_All& link = *owned;
    OpenLink(link, CPortMC_All::kSecondary, 29999);  // nobody has this address
    Bytes reply;
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(command(link, kStatus, reply, 150));
    EXPECT_EQ(GetLastErr(), 1460u);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 150ms);
}

TEST_F(PortMCLink, PrimaryBridgeModes)
{
    auto owned = std::make_unique<CPortMC_All>();
    CPortMC_All& link = *owned;
    OpenLink(link, CPortMC_All::kPrimary, 101);
    TrafficLog log;
    link.SetMonitor(&log, &TrafficLog::Hook);
    ASSERT_TRUE(link.SetProperty("Dest. ID", CVariant::FromInt(102)));
    ASSERT_TRUE(link.SetProperty("Bridge", CVariant::FromInt(2)));
    Bytes reply;
    ASSERT_TRUE(command(link, kStatus, reply)) << GetLastErr();
    EXPECT_EQ(statusCcbid(reply.data()), 102);

    ASSERT_TRUE(link.SetPropertyById(CPortMC_Pri::kDestId, CVariant::FromString("103")));
    ASSERT_TRUE(link.SetPropertyById(CPortMC_Pri::kBridge, CVariant::FromInt(1)));
    ASSERT_TRUE(command(link, kStatus, reply)) << GetLastErr();
    EXPECT_EQ(statusCcbid(reply.data()), 103);

    std::lock_guard g(log.lock);
    ASSERT_EQ(log.sent.size(), 3u);
    EXPECT_EQ(log.sent[0], (Bytes{0xEC, 0x00, 0xDE, 0x00, 102, 0xEA}));
    EXPECT_EQ(log.sent[1], (Bytes{0xEC, 0x02, 0xDF, 0x00, 103})) << "mode 1 selects first, unbridged";
    EXPECT_EQ(log.sent[2], (Bytes{0xEC, 0x01, 0xDE, 0x00, 0x00, 0xEA}));
}

TEST_F(PortMCLink, TcpBridgeAndCommandCcbid)
{
    auto owned = std::make_unique<CPortMC_All>();
    CPortMC_All& link = *owned;
    OpenLink(link, CPortMC_All::kTcp, 101);
    ASSERT_TRUE(link.SetProperty("Bridge", CVariant::FromInt(2)));
    ASSERT_TRUE(link.SetProperty("Dest. ID", CVariant::FromInt(103)));
    Bytes reply;
    ASSERT_TRUE(command(link, kStatus, reply)) << GetLastErr();
    EXPECT_EQ(statusCcbid(reply.data()), 103);

    ASSERT_TRUE(link.SetProperty("Bridge", CVariant::FromInt(0)));
    reply.assign(256, 0);
    int n = 256;
    ASSERT_TRUE(link.Command(kStatus.data(), 1, reply.data(), n, 1000, 102));
    EXPECT_EQ(statusCcbid(reply.data()), 102) << "a ccbid other than -1 becomes the link's CCB ID";
    CVariant v;
    ASSERT_TRUE(link.GetProperty(CPortMC_Tcp::kCcbId, v));
    EXPECT_EQ(v.number(), 102);
}

TEST_F(PortMCLink, TcpStatusMinusOneCopiesThePayloadAndTimesOut)
{
    auto owned = std::make_unique<CPortMC_All>();
    CPortMC_All& link = *owned;
    OpenLink(link, CPortMC_All::kTcp, 101);
    sim.Board(101)->Faults().Set(SimFault::LostReply, 1);
    const Bytes payload{0xEC, 0x33, 0xEA};
    ASSERT_TRUE(link.SendFrame(payload.data(), 3, 100));
    uint8_t buf[16] = {};
    int n = sizeof buf;
    EXPECT_FALSE(link.ReceiveFrame(buf, n, 100));
    EXPECT_EQ(GetLastErr(), 1460u);
    ASSERT_EQ(n, 1);
    EXPECT_EQ(buf[0], 0x02);
}

TEST_F(PortMCLink, TcpDroppedConnectionClosesTheLink)
{
    auto owned = std::make_unique<CPortMC_All>();
    CPortMC_All& link = *owned;
    OpenLink(link, CPortMC_All::kTcp, 101);
    sim.Board(101)->Faults().Set(SimFault::DropConnection, 1);
    Bytes reply;
    EXPECT_FALSE(command(link, kStatus, reply));
    EXPECT_EQ(GetLastErr(), 10054u);
    EXPECT_FALSE(link.IsOpen());
    ASSERT_TRUE(link.Open());
    ASSERT_TRUE(link.WaitUntilOpen(5000));
    EXPECT_TRUE(command(link, kStatus, reply)) << GetLastErr();
}

TEST_F(PortMCLink, SecondarySelectsOncePerBoardWithinTwoSeconds)
{
    auto owned = std::make_unique<CPortMC_All>();
    CPortMC_All& link = *owned;
    OpenLink(link, CPortMC_All::kSecondary, 20101);
    CSimBus* bus = sim.SecondaryBus();
    Bytes reply;
    ASSERT_TRUE(command(link, kStatus, reply)) << GetLastErr();
    ASSERT_TRUE(command(link, kStatus, reply));
    EXPECT_EQ(bus->Selections(), 1) << "same board within 2 s: one selection";
    EXPECT_EQ(statusCcbid(reply.data()), 101);

    ASSERT_TRUE(link.SetProperty("CCB ID", CVariant::FromInt(31103)));
    ASSERT_TRUE(command(link, kStatus, reply));
    EXPECT_EQ(bus->Selections(), 2) << "another board: a new selection";
    EXPECT_EQ(statusCcbid(reply.data()), 103);

    int n = 256;
    reply.assign(256, 0);
    ASSERT_TRUE(link.Command(kStatus.data(), 1, reply.data(), n, 1000, 20101));
    EXPECT_EQ(statusCcbid(reply.data()), 101) << "the command's ccbid selects the board";
    EXPECT_EQ(bus->Selections(), 3);

    std::this_thread::sleep_for(2100ms);
    ASSERT_TRUE(command(link, kStatus, reply));
    EXPECT_EQ(bus->Selections(), 4) << "after 2 s the board is selected again";

    CVariant parity = CVariant::FromString("");
    ASSERT_TRUE(link.GetProperty(4, parity));
    EXPECT_EQ(parity.text(), "Space") << "frames go out with space parity";
}

TEST_F(PortMCLink, McListAddressingFromTheSimulatorsCatalogue)
{
    const std::string path = ::testing::TempDir() + "telvane_sim_catalogue.xml";
    ASSERT_TRUE(sim.WriteCatalogue(path));
    auto owned = std::make_unique<CPortMC_All>();
    CPortMC_All& link = *owned;
    ASSERT_TRUE(link.SetPropertyById(CPortMC_All::kIOType, CVariant::FromInt(3)));
    ASSERT_TRUE(link.SetProperty("CCB ID Mode", CVariant::FromInt(1)));
    ASSERT_TRUE(link.SetProperty("MC List", CVariant::FromString(path)));
    ASSERT_TRUE(link.SetProperty("Wheel", CVariant::FromInt(0)));
    ASSERT_TRUE(link.SetProperty("Sector", CVariant::FromInt(1)));
    ASSERT_TRUE(link.SetProperty("MC Type", CVariant::FromInt(2)));
    ASSERT_TRUE(link.Open()) << GetLastErr();
    ASSERT_TRUE(link.WaitUntilOpen(5000));
    Bytes reply;
    ASSERT_TRUE(command(link, kStatus, reply)) << GetLastErr();
    EXPECT_EQ(statusCcbid(reply.data()), 102);
    CVariant v;
    link.GetProperty(CPortMC_Tcp::kCcbId, v);
    EXPECT_EQ(v.number(), 102);
    link.GetProperty(CPortIO_Socket::kPort, v);
    EXPECT_EQ(v.number(), sim.CrateServerPort());

    // Bridge to MB1 of the same sector: Dest. ID from the catalogue.
    ASSERT_TRUE(link.SetProperty("Bridge", CVariant::FromInt(2)));
    ASSERT_TRUE(link.SetProperty("Dest. MC", CVariant::FromInt(1)));
    ASSERT_TRUE(link.SetPropertyById(612, CVariant::FromInt(0)));
    link.GetProperty(CPortMC_Tcp::kDestId, v);
    EXPECT_EQ(v.number(), 101);
    ASSERT_TRUE(command(link, kStatus, reply)) << GetLastErr();
    EXPECT_EQ(statusCcbid(reply.data()), 101);

    // The secondary bus server of sectors 7 to 12 reaches YB+1 S8 MB1.
    link.Close();
    ASSERT_TRUE(link.SetProperty("Port Type", CVariant::FromInt(3)));
    ASSERT_TRUE(link.SetProperty("Wheel", CVariant::FromInt(1)));
    ASSERT_TRUE(link.SetProperty("Sector", CVariant::FromInt(8)));
    ASSERT_TRUE(link.SetProperty("MC Type", CVariant::FromInt(1)));
    EXPECT_THROW(link.Open(), CMcListError) << "no crate at YB+1 S7 MB1 names the server";
}

TEST_F(PortMCLink, McListFailuresAreReportedClearly)
{
    const std::string path = ::testing::TempDir() + "telvane_sim_catalogue2.xml";
    ASSERT_TRUE(sim.WriteCatalogue(path));
    auto owned = std::make_unique<CPortMC_Tcp>();
    CPortMC_Tcp& link = *owned;
    link.SetProperty("CCB ID Mode", CVariant::FromInt(1));
    link.SetProperty("MC List", CVariant::FromString(path));
    link.SetProperty("Sector", CVariant::FromInt(5));
    try {
        link.Open();
        FAIL() << "no crate at YB0 S5 MB1";
    } catch (const CMcListError& e) {
        EXPECT_STREQ(e.what(), "No crate YB0 S5 MB1 in the crate list");
    }
    link.SetProperty("Sector", CVariant::FromInt(1));
    link.SetProperty("Bridge", CVariant::FromInt(1));
    EXPECT_THROW(link.SetPropertyById(612, CVariant::FromInt(1)), CMcListError) << "Dest. MC equals MC Type";

    auto missingOwned = std::make_unique<CPortMC_Tcp>();
    CPortMC_Tcp& missing = *missingOwned;
    missing.SetProperty("CCB ID Mode", CVariant::FromInt(1));
    missing.SetProperty("MC List", CVariant::FromString(::testing::TempDir() + "no_such_list.xml"));
    EXPECT_FALSE(missing.Open());
    EXPECT_EQ(GetLastErr(), 2u);
}
