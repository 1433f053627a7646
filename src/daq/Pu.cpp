#include "daq/Pu.h"

#include <algorithm>

namespace {
constexpr uint32_t kFifo = 0x02;
constexpr uint32_t kReTransmit = 0x12;
constexpr uint32_t kRunState = 0x14;
constexpr uint32_t kDelayEx = 0x18;
constexpr uint32_t kClear = 0x28;
constexpr uint32_t kResetEn = 0x2A;
constexpr uint32_t kEventCounter = 0x2C;
constexpr uint32_t kRunMode = 0x2E;
constexpr uint32_t kConfIO = 0x38;
constexpr uint32_t kDelays = 0x3A;
constexpr uint32_t kActiveIO = 0x3C;
constexpr uint32_t kEnRW = 0x3E;
constexpr uint8_t kDelayMask = 0x3F;
}  // namespace

CPu::CPu(CVme& vme, uint32_t base)
    : CVmeModule(vme, base), m_events(kMaxRecords * kWordsPerRecord)
{
}

bool CPu::Configure(const _PUCONFIG& c)
{
    SetBaseAddress(c.BaseAddr);
    return WrConfIO(c.ConfIO) && WrEnRW(c.EnRW) && WrResEn(c.ResetEn) &&
           WrReTransmit(c.ReTransmit) && WrEvCnt(c.EventCounter) && WrRunMode(c.RunMode) &&
           WrDelay1(c.Delay1) && WrDelay2(c.Delay2) && WrDelayEx(c.DelayEx) &&
           WrActiveIO(c.ActiveIO);
}

bool CPu::WrConfIO(uint8_t value) { return Wr16("CPu::WrConfIO():", kConfIO, value); }
bool CPu::WrEnRW(uint8_t value) { return Wr16("CPu::WrEnRW():", kEnRW, value); }
bool CPu::WrResEn(uint8_t value) { return Wr16("CPu::WrResEn():", kResetEn, value); }
bool CPu::WrReTransmit(uint8_t value) { return Wr16("CPu::WrReTransmit():", kReTransmit, value); }
bool CPu::WrActiveIO(uint8_t value) { return Wr16("CPu::WrActiveIO():", kActiveIO, value); }
bool CPu::WrRunMode(uint8_t value) { return Wr16("CPu::WrRunMode():", kRunMode, value); }
bool CPu::WrEvCnt(uint16_t count) { return Wr16("CPu::WrEvCnt():", kEventCounter, count); }

bool CPu::RdEvCnt(uint16_t& count)
{
    uint16_t value = 0;
    if (!Rd16("CPu::RdEvCnt():", kEventCounter, value))
        return false;
    count = value & 0xFFF;
    return true;
}

bool CPu::WrDelay1(uint8_t delay)
{
    const char* label = "CPu::WrDelay1():";
    uint16_t value = 0;
    return Rd16(label, kDelays, value) &&
           Wr16(label, kDelays, static_cast<uint16_t>((value & 0xFF00) | (delay & kDelayMask)));
}

bool CPu::WrDelay2(uint8_t delay)
{
    const char* label = "CPu::WrDelay2():";
    uint16_t value = 0;
    return Rd16(label, kDelays, value) &&
           Wr16(label, kDelays,
                static_cast<uint16_t>((value & 0x00FF) | (delay & kDelayMask) << 8));
}

bool CPu::WrDelayEx(uint8_t delay) { return Wr16("CPu::WrDelayEx():", kDelayEx, delay & kDelayMask); }

bool CPu::Clear() { return Wr16("CPu::Clear():", kClear, 0); }

bool CPu::RdRunState(bool& eventReady)
{
    uint16_t value = 0;
    if (!Rd16("CPu::RdRunState():", kRunState, value))
        return false;
    eventReady = value & 1;
    return true;
}

bool CPu::ReadAllFifo(uint32_t records)
{
    const char* label = "CPu::ReadAllFifo():";
    m_records = 0;
    const uint32_t count = std::min(records, kMaxRecords);
    uint16_t halves[8];
    for (uint32_t r = 0; r < count; ++r) {
        for (uint32_t h = 0; h < 8; ++h)
            if (!Rd16(label, kFifo + 2 * h, halves[h]))
                return false;
        uint32_t* words = &m_events[r * kWordsPerRecord];
        for (size_t k = 0; k < kWordsPerRecord; ++k)
            words[k] = static_cast<uint32_t>(halves[2 * k + 1]) << 16 | halves[2 * k];
        m_records = r + 1;
    }
    return true;
}
