#pragma once
// Growth benchmarks: our code and a linear baseline on the same input, timed
// in alternating rounds. Reports the time per item of ours and the median of
// the per-round ratios ours/baseline; a ratio that stays put from 10 k to
// 1 M items shows linear growth.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <vector>

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
inline void GrowthSizes(benchmark::internal::Benchmark* b)
{
    b->Args({10000})->Iterations(21);
    b->Args({100000})->Iterations(7);
    b->Args({1000000})->Iterations(3);
    b->UseManualTime()->Unit(benchmark::kMillisecond);
}
