// Files given to telvane-cli: "-" and pipes read to their end, decode-file
// errors naming the file, and the example files found next to the program
// wherever it is installed.

#include "cli/CliRun.h"

#include "language/ExampleFiles.h"
#include "sim/SimSystem.h"
#include "support/ReadFile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

const std::string kExamples = std::string(TELVANE_SOURCE_DIR) + "/examples/";

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

class CliFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (TelvaneCli().empty())
            GTEST_SKIP() << "telvane-cli not built";
    }
    CTempDir m_dir;
};

TEST_F(CliFiles, StandardInputReadsLikeTheFile)
{
    const std::string srec = "S00600004844521B\nS107100001020304DE\nS9030000FC\n";
    WriteText(m_dir.File("image.s19"), srec);
    SimConfig config;
    config.crates = {{0, 1, 1, 101, 0, 0x00010019}, {1, 2, 3, 102, 0, 0x00010019}};
    ASSERT_TRUE(CSimSystem(config).WriteCatalogue(m_dir.File("list.xml")));
    const std::string replies = ReadFile(kExamples + "Cb_v126.dec");
    const std::string commands = ReadFile(kExamples + "Cb_v126_cmd.dec");

    struct Case {
        std::vector<std::string> fromFile, fromInput;
        std::string input;
    } cases[] = {
        {{"decode", kExamples + "Cb_v126.dec", "--dump"}, {"decode", "-", "--dump"}, replies},
        {{"decode", kExamples + "Cb_v126.dec", "--dump"}, {"decode", "/dev/stdin", "--dump"}, replies},
        {{"encode", kExamples + "Cb_v126_cmd.dec", "--command", "Power", "TRB6", "ON"},
         {"encode", "-", "--command", "Power", "TRB6", "ON"},
         commands},
        {{"hex", m_dir.File("image.s19")}, {"hex", "-"}, srec},
        {{"catalogue", m_dir.File("list.xml")}, {"catalogue", "-"}, ReadFile(m_dir.File("list.xml"))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fromInput[0] + " " + c.fromInput[1]);
        const CliResult file = RunCli(c.fromFile);
        CliRunOptions options;
        options.input = c.input;
        const CliResult input = RunCli(c.fromInput, options);
        ASSERT_EQ(file.status, 0) << file.err;
        EXPECT_FALSE(file.out.empty());
        EXPECT_EQ(file.out.find('\r'), std::string::npos) << "LF line ends on standard output";
        EXPECT_EQ(input.status, 0) << input.err;
        EXPECT_EQ(input.out, file.out);
    }
    EXPECT_EQ(RunCli({"hex", m_dir.File("image.s19")}).out, "Hex File Start 0x00001000 End 0x00001004\n0x00001000 4\n");
}

TEST_F(CliFiles, DecodeFileErrorsNameTheFile)
{
    WriteText(m_dir.File("bad.dec"), "struct 1 {\nchar a;\nchar b\n};\n");
    const std::string commands = kExamples + "Cb_v126_cmd.dec";
    struct Case {
        std::vector<std::string> args;
        std::string input;
        std::string err;
    } cases[] = {
        {{"decode", m_dir.File("bad.dec")}, "", m_dir.File("bad.dec") + ": Line 3 :Syntax Error"},
        {{"decode", "-"}, "struct 1 {\nchar a;\nchar b\n};\n", "standard input: Line 3 :Syntax Error"},
        {{"decode", "/nonexistent.dec"}, "", "Open File Error: /nonexistent.dec"},
        {{"decode", commands}, "", commands + ": Line 82 :Duplicate structure code (a command file: add --shared-codes)"},
        {{"encode", m_dir.File("bad.dec"), "--command", "x"}, "", m_dir.File("bad.dec") + ": Line 3 :Syntax Error"},
        {{"send", "--decode", m_dir.File("bad.dec"), "EA"}, "", m_dir.File("bad.dec") + ": Line 3 :Syntax Error"},
        {{"console", "--commands", m_dir.File("bad.dec")}, "", m_dir.File("bad.dec") + ": Line 3 :Syntax Error"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[1]);
        CliRunOptions options;
        options.input = c.input;
        const CliResult r = RunCli(c.args, options);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "telvane-cli: " + c.err + "\n");
    }
    EXPECT_EQ(RunCli({"decode", commands, "--shared-codes"}).status, 0);
}

TEST_F(CliFiles, ExampleFilesNextToTheProgram)
{
    // The path itself when it exists; an absolute path that does not is
    // left for the error to name.
    WriteText(m_dir.File("Cb_v126.dec"), "");
    EXPECT_EQ(FindExampleFile(m_dir.File("Cb_v126.dec")), m_dir.File("Cb_v126.dec"));
    EXPECT_EQ(FindExampleFile("/nonexistent/Cb_v126.dec"), "/nonexistent/Cb_v126.dec");
    EXPECT_EQ(FindExampleFile("no-such-example.dec"), "no-such-example.dec");
    // This test program lies in the build tree: the source tree's examples.
    EXPECT_EQ(fs::weakly_canonical(FindExampleFile("Cb_v126.dec")), fs::weakly_canonical(kExamples + "Cb_v126.dec"));
    EXPECT_EQ(fs::weakly_canonical(FindExampleFile("examples/Cb_v126_cmd.dec")),
              fs::weakly_canonical(kExamples + "Cb_v126_cmd.dec"));

    // An installed program: <prefix>/bin/telvane-cli with the examples in
    // <prefix>/share/telvane/examples, run from a folder without them.
    const fs::path prefix = m_dir.File("prefix");
    fs::create_directories(prefix / "bin");
    fs::create_directories(prefix / "share/telvane/examples");
    fs::create_directories(m_dir.File("work"));
    fs::copy_file(TelvaneCli(), prefix / "bin/telvane-cli");
    const std::string small = "struct 0x2A {\nchar v;\n};\n";
    WriteText((prefix / "share/telvane/examples/Cb_v126.dec").string(), small);
    CliRunOptions options;
    options.program = (prefix / "bin/telvane-cli").string();
    options.folder = m_dir.File("work");
    CliResult r = RunCli({"decode", "Cb_v126.dec", "--dump"}, options);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "\nName=0x2A Code=0x2A size=1\nVI1 v 1    \n") << "the installed example";

    // Examples beside the program come before the installed ones.
    fs::create_directories(prefix / "bin/examples");
    WriteText((prefix / "bin/examples/Cb_v126.dec").string(), "struct 0x2B {\nshort w;\n};\n");
    r = RunCli({"decode", "Cb_v126.dec", "--dump"}, options);
    EXPECT_EQ(r.out, "\nName=0x2B Code=0x2B size=2\nVI2 w 1    \n");
    // A file in the working folder is the one asked for.
    WriteText(m_dir.File("work/Cb_v126.dec"), "");
    r = RunCli({"decode", "Cb_v126.dec", "--dump"}, options);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
}

}  // namespace
