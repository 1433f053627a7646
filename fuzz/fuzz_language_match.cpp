// Pattern compile and match on fuzzed patterns and texts, in memory and
// in stream form. Input: flag byte, pattern, NUL, text.

#include "language/Match.h"
#include "language/SeekReader.h"

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    bool ignoreCase = data[0] & 1;
    const char* rest = reinterpret_cast<const char*>(data + 1);
    size_t restSize = size - 1;
    const void* nul = std::memchr(rest, 0, restSize);
    size_t patternSize = nul ? static_cast<size_t>(static_cast<const char*>(nul) - rest) : restSize;
    std::string pattern(rest, patternSize);
    std::string text = patternSize < restSize ? std::string(rest + patternSize + 1, restSize - patternSize - 1) : "";

    CMatch m;
    try {
        int stop = 0;
        m.Compile(pattern.c_str(), ignoreCase, &stop);
        if (stop < 0 || static_cast<size_t>(stop) > pattern.size())
            __builtin_trap();
    } catch (const std::invalid_argument&) {
        return 0;
    }
    if (m.Items().items.empty())
        return 0;

    // Memory form: every match in turn, with its captures.
    const char* c = text.c_str();
    size_t length = std::strlen(c);
    int pos = 0;
    for (int n = 0; n < 64 && static_cast<size_t>(pos) <= length; ++n) {
        int end = -1;
        if (!m.Match(c, pos, &end))
            break;
        if (end < 0 || static_cast<size_t>(end) > length)
            __builtin_trap();
        for (int k = 1; k <= m.MarkCount(); ++k)
            m.GetCapture(k, k < m.MarkCount() ? k + 1 : 1, c);
        for (int g = 1; g <= m.GroupCount(); ++g)
            m.GetGroupText(g, c);
        pos = end > pos ? end : pos + 1;
    }

    // Stream form: the text with its NULs, matched at every position.
    CSeekReader reader;
    reader.Attach(text.data(), text.size());
    for (int64_t p = 0; p <= reader.Size() && p < 256; ++p) {
        int64_t end = -1;
        if (m.MatchAt(reader, p, &end)) {
            if (end < p || end > reader.Size())
                __builtin_trap();
            for (int k = 1; k < m.MarkCount(); ++k)
                m.GetCapture(k, k + 1, reader);
            for (int g = 1; g <= m.GroupCount(); ++g)
                m.GetGroupText(g, reader);
        }
    }
    return 0;
}
