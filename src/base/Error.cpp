#include "base/Error.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <system_error>

namespace {
thread_local uint32_t t_lastError = 0;
thread_local bool t_hasDetail = false;
thread_local std::string t_detail;

struct CodeText {
    uint32_t code;
    const char* text;
};

constexpr CodeText kTexts[] = {
    {err::Success, "The operation completed successfully."},
    {err::NotFound, "The system cannot find the file specified."},
    {err::PathNotFound, "The system cannot find the path specified."},
    {err::AccessDenied, "Access is denied."},
    {err::NotOpen, "The handle is invalid."},
    {err::NoMemory, "Not enough memory resources are available to process this command."},
    {err::BadFormat, "An attempt was made to load a program with an incorrect format."},
    {err::BadFrame, "The data is invalid."},
    {err::GatewayRefused, "The device does not recognize the command."},
    {err::WriteFault, "The system cannot write to the specified device."},
    {err::SharingViolation, "The process cannot access the file because it is being used by another process."},
    {err::CatalogueDownload, "The system cannot read from the specified device."},
    {err::NotSupported, "The request is not supported."},
    {err::BadParam, "The parameter is incorrect."},
    {err::BrokenPipe, "The pipe has been ended."},
    {err::BadArguments, "One or more arguments are not correct."},
    {err::Busy, "The requested resource is in use."},
    {err::MoreData, "More data is available."},
    {err::Aborted, "The I/O operation has been aborted because of either a thread exit or an application request."},
    {err::IoPending, "Overlapped I/O operation is in progress."},
    {err::Timeout, "This operation returned because the timeout period expired."},
    {err::ProxyType, "The proxy type is not supported."},
    {err::AddrInUse, "Only one usage of each socket address (protocol/network address/port) is normally permitted."},
    {err::NetUnreachable, "A socket operation was attempted to an unreachable network."},
    {err::ConnAborted, "An established connection was aborted by the software in your host machine."},
    {err::ConnReset, "An existing connection was forcibly closed by the remote host."},
    {err::NotConnected, "A request to send or receive data was disallowed because the socket is not connected."},
    {err::ConnTimedOut, "A connection attempt failed because the connected party did not properly respond after a period of time."},
    {err::ConnRefused, "No connection could be made because the target machine actively refused it."},
    {err::HostUnreachable, "A socket operation was attempted to an unreachable host."},
    {err::SocketsUnavailable, "Either the application has not called WSAStartup, or WSAStartup failed."},
    {err::HostNotFound, "No such host is known."},
    {err::Internal, "An internal error occurred."},
};

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

uint32_t SetLastErrFromErrno(int errnum)
{
    SetLastErr(ErrnoToCode(errnum));
    return t_lastError;
}

uint32_t SetLastErrFromErrno() { return SetLastErrFromErrno(errno); }

std::string errorText(uint32_t code)
{
    for (const auto& t : kTexts)
        if (t.code == code)
            return t.text;
    if ((code & err::SystemBase) && code != err::SystemBase) {
        char buf[256];
        return strerror_r(static_cast<int>(code & ~err::SystemBase), buf, sizeof buf);
    }
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
