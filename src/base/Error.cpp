#include "base/Error.h"

#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <new>
#include <system_error>

namespace {
thread_local uint32_t t_lastError = 0;
thread_local bool t_hasDetail = false;
thread_local std::string t_detail;

// The program's own codes keep their own texts; a code that stands for an
// operating-system error reads as that system's message (strerror).
struct CodeText {
    uint32_t code;
    int errnum;        // 0: the text below
    const char* text;
};

constexpr CodeText kTexts[] = {
    {err::Success, 0, "The operation completed successfully."},
    {err::NotFound, ENOENT, nullptr},
    {err::PathNotFound, ENOTDIR, nullptr},
    {err::AccessDenied, EACCES, nullptr},
    {err::NotOpen, EBADF, nullptr},
    {err::NoMemory, ENOMEM, nullptr},
    {err::BadFormat, 0, "An attempt was made to load a program with an incorrect format."},
    {err::BadFrame, 0, "The data is invalid."},
    {err::GatewayRefused, 0, "The device does not recognize the command."},
    // A device that reports a failed write; EIO keeps its own message.
    {err::WriteFault, 0, "The system cannot write to the specified device."},
    {err::SharingViolation, 0, "The process cannot access the file because it is being used by another process."},
    {err::CatalogueDownload, 0, "The system cannot read from the specified device."},
    {err::NotSupported, EOPNOTSUPP, nullptr},
    {err::BadParam, EINVAL, nullptr},
    {err::BrokenPipe, EPIPE, nullptr},
    {err::BadArguments, 0, "One or more arguments are not correct."},
    {err::Busy, EBUSY, nullptr},
    {err::MoreData, 0, "More data is available."},
    {err::Aborted, ECANCELED, nullptr},
    {err::IoPending, EINPROGRESS, nullptr},
    {err::Timeout, 0, "This operation returned because the timeout period expired."},
    {err::ProxyType, 0, "The proxy type is not supported."},
    {err::AddrInUse, EADDRINUSE, nullptr},
    {err::NetUnreachable, ENETUNREACH, nullptr},
    {err::ConnAborted, ECONNABORTED, nullptr},
    {err::ConnReset, ECONNRESET, nullptr},
    {err::NotConnected, ENOTCONN, nullptr},
    {err::ConnTimedOut, ETIMEDOUT, nullptr},
    {err::ConnRefused, ECONNREFUSED, nullptr},
    {err::HostUnreachable, EHOSTUNREACH, nullptr},
    {err::SocketsUnavailable, 0, "Either the application has not called WSAStartup, or WSAStartup failed."},
    {err::Internal, 0, "An internal error occurred."},
};

// The errno whose message is the code's text; 0 for the program's own.
int TextErrno(uint32_t code)
{
    for (const auto& t : kTexts)
        if (t.code == code)
            return t.errnum;
    return 0;
}

std::string SystemText(int errnum)
{
    char buf[256];
    return strerror_r(errnum, buf, sizeof buf);
}

struct ErrnoCode {
    int errnum;
    uint32_t code;
};

constexpr ErrnoCode kErrnoCodes[] = {
    {ENOENT, err::NotFound},         {ENODEV, err::NotFound},
    {ENXIO, err::NotFound},          {ENOTDIR, err::PathNotFound},
    {EACCES, err::AccessDenied},     {EPERM, err::AccessDenied},
    {EROFS, err::AccessDenied},      {EBADF, err::NotOpen},
    {ENOMEM, err::NoMemory},         {EINVAL, err::BadParam},
    {ENAMETOOLONG, err::BadParam},   {EMSGSIZE, err::BadParam},
    {EIO, err::WriteFault},          {EPIPE, err::BrokenPipe},
    {EBUSY, err::Busy},              {EAGAIN, err::Busy},
    {ECANCELED, err::Aborted},       {EINTR, err::Aborted},
    {EINPROGRESS, err::IoPending},   {ETIME, err::Timeout},
    {EOPNOTSUPP, err::NotSupported}, {EADDRINUSE, err::AddrInUse},
    {ENETUNREACH, err::NetUnreachable}, {ECONNABORTED, err::ConnAborted},
    {ECONNRESET, err::ConnReset},    {ENOTCONN, err::NotConnected},
    {ETIMEDOUT, err::ConnTimedOut},  {ECONNREFUSED, err::ConnRefused},
    {EHOSTUNREACH, err::HostUnreachable},
};
}  // namespace

uint32_t GetLastErr() { return t_lastError; }

void SetLastErr(uint32_t code)
{
    t_lastError = code;
    t_hasDetail = false;
}

void SetLastErr(uint32_t code, std::string detail)
{
    t_lastError = code;
    t_detail = std::move(detail);
    t_hasDetail = true;
}

std::string LastErrText() { return t_hasDetail ? t_detail : errorText(t_lastError); }

uint32_t SetLastErrFromException(const std::exception& e)
{
    uint32_t code = err::Internal;
    if (auto* coded = dynamic_cast<const CCodedError*>(&e))
        code = coded->code();
    else if (auto* system = dynamic_cast<const std::system_error*>(&e))
        code = ErrnoToCode(system->code().value());
    else if (dynamic_cast<const std::bad_alloc*>(&e))
        code = err::NoMemory;
    SetLastErr(code, e.what());
    return code;
}

uint32_t ErrnoToCode(int errnum)
{
    if (errnum == 0)
        return err::Success;
    for (const auto& e : kErrnoCodes)
        if (e.errnum == errnum)
            return e.code;
    return err::SystemBase | static_cast<uint32_t>(errnum);
}

// The errno's own message stays with the code, so that ENODEV or EROFS
// read as what they are and not as the message of the code they share.
uint32_t SetLastErrFromErrno(int errnum)
{
    const uint32_t code = ErrnoToCode(errnum);
    if (errnum == 0 || (code & err::SystemBase) || errnum == TextErrno(code))
        SetLastErr(code);
    else
        SetLastErr(code, SystemText(errnum));
    return t_lastError;
}

uint32_t SetLastErrFromErrno() { return SetLastErrFromErrno(errno); }

std::string errorText(uint32_t code)
{
    for (const auto& t : kTexts)
        if (t.code == code)
            return t.errnum ? SystemText(t.errnum) : t.text;
    // The resolver's message, as the system's tools print it.
    if (code == err::HostNotFound)
        return gai_strerror(EAI_NONAME);
    if ((code & err::SystemBase) && code != err::SystemBase)
        return SystemText(static_cast<int>(code & ~err::SystemBase));
    return {};
}

std::string formatErrorText(const std::string& prefix, uint32_t code)
{
    std::string out = prefix + " ->" + std::to_string(static_cast<int32_t>(code)) + "\n";
    // The thread's own text for this very error (a catalogue miss) says more.
    std::string text = code == t_lastError && t_hasDetail ? t_detail : errorText(code);
    if (!text.empty())
        out += text + "\n";
    return out;
}
