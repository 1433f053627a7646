#pragma once
// The command channel of one update worker: the byte-coded firmware
// commands of a crate control board over the worker's own crate link, each
// tried up to "attempts" times, every failed try logged.
//
// Threads: one worker thread uses a channel; the output it logs to must be
// safe to call from several threads (CFirmLog is). Time-outs: each try
// waits for its reply as long as the command's time-out below.

#include "base/StdOut.h"
#include "firmware/FirmStatus.h"
#include "links/PortMC.h"

#include <cstdint>
#include <functional>
#include <string>

struct FirmReplyTimeouts {
    int replyMs = 5000;       // memory, flash, power and FPGA commands
    int shortReplyMs = 2000;  // "SelFpgaFlash", "ProtectFlash", "Reset", "Script", "Status"
};

class CFirmCmd {
public:
    static constexpr int kMaxMemLength = 240;
    static constexpr int kMaxFlashLength = 256;
    static constexpr size_t kMaxScriptText = 31;

    explicit CFirmCmd(CPortMC& link, FirmReplyTimeouts timeouts = {}) : m_link(link), m_timeouts(timeouts) {}

    // Tries per command; 0 and below count as 1.
    void SetAttempts(int attempts) { m_attempts = attempts < 1 ? 1 : attempts; }
    int Attempts() const { return m_attempts; }
    // Where log lines go (null: nowhere), each behind prefix.
    void SetOutput(CStdOut* output, std::string prefix)
    {
        m_output = output;
        m_prefix = std::move(prefix);
    }
    void Log(const char* format, ...) __attribute__((format(printf, 2, 3)));

    uint64_t BytesSent() const { return m_bytesSent; }
    uint64_t BytesReceived() const { return m_bytesReceived; }

    // Each returns true at the first good reply; false with the last try's
    // error: 170 busy ("?"), 13 reply of the wrong form, 29 write fault,
    // 11 bad format, 87 length refused, or the link's error.
    bool ReadMem(uint32_t address, uint8_t* buffer, int length);
    bool WriteMem(uint32_t address, const uint8_t* data, int length);
    bool Power(uint8_t device, bool on, uint8_t& result);
    bool OnFpgaFlash(uint8_t board, bool on, uint16_t& status);
    bool RdFpgaFlashID(uint8_t board, uint16_t& status, uint32_t& id);
    bool SelFpgaFlash(uint8_t board, uint16_t& status);
    bool OffLine(bool on, uint8_t& result);
    bool JtagBus(uint8_t board, uint8_t mode, uint16_t& status);
    // Sent as two requests, the first half then the rest (even when empty).
    bool WriteFlash(uint32_t address, const uint8_t* data, int length);
    bool ProtectFlash(bool on);
    bool Reset();
    bool Script(const std::string& text, uint32_t value);
    bool Status(_FIRMSTATUS& status);

private:
    using Reply = std::vector<uint8_t>;
    // Checks a reply that is neither a link failure nor "?": 0 when good,
    // else the error code; sets `logged` when it wrote its own log line.
    using Check = std::function<uint32_t(const Reply& reply, bool& logged)>;

    // One exchange: 0 with the reply, 170 for "?", else the link's error.
    uint32_t Exchange(const std::vector<uint8_t>& request, int timeoutMs, Reply& reply);
    // Runs `once` up to the attempts, logging each failed try.
    bool Attempt(const char* name, const std::function<uint32_t(bool& logged)>& once);
    bool Run(const char* name, const std::vector<uint8_t>& request, int timeoutMs, const Check& check);
    bool Refuse(const char* name, uint32_t error);
    uint32_t WriteFlashOnce(uint32_t address, const uint8_t* data, int length);

    CPortMC& m_link;
    FirmReplyTimeouts m_timeouts;
    int m_attempts = 3;
    CStdOut* m_output = nullptr;
    std::string m_prefix;
    uint64_t m_bytesSent = 0;
    uint64_t m_bytesReceived = 0;
};
