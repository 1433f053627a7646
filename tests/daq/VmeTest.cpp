#include "VmeStandFixture.h"
#include "daq/DelayBrd.h"
#include "daq/Pu.h"
#include "daq/Ros.h"

#include <atomic>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;

namespace {
constexpr uint32_t kPu = simvme::PuBase;

TEST_F(VmeStandTest, OpensBothAddressSpacesOfTheStand)
{
    EXPECT_TRUE(vme.IsOpen());
    EXPECT_EQ(vme.DriverPath(), "") << "no library named: the simulated stand";
    CVme a16;
    ASSERT_TRUE(a16.Init(simvme::A16Device)) << a16.ErrorText();
    ASSERT_TRUE(a16.Write16(simvme::PatGen2Base + 0x0E, 0xBEEF));
    uint16_t value = 0;
    ASSERT_TRUE(a16.Read16(simvme::PatGen2Base + 0x0E, value));
    EXPECT_EQ(value, 0xBEEF);
    EXPECT_FALSE(a16.Read16(kPu, value)) << "the PU is not in the 16-bit space";
    EXPECT_EQ(Stand().OpenHandles(), 2u);
    a16.Close();
    EXPECT_EQ(Stand().OpenHandles(), 1u);
}

TEST_F(VmeStandTest, ReinitClosesTheOldHandleFirst)
{
    ASSERT_TRUE(vme.Init(simvme::A24Device));
    EXPECT_EQ(Stand().OpenHandles(), 1u);
}

TEST_F(VmeStandTest, InitOfAnUnknownDeviceReportsBtOpen)
{
    CVme other;
    EXPECT_FALSE(other.Init(7));
    EXPECT_FALSE(other.IsOpen());
    EXPECT_EQ(other.Status(), simvme::NoDevice);
    EXPECT_EQ(other.ErrorText(), "CVme::Init():bt_open(): Error 2\r\nNo such VME adapter device\r\n");
}

TEST_F(VmeStandTest, FailedAccessesCarryTheAddressAndDriverText)
{
    uint16_t value = 0;
    EXPECT_FALSE(vme.Read16(0x123456, value));
    EXPECT_EQ(vme.Status(), simvme::BusError);
    EXPECT_EQ(vme.ErrorText(), BusErrorText(false, 0x123456));
    EXPECT_FALSE(vme.Write32(0xB00000, 1));
    EXPECT_EQ(vme.ErrorText(), BusErrorText(true, 0xB00000));
    EXPECT_TRUE(vme.Read16(kPu + 0x2C, value));
    EXPECT_EQ(vme.Status(), 0);
    EXPECT_EQ(vme.ErrorText(), "") << "a success empties the text";
}

TEST_F(VmeStandTest, AccessesOnAClosedDeviceFailCleanly)
{
    vme.Close();
    uint16_t value = 0;
    EXPECT_FALSE(vme.Read16(kPu, value));
    EXPECT_EQ(vme.Status(), 6);
    EXPECT_EQ(vme.ErrorText(), "CVme::Read(A0000): Error 6\r\nBad file descriptor\r\n");
    EXPECT_FALSE(vme.Reset());
    EXPECT_EQ(vme.ErrorText(), "CVme::Reset():bt_get_info(): Error 6\r\nBad file descriptor\r\n");
    EXPECT_FALSE(vme.Install_ICBR([](void*, int, uint32_t) {}, nullptr));
    EXPECT_EQ(vme.ErrorText(), "CVme::Install_ICBR(): Error 6\r\nBad file descriptor\r\n");
}

TEST_F(VmeStandTest, InstallOfANullCallbackIsRefused)
{
    EXPECT_FALSE(vme.Install_ICBR(nullptr, nullptr));
    EXPECT_EQ(vme.ErrorText(), "CVme::Install_ICBR(): Error 4\r\nInvalid parameter\r\n");
    EXPECT_EQ(Stand().InstalledCallbacks(), 0u);
}

TEST_F(VmeStandTest, ResetWaitsTheDriversDelayAndResetsTheBoards)
{
    ASSERT_TRUE(vme.Write16(kPu + 0x3E, 0xFF));
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(vme.Reset()) << vme.ErrorText();
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(simvme::ResetDelayMs));
    EXPECT_EQ(Reg16(kPu + 0x3E), 0);
}

// Records the interrupts a callback receives and on which thread.
struct InterruptLog {
    std::atomic<int> calls{0};
    std::atomic<int> type{0};
    std::atomic<uint32_t> vector{0};
    std::atomic<bool> onCallerThread{false};
    std::thread::id caller = std::this_thread::get_id();
    CEvent called{true};

    static void Callback(void* context, int irqType, uint32_t vec)
    {
        auto* log = static_cast<InterruptLog*>(context);
        log->type = irqType;
        log->vector = vec;
        if (std::this_thread::get_id() == log->caller)
            log->onCallerThread = true;
        ++log->calls;
        log->called.Set();
    }
};

class InterruptTest : public VmeStandTest {
protected:
    void Arm()
    {
        ASSERT_TRUE(delay.WrVector()) << delay.ErrorText();
        ASSERT_TRUE(delay.EnableIRQ(0, true)) << delay.ErrorText();
        ASSERT_TRUE(delay.ClearBusy()) << delay.ErrorText();
    }

    CPu pu{vme};
    CDelayBrd delay{vme};
    InterruptLog log;
};

TEST_F(InterruptTest, TriggerRaisesType3OnTheCallbackThreadWithAFreshEvent)
{
    Stand().SetEventSize(3);
    ASSERT_TRUE(vme.Install_ICBR(&InterruptLog::Callback, &log)) << vme.ErrorText();
    Arm();
    ASSERT_TRUE(log.called.Wait(5000));
    EXPECT_EQ(log.calls.load(), 1);
    EXPECT_EQ(log.type.load(), 3);
    EXPECT_EQ(log.vector.load(), 0x55u);
    EXPECT_FALSE(log.onCallerThread.load());

    bool ready = false;
    ASSERT_TRUE(pu.RdRunState(ready));
    EXPECT_TRUE(ready);
    uint16_t n = 0;
    ASSERT_TRUE(pu.RdEvCnt(n));
    EXPECT_EQ(n, 2);
    ASSERT_TRUE(pu.ReadAllFifo(n + 1u));
    for (int r = 0; r < 3; ++r) {
        const CSimVmePu::Record rec = CSimVmeStand::EventRecord(1, r);
        EXPECT_EQ(pu.FifoWords()[static_cast<size_t>(r) * 4], uint32_t(rec[1]) << 16 | rec[0]);
        EXPECT_EQ(pu.FifoWords()[static_cast<size_t>(r) * 4 + 3], uint32_t(rec[7]) << 16 | rec[6]);
    }
}

TEST_F(InterruptTest, NoInterruptWhileBusyOrDisabled)
{
    Stand().SetTriggerDelay(0ms);
    ASSERT_TRUE(vme.Install_ICBR(&InterruptLog::Callback, &log));
    ASSERT_TRUE(delay.EnableIRQ(0, true));
    EXPECT_FALSE(log.called.Wait(50)) << "the board powers up busy";
    ASSERT_TRUE(delay.EnableIRQ(0, false));
    ASSERT_TRUE(delay.ClearBusy());
    EXPECT_FALSE(log.called.Wait(50)) << "interrupts are disabled";
    ASSERT_TRUE(delay.EnableIRQ(1, true));
    EXPECT_TRUE(log.called.Wait(5000)) << "enabling arms the cleared board";
    log.called.Reset();
    EXPECT_FALSE(log.called.Wait(50)) << "busy again after one trigger";
    EXPECT_EQ(log.calls.load(), 1);
}

TEST_F(InterruptTest, MissedTriggerNeverArrives)
{
    Stand().SetTriggerDelay(0ms);
    Stand().MissTriggers(1);
    ASSERT_TRUE(vme.Install_ICBR(&InterruptLog::Callback, &log));
    Arm();
    EXPECT_FALSE(log.called.Wait(100));
    ASSERT_TRUE(delay.ClearBusy());
    EXPECT_TRUE(log.called.Wait(5000)) << "the next arming fires again";
    EXPECT_EQ(Stand().TriggerCount(), 1u);
}

// A callback that reads each event and re-arms, as the event read does. The
// modules are shared with the test thread, so both take the reader's lock.
struct EventReader {
    EventReader(CPu& p, CDelayBrd& d, int w) : pu(&p), delay(&d), wanted(w) {}

    CPu* pu;
    CDelayBrd* delay;
    int wanted;
    std::mutex lock;
    std::atomic<int> events{0};
    std::atomic<bool> failed{false};
    CEvent done{true};

    static void Callback(void* context, int irqType, uint32_t)
    {
        auto* r = static_cast<EventReader*>(context);
        std::lock_guard guard(r->lock);
        uint16_t n = 0;
        bool ready = false;
        if (irqType != 3 || !r->pu->RdRunState(ready) || !ready || !r->pu->RdEvCnt(n) ||
            !r->pu->ReadAllFifo(n + 1u) || !r->pu->Clear()) {
            r->failed = true;
            r->done.Set();
            return;
        }
        if (++r->events < r->wanted)
            r->delay->ClearBusy();
        else
            r->done.Set();
    }
};

TEST_F(InterruptTest, CallbackReadsARunOfEvents)
{
    Stand().SetTriggerDelay(0ms);
    EventReader reader(pu, delay, 50);
    ASSERT_TRUE(vme.Install_ICBR(&EventReader::Callback, &reader));
    {
        std::lock_guard guard(reader.lock);
        Arm();
    }
    ASSERT_TRUE(reader.done.Wait(10000));
    std::lock_guard guard(reader.lock);
    EXPECT_FALSE(reader.failed.load());
    EXPECT_EQ(reader.events.load(), 50);
    EXPECT_EQ(Stand().TriggerCount(), 50u);
    EXPECT_EQ(pu.FifoWords()[0], (0u << 16) | 50u) << "the last record read is event 50's";
}

TEST_F(InterruptTest, CloseRemovesTheCallbacks)
{
    Stand().SetTriggerDelay(0ms);
    EventReader reader(pu, delay, 1 << 30);
    // Close must not hold the reader's lock: it waits for a running callback.
    ASSERT_TRUE(vme.Install_ICBR(&EventReader::Callback, &reader));
    ASSERT_EQ(Stand().InstalledCallbacks(), 1u);
    {
        std::lock_guard guard(reader.lock);
        Arm();
    }
    while (reader.events < 5)
        std::this_thread::sleep_for(1ms);
    vme.Close();
    EXPECT_EQ(Stand().InstalledCallbacks(), 0u);
    EXPECT_EQ(Stand().OpenHandles(), 0u);
    const int after = reader.events;
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(reader.events.load(), after) << "no callback after Close";
    EXPECT_FALSE(reader.failed.load());
}

struct BlockingCallback {
    CEvent entered{true};
    CEvent release{true};
    static void Callback(void* context, int, uint32_t)
    {
        auto* b = static_cast<BlockingCallback*>(context);
        b->entered.Set();
        b->release.Wait(5000);
    }
};

TEST_F(InterruptTest, CloseWaitsForARunningCallback)
{
    BlockingCallback blocking;
    ASSERT_TRUE(vme.Install_ICBR(&BlockingCallback::Callback, &blocking));
    Arm();
    ASSERT_TRUE(blocking.entered.Wait(5000));
    std::atomic<bool> closed{false};
    std::thread closer([&] {
        vme.Close();
        closed = true;
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(closed.load()) << "Close returned while the callback still ran";
    blocking.release.Set();
    closer.join();
    EXPECT_TRUE(closed.load());
}

TEST_F(InterruptTest, CallbacksOfEveryOpenDeviceAreCalled)
{
    InterruptLog other;  // outlives a16, whose Close removes its callback
    CVme a16;
    ASSERT_TRUE(a16.Init(simvme::A16Device));
    ASSERT_TRUE(a16.Install_ICBR(&InterruptLog::Callback, &other));
    ASSERT_TRUE(vme.Install_ICBR(&InterruptLog::Callback, &log));
    Arm();
    EXPECT_TRUE(log.called.Wait(5000));
    EXPECT_TRUE(other.called.Wait(5000));
}
}  // namespace

namespace {
// The DAQ start-up and run sequence on the stand: both devices, bus reset,
// PU configuration, ROS set-up, interrupt set-up, then a run of events read
// by the callback with their ROS data, and a run whose trigger is lost.
struct RunReader {
    RunReader(CPu& p, CRos& r, CDelayBrd& d) : pu(p), ros(r), delay(d) {}

    static void Callback(void* context, int irqType, uint32_t)
    {
        auto* r = static_cast<RunReader*>(context);
        if (irqType != 3)
            return;
        std::lock_guard guard(r->lock);
        uint16_t n = 0;
        bool ready = false;
        while (!ready)
            if (!r->pu.RdRunState(ready))
                return r->Fail();
        if (!r->pu.RdEvCnt(n) || !r->pu.ReadAllFifo(n + 1u) || !r->ros.ReadFifo() ||
            !r->ros.PartialReset())
            return r->Fail();
        r->puWords.emplace_back(r->pu.FifoWords().begin(), r->pu.FifoWords().end());
        r->rosWords.push_back(r->ros.Words());
        if (!r->pu.Clear() || (++r->events < r->wanted && !r->delay.ClearBusy()))
            return r->Fail();
        if (r->events == r->wanted)
            r->done.Set();
    }
    void Fail()
    {
        failed = true;
        done.Set();
    }

    CPu& pu;
    CRos& ros;
    CDelayBrd& delay;
    std::mutex lock;
    int wanted = 0;
    std::atomic<int> events{0};
    std::atomic<bool> failed{false};
    std::vector<std::vector<uint32_t>> puWords, rosWords;
    CEvent done{true};
};

TEST_F(VmeStandTest, DaqSequenceRunsOnTheStand)
{
    Stand().SetEventSize(2);
    Stand().SetRosData(1);
    CVme a16;
    CPu pu(vme);
    CRos ros(vme);
    CDelayBrd delay(vme);
    RunReader reader(pu, ros, delay);
    ASSERT_TRUE(a16.Init(simvme::A16Device)) << a16.ErrorText();
    ASSERT_TRUE(vme.Reset()) << vme.ErrorText();
    ASSERT_TRUE(pu.Configure(_PUCONFIG{}) && pu.Clear() && delay.EnableDelay()) << pu.ErrorText()
                                                                               << delay.ErrorText();
    ASSERT_TRUE(ros.Init()) << ros.ErrorText();
    ASSERT_TRUE(vme.Install_ICBR(&RunReader::Callback, &reader)) << vme.ErrorText();
    ASSERT_TRUE(delay.WrVector() && delay.EnableIRQ(1, true) && delay.EnableIRQ(0, true))
        << delay.ErrorText();

    auto startRun = [&](int n) {
        std::lock_guard guard(reader.lock);
        reader.wanted = n;
        reader.events = 0;
        reader.done.Reset();
        reader.puWords.clear();
        reader.rosWords.clear();
        return pu.Clear() && delay.ClearBusy();
    };
    ASSERT_TRUE(startRun(3));
    ASSERT_TRUE(reader.done.Wait(5000));
    {
        std::lock_guard guard(reader.lock);
        ASSERT_FALSE(reader.failed.load());
        ASSERT_EQ(reader.puWords.size(), 3u);
        for (uint32_t e = 0; e < 3; ++e) {
            SCOPED_TRACE(e);
            ASSERT_EQ(reader.puWords[e].size(), 8u) << "two records of four words";
            EXPECT_EQ(reader.puWords[e][0], e + 1) << "record 0 of event e + 1";
            EXPECT_EQ(reader.puWords[e][4], (1u << 16) | (e + 1)) << "record 1";
            ASSERT_EQ(reader.rosWords[e].size(), 17u) << "status, eight markers, eight items";
            EXPECT_EQ(reader.rosWords[e][0], 0xE00100FFu);
            EXPECT_EQ(reader.rosWords[e][2], (CSimVmeStand::RosWordA(e + 1, 0, 0) << 16) | (e + 1));
        }
    }

    Stand().MissTriggers(1);
    ASSERT_TRUE(startRun(1));
    EXPECT_FALSE(reader.done.Wait(200)) << "the lost trigger leaves the run short";
    EXPECT_EQ(reader.events.load(), 0);
}
}  // namespace
