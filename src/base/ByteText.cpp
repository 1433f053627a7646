#include "base/ByteText.h"

namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool parseToken(std::string_view token, std::vector<uint8_t>& out)
{
    if (token.size() > 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X'))
        token.remove_prefix(2);
    if (token.empty() || token.size() % 2)
        return false;
    for (char c : token)
        if (hexDigit(c) < 0)
            return false;
    for (size_t i = 0; i < token.size(); i += 2)
        out.push_back(static_cast<uint8_t>(hexDigit(token[i]) * 16 + hexDigit(token[i + 1])));
    return true;
}

}  // namespace

bool ParseByteText(std::string_view text, std::vector<uint8_t>& out, std::string& bad)
{
    size_t i = 0;
    for (;;) {
        while (i < text.size() && isBlank(text[i]))
            ++i;
        if (i == text.size())
            return true;
        size_t end = i;
        while (end < text.size() && !isBlank(text[end]))
            ++end;
        const std::string_view token = text.substr(i, end - i);
        if (!parseToken(token, out)) {
            bad = token;
            return false;
        }
        i = end;
    }
}

bool ParseByteWords(const std::vector<std::string>& words, std::vector<uint8_t>& out, std::string& bad)
{
    for (const auto& word : words)
        if (!ParseByteText(word, out, bad))
            return false;
    return true;
}
