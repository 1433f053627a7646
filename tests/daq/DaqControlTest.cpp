// The DAQ window's command thread on the simulated stand: commands return
// at once, their outcome arrives in the events FIFO, the re-initialise pause
// holds only the command thread, and teardown ends a pause early.
#include "DaqClient.h"
#include "support/CapturedOut.h"
#include "VmeStandFixture.h"
#include "daq/DaqControl.h"

#include <chrono>
#include <memory>
#include <thread>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

long MsSince(Clock::time_point start)
{
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

class DaqControlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        unsetenv("TELVANE_VME_LIBRARY");
        Stand().PowerUp();
        Stand().SetRosPresent(false);
    }
    void TearDown() override
    {
        control.reset();
        Stand().PowerUp();
    }
    static CSimVmeStand& Stand() { return CSimVmeStand::Global(); }

    static ListenSettings Loopback()
    {
        ListenSettings s = CDaqServer::DefaultSettings(0);
        s.bindAddress = "127.0.0.1";
        return s;
    }

    // The next event, skipping none; kind CommandDone with ok false and
    // command Close when nothing arrives within 5 s.
    _DAQEVENT Next(int timeoutMs = 5000)
    {
        _DAQEVENT e;
        e.command = DaqCommand::Close;
        EXPECT_TRUE(control->Events().Read(e, timeoutMs)) << "no event\n" << log.Text();
        return e;
    }

    uint16_t OpenOnLoopback()
    {
        EXPECT_TRUE(control->Open(CDaqSettings(), Loopback()));
        const _DAQEVENT done = Next();
        EXPECT_EQ(done.kind, _DAQEVENT::CommandDone);
        EXPECT_EQ(done.command, DaqCommand::Open);
        EXPECT_TRUE(done.ok) << log.Text();
        EXPECT_TRUE(done.open);
        EXPECT_NE(done.port, 0);
        return done.port;
    }

    CCapturedOut log;
    std::unique_ptr<CDaqControl> control = std::make_unique<CDaqControl>(log);
};

}  // namespace

TEST_F(DaqControlTest, OpenClientTrafficAndClose)
{
    const uint16_t port = OpenOnLoopback();
    EXPECT_EQ(log.Text(), "DAQ server opened\r\nListening on 127.0.0.1:" + std::to_string(port) + "\r\n");

    CDaqTestClient client;
    ASSERT_TRUE(client.Connect(port));
    EXPECT_EQ(Next().kind, _DAQEVENT::ClientAdded);
    ASSERT_EQ(control->Clients().size(), 1u);
    EXPECT_TRUE(control->Clients()[0].open);

    // Request payload 11 bytes, reply payload 5 bytes: both reach the
    // counters that the window's rate line drains.
    const Reply r = client.Request(3, ReadRegPayload(CDaqEngine::kPu, 0x14, 0x10));
    EXPECT_EQ(r.status, 1000u);
    EXPECT_EQ(control->ReceivedCounter().load(), 11u);
    EXPECT_EQ(control->SentCounter().load(), 5u);

    ASSERT_TRUE(control->Close());
    const _DAQEVENT closed = Next();
    EXPECT_EQ(closed.command, DaqCommand::Close);
    EXPECT_TRUE(closed.ok);
    EXPECT_FALSE(closed.open);
    EXPECT_EQ(closed.port, 0);
    EXPECT_TRUE(client.ClosedByPeer(2000));
    EXPECT_EQ(control->ReceivedCounter().load(), 0u);
    EXPECT_EQ(control->SentCounter().load(), 0u);
    EXPECT_TRUE(control->Clients().empty());
    const std::string text = log.Text();
    EXPECT_EQ(text.substr(text.size() - std::string("DAQ server closed\r\n").size()), "DAQ server closed\r\n");
    EXPECT_EQ(Stand().OpenHandles(), 0u);
}

TEST_F(DaqControlTest, FailedInitLeavesTheServerClosed)
{
    Stand().InjectBusError(simvme::A24Device, simvme::DelayBase + 0x04, simvme::Access::Read);
    ASSERT_TRUE(control->Open(CDaqSettings(), Loopback()));
    const _DAQEVENT done = Next();
    EXPECT_FALSE(done.ok);
    EXPECT_FALSE(done.open);
    EXPECT_EQ(log.Text(), "DAQ server opened\r\nCDelayBrd::EnableDelay():" +
                              BusErrorText(false, simvme::DelayBase + 4) + "\r\nDAQ server closed\r\n");
    EXPECT_EQ(Stand().OpenHandles(), 0u);
}

TEST_F(DaqControlTest, BusyPortIsAnOpenError)
{
    const uint16_t port = OpenOnLoopback();
    CCapturedOut otherLog;
    CDaqControl other(otherLog);
    ListenSettings s = Loopback();
    s.port = port;
    ASSERT_TRUE(other.Open(CDaqSettings(), s));
    _DAQEVENT done;
    ASSERT_TRUE(other.Events().Read(done, 5000));
    EXPECT_FALSE(done.ok);
    EXPECT_FALSE(done.open);
    EXPECT_EQ(otherLog.Text().rfind("Open Error: ->10048\n", 0), 0u) << otherLog.Text();
}

TEST_F(DaqControlTest, ReinitPausesOnTheCommandThreadAndTakesNewSettings)
{
    const uint16_t port = OpenOnLoopback();
    CDaqSettings moved;
    ASSERT_TRUE(moved.Set(CDaqSettings::TTCvi_BaseAddr, 0x123000));
    const auto start = Clock::now();
    ASSERT_TRUE(control->Reinit(moved));
    EXPECT_LT(MsSince(start), 200) << "posting must not wait for the pause";
    const _DAQEVENT done = Next(CDaqControl::kReinitPauseMs + 5000);
    EXPECT_GE(MsSince(start), CDaqControl::kReinitPauseMs);
    EXPECT_EQ(done.command, DaqCommand::Reinit);
    EXPECT_TRUE(done.ok) << log.Text();
    EXPECT_TRUE(done.open);

    // The TTCvi is no longer where the engine now looks for it.
    CDaqTestClient client;
    ASSERT_TRUE(client.Connect(port));
    const Reply r = client.Request(4, ReadRegPayload(CDaqEngine::kTTCvi, 0, 0x10));
    EXPECT_EQ(r.status, 0xFFFFFFFFu);
    EXPECT_TRUE(log.WaitFor("ReadReg():")) << log.Text();
}

TEST_F(DaqControlTest, ReinitAndResetFailuresPrintTheEngineText)
{
    OpenOnLoopback();
    Stand().InjectBusError(simvme::A24Device, simvme::DelayBase + 0x04, simvme::Access::Read);
    ASSERT_TRUE(control->Reinit(CDaqSettings()));
    const _DAQEVENT reinit = Next(CDaqControl::kReinitPauseMs + 5000);
    EXPECT_FALSE(reinit.ok);
    EXPECT_TRUE(reinit.open) << "a failed re-initialise keeps the server";
    EXPECT_TRUE(log.WaitFor("CDelayBrd::EnableDelay():" + BusErrorText(false, simvme::DelayBase + 4) + "\r\n"));

    // The failed Init closed the devices, so the reset has no bus.
    ASSERT_TRUE(control->VmeReset());
    const _DAQEVENT reset = Next();
    EXPECT_EQ(reset.command, DaqCommand::VmeReset);
    EXPECT_FALSE(reset.ok);
    EXPECT_TRUE(log.WaitFor("CVme::Reset():"));
}

TEST_F(DaqControlTest, ResetOnAnOpenServerSucceedsQuietly)
{
    OpenOnLoopback();
    const std::string before = log.Text();
    ASSERT_TRUE(control->VmeReset());
    const _DAQEVENT reset = Next();
    EXPECT_TRUE(reset.ok) << log.Text();
    EXPECT_EQ(log.Text(), before);
}

TEST_F(DaqControlTest, ReinitWithoutAServerDoesNothing)
{
    const auto start = Clock::now();
    ASSERT_TRUE(control->Reinit(CDaqSettings()));
    const _DAQEVENT done = Next();
    EXPECT_LT(MsSince(start), CDaqControl::kReinitPauseMs);
    EXPECT_FALSE(done.ok);
    EXPECT_FALSE(done.open);
    EXPECT_EQ(log.Text(), "");
    EXPECT_EQ(Stand().OpenHandles(), 0u);
}

TEST_F(DaqControlTest, FullQueueRefusesAndTeardownCutsThePauseShort)
{
    OpenOnLoopback();
    ASSERT_TRUE(control->Reinit(CDaqSettings()));
    // Stop closed the devices: the command thread is in the pause, and the
    // queue fills up behind it.
    const auto waitStart = Clock::now();
    while (Stand().OpenHandles() != 0 && MsSince(waitStart) < 2000)
        std::this_thread::sleep_for(1ms);
    for (size_t i = 0; i < CDaqControl::kCommandSlots; ++i)
        ASSERT_TRUE(control->VmeReset()) << i;
    EXPECT_FALSE(control->VmeReset());
    const auto start = Clock::now();
    control.reset();
    EXPECT_LT(MsSince(start), 1500);
    const std::string text = log.Text();
    EXPECT_EQ(text.substr(text.size() - std::string("DAQ server closed\r\n").size()), "DAQ server closed\r\n");
    EXPECT_EQ(Stand().OpenHandles(), 0u);
}
