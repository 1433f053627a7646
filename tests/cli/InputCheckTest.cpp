// Input is checked, never guessed: every number, enum name, code, time-out,
// CCB ID or byte that does not parse is refused with a message naming it
// and exit status 2, before anything is opened or sent.

#include "cli/CliRun.h"

#include "base/ByteText.h"
#include "base/NumberText.h"
#include "language/ArgumentCheck.h"
#include "language/VaCompiler.h"

#include <gtest/gtest.h>

namespace {

const std::string kExamples = std::string(TELVANE_SOURCE_DIR) + "/examples/";
const std::string kCommands = kExamples + "Cb_v126_cmd.dec";
const std::string kReplies = kExamples + "Cb_v126.dec";

TEST(CliInputCheck, RefusedWithTheTextNamed)
{
    if (TelvaneCli().empty())
        GTEST_SKIP() << "telvane-cli not built";
    // A link that would answer if anything were sent: the closed port 1.
    const std::vector<std::string> tcp = {"--set", "IOType=3", "--set", "Host=127.0.0.1", "--set", "Port=1"};
    auto with = [](std::vector<std::string> head, const std::vector<std::string>& tail) {
        head.insert(head.end(), tail.begin(), tail.end());
        return head;
    };
    struct Case {
        std::vector<std::string> args;
        std::string message;  // the first line of standard error
    };
    const Case cases[] = {
        {{"encode", kCommands, "--command", "Power", "trb6", "on"},
         "Power: argument 1 (device): 'trb6' is neither a number nor a name of PowerDevice"},
        {{"encode", kCommands, "--command", "Power", "TRB9", "ON"},
         "Power: argument 1 (device): 'TRB9' is neither a number nor a name of PowerDevice"},
        {{"encode", kCommands, "--command", "Power", "300", "ON"},
         "Power: argument 1 (device): '300' does not fit in -128..255"},
        {{"encode", kCommands, "--command", "Power", "TRB6"}, "Power takes 2 arguments: device on"},
        {{"encode", kCommands, "--command", "Power", "0X13", "ON"},
         "Power: argument 1 (device): '0X13' is neither a number nor a name of PowerDevice"},
        {{"encode", kCommands, "--command", "Nope"}, kCommands + ": no command Nope"},
        {with({"send", "--timeout", "abc", "EA"}, tcp), "--timeout: 'abc' is not a whole number from 0 to 3600000"},
        {with({"send", "--repeat", "0", "EA"}, tcp), "--repeat: '0' is not a whole number from 1 to 1000000"},
        {with({"send", "EA", "3"}, tcp), "'3' is not a hexadecimal byte"},
        {with({"send", "EA", "0xG1"}, tcp), "'0xG1' is not a hexadecimal byte"},
        {with({"send", "--set", "CCB ID=abc", "EA"}, tcp),
         "setting \"CCB ID\" refused the value \"abc\" (number)"},
        {with({"send", "--set", "IOType=7", "EA"}, tcp),
         "setting \"IOType\" refused the value \"7\" (choice: \"COM Port Primary\"=1, \"COM Port Secondary\"=2, "
         "\"TCP/IP Port\"=3)"},
        {{"send"}, "missing BYTES..."},
        {{"send", " "}, "no bytes to send"},
        {{"decode", kReplies, "--code", "zz", "--bytes", "00"}, "--code: 'zz' is not a number"},
        {{"decode", kReplies, "--code", "0x13", "--bytes", "F 00"}, "'F' is not a hexadecimal byte"},
        {{"decode", kReplies, "--bytes", "00"}, "bytes to decode need --code"},
        {{"can", "--id", "1,2", "300"}, "'300' is not a hexadecimal byte"},
        {{"can", "--id", "1,x", "01"}, "--id: '1,x' is not two numbers from 0 to 255 (A,B)"},
        {{"can", "--id", "256,1", "01"}, "--id: '256,1' is not two numbers from 0 to 255 (A,B)"},
        {{"can", "01"}, "missing --id A,B"},
        {{"flash", "--file", "x.s19", "--dest", "101,0x"}, "--dest: bad CCB ID in '101,0x' (1 to 65535 each)"},
        {{"flash", "--file", "x.s19", "--dest", "101", "--repeat", "many"},
         "--repeat: 'many' is not a whole number from 0 to 1000"},
        {{"nodeflash", "--node", "x1", "--file", "f.hex"}, "--node: 'x1' is not a whole number from 0 to 255"},
        {{"hex", "f.s19", "--walk", "3"}, "--walk: the granule 3 is not a power of two"},
        {{"hex", "f.s19", "--walk", "1k"}, "--walk: '1k' is not a whole number from 1 to 1073741824"},
        {{"catalogue", "list.xml", "--deadline", "soon"}, "--deadline: 'soon' is not a whole number from 1 to 86400"},
        {{"catalogue", "list.xml", "--find", "1", "x", "1"}, "--find: 'x' is not a whole number"},
        {{"decode", kReplies, "--dump=yes"}, "option --dump takes no value"},
        {{"send", "--timeout"}, "option --timeout needs MS"},
        {{"send", "--timeout", "1", "--timeout", "2", "EA"}, "option --timeout is given twice"},
        {{"settings", "vme"}, "'vme' is neither crate nor can"},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const auto& a : c.args)
            line += a + " ";
        SCOPED_TRACE(line);
        const CliResult r = RunCli(c.args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.substr(0, r.err.find('\n')), "telvane-cli: " + c.message);
        EXPECT_TRUE(EndsWithUsage(r.err, c.args[0])) << r.err;
    }
}

TEST(CliInputCheck, ArgumentsThatFitAreEncodedAsBefore)
{
    CVa_Compiler tables;
    ASSERT_EQ(tables.Compile(kCommands, true), 1);
    const CStructData* power = FindCommandNamed(tables.Structs(), "power");
    ASSERT_NE(power, nullptr) << "a name in another case finds the command";
    struct Case {
        std::vector<std::string> texts;
        bool accepted;
    } cases[] = {
        {{"TRB6", "ON"}, true},   {{"0x13", "1"}, true},  {{"-128", "255"}, true}, {{"-129", "ON"}, false},
        {{"19", "256"}, false},   {{"1x", "ON"}, false},  {{"", "ON"}, false},     {{" 19", "ON"}, false},
        {{"TRB6", "ON", "1"}, false},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_EQ(CheckArguments(*power, c.texts, error), c.accepted) << c.texts[0] << " " << error;
        EXPECT_EQ(error.empty(), c.accepted);
    }
}

TEST(CliInputCheck, OneByteSyntax)
{
    struct Case {
        std::vector<std::string> words;
        std::vector<uint8_t> bytes;  // empty: refused
        const char* bad;
    } cases[] = {
        {{"2F", "13", "01"}, {0x2F, 0x13, 0x01}, ""},
        {{"2F 13 01"}, {0x2F, 0x13, 0x01}, ""},
        {{"0x2F", "0x13 0x01"}, {0x2F, 0x13, 0x01}, ""},
        {{"2f1301"}, {0x2F, 0x13, 0x01}, ""},
        {{" 2F\t13 "}, {0x2F, 0x13}, ""},
        {{"2F", "3"}, {}, "3"},
        {{"2F", "300"}, {}, "300"},
        {{"0x"}, {}, "0x"},
        {{"2F,13"}, {}, "2F,13"},
        {{"", "EA"}, {0xEA}, ""},
        {{"EA", "ZZ"}, {}, "ZZ"},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> bytes;
        std::string bad = "unset";
        const bool ok = ParseByteWords(c.words, bytes, bad);
        EXPECT_EQ(ok, !c.bytes.empty()) << c.words[0];
        if (ok)
            EXPECT_EQ(bytes, c.bytes) << c.words[0];
        else
            EXPECT_EQ(bad, c.bad) << c.words[0];
    }
}

TEST(CliInputCheck, StrictNumbersReadAsTheEncoderReadsThem)
{
    // Accepted texts convert to what the encoding's number rule makes of
    // them; anything that rule would read differently is refused.
    for (const char* text : {"0", "17", "-17", "+17", "0x1f", "0xFF", "4294967295", "+0x10"}) {
        int64_t value = 0;
        ASSERT_TRUE(ParseStrictNumber(text, value)) << text;
        EXPECT_EQ(static_cast<int32_t>(value), ParseNumberText(text)) << text;
    }
    for (const char* text : {"", "-", "0x", "0X1F", "-0x10", "1 ", " 1", "1e3", "12345678901", "0x1G"}) {
        int64_t value = 42;
        EXPECT_FALSE(ParseStrictNumber(text, value)) << text;
        EXPECT_EQ(value, 42);
    }
}

}  // namespace
