// Cleaning anchor texts of 10 k, 100 k and 1 M characters: runs of '<'
// without '>', many small tags, many entities and plain words, against
// copying the same text without its line ends (the least any cleaning
// must do), to show the cleaning growing linearly.

#include "GrowthRounds.h"
#include "web/FindLink.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>

namespace {

enum Shape { OpenAngles, SmallTags, Entities, Words };

std::string TextOf(Shape shape, size_t size)
{
    static const char* const kPieces[] = {"<", "<i>y", "&lt;", "Firmware V1.26\r\n"};
    std::string text;
    while (text.size() < size)
        text += kPieces[shape];
    text.resize(size);
    return text;
}

void Clean(benchmark::State& state, Shape shape)
{
    const size_t size = static_cast<size_t>(state.range(0));
    const std::string text = TextOf(shape, size);
    std::string copy(size, '\0');
    RunGrowthRounds(
        state, size, [&] { benchmark::DoNotOptimize(CleanAnchorText(text)); },
        [&] {
            auto end = std::remove_copy_if(text.begin(), text.end(), copy.begin(),
                                           [](char c) { return c == '\r' || c == '\n'; });
            benchmark::DoNotOptimize(std::string(copy.begin(), end));
        });
}

void BM_CleanOpenAngles(benchmark::State& state) { Clean(state, OpenAngles); }
GROWTH_BENCHMARK(BM_CleanOpenAngles);

void BM_CleanSmallTags(benchmark::State& state) { Clean(state, SmallTags); }
GROWTH_BENCHMARK(BM_CleanSmallTags);

void BM_CleanEntities(benchmark::State& state) { Clean(state, Entities); }
GROWTH_BENCHMARK(BM_CleanEntities);

void BM_CleanWords(benchmark::State& state) { Clean(state, Words); }
GROWTH_BENCHMARK(BM_CleanWords);

}  // namespace

BENCHMARK_MAIN();
