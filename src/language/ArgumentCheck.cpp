#include "language/ArgumentCheck.h"

#include "base/NumberText.h"
#include "language/StructData.h"

#include <cmath>
#include <cstdlib>
#include <strings.h>

namespace {

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

// One value of an integer field: a name of its enumeration or a number
// that fits the field (signed or unsigned, as the encoding stores both).
bool checkInteger(const _VA_ARG& field, const std::string& token, std::string& reason)
{
    int32_t named;
    if (field.enumRef && field.enumRef->ValueOf(token, named))
        return true;
    int64_t value;
    if (!ParseStrictNumber(token, value)) {
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

}  // namespace

const CStructData* FindCommandNamed(const CStructList& commands, const std::string& name)
{
    for (const auto& s : commands)
        if (s.Name() == name)
            return &s;
    for (const auto& s : commands)
        if (strcasecmp(s.Name().c_str(), name.c_str()) == 0)
            return &s;
    return nullptr;
}

bool CheckArgument(const CStructData& command, int i, const std::string& text, std::string& reason)
{
    const _VA_ARG& field = command.Field(i);
    if (field.kind == VBSTR) {
        if (text.size() <= static_cast<size_t>(field.count))
            return true;
        reason = "the text is longer than " + std::to_string(field.count) + " characters";
        return false;
    }
    if (IsBitfieldKind(field.kind))
        return checkInteger(field, text, reason);

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
        return false;
    }
    for (const auto& token : tokens)
        if (!(IsFloatKind(field.kind) ? checkFloat(token, reason) : checkInteger(field, token, reason)))
            return false;
    return true;
}

bool CheckArguments(const CStructData& command, const std::vector<std::string>& texts, std::string& error)
{
    const int count = command.FieldCount();
    if (texts.size() != static_cast<size_t>(count)) {
        error = command.Name() + " takes " + std::to_string(count) + " argument" + (count == 1 ? "" : "s");
        for (int i = 0; i < count; ++i)
            error += (i ? " " : ": ") + command.FieldDisplayName(i);
        return false;
    }
    for (int i = 0; i < count; ++i) {
        std::string reason;
        if (!CheckArgument(command, i, texts[static_cast<size_t>(i)], reason)) {
            error = command.Name() + ": argument " + std::to_string(i + 1) + " (" + command.FieldDisplayName(i) +
                    "): " + reason;
            return false;
        }
    }
    return true;
}
