// Field formats write most conversions themselves rather than through
// snprintf; every text must still be the one snprintf writes in the "C"
// locale, for every combination of flags, width and precision.

#include "language/FieldFormat.h"
#include "language/VaTypes.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

namespace {

template <class Value>
std::string Printf(const std::string& format, Value value)
{
    char buffer[2048];
    int n = std::snprintf(buffer, sizeof buffer, format.c_str(), value);
    return n < 0 ? std::string() : std::string(buffer, static_cast<size_t>(n));
}

// Every "x%<flags><width><precision><conversion>y" of the lists, with
// literal percents around the conversion.
std::vector<std::string> Formats(const std::vector<const char*>& flags, const std::vector<const char*>& widths,
                                 const std::vector<const char*>& precisions, const char* conversions)
{
    std::vector<std::string> formats;
    for (const char* f : flags)
        for (const char* w : widths)
            for (const char* p : precisions)
                for (const char* c = conversions; *c; ++c)
                    formats.push_back(std::string("%%<%") + f + w + p + *c + ">%%");
    return formats;
}

const std::vector<const char*> kWidths = {"", "1", "7", "16"};

TEST(FieldFormat, IntegersAsPrintfWritesThem)
{
    const std::vector<int64_t> values = {0, 1, -1, 7, 42, -42, 255, 0x7FFF, -32768, 0xFFFE, 65535, 123456789,
                                         INT32_MIN, INT32_MAX, UINT32_MAX};
    const auto formats = Formats({"", "-", "+", " ", "#", "0", "'", "-0", "+0", " 0", "#0", "-#", "+ ", "-+#0 "},
                                 kWidths, {"", ".", ".0", ".1", ".6"}, "diuxXo");
    int checked = 0;
    for (const std::string& format : formats) {
        const CFieldFormat f(format, VI4);
        ASSERT_NE(f.GetUse(), CFieldFormat::Use::Default) << format;
        for (int64_t v : values) {
            const std::string expected = f.GetUse() == CFieldFormat::Use::Unsigned
                                             ? Printf(f.Printf(), static_cast<unsigned>(v))
                                             : Printf(f.Printf(), static_cast<int>(v));
            std::string text = "=";
            f.AppendInteger(text, v);
            ASSERT_EQ(text, "=" + expected) << format << " of " << v;
            ++checked;
        }
    }
    EXPECT_EQ(checked, 14 * 4 * 5 * 6 * 15);
}

TEST(FieldFormat, FloatingValuesAsPrintfWritesThem)
{
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<double> values = {0.0,  -0.0,    0.5,     1.0,    -2.5,        3.3,     0.125,   0.375,
                                        2.5,  9.9995,  0.05,    1e-5,   0.000976562, 1.0 / 3, 123456.789,
                                        1e15, -1e300,  1e-300,  4.9e-324, DBL_MAX,   -DBL_MIN, std::ldexp(-32768, -30),
                                        std::ldexp(12345, 40), inf, -inf, std::nan("")};
    const auto formats = Formats({"", "-", "+", " ", "0", "'", "-0", "+0", " 0", "+ ", "#", "#0"}, kWidths,
                                 {"", ".0", ".1", ".3", ".6", ".17"}, "fFeEgGaA");
    for (const std::string& format : formats) {
        const CFieldFormat f(format, VDSPFLOAT);
        ASSERT_EQ(f.GetUse(), CFieldFormat::Use::Floating) << format;
        for (double v : values) {
            std::string text = "=";
            f.AppendFloating(text, v);
            ASSERT_EQ(text, "=" + Printf(f.Printf(), v)) << format << " of " << v;
        }
    }
    // The widest precision on the largest value.
    const CFieldFormat widest("%512.512f", VIEEE64);
    std::string text;
    widest.AppendFloating(text, -DBL_MAX);
    EXPECT_EQ(text, Printf("%512.512f", -DBL_MAX));
}

TEST(FieldFormat, BytesAsTextAsPrintfWritesThem)
{
    const auto formats = Formats({"", "-", "0", "+", "#", "-0"}, kWidths, {"", ".0", ".1", ".4"}, "s");
    for (const std::string& format : formats) {
        const CFieldFormat f(format, VI1);
        ASSERT_EQ(f.GetUse(), CFieldFormat::Use::Character) << format;
        for (int byte : {0, int('A'), int(' '), int('%'), 0xFF}) {
            const char text[2] = {static_cast<char>(byte), 0};
            std::string out = "=";
            f.AppendText(out, static_cast<uint8_t>(byte));
            ASSERT_EQ(out, "=" + Printf(f.Printf(), text)) << format << " of " << byte;
        }
    }
}

TEST(FieldFormat, DefaultTexts)
{
    struct Case {
        double value;
        const char* text;
    } floats[] = {{0.0, "0.000000"}, {-0.0, "-0.000000"}, {1.0 / 3, "0.333333"}, {-2.5e-7, "-0.000000"},
                  {1e20, "100000000000000000000.000000"}, {std::numeric_limits<double>::infinity(), "inf"}};
    for (const Case& c : floats) {
        std::string text;
        CFieldFormat::AppendDefaultFloating(text, c.value);
        EXPECT_EQ(text, c.text) << c.value;
    }
    std::string max;
    CFieldFormat::AppendDefaultFloating(max, -DBL_MAX);
    EXPECT_EQ(max, Printf("%f", -DBL_MAX));
    for (int32_t v : {0, -1, INT32_MIN, INT32_MAX}) {
        std::string text;
        CFieldFormat::AppendDefaultInteger(text, v);
        EXPECT_EQ(text, Printf("%d", v));
    }
}

// Decoded texts are the same whatever locale the program runs in (the
// desktop program takes the user's).
TEST(FieldFormat, TextsIgnoreTheLocale)
{
    const char* previous = std::setlocale(LC_ALL, nullptr);
    const std::string saved = previous ? previous : "C";
    bool found = false;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "de_DE", "fr_FR"})
        if (std::setlocale(LC_ALL, name)) {
            found = true;
            break;
        }
    if (!found)
        GTEST_SKIP() << "no locale with a decimal comma installed";
    std::string text;
    CFieldFormat("%.3f", VDSPFLOAT).AppendFloating(text, 2.5);
    CFieldFormat("%'d", VI4).AppendInteger(text, 1234567);
    CFieldFormat("%a", VDSPFLOAT).AppendFloating(text, 0.5);
    CFieldFormat::AppendDefaultFloating(text, -1.5);
    std::setlocale(LC_ALL, saved.c_str());
    EXPECT_EQ(text, "2.50012345670x1p-1-1.500000");
}

}  // namespace
