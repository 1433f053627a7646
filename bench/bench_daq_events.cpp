// Events per second that the simulated VME stand delivers to the event read:
// trigger interrupt, run-state poll, event counter, PU FIFO, ROS FIFOs and
// partial reset, clear and re-arm, with the trigger delay at zero.
#include "base/Event.h"
#include "daq/DelayBrd.h"
#include "daq/Pu.h"
#include "daq/Ros.h"
#include "daq/Vme.h"
#include "sim/SimVmeStand.h"

#include <atomic>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <mutex>

namespace {
struct EventRead {
    CVme vme;
    CPu pu{vme};
    CRos ros{vme};
    CDelayBrd delay{vme};
    bool withRos = false;
    int wanted = 0;
    // The modules are shared by the arming thread and the interrupt callback.
    std::mutex lock;
    std::atomic<int> events{0};
    std::atomic<bool> failed{false};
    CEvent done{true};

    static void Interrupt(void* context, int irqType, uint32_t)
    {
        if (irqType == 3)
            static_cast<EventRead*>(context)->ReadEvent();
    }

    void ReadEvent()
    {
        std::lock_guard guard(lock);
        bool ready = false;
        while (ready == false)
            if (!pu.RdRunState(ready))
                return Fail();
        uint16_t n = 0;
        if (!pu.RdEvCnt(n) || !pu.ReadAllFifo(n + 1u))
            return Fail();
        if (withRos && (!ros.ReadFifo() || !ros.PartialReset()))
            return Fail();
        if (!pu.Clear())
            return Fail();
        if (++events < wanted) {
            if (!delay.ClearBusy())
                Fail();
        } else {
            done.Set();
        }
    }

    void Fail()
    {
        failed = true;
        done.Set();
    }
};

void BM_EventRead(benchmark::State& state)
{
    const int records = static_cast<int>(state.range(0));
    const int rosItems = static_cast<int>(state.range(1));
    const bool withRos = state.range(2) != 0;
    constexpr int kRun = 1000;

    unsetenv("TELVANE_VME_LIBRARY");
    CSimVmeStand& stand = CSimVmeStand::Global();
    stand.PowerUp();
    stand.SetTriggerDelay(std::chrono::milliseconds(0));
    stand.SetEventSize(records);
    stand.SetRosData(rosItems);

    EventRead r;
    r.withRos = withRos;
    if (!r.vme.Init(5) || !r.pu.Configure(_PUCONFIG{}) || !r.pu.Clear() ||
        (withRos && !r.ros.Init()) || !r.vme.Install_ICBR(&EventRead::Interrupt, &r) ||
        !r.delay.WrVector() || !r.delay.EnableIRQ(1, true) || !r.delay.EnableIRQ(0, true)) {
        state.SkipWithError("stand set-up failed");
        return;
    }
    for (auto _ : state) {
        bool armed = false;
        {
            std::lock_guard guard(r.lock);
            r.events = 0;
            r.wanted = kRun;
            r.done.Reset();
            armed = r.pu.Clear() && r.delay.ClearBusy();
        }
        if (!armed || !r.done.Wait(60000) || r.failed) {
            state.SkipWithError("event read failed");
            break;
        }
    }
    r.vme.Close();
    state.SetItemsProcessed(state.iterations() * kRun);
    state.counters["bus_accesses_per_event"] = benchmark::Counter(
        static_cast<double>(stand.AccessCount()) / static_cast<double>(stand.TriggerCount()));
}
}  // namespace

// Arguments: PU records per event, ROS items per channel, ROS read on/off.
BENCHMARK(BM_EventRead)
    ->Args({1, 0, 0})
    ->Args({1, 0, 1})
    ->Args({1, 2, 1})
    ->Args({16, 0, 0})
    ->Args({16, 4, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK_MAIN();
