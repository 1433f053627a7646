#pragma once
// Growth benchmarks: our code and a linear baseline on the same input, timed
// in alternating rounds. Reports the time per item of ours and the median of
// the per-round ratios ours/baseline; a ratio that stays put from 10 k to
// 1 M items shows linear growth.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <malloc.h>
#include <vector>

// Large buffers stay in the heap instead of coming fresh from the system on
// every round, so that page faults do not blur the growth of the larger
// sizes.
inline const bool kGrowthHeapKept = [] {
    mallopt(M_MMAP_THRESHOLD, 256 << 20);
    mallopt(M_TRIM_THRESHOLD, 512 << 20);
    return true;
}();

template <class Ours, class Baseline>
void RunGrowthRounds(benchmark::State& state, size_t items, Ours ours, Baseline baseline)
{
    using Clock = std::chrono::steady_clock;
    auto timed = [](auto& run) {
        const auto start = Clock::now();
        run();
        return std::chrono::duration<double>(Clock::now() - start).count();
    };
    std::vector<double> ratios, nanosecondsPerItem;
    bool oursFirst = true;
    for (auto _ : state) {
        double oursTime, baselineTime;
        if (oursFirst) {
            oursTime = timed(ours);
            baselineTime = timed(baseline);
        } else {
            baselineTime = timed(baseline);
            oursTime = timed(ours);
        }
        oursFirst = !oursFirst;
        state.SetIterationTime(oursTime);
        ratios.push_back(oursTime / baselineTime);
        nanosecondsPerItem.push_back(oursTime * 1e9 / static_cast<double>(items));
    }
    auto median = [](std::vector<double> values) {
        std::sort(values.begin(), values.end());
        return values.empty() ? 0.0 : values[values.size() / 2];
    };
    state.counters["ns_per_item"] = median(nanosecondsPerItem);
    state.counters["ratio"] = median(ratios);
}

// 10 k, 100 k and 1 M items, with fewer rounds as they grow.
#define GROWTH_BENCHMARK(fn)                                                                             \
    BENCHMARK(fn)->Arg(10000)->Iterations(41)->UseManualTime()->Unit(benchmark::kMillisecond);         \
    BENCHMARK(fn)->Arg(100000)->Iterations(15)->UseManualTime()->Unit(benchmark::kMillisecond);        \
    BENCHMARK(fn)->Arg(1000000)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond)
