#include "language/StructData.h"
#include "language/VaCompiler.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// Compiles "struct 1 { BODY };" plus the enums given.
class CTable {
public:
    explicit CTable(const std::string& body, const std::string& enums = "")
    {
        m_text = "struct 1 {\n" + body + "\n};\n" + enums;
        m_compiler.Clear();
        EXPECT_EQ(m_compiler.CompileBuffer(m_text.data(), m_text.size(), false), 1) << m_compiler.GetErrorText();
    }
    const CStructList& List() const { return m_compiler.Structs(); }
    const CStructData& Struct() const { return m_compiler.Structs().at(0); }
    std::string Decode(const Bytes& bytes) const { return List().DecodeText(1, bytes.data(), bytes.size()); }
    Bytes Encode(const std::vector<std::string>& texts, Bytes buffer = {}) const
    {
        if (buffer.empty())
            buffer.assign(static_cast<size_t>(Struct().Size()), 0);
        EXPECT_EQ(Struct().Encode(texts, buffer.data(), buffer.size()), 0);
        return buffer;
    }

private:
    std::string m_text;
    CVa_Compiler m_compiler;
};

struct DecodeCase {
    const char* body;
    Bytes bytes;
    const char* text;
};

TEST(StructDataTest, DecodesFieldsToLines)
{
    const char* mode = "enum Mode {\nIDLE,\nRUN = 3,\n};\n";
    const DecodeCase cases[] = {
        {"char a;\nint b;\nlong c;", {0x01, 0xFF, 0xFE, 0x00, 0x01, 0x01, 0x00}, "a=1\r\nb=-2\r\nc=65792\r\n"},
        {"int b; \"%04X\"", {0xFF, 0xFE}, "b=FFFE\r\n"},
        {"int b; \"%d\"", {0xFF, 0xFE}, "b=-2\r\n"},
        {"int b; \"%u\"", {0xFF, 0xFE}, "b=65534\r\n"},
        // A word is unsigned only where "%[\-+0 #]*[0-9]*[xXu]" is found in
        // the text; otherwise -2 reaches the conversion.
        {"int b; \"%o\"", {0xFF, 0xFE}, "b=37777777776\r\n"},
        {"int b; \"%.4x\"", {0xFF, 0xFE}, "b=fffffffe\r\n"},
        {"int b; \"%.6x\"", {0xFF, 0xFE}, "b=fffffffe\r\n"},
        {"int b; \"%lx\"", {0xFF, 0xFE}, "b=fffffffe\r\n"},
        {"int b; \"%'u\"", {0xFF, 0xFE}, "b=4294967294\r\n"},
        {"int b; \"%-+0 #8x\"", {0xFF, 0xFE}, "b=0xfffe  \r\n"},
        {"int b; \"%08X\"", {0xFF, 0xFE}, "b=0000FFFE\r\n"},
        {"int b; \"%d (%%u)\"", {0xFF, 0xFE}, "b=65534 (%u)\r\n"},
        {"int b; \"%x\"", {0x00, 0x05}, "b=5\r\n"},
        {"int b; little_endian", {0xFE, 0xFF}, "b=-2\r\n"},
        {"long c; little_endian \"0x%08X\"", {0x78, 0x56, 0x34, 0x12}, "c=0x12345678\r\n"},
        {"long c;", {0xFF, 0xFF, 0xFF, 0xFF}, "c=-1\r\n"},
        {"long c; \"%u\"", {0xFF, 0xFF, 0xFF, 0xFF}, "c=4294967295\r\n"},
        {"char v[3]; inline", {1, 2, 3}, "v=1,2,3\r\n"},
        {"char v[3];", {1, 2, 3}, "v[0]=1\r\nv[1]=2\r\nv[2]=3\r\n"},
        {"char v[1];", {7}, "v=7\r\n"},
        {"int w[2]; little_endian inline \"%X\"", {0x34, 0x12, 0x01, 0x00}, "w=1234,1\r\n"},
        {"char lo:3;\nchar hi:5;", {0xA9}, "lo=1\r\nhi=21\r\n"},
        {"int a:4;\nint b:12;\nchar c;", {0x12, 0x34, 0x56}, "a=4\r\nb=291\r\nc=86\r\n"},
        {"long a:31;\nlong b:2;", {0xC0, 0, 0, 0x01}, "a=1073741825\r\nb=1\r\n"},  // b reads bits 31..32 of one unit
        {"float f;", {0x40, 0x00, 0x00, 0x01}, "f=1.000000\r\n"},
        {"float f;", {0x40, 0x00, 0x00, 0x00}, "f=0.500000\r\n"},
        {"float f; \"%.2f\"", {0xC0, 0x00, 0x00, 0x02}, "f=-2.00\r\n"},
        {"float f; \"%g\"", {0x40, 0x00, 0xFF, 0xF7}, "f=0.000976562\r\n"},  // negative exponent
        {"char mode; enum Mode", {3}, "mode=RUN\r\n"},
        {"char mode; enum Mode", {7}, "mode=7\r\n"},
        {"char mode; enum Missing", {3}, "mode=3\r\n"},
        {"char mode[2]; inline enum Mode", {0, 3}, "mode=IDLE,RUN\r\n"},
        {"char mode; \"%02d\" enum Mode", {3}, "mode=3\r\n"},  // not both: a syntax error, see below
        {"bstr s[3];", {'A', 'B', 0}, "s[0]=65\r\ns[1]=66\r\ns[2]=0\r\n"},
        {"bstr s[3]; \"%s\"", {'A', 'B', 0}, "s[0]=A\r\ns[1]=B\r\ns[2]=\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        std::string body = c.body;
        if (body.find("\"%02d\" enum") != std::string::npos)
            continue;  // a field takes a format or an enum, the grammar refuses both
        CTable t(body, mode);
        EXPECT_EQ(t.Decode(c.bytes), c.text);
    }
}

TEST(StructDataTest, CharArrayWithTextFormatReadsAsText)
{
    CTable t("char s[8]; inline \"%s\"\nchar n;");
    EXPECT_EQ(t.Decode({'C', 'B', '-', '1', 0, 0, 0, 0, 9}), "s=C,B,-,1,,,,\r\nn=9\r\n");
}

struct FormatCase {
    const char* field;
    const char* format;
    Bytes bytes;
    const char* value;
};

TEST(StructDataTest, FormatTextsAreUsedOnlyWhenTheyFit)
{
    const FormatCase cases[] = {
        // usable: one conversion fitting the kind, length modifiers replaced
        {"char", "0x%02X", {0xAB}, "0xAB"},
        {"char", "%c", {'Z'}, "Z"},
        {"char", "%-3d|", {5}, "5  |"},
        {"char", "%hhu", {200}, "200"},
        {"int", "%lld", {0xFF, 0xFE}, "-2"},
        {"long", "%+'d", {0x00, 0x0F, 0x42, 0x40}, "+1000000"},
        {"char", "%5s", {'x'}, "    x"},
        {"float", "%e", {0x40, 0x00, 0x00, 0x01}, "1.000000e+00"},
        {"float", "%Lf", {0x40, 0x00, 0x00, 0x01}, "1.000000"},
        {"char", "%d%%", {50}, "50%"},
        // unusable: the default text of the kind instead
        {"char", "%s%s", {0x41}, "65"},
        {"int", "%s", {0x00, 0x41}, "65"},
        {"long", "%n", {0, 0, 0, 7}, "7"},
        {"long", "%p", {0, 0, 0, 7}, "7"},
        {"char", "%*d", {7}, "7"},
        {"char", "%.*d", {7}, "7"},
        {"char", "%d %d", {7}, "7"},
        {"char", "%1$d", {7}, "7"},
        {"char", "%f", {7}, "7"},
        {"float", "%d", {0x40, 0x00, 0x00, 0x01}, "1.000000"},
        {"float", "%x", {0x40, 0x00, 0x00, 0x01}, "1.000000"},
        {"float", "%s", {0x40, 0x00, 0x00, 0x01}, "1.000000"},
        // no conversion: the text itself, whatever the kind
        {"char", "100%%", {7}, "100%"},
        {"char", "spare", {7}, "spare"},
        {"int", "%%", {0xFF, 0xFE}, "%"},
        {"long", "reserved", {0, 0, 0, 7}, "reserved"},
        {"float", "n/a", {0x40, 0x00, 0x00, 0x01}, "n/a"},
        // an unfinished conversion is not a text without one
        {"char", "%", {7}, "7"},
        {"char", "%l", {7}, "7"},
        {"char", "%513d", {7}, "7"},
        {"char", "%.99999999999d", {7}, "7"},
        {"char", "%k", {7}, "7"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.field) + " " + c.format);
        CTable t(std::string(c.field) + " v; \"" + c.format + "\"");
        EXPECT_EQ(t.Decode(c.bytes), std::string("v=") + c.value + "\r\n");
    }
    // The widest width allowed still prints in full.
    CTable wide("char v; \"%512d\"");
    EXPECT_EQ(wide.Decode({7}), "v=" + std::string(511, ' ') + "7\r\n");
}

TEST(StructDataTest, IeeeValuesMostSignificantByteFirstUnlessLittleEndian)
{
    CStructData s(9, "ieee");
    _VA_ARG single;
    single.kind = VIEEE32;
    single.name = "s";
    s.AddField(single);
    _VA_ARG doubleLe;
    doubleLe.kind = VIEEE64;
    doubleLe.name = "d";
    doubleLe.littleEndian = true;
    doubleLe.format = "%.3f";
    s.AddField(doubleLe);
    _VA_ARG doubleBe = doubleLe;
    doubleBe.name = "b";
    doubleBe.littleEndian = false;
    s.AddField(doubleBe);
    ASSERT_EQ(s.Size(), 20);
    const Bytes bytes = {0x3F, 0xC0, 0x00, 0x00,                          // 1.5
                         0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0xC0,  // -2.5 reversed
                         0xC0, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}; // -2.5
    EXPECT_EQ(s.DecodeAll(bytes.data(), bytes.size()), "s=1.500000\r\nd=-2.500\r\nb=-2.500\r\n");
    Bytes encoded(20, 0xEE);
    s.Encode({"1.5", "-2.5", "-2.5"}, encoded.data(), encoded.size());
    EXPECT_EQ(encoded, bytes);
    EXPECT_STREQ(s.FieldTypeText(0), "float");
    EXPECT_STREQ(s.FieldTypeText(1), "double");
}

TEST(StructDataTest, ShortRepliesReadZerosAndNothingBeyond)
{
    CTable t("char a;\nint b;\nlong c:4;\nlong d:4;\nfloat f;");
    ASSERT_EQ(t.Struct().Size(), 11);
    // Exactly-sized heap blocks, so that the sanitizers see any read past them.
    for (size_t n = 0; n <= 11; ++n) {
        Bytes full = {0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x21, 0x40, 0x00, 0x00, 0x01};
        std::unique_ptr<uint8_t[]> block(new uint8_t[n ? n : 1]);
        std::memcpy(block.get(), full.data(), n);
        std::fill(full.begin() + static_cast<long>(n), full.end(), 0);
        EXPECT_EQ(t.List().DecodeText(1, block.get(), n), t.List().DecodeText(1, full.data(), full.size())) << n;
    }
    EXPECT_EQ(t.List().DecodeText(1, nullptr, 0), "a=0\r\nb=0\r\nc=0\r\nd=0\r\nf=0.000000\r\n");
    // Zero-width bitfields take no unit but still read none past the end.
    CTable empty("char z:0;");
    EXPECT_EQ(empty.Struct().Size(), 0);
    EXPECT_EQ(empty.List().DecodeText(1, nullptr, 0), "z=0\r\n");
}

TEST(StructDataTest, DecodeFieldAndAccessors)
{
    CTable t("char a;\nint b[2]; inline \"%x\"\nlong c:3;\nlong d:5;\nbstr s[4];\nshort e[3];\nfloat f;",
             "enum E {\nX,\n};\n");
    const CStructData& s = t.Struct();
    const Bytes bytes = {1, 0, 0x10, 0, 0x20, 0, 0, 0, 0x29, 'a', 'b', 'c', 'd', 0, 1, 0, 2, 0, 3, 0x40, 0, 0, 1};
    ASSERT_EQ(s.Size(), static_cast<int>(bytes.size()));
    EXPECT_EQ(s.DecodeField(1, bytes.data(), bytes.size()), "b=10,20\r\n");
    EXPECT_EQ(s.DecodeField(3, bytes.data(), bytes.size()), "d=5\r\n");
    EXPECT_EQ(s.DecodeField(6, bytes.data(), bytes.size()), "f=1.000000\r\n");
    EXPECT_THROW(s.DecodeField(7, bytes.data(), bytes.size()), std::invalid_argument);
    EXPECT_THROW(s.DecodeField(-1, bytes.data(), bytes.size()), std::invalid_argument);

    const char* types[] = {"char", "int", "long", "long", "bstr", "int", "float"};
    const char* names[] = {"a", "b[2]", "c:3", "d:5", "s[4]", "e[3]", "f"};
    for (int i = 0; i < 7; ++i) {
        EXPECT_STREQ(t.List().FieldTypeText(1, "1", i), types[i]);
        EXPECT_EQ(t.List().FieldDisplayName(1, "1", i), names[i]);
    }
    EXPECT_EQ(t.List().FieldCount(1, "1"), 7);
    EXPECT_EQ(t.List().FieldFormat(1, "1", 1), "%x");
    EXPECT_THROW(t.List().FieldCount(1, "other"), std::invalid_argument);
    EXPECT_THROW(t.List().FieldTypeText(1, "1", 7), std::invalid_argument);
}

TEST(StructDataTest, ListLookups)
{
    CTable t("char a;");
    EXPECT_EQ(t.List().DecodeText(2, nullptr, 0), "");
    EXPECT_EQ(t.List().SizeOf(2), 0);
    EXPECT_TRUE(t.List().SizeMatches(1, 1));
    EXPECT_FALSE(t.List().SizeMatches(1, 2));
    EXPECT_FALSE(t.List().SizeMatches(2, 0));
    EXPECT_EQ(t.List().IndexOf(1, "1"), 0);
    EXPECT_EQ(t.List().IndexOf(1, "x"), -1);
}

struct EncodeCase {
    const char* body;
    std::vector<std::string> texts;
    Bytes before;
    Bytes after;
};

TEST(StructDataTest, EncodesArgumentTexts)
{
    const char* mode = "enum Mode {\nIDLE,\nRUN = 3,\n};\n";
    const EncodeCase cases[] = {
        {"char mode; enum Mode", {"RUN"}, {0}, {0x03}},
        {"char mode; enum Mode", {"0x05"}, {0}, {0x05}},
        {"char mode; enum Mode", {"run"}, {9}, {0x00}},  // names are case-sensitive
        {"int v[3];", {"1;0x10,-1"}, {0, 0, 0, 0, 0, 0}, {0x00, 0x01, 0x00, 0x10, 0xFF, 0xFF}},
        {"int v; little_endian", {"0x1234"}, {0, 0}, {0x34, 0x12}},
        {"char v;", {"0x1234"}, {0}, {0x34}},                  // high bytes dropped
        {"long v[2]; little_endian", {"1,0x01020304"}, Bytes(8, 0), {1, 0, 0, 0, 4, 3, 2, 1}},
        {"char v[4];", {"1,2"}, {9, 9, 9, 9}, {1, 2, 0, 9}},   // the element after the last keeps its byte
        {"char v[3];", {""}, {9, 9, 9}, {0, 0, 9}},
        {"char v[2];", {" 7, x"}, {9, 9}, {7, 0}},
        {"char v[2]; enum Mode", {"RUN,IDLE"}, {9, 9}, {3, 0}},
        {"char lo:3;\nchar hi:5;", {"1", "21"}, {0}, {0xA9}},
        {"char lo:3;\nchar hi:5;", {"0xFF", "0"}, {0}, {0x07}},   // masked to the width
        {"int a:4;\nint b:4;", {"2", "3"}, {0xAB, 0xCD}, {0xAB, 0x32}},  // other bits of the unit kept
        {"char a:4;\nchar b:4;", {"2"}, {0xF0}, {0x02}},          // missing text is 0
        {"bstr s[6];", {"AB"}, {7, 7, 7, 7, 7, 7}, {0x41, 0x42, 0x00, 7, 7, 7}},
        {"bstr s[2];", {"ABCD"}, {7, 7}, {0x41, 0x42}},
        {"bstr s[2];", {"A,B"}, {7, 7}, {0x41, 0x2C}},          // no separators in a bstr
        {"float f;", {"0.5"}, {0, 0, 0, 0}, {0x40, 0x00, 0x00, 0x00}},
        {"float f;", {"1.0"}, {0, 0, 0, 0}, {0x40, 0x00, 0x00, 0x01}},
        {"float f;", {"-4"}, {0, 0, 0, 0}, {0xC0, 0x00, 0x00, 0x03}},
        {"float f;", {"0"}, {9, 9, 9, 9}, {0, 0, 0, 0}},
        {"float f; little_endian", {"1"}, {0, 0, 0, 0}, {0x40, 0x00, 0x00, 0x01}},  // not for float
        {"float f[2]; inline", {"0.5;1"}, Bytes(8, 0), {0x40, 0, 0, 0, 0x40, 0, 0, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body + (" <- " + (c.texts.empty() ? std::string() : c.texts[0])));
        CTable t(c.body, mode);
        EXPECT_EQ(t.Encode(c.texts, c.before), c.after);
    }
}

TEST(StructDataTest, EncodeThenDecodeGivesTheValuesBack)
{
    CTable t("char a; enum Mode\nint b[3]; inline\nlong c; little_endian\nint d:3;\nint e:9;\nfloat f[2]; inline \"%g\"",
             "enum Mode {\nIDLE,\nRUN = 3,\n};\n");
    Bytes bytes = t.Encode({"RUN", "-1,2,0x7FFF", "-100000", "5", "300", "0.25,-1.5"});
    EXPECT_EQ(t.Decode(bytes), "a=RUN\r\nb=-1,2,32767\r\nc=-100000\r\nd=5\r\ne=300\r\nf=0.25,-1.5\r\n");
}

TEST(StructDataTest, EncodeNeverWritesPastTheBuffer)
{
    CTable t("long a[4];\nbstr s[8];\nint b:4;");
    std::unique_ptr<uint8_t[]> block(new uint8_t[5]);
    std::memset(block.get(), 0xEE, 5);
    t.Struct().Encode({"1,2,3,4", "ABCDEFGH", "1"}, block.get(), 5);
    EXPECT_EQ(Bytes(block.get(), block.get() + 5), (Bytes{0, 0, 0, 1, 0}));
}

TEST(StructDataTest, CopiedDescriptionKeepsItsEnums)
{
    CStructData copy;
    {
        CTable t("char m; enum Mode", "enum Mode {\nRUN = 3,\n};\n");
        copy = t.Struct();
    }
    const Bytes bytes = {3};
    EXPECT_EQ(copy.DecodeAll(bytes.data(), bytes.size()), "m=RUN\r\n");
}

}  // namespace
