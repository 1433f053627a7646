#pragma once
// The PU board: configuration registers, event counter and event FIFO
// (all 2-byte registers).

#include "daq/VmeModule.h"

#include <cstdint>
#include <span>
#include <vector>

// The PU configuration, in the order the settings keep it.
struct _PUCONFIG {
    uint32_t BaseAddr = 0xA0000;
    uint8_t ConfIO = 0;
    uint8_t EnRW = 0xFF;
    uint8_t ResetEn = 0xFF;
    uint8_t ReTransmit = 0;
    uint8_t ActiveIO = 0xFF;
    uint8_t RunMode = 0x42;
    uint16_t EventCounter = 0x80;
    uint8_t Delay1 = 0;
    uint8_t Delay2 = 0;
    uint8_t DelayEx = 0;
};

class CPu : public CVmeModule {
public:
    static constexpr uint32_t kMaxRecords = 4096;
    static constexpr size_t kWordsPerRecord = 4;

    explicit CPu(CVme& vme, uint32_t base = 0xA0000);

    // Stores the base address and writes every register, ActiveIO last.
    bool Configure(const _PUCONFIG& config);

    bool WrConfIO(uint8_t value);
    bool WrEnRW(uint8_t value);
    bool WrResEn(uint8_t value);
    bool WrReTransmit(uint8_t value);
    bool WrActiveIO(uint8_t value);
    bool WrRunMode(uint8_t value);
    bool WrEvCnt(uint16_t count);
    // The event counter's 12 bits.
    bool RdEvCnt(uint16_t& count);
    // Delay1 and Delay2 share one register; each write keeps the other.
    bool WrDelay1(uint8_t delay);
    bool WrDelay2(uint8_t delay);
    bool WrDelayEx(uint8_t delay);
    bool Clear();
    // Bit 0 of the run state: an event is ready.
    bool RdRunState(bool& eventReady);
    // Reads up to 4096 records of four 32-bit words into the event buffer.
    bool ReadAllFifo(uint32_t records);

    // The words of the records read by the last ReadAllFifo (up to its failure).
    std::span<const uint32_t> FifoWords() const
    {
        return {m_events.data(), m_records * kWordsPerRecord};
    }
    size_t FifoRecords() const { return m_records; }

private:
    std::vector<uint32_t> m_events;
    size_t m_records = 0;
};
