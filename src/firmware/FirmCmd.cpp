#include "firmware/FirmCmd.h"

#include "base/Error.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace {

constexpr uint8_t kBusyReply = '?';

void PushAddress(std::vector<uint8_t>& out, uint32_t value)
{
    out.push_back(static_cast<uint8_t>(value >> 16));
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

uint16_t Word(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

// A reply that must be exactly `expected`, such as FC ED.
uint32_t ExactlyBytes(const std::vector<uint8_t>& reply, std::initializer_list<uint8_t> expected)
{
    return reply.size() == expected.size() && std::equal(expected.begin(), expected.end(), reply.begin())
               ? err::Success
               : err::BadFrame;
}

// Four bytes "BE op s1 s0": the 16-bit status of an FPGA command.
uint32_t FpgaStatus(const std::vector<uint8_t>& reply, uint8_t op, size_t size, uint16_t& status)
{
    if (reply.size() != size || reply[0] != 0xBE || reply[1] != op)
        return err::BadFrame;
    status = Word(&reply[2]);
    return err::Success;
}

}  // namespace

void CFirmCmd::Log(const char* format, ...)
{
    if (!m_output)
        return;
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    m_output->Print("%s%s", m_prefix.c_str(), text);
}

uint32_t CFirmCmd::Exchange(const std::vector<uint8_t>& request, int timeoutMs, Reply& reply)
{
    uint8_t buffer[256];
    int count = sizeof buffer;
    m_bytesSent += request.size();
    if (!m_link.Command(request.data(), static_cast<int>(request.size()), buffer, count, timeoutMs))
        return GetLastErr();
    m_bytesReceived += static_cast<uint64_t>(count);
    reply.assign(buffer, buffer + count);
    if (!reply.empty() && reply[0] == kBusyReply)
        return err::Busy;
    return err::Success;
}

bool CFirmCmd::Attempt(const char* name, const std::function<uint32_t(bool& logged)>& once)
{
    uint32_t error = err::Success;
    for (int attempt = 0; attempt < m_attempts; ++attempt) {
        bool logged = false;
        error = once(logged);
        if (error == err::Success) {
            SetLastErr(err::Success);
            return true;
        }
        if (!logged)
            Log("%s", formatErrorText(name, error).c_str());
    }
    SetLastErr(error);
    return false;
}

bool CFirmCmd::Run(const char* name, const std::vector<uint8_t>& request, int timeoutMs, const Check& check)
{
    return Attempt(name, [&](bool& logged) {
        Reply reply;
        const uint32_t error = Exchange(request, timeoutMs, reply);
        return error != err::Success ? error : check(reply, logged);
    });
}

bool CFirmCmd::Refuse(const char* name, uint32_t error)
{
    Log("%s", formatErrorText(name, error).c_str());
    SetLastErr(error);
    return false;
}

bool CFirmCmd::ReadMem(uint32_t address, uint8_t* buffer, int length)
{
    if (length < 1 || length > kMaxMemLength)
        return Refuse("ReadMem", err::BadParam);
    std::vector<uint8_t> request{0xF5};
    PushAddress(request, address);
    PushAddress(request, static_cast<uint32_t>(length));
    return Run("ReadMem", request, m_timeouts.replyMs, [&](const Reply& reply, bool&) {
        if (reply.size() != 4 + static_cast<size_t>(length) || reply[0] != 0xF4 ||
            !std::equal(request.begin() + 1, request.begin() + 4, reply.begin() + 1))
            return err::BadFrame;
        std::copy(reply.begin() + 4, reply.end(), buffer);
        return err::Success;
    });
}

bool CFirmCmd::WriteMem(uint32_t address, const uint8_t* data, int length)
{
    if (length < 1 || length > kMaxMemLength)
        return Refuse("WriteMem", err::BadParam);
    std::vector<uint8_t> request{0xFE};
    PushAddress(request, address);
    request.insert(request.end(), data, data + length);
    return Run("WriteMem", request, m_timeouts.replyMs,
               [](const Reply& reply, bool&) { return ExactlyBytes(reply, {0xFC, 0xFE}); });
}

bool CFirmCmd::Power(uint8_t device, bool on, uint8_t& result)
{
    const std::vector<uint8_t> request{0x2F, device, static_cast<uint8_t>(on ? 1 : 0)};
    return Run("Power", request, m_timeouts.replyMs, [&](const Reply& reply, bool&) {
        if (reply.size() < 3 || reply[0] != 0xFC || reply[1] != 0x2F)
            return err::BadFrame;
        result = reply[2];
        return err::Success;
    });
}

bool CFirmCmd::OnFpgaFlash(uint8_t board, bool on, uint16_t& status)
{
    const std::vector<uint8_t> request{0xBF, 0x0A, board, static_cast<uint8_t>(on ? 1 : 0)};
    return Run("OnFpgaFlash", request, m_timeouts.replyMs,
               [&](const Reply& reply, bool&) { return FpgaStatus(reply, 0x0A, 4, status); });
}

bool CFirmCmd::RdFpgaFlashID(uint8_t board, uint16_t& status, uint32_t& id)
{
    const std::vector<uint8_t> request{0xBF, 0x61, board};
    return Run("RdFpgaFlashID", request, m_timeouts.replyMs, [&](const Reply& reply, bool&) {
        const uint32_t error = FpgaStatus(reply, 0x61, 8, status);
        if (error == err::Success)
            id = (uint32_t(reply[4]) << 24) | (uint32_t(reply[5]) << 16) | (uint32_t(reply[6]) << 8) | reply[7];
        return error;
    });
}

bool CFirmCmd::SelFpgaFlash(uint8_t board, uint16_t& status)
{
    const std::vector<uint8_t> request{0xBF, 0x63, board};
    return Run("SelFpgaFlash", request, m_timeouts.shortReplyMs,
               [&](const Reply& reply, bool&) { return FpgaStatus(reply, 0x63, 4, status); });
}

bool CFirmCmd::OffLine(bool on, uint8_t& result)
{
    const std::vector<uint8_t> request{0x0E, 0x04, static_cast<uint8_t>(on ? 1 : 0)};
    return Run("OffLine", request, m_timeouts.replyMs, [&](const Reply& reply, bool&) {
        if (reply.size() != 3 || reply[0] != 0x0F || reply[1] != 0x04)
            return err::BadFrame;
        result = reply[2];
        return err::Success;
    });
}

bool CFirmCmd::JtagBus(uint8_t board, uint8_t mode, uint16_t& status)
{
    const std::vector<uint8_t> request{0xBF, 0x65, board, mode};
    return Run("JtagBus", request, m_timeouts.replyMs,
               [&](const Reply& reply, bool&) { return FpgaStatus(reply, 0x65, 4, status); });
}

uint32_t CFirmCmd::WriteFlashOnce(uint32_t address, const uint8_t* data, int length)
{
    const int half = length / 2 > 0 ? length / 2 : 1;
    const int parts[2][2] = {{0, half}, {half, length}};
    for (const auto& part : parts) {
        std::vector<uint8_t> request{0xF3};
        PushAddress(request, address + static_cast<uint32_t>(part[0]));
        request.insert(request.end(), data + part[0], data + part[1]);
        Reply reply;
        uint32_t error = Exchange(request, m_timeouts.replyMs, reply);
        if (error != err::Success)
            return error;
        if (reply.size() < 2 || reply.size() > 3 || reply[0] != 0xF2)
            return err::BadFrame;
        if (reply[1] != 0)
            return err::WriteFault;
    }
    return err::Success;
}

bool CFirmCmd::WriteFlash(uint32_t address, const uint8_t* data, int length)
{
    if (length < 1 || length > kMaxFlashLength) {
        SetLastErr(err::BadParam);
        return false;
    }
    return Attempt("WriteFlash", [&](bool&) { return WriteFlashOnce(address, data, length); });
}

bool CFirmCmd::ProtectFlash(bool on)
{
    const std::vector<uint8_t> request{0xED, static_cast<uint8_t>(on ? 1 : 0)};
    return Run("ProtectFlash", request, m_timeouts.shortReplyMs,
               [](const Reply& reply, bool&) { return ExactlyBytes(reply, {0xFC, 0xED}); });
}

bool CFirmCmd::Reset()
{
    return Run("Reset", {0xF8}, m_timeouts.shortReplyMs,
               [](const Reply& reply, bool&) { return ExactlyBytes(reply, {0xFC, 0xF8}); });
}

bool CFirmCmd::Script(const std::string& text, uint32_t value)
{
    if (text.size() > kMaxScriptText)
        return Refuse("Script", err::BadParam);
    std::vector<uint8_t> request{0xEE};
    PushAddress(request, value);
    request.insert(request.end(), text.begin(), text.end());
    request.push_back(0);
    return Run("Script", request, m_timeouts.shortReplyMs, [](const Reply& reply, bool&) {
        if (reply.size() != 2 || reply[0] != 0xEE)
            return err::BadFrame;
        return reply[1] == 0 ? err::BadFormat : err::Success;
    });
}

bool CFirmCmd::Status(_FIRMSTATUS& status)
{
    return Run("Status", {0xEA}, m_timeouts.shortReplyMs, [&](const Reply& reply, bool& logged) {
        const bool isLong = !reply.empty() && reply[0] == 0x13;
        const bool isShort = !reply.empty() && reply[0] == 0xE9;
        std::string error;
        if ((isLong || isShort) && UnpackStatus(isLong ? kStatusLongLayout : kStatusShortLayout, reply.data() + 1,
                                                reply.size() - 1, status.fields, error)) {
            status.type = isLong ? _FIRMSTATUS::kLong : _FIRMSTATUS::kShort;
            return err::Success;
        }
        std::string dump;
        for (uint8_t b : reply) {
            char hex[3];
            std::snprintf(hex, sizeof hex, "%02X", b);
            dump += hex;
        }
        Log("%s", formatErrorText("Status ERROR:", err::BadFrame).c_str());
        Log("dump:%s\r\n", dump.c_str());
        logged = true;
        return err::BadFrame;
    });
}
