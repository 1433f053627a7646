// Catalogue documents of 10 k, 100 k and 1 M attributes: all on one
// element (refused before parsing), and spread over crates of eight
// (parsed), against tinyxml2 parsing a document of the same size made of
// ordinary crates, to show both growing linearly.

#include "GrowthRounds.h"
#include "links/Divadiduv.h"

#include <benchmark/benchmark.h>
#include <tinyxml2.h>

#include <string>

namespace {

std::string Attributes(int first, int count)
{
    std::string text;
    for (int i = first; i < first + count; ++i)
        text += " a" + std::to_string(i) + "=\"" + std::to_string(i % 10) + "\"";
    return text;
}

std::string Crates(int attributes)
{
    std::string text = "<Divadiduvs>";
    for (int i = 0; i < attributes / 8; ++i)
        text += "<Divadiduv wheel=\"YB+1\" sector=\"S4\" type=\"MB2\" pid=\"" + std::to_string(i) +
                "\" ccbid=\"345\" host=\"h\" pid_port=\"18888\" ccbid_port=\"18889\"/>";
    return text + "</Divadiduvs>";
}

void Parse(benchmark::State& state, bool oneElement)
{
    const int attributes = static_cast<int>(state.range(0));
    const std::string ours = oneElement ? "<Divadiduvs" + Attributes(0, attributes) + "/>" : Crates(attributes);
    std::string baseline = Crates(attributes);
    // Sizes as close as whole crates allow.
    if (baseline.size() < ours.size())
        baseline.insert(baseline.size() - 14, ours.size() - baseline.size(), ' ');
    RunGrowthRounds(
        state, static_cast<size_t>(attributes),
        [&] {
            auto catalogue = ParseDivadiduvs(ours.data(), ours.size());
            if (!oneElement && !catalogue)
                state.SkipWithError("the crates were not read");
            benchmark::DoNotOptimize(catalogue);
        },
        [&] {
            tinyxml2::XMLDocument document;
            benchmark::DoNotOptimize(document.Parse(baseline.data(), baseline.size()));
        });
}

void BM_AttributesOnOneElement(benchmark::State& state) { Parse(state, true); }
GROWTH_BENCHMARK(BM_AttributesOnOneElement);

void BM_AttributesOfCrates(benchmark::State& state) { Parse(state, false); }
GROWTH_BENCHMARK(BM_AttributesOfCrates);

}  // namespace

BENCHMARK_MAIN();
