// A fuzzed decode file compiled, then fuzzed reply bytes decoded with every
// structure. Input: N (one byte), the decode file, N reply bytes.

#include "language/VaCompiler.h"

#include <cstdint>
#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    size_t replySize = data[0];
    if (replySize > size - 1)
        replySize = size - 1;
    size_t fileSize = size - 1 - replySize;
    CVa_Compiler compiler;
    compiler.CompileBuffer(data + 1, fileSize, true);

    // The reply in a block of its own size, so that any read past it shows.
    std::unique_ptr<uint8_t[]> reply(new uint8_t[replySize ? replySize : 1]);
    std::memcpy(reply.get(), data + 1 + fileSize, replySize);
    const CStructList& structs = compiler.Structs();
    for (const auto& s : structs) {
        std::string all = s.DecodeAll(reply.get(), replySize);
        std::string joined;
        for (int i = 0; i < s.FieldCount(); ++i) {
            joined += s.DecodeField(i, reply.get(), replySize);
            s.FieldTypeText(i);
            s.FieldDisplayName(i);
        }
        if (joined != all)
            __builtin_trap();
        structs.DecodeText(s.Code(), reply.get(), replySize);
    }
    return 0;
}
