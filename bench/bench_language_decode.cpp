// Decoding the long status reply of the example decode file, against a
// hand-written snprintf decoder of the same fields; encoding a command of
// ten arguments.

#include "language/VaCompiler.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
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

// The same fields decoded by hand.
class CHandDecoder {
public:
    std::string Decode(const uint8_t* p)
    {
        m_out.clear();
        m_p = p;
        Line("ccb_id=%d\r\n", S16());
        Line("fw_major=%d\r\n", S16());
        Line("fw_minor=%d\r\n", S16());
        Line("fw_flags=0x%04X\r\n", U16());
        Line("run_mode=%s\r\n", RunMode(*m_p++).c_str());
        unsigned bits = *m_p++;
        Line("power_on=%d\r\njtag_on=%d\r\noffline=%d\r\nbusy=%d\r\nreserved=%d\r\n", bits & 1, (bits >> 1) & 1,
             (bits >> 2) & 1, (bits >> 3) & 1, bits >> 4);
        m_out += "serial=";
        for (int i = 0; i < 8; ++i) {
            char s[2] = {char(*m_p++), 0};
            Line(i ? ",%s" : "%s", s);
        }
        m_out += "\r\n";
        Line("uptime=%u\r\n", U32());
        Line("error_count=%d\r\n", int32_t(U32()));
        Line("flash_id=0x%06X\r\n", U32());
        Line("boot_count=%d\r\n", S16());
        for (int i = 0; i < 5; ++i)
            Line("counters[%d]=%d\r\n", i, int32_t(U32()));
        Inline("supply=", 8, "%.3f");
        Inline("current=", 8, "%.3f");
        for (int i = 0; i < 7; ++i)
            Line("temperature[%d]=%.1f\r\n", i, Dsp());
        m_out += "dac=";
        for (int i = 0; i < 6; ++i)
            Line(i ? ",%d" : "%d", S16());
        m_out += "\r\n";
        Line("reference=%.4f\r\n", Dsp());
        m_out += "board_state=";
        for (int i = 0; i < 4; ++i) {
            if (i)
                m_out += ',';
            m_out += BoardState(*m_p++);
        }
        m_out += "\r\n";
        Inline("board_temperature=", 8, "%.1f");
        Line("crc=0x%04X\r\n", U16());
        Line("sequence=%d\r\n", S16());
        return m_out;
    }

private:
    template <class... V>
    void Line(const char* format, V... v)
    {
        char buffer[256];
        int n = std::snprintf(buffer, sizeof buffer, format, v...);
        m_out.append(buffer, static_cast<size_t>(n));
    }
    void Inline(const char* name, int n, const char* format)
    {
        m_out += name;
        for (int i = 0; i < n; ++i) {
            if (i)
                m_out += ',';
            Line(format, Dsp());
        }
        m_out += "\r\n";
    }
    unsigned U16()
    {
        unsigned v = (m_p[0] << 8) | m_p[1];
        m_p += 2;
        return v;
    }
    int S16() { return int16_t(U16()); }
    uint32_t U32() { return (uint32_t(U16()) << 16) | U16(); }
    double Dsp()
    {
        int m = S16();
        int e = S16();
        return std::ldexp(m, e - 15);
    }
    static std::string RunMode(int v)
    {
        switch (v) {
        case 0: return "BOOT";
        case 1: return "APPLICATION";
        case 2: return "MAINTENANCE";
        case 16: return "SAFE";
        default: return std::to_string(v);
        }
    }
    static std::string BoardState(int v)
    {
        switch (v) {
        case 0: return "ABSENT";
        case 1: return "PRESENT";
        case 2: return "POWERED";
        case 255: return "FAULT";
        default: return std::to_string(v);
        }
    }

    std::string m_out;
    const uint8_t* m_p = nullptr;
};

void BM_DecodeTextLongStatus(benchmark::State& state)
{
    const auto& bytes = StatusBytes();
    const CStructList& structs = Compiler().Structs();
    if (CHandDecoder().Decode(bytes.data()) != structs.DecodeText(0x13, bytes.data(), bytes.size())) {
        state.SkipWithError("the two decoders disagree");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(structs.DecodeText(0x13, bytes.data(), bytes.size()));
}
BENCHMARK(BM_DecodeTextLongStatus);

void BM_HandWrittenLongStatus(benchmark::State& state)
{
    const auto& bytes = StatusBytes();
    CHandDecoder decoder;
    for (auto _ : state)
        benchmark::DoNotOptimize(decoder.Decode(bytes.data()));
}
BENCHMARK(BM_HandWrittenLongStatus);

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

BENCHMARK_MAIN();
