// Compiling the example decode files, as the windows do when they open;
// and decode files of 10 k, 100 k and 1 M names, against files of as many
// comment lines of the same size (the compiler's line handling without any
// lookup), to show the compile time growing linearly with the names.

#include "GrowthRounds.h"
#include "language/VaCompiler.h"

#include <benchmark/benchmark.h>

#include <map>
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

enum NameKind { Defines, EnumItems, Structures };

// The decode file of count names of one kind, and comment lines of the same
// number and length.
struct NamesFile {
    std::string names;
    std::string comments;
};

const NamesFile& FileOf(NameKind kind, int count)
{
    static std::map<std::pair<int, int>, NamesFile> files;
    auto [it, made] = files.try_emplace({kind, count});
    if (!made)
        return it->second;
    NamesFile& file = it->second;
    auto comment = [&](const std::string& line) {
        file.comments += "//" + std::string(line.size() - 3, 'c') + "\n";
    };
    if (kind == EnumItems)
        file.names = "enum E {\n";
    for (int i = 0; i < count; ++i) {
        const std::string name = "NAME_" + std::to_string(i);
        std::string lines;
        switch (kind) {
        case Defines: lines = "#define " + name + " " + std::to_string(i) + "\n"; break;
        case EnumItems: lines = name + ",\n"; break;
        case Structures: lines = "struct " + std::to_string(i) + " {\nchar " + name + ";\n};\n"; break;
        }
        file.names += lines;
        for (size_t start = 0, end; (end = lines.find('\n', start)) != std::string::npos; start = end + 1)
            comment(lines.substr(start, end - start + 1));
    }
    if (kind == EnumItems)
        file.names += "};\n";
    return file;
}

void CompileNames(benchmark::State& state, NameKind kind)
{
    const int count = static_cast<int>(state.range(0));
    const NamesFile& file = FileOf(kind, count);
    CVa_Compiler compiler;
    auto compile = [&](const std::string& text) {
        compiler.Clear();
        if (!compiler.CompileBuffer(text.data(), text.size(), false))
            state.SkipWithError(compiler.GetErrorText().c_str());
    };
    RunGrowthRounds(state, static_cast<size_t>(count), [&] { compile(file.names); }, [&] { compile(file.comments); });
}

void BM_CompileDefines(benchmark::State& state) { CompileNames(state, Defines); }
GROWTH_BENCHMARK(BM_CompileDefines);

void BM_CompileEnumItems(benchmark::State& state) { CompileNames(state, EnumItems); }
GROWTH_BENCHMARK(BM_CompileEnumItems);

void BM_CompileStructures(benchmark::State& state) { CompileNames(state, Structures); }
GROWTH_BENCHMARK(BM_CompileStructures);

}  // namespace

BENCHMARK_MAIN();
