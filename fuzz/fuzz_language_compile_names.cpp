// Fuzzes the decode-file compiler with files of many names: bytes 0x01 k
// expand to k * 256 lines, each a #define, an enum item, an enum or a
// structure with a name of its own (the kind by the running number), in
// whatever surroundings the fuzzer builds. A slow file is caught by the
// run's time-out.

#include "ExpandRuns.h"
#include "language/VaCompiler.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text = ExpandRuns(data, size, 1 << 20, [](size_t n) {
        const std::string name = "N" + std::to_string(n / 4);
        switch (n % 4) {
        case 0: return "#define " + name + " " + std::to_string(n) + "\n";
        case 1: return name + ",\n";
        case 2: return "enum " + name + " {\n};\n";
        default: return "struct " + std::to_string(n) + " {\nchar " + name + "; enum " + name + "\n};\n";
        }
    });
    for (bool shared : {false, true}) {
        CVa_Compiler compiler;
        int ok = compiler.CompileBuffer(text.data(), text.size(), shared);
        if (ok != (compiler.GetErrorText().empty() ? 1 : 0))
            __builtin_trap();
        for (const auto& s : compiler.Structs()) {
            for (const auto& f : s.Fields()) {
                if (!f.enumName.empty() && f.enumRef && f.enumRef->name != f.enumName)
                    __builtin_trap();
            }
        }
    }
    return 0;
}
