#include "base/Error.h"
#include "base/NumberText.h"
#include "support/TempDir.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <functional>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

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
    EXPECT_EQ(formatErrorText("Open Error:", 2), "Open Error: ->2\nNo such file or directory\n");
    EXPECT_EQ(formatErrorText("Command Error:", 4242), "Command Error: ->4242\n");
}

// Codes that stand for a system error read as the system says it; the
// program's own codes keep their texts.
TEST(Error, SystemCodesUseTheSystemsWording)
{
    const struct {
        uint32_t code;
        const char* text;
    } cases[] = {
        {err::NotFound, "No such file or directory"},
        {err::AccessDenied, "Permission denied"},
        {err::BadParam, "Invalid argument"},
        {err::Busy, "Device or resource busy"},
        {err::ConnReset, "Connection reset by peer"},
        {err::ConnRefused, "Connection refused"},
        {err::ConnTimedOut, "Connection timed out"},
        {err::HostNotFound, "Name or service not known"},
        {err::BadFrame, "The data is invalid."},
        {err::Timeout, "This operation returned because the timeout period expired."},
        {err::GatewayRefused, "The device does not recognize the command."},
        {err::WriteFault, "The system cannot write to the specified device."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(errorText(c.code), c.text) << c.code;
}

// Real failures of the system calls, through the last error to the text.
TEST(Error, FailedSystemCallsReadAsTheSystemSaysThem)
{
    CTempDir dir;
    const std::string fifo = dir.File("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        const char* what;
        std::function<int()> call;
        uint32_t code;
        const char* text;
    } cases[] = {
        {"missing file", [&] { return open(dir.File("missing").c_str(), O_RDONLY); }, err::NotFound,
         "Open Error: ->2\nNo such file or directory\n"},
        // ENXIO shares code 2 with ENOENT but keeps its own message.
        {"fifo without reader", [&] { return open(fifo.c_str(), O_WRONLY | O_NONBLOCK); }, err::NotFound,
         "Open Error: ->2\nNo such device or address\n"},
        {"refused connect",
         [] {
             const int listener = socket(AF_INET, SOCK_STREAM, 0);
             sockaddr_in address{};
             address.sin_family = AF_INET;
             address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
             socklen_t size = sizeof address;
             bind(listener, reinterpret_cast<sockaddr*>(&address), size);
             getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
             close(listener);  // nobody listens on the port now
             const int s = socket(AF_INET, SOCK_STREAM, 0);
             const int result = connect(s, reinterpret_cast<sockaddr*>(&address), size);
             const int saved = errno;
             close(s);
             errno = saved;
             return result;
         },
         err::ConnRefused, "Open Error: ->10061\nConnection refused\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const int result = c.call();
        ASSERT_LT(result, 0);
        EXPECT_EQ(SetLastErrFromErrno(), c.code);
        EXPECT_EQ(formatErrorText("Open Error:", GetLastErr()), c.text);
    }
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
