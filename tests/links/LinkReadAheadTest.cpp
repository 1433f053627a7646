// Crate links that take more than one frame in a read: over the primary bus
// on a pseudo-terminal and over TCP, with the test playing the crate, and
// against the simulated crates.

#include "PortMCSim.h"

#include "base/Error.h"
#include "links/PortMCFrame.h"
#include "links/PortMC_Pri.h"
#include "links/PortMC_Sec.h"
#include "links/PortMC_Tcp.h"
#include "ports/PortTestUtil.h"

#include <atomic>
#include <chrono>
#include <thread>

using namespace porttest;
using namespace std::chrono_literals;

namespace {

// The crate's end of a link: frames its payloads as the link's path does
// and writes them as one block.
class Crate {
public:
    virtual ~Crate() = default;
    virtual CPortMC& link() = 0;
    virtual bool Open() = 0;
    virtual Bytes Frame(const Bytes& payload) const = 0;
    // Reads the link's next command frame and returns its payload.
    virtual Bytes TakeCommand() = 0;
    void Send(const Bytes& bytes, bool settle = true) const { SendToNearEnd(peer(), bytes, settle); }

protected:
    virtual int peer() const = 0;
};

class PrimaryCrate : public Crate {
public:
    CPortMC& link() override { return *m_link; }
    bool Open() override
    {
        return m_link->SetProperty("ComName", CVariant::FromString(m_pty.path())) && m_link->Open();
    }
    Bytes Frame(const Bytes& payload) const override
    {
        Bytes frame;
        mcframe::BuildSerialFrame(payload.data(), static_cast<int>(payload.size()), frame);
        return frame;
    }
    Bytes TakeCommand() override
    {
        const Bytes head = m_pty.Receive(2);
        if (head.size() != 2)
            return {};
        const Bytes rest = m_pty.Receive(head[1]);
        return rest.size() < 2 ? Bytes{} : Bytes(rest.begin(), rest.end() - 2);
    }

protected:
    int peer() const override { return m_pty.master(); }

private:
    PtyPair m_pty;
    std::unique_ptr<CPortMC_Pri> m_link = std::make_unique<CPortMC_Pri>();
};

class TcpCrate : public Crate {
public:
    TcpCrate()
    {
        // The crate server's own wait would add 2 s to each time-out below.
        m_link->SetProperty("Timeout", CVariant::FromInt(0));
        m_link->SetProperty("Host", CVariant::FromString("127.0.0.1"));
        m_link->SetProperty("Port", CVariant::FromUInt16(m_farEnd.port()));
        m_link->SetProperty("CCB ID", CVariant::FromInt(101));
    }
    CPortMC& link() override { return *m_link; }
    bool Open() override { return m_link->Open() && m_link->WaitUntilOpen(5000) && m_farEnd.Accept(); }
    Bytes Frame(const Bytes& payload) const override
    {
        const auto head = mcframe::BuildTcpHead(101, static_cast<uint32_t>(payload.size()), 0);
        Bytes frame(head.begin(), head.end());
        frame.insert(frame.end(), payload.begin(), payload.end());
        return frame;
    }
    Bytes TakeCommand() override
    {
        uint8_t head[mcframe::kTcpHeadSize];
        mcframe::TcpHead h;
        if (!ReadAll(m_farEnd.fd(), head, sizeof head) || !mcframe::ParseTcpHead(head, h))
            return {};
        Bytes payload(h.length - mcframe::kTcpHeadSize);
        return ReadAll(m_farEnd.fd(), payload.data(), payload.size()) ? payload : Bytes{};
    }

protected:
    int peer() const override { return m_farEnd.fd(); }

private:
    TcpFarEnd m_farEnd;
    std::unique_ptr<CPortMC_Tcp> m_link = std::make_unique<CPortMC_Tcp>();
};

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

// One ReceiveFrame: the payload, or empty with the error in `error`.
Bytes Receive(CPortMC& link, int timeoutMs, uint32_t* error = nullptr)
{
    Bytes payload(256);
    int n = static_cast<int>(payload.size());
    const bool ok = link.ReceiveFrame(payload.data(), n, timeoutMs);
    if (error)
        *error = ok ? err::Success : GetLastErr();
    payload.resize(ok ? static_cast<size_t>(n) : 0);
    return payload;
}

// Frames the link's reader thread received.
struct LinkReader {
    Collected<Bytes> frames;
    std::atomic<int> calls{0};

    static void OnData(CPortMC* link, void* context)
    {
        auto* self = static_cast<LinkReader*>(context);
        ++self->calls;
        self->frames.Add(Receive(*link, 500));
    }
};

const Bytes kFirst{0xE8, 0x01, 0x02, 0x03};
const Bytes kSecond{0xE8, 0x04};

class LinkReadAhead : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override
    {
        if (std::string(GetParam()) == "primary")
            crate = std::make_unique<PrimaryCrate>();
        else
            crate = std::make_unique<TcpCrate>();
        ASSERT_TRUE(crate->Open()) << GetLastErr();
    }
    void TearDown() override { crate->link().Close(); }

    std::unique_ptr<Crate> crate;
};

}  // namespace

TEST_P(LinkReadAhead, TwoFramesInOneReadAreTwoFrames)
{
    crate->Send(Concat({crate->Frame(kFirst), crate->Frame(kSecond)}));
    EXPECT_EQ(Receive(crate->link(), 500), kFirst);
    EXPECT_EQ(Receive(crate->link(), 500), kSecond) << GetLastErr();
    uint32_t error;
    EXPECT_EQ(Receive(crate->link(), 50, &error), Bytes{});
    EXPECT_EQ(error, err::Timeout);
}

TEST_P(LinkReadAhead, AFrameSplitOverManyReadsArrivesWhole)
{
    const Bytes frame = crate->Frame(kFirst);
    std::thread sender([&] {
        for (uint8_t byte : frame) {
            crate->Send({byte}, false);
            std::this_thread::sleep_for(2ms);
        }
    });
    EXPECT_EQ(Receive(crate->link(), 1000), kFirst) << GetLastErr();
    sender.join();
}

TEST_P(LinkReadAhead, AFrameFollowedByTheStartOfTheNext)
{
    const Bytes second = crate->Frame(kSecond);
    crate->Send(Concat({crate->Frame(kFirst), Bytes(second.begin(), second.begin() + 3)}));
    EXPECT_EQ(Receive(crate->link(), 500), kFirst);
    std::thread rest([&] {
        std::this_thread::sleep_for(50ms);
        crate->Send(Bytes(second.begin() + 3, second.end()));
    });
    EXPECT_EQ(Receive(crate->link(), 500), kSecond) << GetLastErr();
    rest.join();
}

TEST_P(LinkReadAhead, ReopeningDropsWhatWasReadAhead)
{
    crate->Send(Concat({crate->Frame(kFirst), crate->Frame(kSecond)}));
    EXPECT_EQ(Receive(crate->link(), 500), kFirst);
    crate->link().Close();
    ASSERT_TRUE(crate->Open()) << GetLastErr();
    uint32_t error;
    EXPECT_EQ(Receive(crate->link(), 50, &error), Bytes{});
    EXPECT_EQ(error, err::Timeout);
}

TEST_P(LinkReadAhead, TheReaderGetsTheFrameThatCameWithACommandsReply)
{
    LinkReader reader;
    ASSERT_TRUE(crate->link().AsyncRead(&LinkReader::OnData, &reader)) << GetLastErr();
    std::thread board([&] {
        const Bytes command = crate->TakeCommand();
        ASSERT_EQ(command.size(), 3u);
        // The reply and an unsolicited frame in one block.
        crate->Send(Concat({crate->Frame({0xEC, command[1], 0xFC, 0xED}), crate->Frame(kFirst)}), false);
    });
    const uint8_t protect[] = {0xED};
    uint8_t reply[16];
    int count = sizeof reply;
    EXPECT_TRUE(crate->link().Command(protect, 1, reply, count, 1000)) << GetLastErr();
    board.join();
    EXPECT_EQ(Bytes(reply, reply + count), (Bytes{0xFC, 0xED}));
    EXPECT_EQ(reader.frames.WaitFor(1), std::vector<Bytes>{kFirst});
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(reader.calls, 1);
}

INSTANTIATE_TEST_SUITE_P(Paths, LinkReadAhead, ::testing::Values("primary", "tcp"),
                         [](const auto& info) { return std::string(info.param); });

TEST(LinkReadAheadSecondary, SelectingABoardDropsWhatWasReadAhead)
{
    PtyPair pty;
    auto link = std::make_unique<CPortMC_Sec>();
    ASSERT_TRUE(link->SetProperty("ComName", CVariant::FromString(pty.path())));
    ASSERT_TRUE(link->SetProperty("CCB ID", CVariant::FromInt(20102)));
    ASSERT_TRUE(link->Open()) << GetLastErr();
    Bytes stale, frame;
    mcframe::BuildSerialFrame(kFirst.data(), static_cast<int>(kFirst.size()), stale);
    mcframe::BuildSerialFrame(kSecond.data(), static_cast<int>(kSecond.size()), frame);
    stale.insert(stale.end(), frame.begin(), frame.end());
    pty.Send(stale);
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(Receive(*link, 500), kFirst);
    // The board selection changes the parity twice; what came before it
    // cannot be the next board's reply.
    ASSERT_TRUE(link->SendFrame(kSecond.data(), static_cast<int>(kSecond.size()), 100)) << GetLastErr();
    uint32_t error;
    EXPECT_EQ(Receive(*link, 50, &error), Bytes{});
    EXPECT_EQ(error, err::Timeout);
    link->Close();
}

class LinkReadAheadSim : public SimLinkTest, public ::testing::WithParamInterface<int> {};

TEST_P(LinkReadAheadSim, FramesTakenWhileTheReaderPausedReachIt)
{
    auto owned = std::make_unique<CPortMC_All>();
    CPortMC_All& link = *owned;
    OpenLink(link, GetParam(), 101);
    // The crate server learns which board this client talks to.
    uint8_t reply[256];
    int count = sizeof reply;
    const uint8_t status = 0xEA;
    ASSERT_TRUE(link.Command(&status, 1, reply, count, 1000)) << GetLastErr();

    LinkReader reader;
    ASSERT_TRUE(link.AsyncRead(&LinkReader::OnData, &reader)) << GetLastErr();
    ASSERT_TRUE(link.PauseReader()) << GetLastErr();
    const Bytes third{0xE8, 0x07, 0x08};
    for (const Bytes* frame : {&kFirst, &kSecond, &third})
        ASSERT_GE(sim.EmitUnsolicited(101, *frame), 1);
    std::this_thread::sleep_for(100ms);
    // A synchronous read takes the first; what it read ahead stays for the reader.
    EXPECT_EQ(Receive(link, 500), kFirst);
    EXPECT_EQ(reader.calls, 0);
    ASSERT_TRUE(link.ResumeReader());
    EXPECT_EQ(reader.frames.WaitFor(2), (std::vector<Bytes>{kSecond, third}));
    count = sizeof reply;
    EXPECT_TRUE(link.Command(&status, 1, reply, count, 1000)) << GetLastErr();
    EXPECT_EQ(reader.calls, 2);
}

INSTANTIATE_TEST_SUITE_P(Paths, LinkReadAheadSim, ::testing::Values(CPortMC_All::kPrimary, CPortMC_All::kTcp),
                         [](const auto& info) { return info.param == CPortMC_All::kPrimary ? "primary" : "tcp"; });
