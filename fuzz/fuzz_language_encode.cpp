// Fuzzed argument texts encoded by commands of every field form.
// Input: command selector (one byte), then the texts separated by newlines.

#include "language/VaCompiler.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

const char kCommands[] =
    "#define Mix 0x42\n"
    "struct Mix {\n"
    "  char mode; enum Mode\n"
    "  int address;\n"
    "  long length; little_endian\n"
    "  int values[4]; inline\n"
    "  short words[3]; little_endian\n"
    "  char flag:1;\n"
    "  char level:7;\n"
    "  int a:3;\n"
    "  int b:15;\n"
    "  long c:33;\n"
    "  long d:0;\n"
    "  float gain;\n"
    "  float offsets[2]; inline\n"
    "  bstr label[16];\n"
    "  char bytes[5]; enum Mode\n"
    "};\n"
    "struct 0x43 {\n"
    "  bstr s[1];\n"
    "  char z[0];\n"
    "};\n"
    "enum Mode {\n  IDLE,\n  RUN = 3,\n  STOP,\n  NEG = -1,\n};\n";

struct CTables {
    CVa_Compiler compiler;
    std::vector<CStructData> structs;
    CTables()
    {
        compiler.CompileBuffer(kCommands, sizeof kCommands - 1, false);
        structs.assign(compiler.Structs().begin(), compiler.Structs().end());
        // The floating kinds the decode files cannot declare.
        CStructData ieee(0x44, "ieee");
        for (int32_t kind : {VIEEE32, VIEEE64}) {
            for (bool littleEndian : {false, true}) {
                _VA_ARG f;
                f.kind = kind;
                f.count = 2;
                f.littleEndian = littleEndian;
                f.name = "v";
                ieee.AddField(f);
            }
        }
        structs.push_back(ieee);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const CTables tables;
    if (size < 1 || tables.structs.empty())
        return 0;
    const CStructData& command = tables.structs[data[0] % tables.structs.size()];
    std::vector<std::string> texts;
    std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    size_t pos = 0;
    for (;;) {
        size_t end = text.find('\n', pos);
        texts.push_back(text.substr(pos, end == std::string::npos ? std::string::npos : end - pos));
        if (end == std::string::npos)
            break;
        pos = end + 1;
    }
    // Exactly sized, then too short: nothing may be written past either.
    size_t full = static_cast<size_t>(command.Size());
    for (size_t length : {full, full / 2}) {
        std::unique_ptr<uint8_t[]> buffer(new uint8_t[length ? length : 1]);
        std::memset(buffer.get(), 0xA5, length);
        command.Encode(texts, buffer.get(), length);
        command.DecodeAll(buffer.get(), length);
    }
    return 0;
}
