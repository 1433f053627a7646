#include "sim/SimReplies.h"

#include "language/VaCompiler.h"

#include <cstring>
#include <stdexcept>

extern const char kSimExampleDecodeFile[];

namespace {

// The structures keep pointers into the compiler's enum table, so the
// compiler itself lives on.
const CStructList& Structures()
{
    static CVa_Compiler compiler;
    static const bool compiled = [] {
        compiler.Clear();
        return compiler.CompileBuffer(kSimExampleDecodeFile, std::strlen(kSimExampleDecodeFile), false) == 1;
    }();
    if (!compiled)
        throw std::logic_error("example decode file: " + compiler.GetErrorText());
    return compiler.Structs();
}

const CStructData& Structure(int32_t code)
{
    const CStructData* s = Structures().Find(code);
    if (!s)
        throw std::logic_error("example decode file has no structure " + std::to_string(code));
    return *s;
}

}  // namespace

std::vector<uint8_t> CSimReplies::Build(int32_t code, const Fields& fields)
{
    const CStructData& s = Structure(code);
    std::vector<std::string> texts(static_cast<size_t>(s.FieldCount()));
    for (const auto& [name, text] : fields) {
        int i = 0;
        while (i < s.FieldCount() && s.Field(i).name != name)
            ++i;
        if (i == s.FieldCount())
            throw std::logic_error("structure " + s.Name() + " has no field " + name);
        texts[static_cast<size_t>(i)] = text;
    }
    std::vector<uint8_t> reply;
    if (code > 0xFF)
        reply.push_back(static_cast<uint8_t>(code >> 8));
    reply.push_back(static_cast<uint8_t>(code));
    const size_t head = reply.size();
    reply.resize(head + static_cast<size_t>(s.Size()), 0);
    s.Encode(texts, reply.data() + head, reply.size() - head);
    return reply;
}

int CSimReplies::Size(int32_t code) { return Structure(code).Size(); }
