#include "sim/SimVmeBoards.h"

bool CSimVmeBoard::Read(uint32_t address, size_t length, uint32_t& value)
{
    const uint32_t offset = address - m_base;
    if (!Contains(address) || offset % 2 != 0 || offset + length > m_size)
        return false;
    if (length == 2) {
        uint16_t half = 0;
        if (!Read16(offset, half))
            return false;
        value = half;
        return true;
    }
    return length == 4 && Read32(offset, value);
}

bool CSimVmeBoard::Write(uint32_t address, size_t length, uint32_t value)
{
    const uint32_t offset = address - m_base;
    if (!Contains(address) || offset % 2 != 0 || offset + length > m_size)
        return false;
    if (length == 2)
        return Write16(offset, static_cast<uint16_t>(value));
    return length == 4 && Write32(offset, value);
}

bool CSimVmeBoard::Read32(uint32_t offset, uint32_t& value)
{
    uint16_t high = 0, low = 0;
    if (!Read16(offset, high) || !Read16(offset + 2, low))
        return false;
    value = static_cast<uint32_t>(high) << 16 | low;
    return true;
}

bool CSimVmeBoard::Write32(uint32_t offset, uint32_t value)
{
    return Write16(offset, static_cast<uint16_t>(value >> 16)) &&
           Write16(offset + 2, static_cast<uint16_t>(value));
}

void CSimVmeMemoryBoard::Reset() { std::fill(m_regs.begin(), m_regs.end(), 0); }

bool CSimVmeMemoryBoard::Read16(uint32_t offset, uint16_t& value)
{
    value = m_regs[offset / 2];
    return true;
}

bool CSimVmeMemoryBoard::Write16(uint32_t offset, uint16_t value)
{
    m_regs[offset / 2] = value;
    return true;
}

namespace {
constexpr uint32_t kPuFifoFirst = 0x02;
constexpr uint32_t kPuFifoLast = 0x10;
constexpr uint32_t kPuRunState = 0x14;
constexpr uint32_t kPuClear = 0x28;
constexpr uint32_t kPuEventCounter = 0x2C;
}  // namespace

void CSimVmePu::Reset()
{
    m_regs.fill(0);
    m_fifo.clear();
    m_eventReady = false;
}

void CSimVmePu::AddRecord(const Record& record)
{
    if (m_fifo.size() < kFifoCapacity)
        m_fifo.push_back(record);
}

void CSimVmePu::AddEvent(const std::vector<Record>& records)
{
    for (const Record& r : records)
        AddRecord(r);
    uint16_t& counter = m_regs[kPuEventCounter / 2];
    const uint16_t last = records.empty() ? 0 : static_cast<uint16_t>((records.size() - 1) & 0xFFF);
    counter = static_cast<uint16_t>((counter & 0xF000) | last);
    m_eventReady = true;
}

bool CSimVmePu::Read16(uint32_t offset, uint16_t& value)
{
    if (offset >= kPuFifoFirst && offset <= kPuFifoLast) {
        if (m_fifo.empty()) {
            value = 0;
            return true;
        }
        value = m_fifo.front()[(offset - kPuFifoFirst) / 2];
        if (offset == kPuFifoLast)
            m_fifo.pop_front();
        return true;
    }
    value = offset == kPuRunState ? (m_eventReady ? 1 : 0) : m_regs[offset / 2];
    return true;
}

bool CSimVmePu::Write16(uint32_t offset, uint16_t value)
{
    if (offset == kPuClear && value == 0) {
        m_fifo.clear();
        m_eventReady = false;
    }
    m_regs[offset / 2] = value;
    return true;
}

namespace {
constexpr uint32_t kRosControl = 0x00;
constexpr uint32_t kRosSetup = 0x04;
constexpr uint32_t kRosFifo0 = 0x40;
constexpr uint32_t kRosReset = 0x800;
constexpr uint32_t kRosInit = 0x300;
constexpr uint32_t kRosPartialReset = 0x200;
}  // namespace

void CSimVmeRos::Reset()
{
    m_control = 0;
    m_setup = 0;
    m_initialised = false;
    ClearFifos();
}

void CSimVmeRos::ClearFifos()
{
    for (auto& fifo : m_fifos)
        fifo.clear();
}

void CSimVmeRos::AddWord(int channel, uint32_t word)
{
    auto& fifo = m_fifos.at(static_cast<size_t>(channel));
    if (fifo.size() < kFifoCapacity)
        fifo.push_back(word);
}

bool CSimVmeRos::Read32(uint32_t offset, uint32_t& value)
{
    if (offset % 4 != 0)
        return false;
    if (offset >= kRosFifo0) {
        auto& fifo = m_fifos[(offset - kRosFifo0) / 4];
        if (fifo.empty()) {
            value = kEmpty;
        } else {
            value = fifo.front();
            fifo.pop_front();
        }
        return true;
    }
    if (offset == kRosControl)
        value = m_control;
    else if (offset == kRosSetup)
        value = m_setup & 0xFFFF;
    else
        return false;
    return true;
}

bool CSimVmeRos::Write32(uint32_t offset, uint32_t value)
{
    if (offset == kRosControl) {
        m_control = value;
        if (value == kRosReset) {
            m_setup = 0;
            m_initialised = false;
            ClearFifos();
        } else if (value == kRosInit) {
            m_initialised = true;
        } else if (value == kRosPartialReset) {
            ClearFifos();
        }
        return true;
    }
    if (offset == kRosSetup) {
        m_setup = value;
        return true;
    }
    return false;
}

void CSimVmeDelayBoard::Reset()
{
    m_regs.fill(0);
    m_busy = true;
}

bool CSimVmeDelayBoard::Read16(uint32_t offset, uint16_t& value)
{
    value = m_regs[offset / 2];
    return true;
}

bool CSimVmeDelayBoard::Write16(uint32_t offset, uint16_t value)
{
    uint16_t& reg = m_regs[offset / 2];
    if (offset == 0x04 && !(reg & kBusyClear) && (value & kBusyClear))
        m_busy = false;
    reg = value;
    return true;
}
