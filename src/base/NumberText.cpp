#include "base/NumberText.h"

int32_t ParseNumberText(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool minus = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        minus = text[i] == '-';
        ++i;
    }
    uint32_t value = 0;
    if (!minus && i + 1 < text.size() && text[i] == '0' && text[i + 1] == 'x') {
        for (i += 2; i < text.size(); ++i) {
            char c = text[i];
            uint32_t digit;
            if (c >= '0' && c <= '9')
                digit = c - '0';
            else if (c >= 'a' && c <= 'f')
                digit = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F')
                digit = c - 'A' + 10;
            else
                break;
            value = value * 16 + digit;
        }
        return static_cast<int32_t>(value);
    }
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = value * 10 + static_cast<uint32_t>(text[i] - '0');
    return static_cast<int32_t>(minus ? 0u - value : value);
}

bool ParseStrictNumber(std::string_view text, int64_t& value)
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
    int64_t result = 0;
    for (size_t k = i; k < text.size(); ++k) {
        const char c = text[k];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (hex && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (hex && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return false;
        result = result * (hex ? 16 : 10) + digit;
    }
    value = negative ? -result : result;
    return true;
}
