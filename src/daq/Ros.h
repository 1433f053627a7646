#pragma once
// The ROS board: initialisation and the eight channel FIFOs (4-byte
// registers).

#include "daq/VmeModule.h"

#include <cstdint>
#include <vector>

class CRos : public CVmeModule {
public:
    static constexpr int kChannels = 8;
    static constexpr int kMaxItems = 20;

    explicit CRos(CVme& vme, uint32_t base = 0xA00000) : CVmeModule(vme, base) {}

    // Resets and sets the board up; takes about a second.
    bool Init();
    bool PartialReset();
    // Reads the status and up to 20 items of each channel into Words(): the
    // status word 0xE0010000 | status, then per channel the marker
    // 0xF0000008 + ch followed by its items.
    bool ReadFifo();

    const std::vector<uint32_t>& Words() const { return m_words; }

private:
    std::vector<uint32_t> m_words;
};
