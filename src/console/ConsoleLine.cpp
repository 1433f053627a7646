#include "console/ConsoleLine.h"

#include "language/StructData.h"
#include "links/PortMCFrame.h"

#include <cctype>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <strings.h>

namespace {

bool splitWords(std::string_view line, std::vector<std::string>& words, std::string& error)
{
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i])))
            ++i;
        if (i == line.size())
            break;
        std::string word;
        while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) {
            if (line[i] != '"') {
                word += line[i++];
                continue;
            }
            const size_t close = line.find('"', i + 1);
            if (close == std::string_view::npos) {
                error = "a quote is not closed";
                return false;
            }
            word.append(line.substr(i + 1, close - i - 1));
            i = close + 1;
        }
        words.push_back(std::move(word));
    }
    return true;
}

// Decimal with an optional sign, or 0x hexadecimal; nothing else.
bool strictNumber(const std::string& text, int64_t& value)
{
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    const bool hex = !negative && text.size() > i + 2 && text[i] == '0' && text[i + 1] == 'x';
    if (hex)
        i += 2;
    if (i == text.size() || text.size() - i > 10)
        return false;
    for (size_t k = i; k < text.size(); ++k) {
        const auto c = static_cast<unsigned char>(text[k]);
        if (!(hex ? std::isxdigit(c) : std::isdigit(c)))
            return false;
    }
    value = std::strtoll(text.c_str() + i, nullptr, hex ? 16 : 10);
    if (negative)
        value = -value;
    return true;
}

int elementBytes(int32_t kind)
{
    switch (kind) {
    case VI1:
    case VBF1: return 1;
    case VI2:
    case VBF2: return 2;
    default: return 4;
    }
}

std::string describe(const CStructData& command, int i)
{
    return "argument " + std::to_string(i + 1) + " (" + command.FieldDisplayName(i) + ")";
}

// One value of an integer field: a name of its enumeration or a number
// that fits the field.
bool checkInteger(const _VA_ARG& field, const std::string& token, std::string& reason)
{
    int32_t named;
    if (field.enumRef && field.enumRef->ValueOf(token, named))
        return true;
    int64_t value;
    if (!strictNumber(token, value)) {
        reason = "'" + token + "' is not a number";
        if (field.enumRef)
            reason = "'" + token + "' is neither a number nor a name of " + field.enumRef->name;
        return false;
    }
    int64_t low, high;
    if (IsBitfieldKind(field.kind)) {
        low = 0;
        high = (int64_t{1} << field.count) - 1;
    } else {
        const int bits = 8 * elementBytes(field.kind);
        low = -(int64_t{1} << (bits - 1));
        high = (int64_t{1} << bits) - 1;
    }
    if (value < low || value > high) {
        reason = "'" + token + "' does not fit in " + std::to_string(low) + ".." + std::to_string(high);
        return false;
    }
    return true;
}

bool checkFloat(const std::string& token, std::string& reason)
{
    char* end = nullptr;
    const double value = std::strtod(token.c_str(), &end);
    if (token.empty() || *end != '\0' || !std::isfinite(value)) {
        reason = "'" + token + "' is not a number";
        return false;
    }
    return true;
}

bool checkArgument(const CStructData& command, int i, const std::string& text, std::string& error)
{
    const _VA_ARG& field = command.Field(i);
    std::string reason;
    if (field.kind == VBSTR) {
        if (text.size() <= static_cast<size_t>(field.count))
            return true;
        reason = "the text is longer than " + std::to_string(field.count) + " characters";
    } else if (IsBitfieldKind(field.kind)) {
        if (checkInteger(field, text, reason))
            return true;
    } else {
        // Array elements are separated by "," or ";".
        std::vector<std::string> tokens;
        size_t start = 0;
        for (;;) {
            const size_t sep = text.find_first_of(",;", start);
            tokens.push_back(text.substr(start, sep == std::string::npos ? std::string::npos : sep - start));
            if (sep == std::string::npos)
                break;
            start = sep + 1;
        }
        if (tokens.size() > static_cast<size_t>(field.count)) {
            reason = "at most " + std::to_string(field.count) + " value" + (field.count == 1 ? "" : "s");
        } else {
            bool good = true;
            for (const auto& token : tokens) {
                good = IsFloatKind(field.kind) ? checkFloat(token, reason) : checkInteger(field, token, reason);
                if (!good)
                    break;
            }
            if (good)
                return true;
        }
    }
    error = command.Name() + ": " + describe(command, i) + ": " + reason;
    return false;
}

const CStructData* findCommand(const CStructList& commands, const std::string& name)
{
    for (const auto& s : commands)
        if (s.Name() == name)
            return &s;
    for (const auto& s : commands)
        if (strcasecmp(s.Name().c_str(), name.c_str()) == 0)
            return &s;
    return nullptr;
}

}  // namespace

bool ParseHexBytes(const std::string& token, std::vector<uint8_t>& out)
{
    std::string t = token;
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X'))
        t = t.substr(2);
    if (t.empty() || t.size() % 2)
        return false;
    for (char c : t)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    for (size_t i = 0; i < t.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoi(t.substr(i, 2), nullptr, 16)));
    return true;
}

bool ParseConsoleLine(std::string_view line, const CStructList* commands, const SendProperties& defaults,
                      ConsoleLine& out, std::string& error)
{
    out = ConsoleLine{};
    std::vector<std::string> all;
    if (!splitWords(line, all, error))
        return false;
    if (all.empty() || all[0][0] == '#')
        return true;

    SendProperties properties = defaults;
    std::vector<std::string> words;
    for (size_t i = 0; i < all.size(); ++i) {
        const std::string& w = all[i];
        if (w == "--wait") {
            properties.waitReply = 1;
        } else if (w == "--nowait") {
            properties.waitReply = 0;
        } else if (w == "--timeout") {
            int64_t ms;
            if (i + 1 == all.size() || !strictNumber(all[i + 1], ms) || ms < 0 || ms > INT32_MAX) {
                error = "--timeout needs a number of milliseconds";
                return false;
            }
            properties.timeoutMs = static_cast<uint32_t>(ms);
            ++i;
        } else if (w.size() > 2 && w.compare(0, 2, "--") == 0) {
            error = "unknown option " + w;
            return false;
        } else {
            words.push_back(w);
        }
    }
    if (words.empty()) {
        error = "no command";
        return false;
    }

    const std::string& name = words[0];
    const std::vector<std::string> arguments(words.begin() + 1, words.end());
    if (strcasecmp(name.c_str(), "raw") == 0) {
        std::vector<uint8_t> bytes;
        for (const auto& a : arguments) {
            if (!ParseHexBytes(a, bytes)) {
                error = "raw: '" + a + "' is not a hexadecimal byte";
                return false;
            }
        }
        if (bytes.empty()) {
            error = "raw: no bytes";
            return false;
        }
        BuildRawRequest(bytes, properties, out.request);
    } else {
        const CStructData* command = commands ? findCommand(*commands, name) : nullptr;
        if (!command) {
            error = "unknown command '" + name + "'" + (commands ? "" : " (no command file; raw bytes only)");
            return false;
        }
        if (arguments.size() != static_cast<size_t>(command->FieldCount())) {
            error = command->Name() + " takes " + std::to_string(command->FieldCount()) + " argument" +
                    (command->FieldCount() == 1 ? "" : "s");
            for (int i = 0; i < command->FieldCount(); ++i)
                error += (i ? " " : ": ") + command->FieldDisplayName(i);
            return false;
        }
        for (int i = 0; i < command->FieldCount(); ++i)
            if (!checkArgument(*command, i, arguments[static_cast<size_t>(i)], error))
                return false;
        if (!BuildCommandRequest(*command, arguments, properties, out.request)) {
            error = command->Name() + ": the request is longer than a frame holds";
            return false;
        }
    }
    // The link takes at most this much, the reply header included.
    const int frame = out.request.length + (properties.waitReply ? 2 : 0);
    if (frame > mcframe::kMaxPayload) {
        error = "the request of " + std::to_string(frame) + " bytes is longer than " +
                std::to_string(mcframe::kMaxPayload);
        return false;
    }
    out.empty = false;
    return true;
}
