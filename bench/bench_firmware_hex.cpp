// Loading firmware image files of 1, 4 and 8 MiB of data written by
// srec_cat, as S-records and as Intel HEX: our readers in-process and as
// "telvane-cli hex --bin", against srec_cat converting the same file to
// binary as a whole process, timed by the processor time the process takes
// from start to exit (the wall-clock time, which the machine's load swings
// much more, is shown as "elapsed"). Throughput counts the file's text.
// Goal: at 1 MiB the whole telvane-cli process is at least 5 times as fast
// as srec_cat, as the median of per-round ratios.

#include "RoundRatios.h"
#include "Spawn.h"

#include "firmware/HexFile.h"
#include "firmware/HexFileMcs.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <malloc.h>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {
const fs::path kCli = fs::path(TELVANE_BINARY_DIR) / "src/cli/telvane-cli";

// The image files, written once per run into a temporary folder.
class CImageFiles {
public:
    CImageFiles()
    {
        char pattern[] = "/tmp/telvane-benchXXXXXX";
        if (!mkdtemp(pattern))
            return;
        m_dir = pattern;
        for (int mib : {1, 4, 8}) {
            fs::path bin = m_dir / (std::to_string(mib) + ".bin");
            std::mt19937 random(static_cast<unsigned>(mib));
            std::string bytes(static_cast<size_t>(mib) << 20, '\0');
            for (auto& b : bytes)
                b = static_cast<char>(random());
            std::ofstream(bin, std::ios::binary) << bytes;
            m_ok = bench::RunProgram({"srec_cat", bin.string(), "-binary", "-offset", "0x80000", "-o",
                                      Path(mib, false).string(), "-motorola", "-address-length=3",
                                      "-disable=data-count"}) &&
                   bench::RunProgram({"srec_cat", bin.string(), "-binary", "-offset", "0x80000", "-o",
                                      Path(mib, true).string(), "-intel"});
            if (!m_ok)
                return;
        }
    }
    ~CImageFiles()
    {
        if (!m_dir.empty())
            fs::remove_all(m_dir);
    }

    bool Ok() const { return m_ok; }
    fs::path Path(int mib, bool intel) const { return m_dir / (std::to_string(mib) + (intel ? ".hex" : ".s19")); }
    fs::path Out() const { return m_dir / "out.bin"; }

private:
    fs::path m_dir;
    bool m_ok = false;
};

const CImageFiles& Files()
{
    static const CImageFiles files;
    return files;
}

template <class Reader>
void BM_Load(benchmark::State& state, bool intel)
{
    if (!Files().Ok())
        return state.SkipWithError("srec_cat (package srecord) could not write the images");
    const int mib = static_cast<int>(state.range(0));
    const fs::path file = Files().Path(mib, intel);
    for (auto _ : state) {
        {
            Reader image;
            if (!image.Load(file))
                return state.SkipWithError(image.ErrorText().c_str());
            benchmark::DoNotOptimize(image.Blocks().data());
        }
        // Every load starts on memory fresh from the system, as the first
        // load of a program does; otherwise the allocator keeps the smaller
        // image's pages and not the larger one's.
        state.PauseTiming();
        malloc_trim(0);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fs::file_size(file)));
}

void BM_Process(benchmark::State& state, bool intel, bool ours)
{
    if (!Files().Ok())
        return state.SkipWithError("srec_cat (package srecord) could not write the images");
    if (ours && !fs::exists(kCli))
        return state.SkipWithError("telvane-cli is not built in this tree");
    const int mib = static_cast<int>(state.range(0));
    const fs::path file = Files().Path(mib, intel);
    std::vector<std::string> command;
    if (ours) {
        command = {kCli.string(), "hex", file.string()};
        if (intel)
            command.push_back("--intel");
        command.insert(command.end(), {"--bin", Files().Out().string()});
    } else {
        command = {"srec_cat", file.string()};
        if (intel)
            command.push_back("-intel");
        command.insert(command.end(), {"-o", Files().Out().string(), "-binary"});
    }
    double elapsed = 0;
    for (auto _ : state) {
        double seconds = 0;
        const auto start = std::chrono::steady_clock::now();
        if (!bench::RunProgram(command, -1, &seconds))
            return state.SkipWithError(("failed: " + command[0]).c_str());
        elapsed += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds);
    }
    state.counters["elapsed"] = benchmark::Counter(elapsed, benchmark::Counter::kAvgIterations);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fs::file_size(file)));
}

void BM_LoadSrec(benchmark::State& state) { BM_Load<CHexFile>(state, false); }
void BM_LoadIntel(benchmark::State& state) { BM_Load<CHexFile_mcs>(state, true); }
void BM_CliSrecToBinary(benchmark::State& state) { BM_Process(state, false, true); }
void BM_CliIntelToBinary(benchmark::State& state) { BM_Process(state, true, true); }
void BM_SrecCatSrecToBinary(benchmark::State& state) { BM_Process(state, false, false); }
void BM_SrecCatIntelToBinary(benchmark::State& state) { BM_Process(state, true, false); }
}  // namespace

BENCHMARK(BM_LoadSrec)->Arg(1)->Arg(4)->Arg(8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadIntel)->Arg(1)->Arg(4)->Arg(8)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    const int rounds = bench::TakeRounds(argc, argv, 7);
    auto process = [](benchmark::internal::Benchmark* b) {
        b->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(0.3);
    };
    bench::RegisterRounds(rounds, {{"BM_CliSrecToBinary/1", BM_CliSrecToBinary, process},
                                   {"BM_SrecCatSrecToBinary/1", BM_SrecCatSrecToBinary, process},
                                   {"BM_CliIntelToBinary/1", BM_CliIntelToBinary, process},
                                   {"BM_SrecCatIntelToBinary/1", BM_SrecCatIntelToBinary, process}});
    using Kind = bench::Ratio::Kind;
    return bench::RunAndReport(argc, argv,
                               {{"1 MiB S-records: telvane-cli / srec_cat, speed", "BM_CliSrecToBinary/1",
                                 "BM_SrecCatSrecToBinary/1", Kind::Speed, 5},
                                {"1 MiB Intel HEX: telvane-cli / srec_cat, speed", "BM_CliIntelToBinary/1",
                                 "BM_SrecCatIntelToBinary/1", Kind::Speed, 5},
                                {"1 MiB S-records: telvane-cli / srec_cat, speed by wall-clock time",
                                 "BM_CliSrecToBinary/1", "BM_SrecCatSrecToBinary/1", Kind::Speed, 0, "elapsed"},
                                {"1 MiB Intel HEX: telvane-cli / srec_cat, speed by wall-clock time",
                                 "BM_CliIntelToBinary/1", "BM_SrecCatIntelToBinary/1", Kind::Speed, 0, "elapsed"}});
}
