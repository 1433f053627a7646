// Compiling the example decode files, as the windows do when they open.

#include "language/VaCompiler.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

void CompileExample(benchmark::State& state, const char* file, bool sharedCodes)
{
    const std::string path = std::string(TELVANE_SOURCE_DIR) + "/examples/" + file;
    CVa_Compiler compiler;
    for (auto _ : state) {
        compiler.Clear();
        if (!compiler.Compile(path, sharedCodes)) {
            state.SkipWithError(compiler.GetErrorText().c_str());
            return;
        }
        benchmark::DoNotOptimize(compiler.Structs().data());
    }
    state.counters["structures"] = static_cast<double>(compiler.Structs().size());
}

void BM_CompileReplyFile(benchmark::State& state) { CompileExample(state, "Cb_v126.dec", false); }
BENCHMARK(BM_CompileReplyFile)->Unit(benchmark::kMicrosecond);

void BM_CompileCommandFile(benchmark::State& state) { CompileExample(state, "Cb_v126_cmd.dec", true); }
BENCHMARK(BM_CompileCommandFile)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
