#include "language/FieldFormat.h"

#include "language/VaTypes.h"

#include <cstdio>
#include <cstring>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads decimal digits at f[i]; false when the number is too large.
bool Digits(const std::string& f, size_t& i)
{
    int value = 0;
    for (; i < f.size() && IsDigit(f[i]); ++i) {
        value = value * 10 + (f[i] - '0');
        if (value > CFieldFormat::kMaxFormatWidth)
            return false;
    }
    return true;
}

template <class... Value>
void AppendPrintf(std::string& out, const char* format, Value... value)
{
    char buffer[256];
    int n = std::snprintf(buffer, sizeof buffer, format, value...);
    if (n < 0)
        return;
    if (static_cast<size_t>(n) < sizeof buffer) {
        out.append(buffer, static_cast<size_t>(n));
        return;
    }
    size_t at = out.size();
    out.resize(at + static_cast<size_t>(n) + 1);
    std::snprintf(&out[at], static_cast<size_t>(n) + 1, format, value...);
    out.resize(at + static_cast<size_t>(n));
}

}  // namespace

CFieldFormat::CFieldFormat(const std::string& f, int32_t kind)
{
    if (f.empty() || std::memchr(f.data(), '\0', f.size()))
        return;
    std::string printf;
    char conversion = 0;
    size_t i = 0;
    while (i < f.size()) {
        if (f[i] != '%') {
            printf += f[i++];
            continue;
        }
        if (i + 1 < f.size() && f[i + 1] == '%') {
            printf += "%%";
            i += 2;
            continue;
        }
        if (conversion)
            return;  // a second conversion
        size_t start = i++;
        while (i < f.size() && std::strchr("-+ #0'", f[i]))
            ++i;
        if (!Digits(f, i))
            return;
        if (i < f.size() && f[i] == '.') {
            ++i;
            if (!Digits(f, i))
                return;
        }
        size_t specEnd = i;
        while (i < f.size() && std::strchr("hlLqjzt", f[i]))
            ++i;
        if (i >= f.size())
            return;
        conversion = f[i++];
        printf.append(f, start, specEnd - start);
        printf += conversion;
    }
    if (!conversion)
        return;

    bool floating = IsFloatKind(kind);
    if (floating) {
        if (std::strchr("fFeEgGaA", conversion))
            m_use = Use::Floating;
    } else if (std::strchr("dic", conversion)) {
        m_use = Use::Signed;
    } else if (std::strchr("uxXo", conversion)) {
        m_use = Use::Unsigned;
    } else if (conversion == 's' && (kind == VI1 || kind == VBSTR)) {
        m_use = Use::Character;
    }
    if (m_use != Use::Default)
        m_printf = std::move(printf);
}

void CFieldFormat::AppendInteger(std::string& out, int64_t value) const
{
    if (m_use == Use::Unsigned)
        AppendPrintf(out, m_printf.c_str(), static_cast<unsigned>(value));
    else
        AppendPrintf(out, m_printf.c_str(), static_cast<int>(value));
}

void CFieldFormat::AppendText(std::string& out, uint8_t byte) const
{
    const char text[2] = {static_cast<char>(byte), '\0'};
    AppendPrintf(out, m_printf.c_str(), text);
}

void CFieldFormat::AppendFloating(std::string& out, double value) const
{
    AppendPrintf(out, m_printf.c_str(), value);
}
