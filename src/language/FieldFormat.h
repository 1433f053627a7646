#pragma once
// Format texts come from decode files that users edit and share, so one is
// used only when it cannot misuse the value:
//   - integer kinds: d i u x X o c, with flags (- + space # 0 '), width and
//     precision; any length modifier is dropped and replaced by ours;
//   - floating kinds: f F e E g G a A, the value passed as double;
//   - char and bstr bytes: also s, which prints the byte as a character;
//   - a text with no conversion prints itself ("%%" reads as "%").
// Anything else (two conversions, '*' widths, %n, %p, %s on a number, a
// conversion that does not fit the kind, an unfinished one, a width or
// precision above kMaxFormatWidth, a NUL) is ignored and the value gets the
// default text of its kind.
//
// Whether a 16-bit word is read as unsigned is decided apart from this, by
// the pattern "%[\-+0 #]*[0-9]*[xXu]" found anywhere in the text: "%04X"
// reads FF FE as 65534, "%.4x" and "%o" read it as -2.
//
// Texts are those of printf in the "C" locale, whatever the program's
// locale: the common conversions are formatted here, the rare ones by
// snprintf under the "C" locale.
//
// Threads: a format is immutable once built; any number of threads may
// use one at once.

#include <cstdint>
#include <string>

class CFieldFormat {
public:
    static constexpr int kMaxFormatWidth = 512;

    enum class Use : uint8_t {
        Default,    // no usable format
        Signed,     // d i c: the value as int
        Unsigned,   // u x X o: the value as unsigned
        Character,  // s on a byte
        Floating,   // the value as double
        Literal,    // no conversion: the text itself
    };

    CFieldFormat() = default;
    CFieldFormat(const std::string& format, int32_t kind);

    Use GetUse() const { return m_use; }
    // True when a 16-bit word is taken as 0 to 65535 rather than signed.
    bool WordIsUnsigned() const { return m_wordUnsigned; }
    // The format with its length modifier removed; empty when unused.
    const std::string& Printf() const { return m_printf; }

    // Appends the formatted value; the caller picks the call by GetUse().
    void AppendInteger(std::string& out, int64_t value) const;
    void AppendText(std::string& out, uint8_t byte) const;
    void AppendFloating(std::string& out, double value) const;
    void AppendLiteral(std::string& out) const { out += m_before; }

    // The default texts of the kinds: "%d" and "%f".
    static void AppendDefaultInteger(std::string& out, int32_t value);
    static void AppendDefaultFloating(std::string& out, double value);

private:
    // One conversion as read from a format text.
    struct ConversionText {
        bool left = false;       // '-'
        bool plus = false;       // '+'
        bool space = false;      // ' '
        bool alternate = false;  // '#'
        bool zero = false;       // '0'
        bool grouping = false;   // '\''
        int width = 0;
        int precision = -1;      // -1: none given
        char conversion = 0;
    };

    Use m_use = Use::Default;
    bool m_wordUnsigned = false;
    std::string m_printf;
    // Formatted here rather than by snprintf; the text around the
    // conversion (or the whole literal text), with "%%" read as "%".
    bool m_direct = false;
    ConversionText m_conversion;
    std::string m_before;
    std::string m_after;
};
