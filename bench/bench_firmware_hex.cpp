// Loading firmware image files of 4 MiB and 8 MiB of data written by
// srec_cat, as S-records and as Intel HEX: our readers in-process and as
// "telvane-cli hex --bin", against srec_cat converting the same file to
// binary as a whole process. Throughput counts the file's text.

#include "firmware/HexFile.h"
#include "firmware/HexFileMcs.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <malloc.h>
#include <random>
#include <string>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace {
const fs::path kCli = fs::path(TELVANE_BINARY_DIR) / "src/cli/telvane-cli";

bool RunQuiet(const std::string& command)
{
    int status = std::system((command + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The image files, written once per run into a temporary folder.
class CImageFiles {
public:
    CImageFiles()
    {
        char pattern[] = "/tmp/telvane-benchXXXXXX";
        if (!mkdtemp(pattern))
            return;
        m_dir = pattern;
        for (int mib : {4, 8}) {
            fs::path bin = m_dir / (std::to_string(mib) + ".bin");
            std::mt19937 random(static_cast<unsigned>(mib));
            std::string bytes(static_cast<size_t>(mib) << 20, '\0');
            for (auto& b : bytes)
                b = static_cast<char>(random());
            std::ofstream(bin, std::ios::binary) << bytes;
            m_ok = RunQuiet("srec_cat " + bin.string() + " -binary -offset 0x80000 -o " +
                            Path(mib, false).string() + " -motorola -address-length=3 -disable=data-count") &&
                   RunQuiet("srec_cat " + bin.string() + " -binary -offset 0x80000 -o " + Path(mib, true).string() +
                            " -intel");
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
    const std::string command = ours ? kCli.string() + " hex " + file.string() + (intel ? " --intel" : "") +
                                           " --bin " + Files().Out().string()
                                     : "srec_cat " + file.string() + (intel ? " -intel" : "") + " -o " +
                                           Files().Out().string() + " -binary";
    for (auto _ : state) {
        if (!RunQuiet(command))
            return state.SkipWithError(("failed: " + command).c_str());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fs::file_size(file)));
}

void BM_LoadSrec(benchmark::State& state) { BM_Load<CHexFile>(state, false); }
void BM_LoadIntel(benchmark::State& state) { BM_Load<CHexFile_mcs>(state, true); }
void BM_CliSrecToBinary(benchmark::State& state) { BM_Process(state, false, true); }
void BM_CliIntelToBinary(benchmark::State& state) { BM_Process(state, true, true); }
void BM_SrecCatSrecToBinary(benchmark::State& state) { BM_Process(state, false, false); }
void BM_SrecCatIntelToBinary(benchmark::State& state) { BM_Process(state, true, false); }
}  // namespace

BENCHMARK(BM_LoadSrec)->Arg(4)->Arg(8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadIntel)->Arg(4)->Arg(8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CliSrecToBinary)->Arg(4)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CliIntelToBinary)->Arg(4)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SrecCatSrecToBinary)->Arg(4)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SrecCatIntelToBinary)->Arg(4)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
