#include "daq/DelayBrd.h"

#include "base/Error.h"

namespace {
constexpr uint32_t kVectorReg = 0x00;
constexpr uint32_t kDelayReg = 0x02;
constexpr uint32_t kControl = 0x04;
constexpr uint32_t kIrqEnable = 0x06;
constexpr uint16_t kBusyClear = 1u << 4;
constexpr uint16_t kDelayEnable = 1u << 6;
constexpr uint16_t kInputSelect = 1u << 7;
constexpr int kSources = 16;
}  // namespace

bool CDelayBrd::WrDelay(uint16_t delay)
{
    const char* label = "CDelayBrd::WrDelay();";
    uint16_t control = 0;
    return Wr16(label, kDelayReg, delay & 0xFF) && Rd16(label, kControl, control) &&
           Wr16(label, kControl, static_cast<uint16_t>((control & 0xF0) | ((delay >> 8) & 0x0F)));
}

bool CDelayBrd::RdDelay(uint16_t& delay)
{
    const char* label = "CDelayBrd::RdDelay();";
    uint16_t low = 0, control = 0;
    if (!Rd16(label, kDelayReg, low) || !Rd16(label, kControl, control))
        return false;
    delay = static_cast<uint16_t>((low & 0xFF) | (control & 0x0F) << 8);
    return true;
}

bool CDelayBrd::WrVector() { return Wr16("CDelayBrd::WrVector();", kVectorReg, kVector); }

bool CDelayBrd::EnableIRQ(int source, bool on)
{
    if (source < 0 || source >= kSources)
        return Fail("CDelayBrd::EnableIRQ():", err::BadParam);
    uint16_t enable = 0;
    if (!Rd16("CDelayBrd::EnableIRQ();", kIrqEnable, enable))
        return false;
    const uint16_t bit = static_cast<uint16_t>(1u << source);
    return Wr16("CDelayBrd::EnableIRQ():", kIrqEnable,
                static_cast<uint16_t>(on ? enable | bit : enable & ~bit));
}

bool CDelayBrd::ClearBusy()
{
    const char* label = "CDelayBrd::ClearBusy():";
    uint16_t control = 0;
    return Rd16(label, kControl, control) &&
           Wr16(label, kControl, static_cast<uint16_t>(control & ~kBusyClear)) &&
           Wr16(label, kControl, static_cast<uint16_t>(control | kBusyClear));
}

bool CDelayBrd::EnableDelay()
{
    const char* label = "CDelayBrd::EnableDelay():";
    uint16_t control = 0;
    return Rd16(label, kControl, control) &&
           Wr16(label, kControl, static_cast<uint16_t>(control | kDelayEnable));
}

bool CDelayBrd::SelInput(bool on)
{
    const char* label = "CDelayBrd::SelInput():";
    uint16_t control = 0;
    return Rd16(label, kControl, control) &&
           Wr16(label, kControl,
                static_cast<uint16_t>(on ? control | kInputSelect : control & ~kInputSelect));
}
