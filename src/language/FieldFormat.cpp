#include "language/FieldFormat.h"

#include "language/Match.h"
#include "language/VaTypes.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <locale.h>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads decimal digits at f[i]; false when the number is too large.
bool Digits(const std::string& f, size_t& i, int& value)
{
    value = 0;
    for (; i < f.size() && IsDigit(f[i]); ++i) {
        value = value * 10 + (f[i] - '0');
        if (value > CFieldFormat::kMaxFormatWidth)
            return false;
    }
    return true;
}

// snprintf in the "C" locale, so that a program whose locale writes a
// decimal comma still decodes replies as everywhere else.
template <class... Value>
void AppendPrintf(std::string& out, const char* format, Value... value)
{
    static const locale_t kC = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    const locale_t previous = uselocale(kC);
    char buffer[256];
    int n = std::snprintf(buffer, sizeof buffer, format, value...);
    if (n >= 0 && static_cast<size_t>(n) < sizeof buffer) {
        out.append(buffer, static_cast<size_t>(n));
    } else if (n >= 0) {
        size_t at = out.size();
        out.resize(at + static_cast<size_t>(n) + 1);
        std::snprintf(&out[at], static_cast<size_t>(n) + 1, format, value...);
        out.resize(at + static_cast<size_t>(n));
    }
    uselocale(previous);
}

// Places sign and prefix, digits and padding as printf does: spaces before
// (or after, with '-'), or zeros between the prefix and the digits.
void AppendPadded(std::string& out, int width, bool left, bool zeroFill, const char* prefix, size_t prefixLength,
                  size_t leadingZeros, const char* digits, size_t digitCount)
{
    const size_t length = prefixLength + leadingZeros + digitCount;
    const size_t pad = width > 0 && static_cast<size_t>(width) > length ? static_cast<size_t>(width) - length : 0;
    if (pad && !left && !zeroFill)
        out.append(pad, ' ');
    out.append(prefix, prefixLength);
    if (pad && !left && zeroFill)
        out.append(pad, '0');
    out.append(leadingZeros, '0');
    out.append(digits, digitCount);
    if (pad && left)
        out.append(pad, ' ');
}

// The decode files' own rule for unsigned words, matched as the language's
// other patterns are; one matcher per thread, since a match keeps state.
bool HasUnsignedConversion(const std::string& format)
{
    thread_local CMatch unsignedConversion("%[\\-+0 #]*[0-9]*[xXu]");
    return !format.empty() && unsignedConversion.Match(format.c_str(), 0) != 0;
}

}  // namespace

CFieldFormat::CFieldFormat(const std::string& f, int32_t kind)
{
    m_wordUnsigned = HasUnsignedConversion(f);
    if (f.empty() || std::memchr(f.data(), '\0', f.size()))
        return;
    std::string printf;
    std::string literal[2];  // before and after the conversion
    ConversionText parsed;
    size_t i = 0;
    while (i < f.size()) {
        std::string& text = literal[parsed.conversion ? 1 : 0];
        if (f[i] != '%') {
            printf += f[i];
            text += f[i++];
            continue;
        }
        if (i + 1 < f.size() && f[i + 1] == '%') {
            printf += "%%";
            text += '%';
            i += 2;
            continue;
        }
        if (parsed.conversion)
            return;  // a second conversion
        size_t start = i++;
        for (; i < f.size() && std::strchr("-+ #0'", f[i]); ++i) {
            switch (f[i]) {
            case '-': parsed.left = true; break;
            case '+': parsed.plus = true; break;
            case ' ': parsed.space = true; break;
            case '#': parsed.alternate = true; break;
            case '0': parsed.zero = true; break;
            default: parsed.grouping = true; break;
            }
        }
        if (!Digits(f, i, parsed.width))
            return;
        if (i < f.size() && f[i] == '.') {
            ++i;
            if (!Digits(f, i, parsed.precision))
                return;
        }
        size_t specEnd = i;
        while (i < f.size() && std::strchr("hlLqjzt", f[i]))
            ++i;
        if (i >= f.size())
            return;
        parsed.conversion = f[i++];
        printf.append(f, start, specEnd - start);
        printf += parsed.conversion;
    }
    const char conversion = parsed.conversion;
    if (!conversion) {
        m_use = Use::Literal;
        m_before = std::move(literal[0]);
        return;
    }

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
    if (m_use == Use::Default)
        return;
    m_printf = std::move(printf);
    // Left to snprintf: %c, %a, '#' on floating values, and flags on %s
    // other than '-'.
    switch (m_use) {
    case Use::Signed:
    case Use::Unsigned: m_direct = conversion != 'c'; break;
    case Use::Floating: m_direct = !std::strchr("aA", conversion) && !parsed.alternate; break;
    case Use::Character:
        m_direct = !parsed.plus && !parsed.space && !parsed.alternate && !parsed.zero && !parsed.grouping;
        break;
    default: break;
    }
    if (m_direct) {
        m_conversion = parsed;
        m_before = std::move(literal[0]);
        m_after = std::move(literal[1]);
    }
}

void CFieldFormat::AppendInteger(std::string& out, int64_t value) const
{
    if (!m_direct) {
        if (m_use == Use::Unsigned)
            AppendPrintf(out, m_printf.c_str(), static_cast<unsigned>(value));
        else
            AppendPrintf(out, m_printf.c_str(), static_cast<int>(value));
        return;
    }
    const ConversionText& s = m_conversion;
    char prefix[2];
    size_t prefixLength = 0;
    uint32_t magnitude = static_cast<uint32_t>(value);
    if (m_use == Use::Signed) {
        const auto v = static_cast<int32_t>(value);
        if (v < 0) {
            prefix[prefixLength++] = '-';
            magnitude = 0u - static_cast<uint32_t>(v);
        } else if (s.plus) {
            prefix[prefixLength++] = '+';
        } else if (s.space) {
            prefix[prefixLength++] = ' ';
        }
    }
    const int base = s.conversion == 'o' ? 8 : s.conversion == 'x' || s.conversion == 'X' ? 16 : 10;
    char digits[16];
    size_t count = static_cast<size_t>(std::to_chars(digits, digits + sizeof digits, magnitude, base).ptr - digits);
    if (s.conversion == 'X') {
        for (size_t k = 0; k < count; ++k)
            if (digits[k] >= 'a')
                digits[k] = static_cast<char>(digits[k] - 'a' + 'A');
    }
    if (s.precision == 0 && magnitude == 0)
        count = 0;
    size_t zeros = s.precision > 0 && static_cast<size_t>(s.precision) > count ? s.precision - count : 0;
    if (s.alternate) {
        if (s.conversion == 'o' && zeros == 0 && (count == 0 || digits[0] != '0'))
            zeros = 1;
        if (base == 16 && magnitude != 0) {
            prefix[prefixLength++] = '0';
            prefix[prefixLength++] = s.conversion;
        }
    }
    out += m_before;
    AppendPadded(out, s.width, s.left, s.zero && s.precision < 0, prefix, prefixLength, zeros, digits, count);
    out += m_after;
}

void CFieldFormat::AppendText(std::string& out, uint8_t byte) const
{
    if (!m_direct) {
        const char text[2] = {static_cast<char>(byte), '\0'};
        AppendPrintf(out, m_printf.c_str(), text);
        return;
    }
    const char text = static_cast<char>(byte);
    const size_t count = byte && m_conversion.precision != 0 ? 1 : 0;
    out += m_before;
    AppendPadded(out, m_conversion.width, m_conversion.left, false, nullptr, 0, 0, &text, count);
    out += m_after;
}

void CFieldFormat::AppendFloating(std::string& out, double value) const
{
    if (!m_direct || !std::isfinite(value)) {
        AppendPrintf(out, m_printf.c_str(), value);
        return;
    }
    const ConversionText& s = m_conversion;
    const char c = s.conversion;
    const std::chars_format style = c == 'f' || c == 'F'   ? std::chars_format::fixed
                                    : c == 'e' || c == 'E' ? std::chars_format::scientific
                                                           : std::chars_format::general;
    char digits[kMaxFormatWidth + 400];
    const auto result = std::to_chars(digits, digits + sizeof digits, std::fabs(value), style,
                                      s.precision < 0 ? 6 : s.precision);
    if (result.ec != std::errc()) {
        AppendPrintf(out, m_printf.c_str(), value);
        return;
    }
    const size_t count = static_cast<size_t>(result.ptr - digits);
    if (c == 'E' || c == 'G') {
        for (size_t k = 0; k < count; ++k)
            if (digits[k] == 'e')
                digits[k] = 'E';
    }
    char sign = 0;
    if (std::signbit(value))
        sign = '-';
    else if (s.plus)
        sign = '+';
    else if (s.space)
        sign = ' ';
    out += m_before;
    AppendPadded(out, s.width, s.left, s.zero, &sign, sign ? 1 : 0, 0, digits, count);
    out += m_after;
}

void CFieldFormat::AppendDefaultInteger(std::string& out, int32_t value)
{
    char digits[16];
    out.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

void CFieldFormat::AppendDefaultFloating(std::string& out, double value)
{
    if (!std::isfinite(value)) {
        AppendPrintf(out, "%f", value);
        return;
    }
    char digits[400];
    const auto result = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, 6);
    if (result.ec == std::errc())
        out.append(digits, result.ptr);
    else
        AppendPrintf(out, "%f", value);
}
