#pragma once
// The VME delay board: a 12-bit trigger delay, input selection and the
// trigger interrupt (2-byte registers).

#include "daq/VmeModule.h"

#include <cstdint>

class CDelayBrd : public CVmeModule {
public:
    static constexpr uint8_t kVector = 0x55;

    explicit CDelayBrd(CVme& vme, uint32_t base = 0xE00000) : CVmeModule(vme, base) {}

    // delay is 12 bits: 0-7 in the delay register, 8-11 in the control
    // register's low nibble.
    bool WrDelay(uint16_t delay);
    bool RdDelay(uint16_t& delay);
    bool WrVector();
    // Sets or clears the enable bit of interrupt source 0 to 15.
    bool EnableIRQ(int source, bool on);
    // A rising edge of the busy-clear bit arms the trigger.
    bool ClearBusy();
    bool EnableDelay();
    bool SelInput(bool on);
};
