#pragma once
// The program's error codes (they keep the numbers the crate tools have
// always shown), the thread's last error, and the error texts.

#include <cstdint>
#include <stdexcept>
#include <string>

namespace err {
enum : uint32_t {
    Success = 0,
    NotFound = 2,
    PathNotFound = 3,
    AccessDenied = 5,
    NotOpen = 6,
    NoMemory = 8,
    BadFormat = 11,
    BadFrame = 13,
    GatewayRefused = 22,
    WriteFault = 29,
    SharingViolation = 32,
    CatalogueDownload = 30,
    NotSupported = 50,
    BadParam = 87,
    BrokenPipe = 109,
    BadArguments = 160,
    Busy = 170,
    MoreData = 234,
    Aborted = 995,
    IoPending = 997,
    Timeout = 1460,
    ProxyType = 8256,
    AddrInUse = 10048,
    NetUnreachable = 10051,
    ConnAborted = 10053,
    ConnReset = 10054,
    NotConnected = 10057,
    ConnTimedOut = 10060,
    ConnRefused = 10061,
    HostUnreachable = 10065,
    SocketsUnavailable = 10093,
    HostNotFound = 11001,
    Internal = 1359,
    // An operating-system error with no code of its own: the errno value
    // is kept in the low bits so that its text is not lost.
    SystemBase = 0x20000000,
};
}  // namespace err

// The calling thread's last error.
uint32_t GetLastErr();
void SetLastErr(uint32_t code);
// Sets the last error with a text of its own (a catalogue miss, a failed
// descriptor allocation) that LastErrText gives instead of the code's.
void SetLastErr(uint32_t code, std::string detail);
// The text of the last error: its own text when one was set, else the
// code's message.
std::string LastErrText();

// An exception that carries one of the program's codes.
class CCodedError : public std::runtime_error {
public:
    CCodedError(uint32_t code, const std::string& text) : std::runtime_error(text), m_code(code) {}
    uint32_t code() const { return m_code; }

private:
    uint32_t m_code;
};

// Makes an exception the thread's last error, with its text; returns the code.
uint32_t SetLastErrFromException(const std::exception& e);

// Runs a thread's body so that no exception can end the program: one that
// escapes becomes the thread's last error with its text, and the result is
// false. Every thread entry of the core runs through this.
template <class Body>
bool CatchToLastError(Body&& body) noexcept
{
    try {
        return body();
    } catch (const std::exception& e) {
        SetLastErrFromException(e);
    } catch (...) {
        SetLastErr(err::Internal);
    }
    return false;
}

// Maps an errno value to the program's code.
uint32_t ErrnoToCode(int errnum);
// Sets the last error from errno (or the given errno value) and returns it;
// when the errno shares its code with others, its own message goes with it.
uint32_t SetLastErrFromErrno();
uint32_t SetLastErrFromErrno(int errnum);

// Message for a code: the system's own (strerror) for codes that stand for
// an operating-system error, the program's text for its own codes; empty
// when the code has none.
std::string errorText(uint32_t code);

// "%s ->%d\n%s\n", or "%s ->%d\n" when the code has no message. When code
// is the thread's last error and that has a text of its own, that text.
std::string formatErrorText(const std::string& prefix, uint32_t code);
