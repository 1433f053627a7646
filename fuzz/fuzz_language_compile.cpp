// The decode-file compiler on fuzzed file contents, with the dump on.

#include "base/StdOut.h"
#include "language/VaCompiler.h"

#include <cstdint>
#include <cstdio>

namespace {
class CNullOut : public CStdOut {
public:
    int PrintV(const char* format, va_list args) override { return std::vsnprintf(nullptr, 0, format, args); }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CNullOut out;
    for (bool shared : {false, true}) {
        CVa_Compiler compiler;
        compiler.SetDump(true, &out);
        int ok = compiler.CompileBuffer(data, size, shared);
        if (ok != (compiler.GetErrorText().empty() ? 1 : 0))
            __builtin_trap();
        for (const auto& s : compiler.Structs()) {
            if (s.Size() < 0)
                __builtin_trap();
        }
    }
    return 0;
}
