// Decoding the long status reply of the example decode file, against a
// hand-written std::to_chars decoder of the same fields that gives the same
// text; encoding a command of ten arguments.
// Goal: decoding takes at most 1.5 times the hand decoder's time.

#include "RoundRatios.h"
#include "StatusHandDecoder.h"

#include "language/VaCompiler.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace {

const std::vector<uint8_t>& StatusBytes()
{
    static const std::vector<uint8_t> bytes = [] {
        std::vector<uint8_t> b;
        auto u16 = [&](unsigned v) { b.push_back(uint8_t(v >> 8)), b.push_back(uint8_t(v)); };
        auto u32 = [&](uint32_t v) { u16(v >> 16), u16(v & 0xFFFF); };
        auto dsp = [&](double v) {
            int e;
            double m = std::frexp(v, &e);
            u16(static_cast<uint16_t>(static_cast<int16_t>(m * 32768)));
            u16(static_cast<uint16_t>(e));
        };
        u16(0x0123), u16(1), u16(25), u16(0x8001);
        b.push_back(1), b.push_back(0x35);
        for (char c : std::string("CB-0042\0", 8))
            b.push_back(uint8_t(c));
        u32(86400), u32(3), u32(0x373016), u16(17);
        for (int i = 0; i < 5; ++i)
            u32(1000u * i);
        for (int i = 0; i < 23; ++i)
            dsp(i < 8 ? 3.3 + i * 0.01 : i < 16 ? 0.5 + i * 0.02 : 21.5 + i);
        for (int i = 0; i < 6; ++i)
            u16(100 + i);
        dsp(2.5);
        b.push_back(0), b.push_back(1), b.push_back(2), b.push_back(0xFF);
        for (int i = 0; i < 8; ++i)
            dsp(30 + i * 0.5);
        u16(0xBEEF), u16(42);
        return b;
    }();
    return bytes;
}

const CVa_Compiler& Compiler()
{
    static CVa_Compiler compiler;
    if (compiler.Structs().empty())
        compiler.Compile(std::string(TELVANE_SOURCE_DIR) + "/examples/Cb_v126.dec", false);
    return compiler;
}

// The comparison means something only while both give the same text, here
// on the benchmark's reply and on random ones.
bool DecodersAgree()
{
    const CStructList& structs = Compiler().Structs();
    CStatusHandDecoder hand;
    std::vector<uint8_t> bytes = StatusBytes();
    std::mt19937 random(13);
    for (int k = 0; k < 200; ++k) {
        if (hand.Decode(bytes.data()) != structs.DecodeText(0x13, bytes.data(), bytes.size()))
            return false;
        for (auto& b : bytes)
            b = static_cast<uint8_t>(random());
    }
    return true;
}

void BM_DecodeTextLongStatus(benchmark::State& state)
{
    if (!DecodersAgree())
        return state.SkipWithError("the decode tables and the hand decoder disagree");
    const auto& bytes = StatusBytes();
    const CStructList& structs = Compiler().Structs();
    for (auto _ : state)
        benchmark::DoNotOptimize(structs.DecodeText(0x13, bytes.data(), bytes.size()));
}

void BM_HandWrittenLongStatus(benchmark::State& state)
{
    const auto& bytes = StatusBytes();
    CStatusHandDecoder decoder;
    for (auto _ : state)
        benchmark::DoNotOptimize(decoder.Decode(bytes.data()));
}

void BM_EncodeTenArguments(benchmark::State& state)
{
    static const std::string text =
        "struct 0x42 {\n"
        "  char mode; enum Mode\n"
        "  int address;\n"
        "  long length; little_endian\n"
        "  int values[4]; inline\n"
        "  char flag:1;\n"
        "  char level:7;\n"
        "  float gain;\n"
        "  float offsets[2]; inline\n"
        "  bstr label[16];\n"
        "  short tail;\n"
        "};\n"
        "enum Mode {\n  IDLE,\n  RUN = 3,\n  STOP,\n};\n";
    CVa_Compiler compiler;
    compiler.CompileBuffer(text.data(), text.size(), false);
    const CStructData& command = compiler.Structs().at(0);
    const std::vector<std::string> arguments = {"RUN", "0x1234", "100000", "1,2;0x30,-4", "1",
                                                "0x55", "0.75", "1.5,-2.25", "flash bank 2", "-7"};
    std::vector<uint8_t> buffer(static_cast<size_t>(command.Size()));
    for (auto _ : state) {
        command.Encode(arguments, buffer.data(), buffer.size());
        benchmark::DoNotOptimize(buffer.data());
    }
}
BENCHMARK(BM_EncodeTenArguments);

}  // namespace

int main(int argc, char** argv)
{
    const int rounds = bench::TakeRounds(argc, argv, 9);
    auto shortRun = [](benchmark::internal::Benchmark* b) { b->MinTime(0.2); };
    bench::RegisterRounds(rounds, {{"BM_DecodeTextLongStatus", BM_DecodeTextLongStatus, shortRun},
                                   {"BM_HandWrittenLongStatus", BM_HandWrittenLongStatus, shortRun}});
    return bench::RunAndReport(argc, argv,
                               {{"Long status: decode tables / to_chars hand decoder, time",
                                 "BM_DecodeTextLongStatus", "BM_HandWrittenLongStatus", bench::Ratio::Kind::Time,
                                 1.5}});
}
