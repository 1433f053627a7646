// Requests from console lines and from the command file's commands: the
// bytes they send, the send properties they carry, and the lines refused.

#include "console/CommandRequest.h"
#include "console/ConsoleLine.h"
#include "language/VaCompiler.h"

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<uint8_t>;

const char kCommands[] = R"(
#define Wide 0x0105
#define Narrow 0x05
#define Zero 0
#define Bits 0x10
#define Text 0x11
#define Real 0x12
#define Big 0x13
enum OnOff {
    OFF,
    ON,
};
struct Wide {
    char on; enum OnOff
    int value;
};
struct Narrow {
    char list[3];
};
struct Zero {
};
struct Bits {
    char low:3;
    char high:5;
};
struct Text {
    bstr name[4];
};
struct Real {
    float f;
};
struct Big {
    char data[240];
};
)";

class ConsoleLineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        tables.Clear();
        ASSERT_TRUE(tables.CompileBuffer(kCommands, sizeof kCommands - 1, true)) << tables.GetErrorText();
    }

    CVa_Compiler tables;
};

Bytes bytesOf(const _MCDATA& r) { return Bytes(r.bytes, r.bytes + r.length); }

}  // namespace

TEST_F(ConsoleLineTest, LinesGiveTheRequestBytesAndSendProperties)
{
    const struct {
        const char* line;
        Bytes bytes;
        int32_t timeout;
        int32_t wait;
    } cases[] = {
        {"Wide ON 0x1234", {0x01, 0x05, 0x01, 0x12, 0x34}, 1000, 1},  // a wide code goes out as two bytes
        {"wide OFF 7 --nowait", {0x01, 0x05, 0x00, 0x00, 0x07}, 1000, 0},  // names in any case
        {"Narrow 1,2;3 --timeout 250", {0x05, 0x01, 0x02, 0x03}, 250, 1},
        {"Narrow 9", {0x05, 0x09, 0x00, 0x00}, 1000, 1},
        {"Zero", {0x00}, 1000, 1},
        {"Bits 1 21", {0x10, 0xA9}, 1000, 1},
        {"Text \"a b\"", {0x11, 'a', ' ', 'b', 0x00}, 1000, 1},
        {"Real 0.5", {0x12, 0x40, 0x00, 0x00, 0x00}, 1000, 1},
        {"raw 2F 13 01", {0x2F, 0x13, 0x01}, 1000, 1},
        {"  RAW 0xF5 001000 --wait --timeout 0", {0xF5, 0x00, 0x10, 0x00}, 0, 1},
    };
    for (const auto& c : cases) {
        ConsoleLine parsed;
        std::string error;
        ASSERT_TRUE(ParseConsoleLine(c.line, &tables.Structs(), SendProperties{}, parsed, error)) << c.line << ": "
                                                                                                 << error;
        EXPECT_FALSE(parsed.empty);
        EXPECT_EQ(bytesOf(parsed.request), c.bytes) << c.line;
        EXPECT_EQ(parsed.request.status, c.timeout) << c.line;
        EXPECT_EQ(parsed.request.waitReply, c.wait) << c.line;
        EXPECT_EQ(parsed.request.direction, _MCDATA::kSent);
        EXPECT_EQ(parsed.request.tag, 0);
    }
}

TEST_F(ConsoleLineTest, BlankAndCommentLinesSendNothing)
{
    for (const char* line : {"", "   \t", "# Status", "  #raw EA"}) {
        ConsoleLine parsed;
        std::string error;
        EXPECT_TRUE(ParseConsoleLine(line, &tables.Structs(), SendProperties{}, parsed, error)) << line;
        EXPECT_TRUE(parsed.empty) << line;
    }
}

TEST_F(ConsoleLineTest, RefusedLinesSayWhy)
{
    const struct {
        const char* line;
        const char* error;
    } cases[] = {
        {"Nothing 1", "unknown command 'Nothing'"},
        {"Wide ON", "Wide takes 2 arguments: on value"},
        {"Zero 1", "Zero takes 0 arguments"},
        {"Wide MAYBE 1", "Wide: argument 1 (on): 'MAYBE' is neither a number nor a name of OnOff"},
        {"Wide ON 70000", "Wide: argument 2 (value): '70000' does not fit in -32768..65535"},
        {"Wide ON 0X10", "Wide: argument 2 (value): '0X10' is not a number"},
        {"Wide ON -0x10", "Wide: argument 2 (value): '-0x10' is not a number"},
        {"Narrow 1,2,3,4", "Narrow: argument 1 (list[3]): at most 3 values"},
        {"Narrow 1,,3", "Narrow: argument 1 (list[3]): '' is not a number"},
        {"Bits 8 0", "Bits: argument 1 (low:3): '8' does not fit in 0..7"},
        {"Text abcde", "Text: argument 1 (name[4]): the text is longer than 4 characters"},
        {"Real 1.5x", "Real: argument 1 (f): '1.5x' is not a number"},
        {"Big 1", "the request of 243 bytes is longer than 240"},
        {"raw", "raw: no bytes"},
        {"raw 2F 1", "raw: '1' is not a hexadecimal byte"},
        {"raw 2F --timeout", "--timeout needs a number of milliseconds"},
        {"raw 2F --timeout -5", "--timeout needs a number of milliseconds"},
        {"raw 2F --later", "unknown option --later"},
        {"--nowait", "no command"},
        {"Text \"open", "a quote is not closed"},
    };
    for (const auto& c : cases) {
        ConsoleLine parsed;
        std::string error;
        EXPECT_FALSE(ParseConsoleLine(c.line, &tables.Structs(), SendProperties{}, parsed, error)) << c.line;
        EXPECT_EQ(error, c.error) << c.line;
        EXPECT_TRUE(parsed.empty);
    }
    ConsoleLine parsed;
    std::string error;
    EXPECT_FALSE(ParseConsoleLine("Zero", nullptr, SendProperties{}, parsed, error));
    EXPECT_EQ(error, "unknown command 'Zero' (no command file; raw bytes only)");
    EXPECT_TRUE(ParseConsoleLine("raw EA", nullptr, SendProperties{}, parsed, error));
}

TEST_F(ConsoleLineTest, LongestRequestsThatFitAFrame)
{
    std::string raw = "raw";
    for (int i = 0; i < 238; ++i)
        raw += " 00";
    ConsoleLine parsed;
    std::string error;
    EXPECT_TRUE(ParseConsoleLine(raw, nullptr, SendProperties{}, parsed, error)) << error;
    EXPECT_FALSE(ParseConsoleLine(raw + " 00", nullptr, SendProperties{}, parsed, error))
        << "the reply header must fit as well";
    EXPECT_TRUE(ParseConsoleLine(raw + " 00 00 --nowait", nullptr, SendProperties{}, parsed, error)) << error;
    EXPECT_EQ(parsed.request.length, 240);
}

TEST(CommandRequest, SendPropertiesAndRawBytes)
{
    SendProperties properties{7, 250, 0};
    _MCDATA request;
    ASSERT_TRUE(BuildRawRequest({0xEA, 0x01}, properties, request));
    EXPECT_EQ(request.tag, 7);
    EXPECT_EQ(request.status, 250);
    EXPECT_EQ(request.waitReply, 0);
    EXPECT_EQ(request.text, 0);
    EXPECT_EQ(request.length, 2);
    EXPECT_FALSE(BuildRawRequest(Bytes(256, 0), properties, request));
}
