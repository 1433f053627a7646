// telvane-cli decode and encode, run as the program itself.

#include "TempFile.h"
#include "support/RunCommand.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kExamples = std::string(TELVANE_SOURCE_DIR) + "/examples/";

// Runs the program with a shell command line; standard error is dropped
// unless redirected by the arguments.
CommandResult RunCli(const std::string& arguments) { return RunCommand(TelvaneCli() + " " + arguments); }

class CliTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (TelvaneCli().empty())
            GTEST_SKIP() << "telvane-cli not built";
    }
};

TEST_F(CliTest, DecodeDumpsTheTables)
{
    CTempFile file("struct 0x2A {\nint v[2]; little_endian inline \"%x\"\n};\nenum M {\nA,\n};\n");
    CommandResult r = RunCli("decode " + file.Path() + " --dump");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "\nName=0x2A Code=0x2A size=4\nVI2 v 2 litle-endian inline %x \n\nEnum M\nA=0\n");
    r = RunCli("decode " + file.Path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
}

TEST_F(CliTest, DecodeFailuresAndUsage)
{
    CTempFile bad("struct 1 {\nchar a\n};\n");
    CommandResult r = RunCli("decode " + bad.Path() + " 2>&1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "telvane-cli: " + bad.Path() + ": Line 2 :Syntax Error\n");
    r = RunCli("decode /nonexistent.dec 2>&1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "telvane-cli: Open File Error: /nonexistent.dec\n");
    EXPECT_EQ(RunCli("decode 2>/dev/null").status, 2);
    EXPECT_EQ(RunCli("decode a.dec --bogus 2>/dev/null").status, 2);
    EXPECT_EQ(RunCli("decode a.dec --bytes 01 2>/dev/null").status, 2);
    EXPECT_EQ(RunCli("decode " + kExamples + "Cb_v126.dec --code 0x13 --bytes 'F 00' 2>/dev/null").status, 2);
    // The command file needs shared codes.
    EXPECT_EQ(RunCli("decode " + kExamples + "Cb_v126_cmd.dec 2>/dev/null").status, 1);
    EXPECT_EQ(RunCli("decode " + kExamples + "Cb_v126_cmd.dec --shared-codes").status, 0);
}

TEST_F(CliTest, DecodeBytes)
{
    const std::string reply = kExamples + "Cb_v126.dec";
    CommandResult r = RunCli("decode " + reply + " --code 0xBE61 --bytes '00 00 00 37 30 16'");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "status=0x0000\nflash_id=0x373016\n");
    r = RunCli("decode " + reply + " --code 252 --bytes 'ED'");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "command=ACK_PROTECT_FLASH\nresult=0\nWARNING invalid size: codesize=2 rxsize=1\n");
    r = RunCli("decode " + reply + " --code 0xC4 --bytes '01 19 03 3412 0100 0200 0300 0400 05000000 FF'");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "version_major=1\nversion_minor=25\nnode=3\ndestination=0x1234\nadc=1,2,3,4\n"
              "WARNING invalid size: codesize=13 rxsize=18\n");
    r = RunCli("decode " + reply + " --code 0x77 --bytes '' 2>&1");
    EXPECT_EQ(r.status, 1);
}

TEST_F(CliTest, EncodeCommands)
{
    const std::string commands = kExamples + "Cb_v126_cmd.dec";
    struct Case {
        const char* arguments;
        const char* request;
    };
    const Case cases[] = {
        {"Status", "EA\n"},
        {"GetNode", "EA\n"},
        {"Reset", "F8\n"},
        {"ReadMem 8 0x0010 0 64", "F5 08 00 10 00 00 40\n"},
        {"Power TRB6 ON", "2F 13 01\n"},
        {"OffLine 1", "0E 04 01\n"},
        {"JtagBus BOARD_TRB7 JTAG_FLASH", "BF 65 01 02\n"},
        {"WriteMem 8 0 '1,2;0x10'", "FE 08 00 00 01 02 10 00 00 00 00 00 00 00 00 00 00 00 00 00\n"},
        {"CanTunnel 1 0 0 3 GET_ERROR 5", "C5 01 00 03 01 05 00 00 00 00 00 00\n"},
        {"Script 8 0x0200 sb",
         "EE 08 02 00 73 62 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        CommandResult r = RunCli("encode " + commands + " --command " + c.arguments);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, c.request);
    }
    CTempFile zero("struct 0 {\nchar a;\n};\nstruct 0x100 {\n};\n");
    EXPECT_EQ(RunCli("encode " + zero.Path() + " --command 0 7").out, "00 07\n");
    EXPECT_EQ(RunCli("encode " + zero.Path() + " --command 0x100").out, "01\n");

    CommandResult r = RunCli("encode " + commands + " --command Nope 2>&1");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find(commands + ": no command Nope"), std::string::npos);
    EXPECT_EQ(RunCli("encode " + commands + " --command Reset 1 2>/dev/null").status, 2);
    EXPECT_EQ(RunCli("encode " + commands + " Status 2>/dev/null").status, 2);
}

}  // namespace
