#include "base/Error.h"
#include "base/NumberText.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <thread>

TEST(Error, LastErrorIsPerThread)
{
    SetLastErr(err::Timeout);
    uint32_t other = 0;
    std::thread t([&] {
        SetLastErr(err::ConnReset);
        other = GetLastErr();
    });
    t.join();
    EXPECT_EQ(GetLastErr(), err::Timeout);
    EXPECT_EQ(other, err::ConnReset);
}

TEST(Error, PosixErrorsMapToProgramCodes)
{
    const struct {
        int errnum;
        uint32_t code;
    } cases[] = {
        {ECONNRESET, 10054}, {ECONNREFUSED, 10061}, {ETIMEDOUT, 10060}, {ENOENT, 2},
        {EACCES, 5},         {EBADF, 6},            {EINVAL, 87},       {0, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ErrnoToCode(c.errnum), c.code) << c.errnum;
    EXPECT_EQ(SetLastErrFromErrno(ECONNREFUSED), 10061u);
    EXPECT_EQ(GetLastErr(), 10061u);
}

TEST(Error, UnmappedErrnoKeepsItsText)
{
    uint32_t code = ErrnoToCode(ENOSPC);
    EXPECT_EQ(code & err::SystemBase, err::SystemBase);
    EXPECT_EQ(errorText(code), "No space left on device");
}

TEST(Error, EveryProgramCodeHasText)
{
    for (uint32_t code : {2u, 5u, 6u, 11u, 13u, 22u, 29u, 30u, 50u, 87u, 160u, 170u, 234u, 995u, 997u, 1460u,
                          8256u, 10054u, 10060u, 10061u, 10093u, 11001u})
        EXPECT_FALSE(errorText(code).empty()) << code;
}

TEST(Error, TextFormats)
{
    EXPECT_EQ(formatErrorText("Open Error:", 2), "Open Error: ->2\nThe system cannot find the file specified.\n");
    EXPECT_EQ(formatErrorText("Command Error:", 4242), "Command Error: ->4242\n");
}

TEST(NumberText, Rules)
{
    const struct {
        const char* text;
        int32_t value;
    } cases[] = {
        {"", 0},          {"12", 12},       {" \t+12", 12},     {"-12", -12},  {"0x1F", 31},
        {"0xff", 255},    {"0X1F", 0},      {"-0x10", 0},       {"12ab", 12},  {"0x", 0},
        {"abc", 0},       {"00x10", 0},     {"4294967295", -1}, {"0xFFFFFFFF", -1},
        {"  0x1G", 1},    {"+0x10", 16},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseNumberText(c.text), c.value) << '"' << c.text << '"';
}
