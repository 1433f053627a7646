#include "language/VaCompiler.h"
#include "TempFile.h"

#include "base/StdOut.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

class CStdOutString : public CStdOut {
public:
    int PrintV(const char* format, va_list args) override
    {
        char buffer[1024];
        int n = std::vsnprintf(buffer, sizeof buffer, format, args);
        text.append(buffer, static_cast<size_t>(n));
        return n;
    }
    std::string text;
};

int CompileText(CVa_Compiler& compiler, const std::string& text, bool shared = false)
{
    compiler.Clear();
    return compiler.CompileBuffer(text.data(), text.size(), shared);
}

TEST(VaCompilerTest, EmptyFileGivesEmptyTables)
{
    CVa_Compiler c;
    EXPECT_EQ(CompileText(c, ""), 1);
    EXPECT_TRUE(c.Structs().empty());
    EXPECT_TRUE(c.Defines().empty());
    EXPECT_TRUE(c.Enums().empty());
    EXPECT_EQ(c.GetErrorText(), "");
}

TEST(VaCompilerTest, DefinesStructuresAndEnums)
{
    CVa_Compiler c;
    const std::string text =
        "// commands\r\n"
        "#define CMD_X 0x13 // status\r\n"
        "#define a 1\r\n"
        "#define A 2\r\n"
        "\r\n"
        "struct CMD_X { // long status\r\n"
        "  char s[8]; \"%s\"\r\n"
        "  int v; little_endian\r\n"
        "  long w[2]; little_endian inline\r\n"
        "  short h[3]; inline \"%04X\"\r\n"
        "  char mode; enum Mode // later\r\n"
        "  float f[2];\r\n"
        "  bstr b[4];\r\n"
        "};\r\n"
        "struct 0x2A\r\n"
        "\r\n"
        "{\r\n"
        "};\r\n"
        "enum Mode {\r\n"
        "  A,\r\n"
        "  B = 0x10,\r\n"
        "  C,\r\n"
        "  D = -3 , // negative\r\n"
        "  E,\r\n"
        "};\r\n";
    ASSERT_EQ(CompileText(c, text), 1) << c.GetErrorText();
    ASSERT_EQ(c.Defines().size(), 3u);
    EXPECT_EQ(c.Defines()[0].name, "CMD_X");
    EXPECT_EQ(c.Defines()[0].value, 0x13);
    EXPECT_EQ(c.Defines()[2].value, 2);

    ASSERT_EQ(c.Structs().size(), 2u);
    const CStructData& s = c.Structs()[0];
    EXPECT_EQ(s.Name(), "CMD_X");
    EXPECT_EQ(s.Code(), 0x13);
    ASSERT_EQ(s.FieldCount(), 7);
    struct Expected {
        int32_t kind;
        int32_t count;
        bool isInline, littleEndian;
        const char *name, *format, *enumName;
    };
    const Expected expected[] = {
        {VI1, 8, false, false, "s", "%s", ""},       {VI2, 1, false, true, "v", "", ""},
        {VI4, 2, true, true, "w", "", ""},           {VI2, 3, true, false, "h", "%04X", ""},
        {VI1, 1, false, false, "mode", "", "Mode"},  {VDSPFLOAT, 2, false, false, "f", "", ""},
        {VBSTR, 4, false, false, "b", "", ""},
    };
    for (int i = 0; i < 7; ++i) {
        SCOPED_TRACE(i);
        const _VA_ARG& f = s.Field(i);
        EXPECT_EQ(f.kind, expected[i].kind);
        EXPECT_EQ(f.count, expected[i].count);
        EXPECT_EQ(f.isInline, expected[i].isInline);
        EXPECT_EQ(f.littleEndian, expected[i].littleEndian);
        EXPECT_EQ(f.name, expected[i].name);
        EXPECT_EQ(f.format, expected[i].format);
        EXPECT_EQ(f.enumName, expected[i].enumName);
    }
    EXPECT_EQ(s.Size(), 8 + 2 + 8 + 6 + 1 + 8 + 4);
    // The enum named before it was declared is linked once compiled.
    ASSERT_NE(s.Field(4).enumRef, nullptr);
    EXPECT_EQ(s.Field(4).enumRef->name, "Mode");

    EXPECT_EQ(c.Structs()[1].Name(), "0x2A");
    EXPECT_EQ(c.Structs()[1].Code(), 42);
    EXPECT_EQ(c.Structs()[1].Size(), 0);

    ASSERT_EQ(c.Enums().size(), 1u);
    const _ENUM_TAG& e = *c.Enums()[0];
    EXPECT_EQ(e.itemNames, (std::vector<std::string>{"A", "B", "C", "D", "E"}));
    EXPECT_EQ(e.itemValues, (std::vector<int32_t>{0, 16, 17, -3, -2}));
}

TEST(VaCompilerTest, ScalarLittleEndianCharStaysByteOrdered)
{
    CVa_Compiler c;
    ASSERT_EQ(CompileText(c, "struct 1 {\nchar c; little_endian\nchar d[2]; little_endian\n};\n"), 1);
    EXPECT_FALSE(c.Structs()[0].Field(0).littleEndian);
    EXPECT_TRUE(c.Structs()[0].Field(1).littleEndian);
}

TEST(VaCompilerTest, BitfieldUnitsAndSize)
{
    struct Case {
        const char* body;
        int size;
    };
    const Case cases[] = {
        {"int x:3;\nint y:5;\nlong z;\n", 6},           // one 2-byte unit closed by the long
        {"char a:4;\nchar b:4;\nchar c:1;\n", 2},        // a full unit, then one begun
        {"char a:4;\nint b:4;\n", 3},                    // another kind closes the unit
        {"long a:31;\nlong b:2;\nlong c:3;\n", 8},       // bits past the unit are not carried
        {"char a:12;\n", 1},
        {"char a[0];\nint b:0;\n", 0},
        {"float f;\nshort s[2];\nbstr b[3];\n", 4 + 4 + 3},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.body);
        CVa_Compiler c;
        ASSERT_EQ(CompileText(c, std::string("struct 5 {\n") + t.body + "};\n"), 1) << c.GetErrorText();
        EXPECT_EQ(c.Structs()[0].Size(), t.size);
        EXPECT_EQ(c.Structs().SizeOf(5), t.size);
    }
}

TEST(VaCompilerTest, ErrorMessagesAndLines)
{
    struct Case {
        const char* text;
        bool shared;
        const char* message;
        int line;
    };
    const Case cases[] = {
        {"#define A 1\n#define A 2\n", false, "Line 2 :Duplicate #define", 2},
        {"\n\nstruct CMD_X {\n};\n", false, "Line 3 :Undefined code structure", 3},
        {"struct 5 {\n};\nstruct 5 {\n};\n", false, "Line 3 :Duplicate structure code", 3},
        {"#define X 5\nstruct 5 {\n};\nstruct X {\n};\n", false, "Line 4 :Duplicate structure code", 4},
        {"#define X 5\nstruct X {\n};\nstruct X {\n};\n", true, "Line 4 :Duplicate structure code", 4},
        {"enum E {\n};\nenum E {\n};\n", false, "Line 3 :Duplicate enum E", 3},
        {"enum E {\nA,\nB,\nA = 4,\n};\n", false, "Line 4 :Duplicate constant A", 4},
        {"enum E {\nA,\nC\n};\n", false, "Line 3 :Syntax Error", 3},        // last item needs its comma
        {"enum E { A,\n};\n", false, "Line 1 :Syntax Error", 1},            // item on the brace line
        {"struct 5 {\nchar a;\n", false, "Line 3 :Syntax Error", 3},        // ends inside the body
        {"enum E {\nA,\n", false, "Line 3 :Syntax Error", 3},
        {"struct 5 {\nfloat f:3;\n};\n", false, "Line 2 :Syntax Error", 2},
        {"struct 5 {\nbstr s;\n};\n", false, "Line 2 :Syntax Error", 2},
        {"struct 5 {\nbstr s[4]; inline\n};\n", false, "Line 2 :Syntax Error", 2},
        {"struct 5 {\nchar s [4];\n};\n", false, "Line 2 :Syntax Error", 2},  // blank before '['
        {"struct 5 {\nchar s[4];inline\n};\n", false, "Line 2 :Syntax Error", 2},  // inline needs a blank
        {"struct 5 {\nchar s; \"%d\" enum E\n};\n", false, "Line 2 :Syntax Error", 2},
        {"struct 5 {\nchar s[65537];\n};\n", false, "Line 2 :Syntax Error", 2},
        {"struct 5 {\nlong s[16384];\nchar t;\n};\n", false, "Line 3 :Syntax Error", 3},
        {"#define X\n", false, "Line 1 :Syntax Error", 1},
        {"int x;\n", false, "Line 1 :Syntax Error", 1},
        {"// a\r\n// b\r\n  junk\r\n", false, "Line 3 :Syntax Error", 3},
        {"// a\r// b\r  junk\r", false, "Line 3 :Syntax Error", 3},      // CR only
        {"// a\n// b\n  junk\n", false, "Line 3 :Syntax Error", 3},      // LF only counts too
        {"// a\n\r\n\r// b\n  junk\n", false, "Line 5 :Syntax Error", 5},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.text);
        CVa_Compiler c;
        EXPECT_EQ(CompileText(c, t.text, t.shared), 0);
        EXPECT_EQ(c.GetErrorText(), t.message);
        EXPECT_EQ(c.GetErrorLine(), t.line);
    }
}

TEST(VaCompilerTest, SharedCodesNeedDifferentNames)
{
    const std::string text = "#define P 5\n#define Q 5\nstruct P {\n};\nstruct Q {\n};\n";
    CVa_Compiler c;
    EXPECT_EQ(CompileText(c, text, true), 1) << c.GetErrorText();
    EXPECT_EQ(c.Structs().size(), 2u);
    EXPECT_EQ(c.Structs().IndexOf(5, "Q"), 1);
    EXPECT_EQ(CompileText(c, text, false), 0);
    EXPECT_EQ(c.GetErrorText(), "Line 5 :Duplicate structure code");
    // The tables keep what came before the failing line.
    EXPECT_EQ(c.Structs().size(), 1u);
}

TEST(VaCompilerTest, NumberRule)
{
    CVa_Compiler c;
    ASSERT_EQ(CompileText(c, "#define H 0x1G\n#define D 0077\n#define W 0xFFFFFFFF\nenum E {\nA = -5,\nB = 0xZ,\n"
                             "C = 3-4,\nD = 0x7fffffff,\nF,\n};\n"), 1)
        << c.GetErrorText();
    EXPECT_EQ(c.Defines()[0].value, 1);
    EXPECT_EQ(c.Defines()[1].value, 77);
    EXPECT_EQ(c.Defines()[2].value, -1);
    EXPECT_EQ(c.Enums()[0]->itemValues, (std::vector<int32_t>{-5, 0, 3, 0x7fffffff, INT32_MIN}));
}

TEST(VaCompilerTest, BraceOnALaterLineAndComments)
{
    CVa_Compiler c;
    ASSERT_EQ(CompileText(c, "struct 7 // seven\r\n\r\n{ // body\r\n  char a; \"%d\" // c\r\n  }; // end\r\n"
                             "enum E\n{\n};"), 1)
        << c.GetErrorText();
    EXPECT_EQ(c.Structs()[0].Field(0).format, "%d");
}

TEST(VaCompilerTest, DumpFormat)
{
    CVa_Compiler c;
    CStdOutString out;
    c.SetDump(true, &out);
    ASSERT_EQ(CompileText(c, "struct 0x2A {\nint v[2]; little_endian inline \"%x\"\nchar m; enum Mode\n};\n"
                             "enum Mode {\nRUN = 3,\nSTOP,\n};\n"), 1);
    EXPECT_EQ(out.text,
              "\r\nName=0x2A Code=0x2A size=5\r\n"
              "VI2 v 2 litle-endian inline %x \r\n"
              "VI1 m 1    enum Mode\r\n"
              "\r\nEnum Mode\r\n"
              "RUN=3\r\n"
              "STOP=4\r\n");
    c.SetDump(false, &out);
    out.text.clear();
    CompileText(c, "struct 1 {\n};\n");
    EXPECT_EQ(out.text, "");
}

TEST(VaCompilerTest, FilesOpenErrorAndModification)
{
    CVa_Compiler c;
    EXPECT_EQ(c.Compile("/nonexistent/x.dec", false), 0);
    EXPECT_EQ(c.GetErrorText(), "Open File Error: /nonexistent/x.dec");
    EXPECT_EQ(c.IsModified(), 0);

    CTempFile file("#define X 3\nstruct X {\nchar a;\n};\n");
    ASSERT_EQ(c.Compile(file.Path(), false), 1) << c.GetErrorText();
    EXPECT_EQ(c.Structs().SizeOf(3), 1);
    EXPECT_EQ(c.IsModified(), 0);
    struct timespec times[2] = {{0, UTIME_OMIT}, {12345, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, file.Path().c_str(), times, 0), 0);
    EXPECT_EQ(c.IsModified(), 1);
    c.Clear();
    EXPECT_TRUE(c.Structs().empty());
    EXPECT_TRUE(c.Defines().empty());
}

TEST(VaCompilerTest, EnumsSurviveOnlyUntilClear)
{
    // Compile empties structures and defines; the caller clears enums.
    CVa_Compiler c;
    const std::string text = "enum E {\nA,\n};\n";
    ASSERT_EQ(c.CompileBuffer(text.data(), text.size(), false), 1);
    EXPECT_EQ(c.CompileBuffer(text.data(), text.size(), false), 0);
    EXPECT_EQ(c.GetErrorText(), "Line 1 :Duplicate enum E");
    EXPECT_EQ(CompileText(c, text), 1);
}

TEST(VaCompilerTest, HostileInputsFailCleanly)
{
    struct Case {
        std::string text;
        int result;
    };
    const Case cases[] = {
        {std::string(100000, '('), 0},
        {"struct 1 {\n" + std::string(200000, ' '), 0},
        {std::string("struct 1 {\nchar a; \"") + std::string(10000, '%') + "\"\n};\n", 1},
        {std::string("\0\0\0", 3), 0},
        {"struct 99999999999999999999 {\n};\n", 1},
        {"#define X 999999999999999999999999\n", 1},
        {"enum E {\n" + std::string(50000, 'A') + ",\n};\n", 1},
        {"struct 1 {\nchar x:99999999999999;\n};\n", 0},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.text.substr(0, 40));
        CVa_Compiler c;
        EXPECT_EQ(c.CompileBuffer(t.text.data(), t.text.size(), true), t.result);
        EXPECT_EQ(c.GetErrorText().empty(), t.result == 1);
    }
}

// Decode files of many names, each ending in a duplicate of the first name
// (or, in the last case, in lines that look the names up): with lookups
// that scan the tables these take minutes, not a second.
TEST(VaCompilerTest, ManyNamesAreLookedUpByHash)
{
    // Structures named by defines take seven lines each.
    constexpr int kNames = 200000, kStructures = 50000;
    auto lines = [](const std::string& head, auto line, const std::string& tail, int count) {
        std::string text = head;
        for (int i = 0; i < count; ++i)
            text += line(i);
        return text + tail;
    };
    auto name = [](int i) { return "N" + std::to_string(i); };
    const struct {
        const char* what;
        std::string text;
        bool shared;
        std::string error;
    } cases[] = {
        {"defines", lines("", [&](int i) { return "#define " + name(i) + " " + std::to_string(i) + "\n"; },
                          "#define N0 7\n", kNames),
         false, "Line 200001 :Duplicate #define"},
        {"enum items", lines("enum E {\n", [&](int i) { return name(i) + ",\n"; }, "N0 = 3,\n};\n", kNames), false,
         "Line 200002 :Duplicate constant N0"},
        {"enums", lines("", [&](int i) { return "enum " + name(i) + " {\n};\n"; }, "enum N0 {\n};\n", kNames), false,
         "Line 400001 :Duplicate enum N0"},
        {"structure codes", lines("", [&](int i) { return "struct " + std::to_string(i) + " {\n};\n"; },
                                  "struct 0x0 {\n};\n", kNames),
         false, "Line 400001 :Duplicate structure code"},
        {"structures by define name",
         lines("",
               [&](int i) {
                   return "#define " + name(i) + " 5\nstruct " + name(i) + " {\nchar x; enum " + name(i) +
                          "\n};\nenum " + name(i) + " {\nA,\n};\n";
               },
               "struct N0 {\n};\n", kStructures),
         true, "Line 350001 :Duplicate structure code"},
    };
    for (const auto& c : cases) {
        CVa_Compiler compiler;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(CompileText(compiler, c.text, c.shared), 0) << c.what;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20)) << c.what;
        EXPECT_EQ(compiler.GetErrorText(), c.error) << c.what;
    }

    // Without the duplicate: one code shared by every structure, and each
    // field linked to the enumeration of its name, declared after it.
    const std::string& named = cases[std::size(cases) - 1].text;
    CVa_Compiler compiler;
    ASSERT_EQ(CompileText(compiler, named.substr(0, named.rfind("struct N0")), true), 1) << compiler.GetErrorText();
    ASSERT_EQ(compiler.Structs().size(), static_cast<size_t>(kStructures));
    for (int i : {0, kStructures / 2, kStructures - 1}) {
        const CStructData& s = compiler.Structs()[static_cast<size_t>(i)];
        EXPECT_EQ(s.Name(), name(i));
        ASSERT_TRUE(s.Fields()[0].enumRef) << i;
        EXPECT_EQ(s.Fields()[0].enumRef.get(), compiler.Enums()[static_cast<size_t>(i)].get()) << i;
    }
}

}  // namespace
