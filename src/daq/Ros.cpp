#include "daq/Ros.h"


namespace {
constexpr uint32_t kControl = 0x00;
constexpr uint32_t kStatus = 0x04;
constexpr uint32_t kFifo0 = 0x40;
constexpr uint32_t kReset = 0x800;
constexpr uint32_t kInit = 0x300;
constexpr uint32_t kPartialReset = 0x200;
constexpr uint32_t kSetup = 0xFF;
constexpr uint32_t kChannelEmpty = 1u << 19;
constexpr int kSettleMs = 500;
}  // namespace

bool CRos::Init()
{
    const char* label = "CRos::Init():";
    if (!Wr32(label, kControl, kReset))
        return false;
    if (!Settle(label, kSettleMs) || !Wr32(label, kControl, kInit) || !Settle(label, kSettleMs))
        return false;
    return Wr32(label, kStatus, kSetup);
}

bool CRos::PartialReset() { return Wr32("CRos::PartialReset():", kControl, kPartialReset); }

bool CRos::ReadFifo()
{
    const char* label = "CRos::ReadFifo():";
    m_words.clear();
    uint32_t status = 0;
    if (!Rd32(label, kStatus, status))
        return false;
    m_words.push_back(0xE0010000 | (status & 0xFFFF));
    for (int ch = 0; ch < kChannels; ++ch) {
        m_words.push_back(0xF0000008 + static_cast<uint32_t>(ch));
        const uint32_t fifo = kFifo0 + 4 * static_cast<uint32_t>(ch);
        for (int item = 0; item < kMaxItems; ++item) {
            uint32_t a = 0, b = 0;
            if (!Rd32(label, fifo, a) || !Rd32(label, fifo, b))
                return false;
            if (a & kChannelEmpty)
                break;
            m_words.push_back((a & 0xFFFF) << 16 | (b & 0xFFFF));
        }
    }
    return true;
}
