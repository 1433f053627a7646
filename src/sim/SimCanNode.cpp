#include "sim/SimCanNode.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace {

constexpr uint8_t kMonitorReply = 3;
constexpr uint8_t kReadRequest = 0x1D;
constexpr uint8_t kSetAddress = 0x1E;
constexpr uint8_t kData = 0x1F;

bool edgeNode(uint8_t n) { return n == 0 || n == 9; }

std::array<uint8_t, 8> packError(uint8_t node, const SimCanErrorState& s)
{
    if (edgeNode(node))
        return {s.canCode, s.rsCode, s.txCount, s.rxCount, 0, s.flags, 0, 0};
    const uint16_t a = static_cast<uint16_t>(s.ackTime / 5);
    const uint16_t b = static_cast<uint16_t>(s.ackTime1 / 5);
    return {s.txCount, s.rxCount, s.canCode, static_cast<uint8_t>(b >> 8), static_cast<uint8_t>(b),
            static_cast<uint8_t>(a >> 8), static_cast<uint8_t>(a), s.rsCode};
}

SimCanReadings defaultReadings(uint8_t n)
{
    SimCanReadings r;
    SimCanErrorState e;
    e.ackTime = 125;
    e.ackTime1 = 60;
    r.error = packError(n, e);
    r.canCounters.assign(edgeNode(n) ? 6 : 13, 0);
    r.rsCounters.assign(edgeNode(n) ? 8 : n == 8 ? 5 : 7, 0);
    // A crate that has seen some trouble: a few counters are not zero.
    if (n == 2)
        r.canCounters[1] = 5;
    if (n == 5)
        r.rsCounters[0] = 200;
    for (size_t ch = 0; ch < r.adc.size(); ++ch)
        r.adc[ch] = static_cast<uint16_t>(2000 + 50 * n + 113 * ch);
    r.destination = static_cast<uint16_t>(0x0100 + n);
    r.threshold = static_cast<uint8_t>(0x20 + n);
    r.laser = static_cast<uint16_t>(0x0800 + 16 * n);
    // Node 0 runs old firmware (the old counter form), the others newer.
    r.major = 2;
    r.minor = n == 0 ? 7 : n == 9 ? 6 : 12;
    if (n == 7)
        r.temperatures = {24.5f, 31.0f, 28.5f};
    if (n == 8 || n == 9) {
        r.histogram.resize(256);
        for (int i = 0; i < 256; ++i) {
            const double x = (i - 100.0 - 20 * (n - 8)) / 30.0;
            r.histogram[static_cast<size_t>(i)] = static_cast<uint8_t>(std::lround(220 * std::exp(-x * x)));
        }
    }
    return r;
}

}  // namespace

bool CSimCanFaults::Take(SimCanFault fault)
{
    auto& c = m_counts[index(fault)];
    int v = c.load();
    while (v != 0) {
        if (v < 0)
            return true;
        if (c.compare_exchange_weak(v, v - 1))
            return true;
    }
    return false;
}

void CSimCanFaults::ClearAll()
{
    for (auto& c : m_counts)
        c = 0;
}

CSimCanNode::CSimCanNode(uint8_t number)
    : m_number(number), m_readings(defaultReadings(number)), m_flash(kFlashSize, 0xFF)
{
}

SimCanAnswer CSimCanNode::Handle(uint8_t identifierB, std::span<const uint8_t> data)
{
    ++m_messages;
    SimCanAnswer a;
    if (m_faults.Take(SimCanFault::WriteError) || (identifierB == kData && m_faults.Take(SimCanFault::FlashWriteError))) {
        a.writeError = true;
        return a;
    }
    {
        std::lock_guard lock(m_lock);
        advanceLocked();
        if (identifierB == 0)
            a.frames = monitorLocked(data);
        else if (identifierB == kReadRequest || identifierB == kSetAddress || identifierB == kData)
            a.frames = firmwareLocked(identifierB, data);
    }
    if (a.frames.empty())
        return a;
    if (identifierB == kReadRequest && m_faults.Take(SimCanFault::WrongReadAddress))
        a.frames.front().data[0] ^= static_cast<uint8_t>(kPageSize);
    if (identifierB == kReadRequest && a.frames.size() > 1 && m_faults.Take(SimCanFault::CorruptReadData))
        a.frames[1].data[0] ^= 0xFF;
    if (m_faults.Take(SimCanFault::LostReply)) {
        a.frames.clear();
        a.lost = true;
        return a;
    }
    if (m_faults.Take(SimCanFault::ForeignReply)) {
        SimCanFrame& f = a.frames.front();
        f.node = static_cast<uint8_t>((m_number + 1) % CSimCanNodes::kCount);
        f.type = 0;
        if (f.data.size() < 8)
            f.data.push_back(0);
        else
            f.data.pop_back();
        a.foreign = true;
    }
    if (m_faults.Take(SimCanFault::LateReply))
        a.delayMs = m_faults.LateMs();
    return a;
}

std::vector<SimCanFrame> CSimCanNode::blocksLocked(const Bytes& source, uint8_t index)
{
    const size_t start = size_t(index) * 8;
    if (start >= source.size())
        return {frame(kMonitorReply, {})};
    const size_t end = std::min(start + 8, source.size());
    return {frame(kMonitorReply, Bytes(source.begin() + static_cast<long>(start), source.begin() + static_cast<long>(end)))};
}

std::vector<SimCanFrame> CSimCanNode::monitorLocked(std::span<const uint8_t> d)
{
    if (d.empty())
        return {};
    const uint8_t arg = d.size() > 1 ? d[1] : 0;
    if (m_loader) {
        if (d[0] == 0x04)
            m_loaderUntil = Clock::now() + std::chrono::milliseconds(m_loaderMs);
        return {};
    }
    SimCanReadings& r = m_readings;
    switch (d[0]) {
    case 0x01:
        return {frame(kMonitorReply, Bytes(r.error.begin(), r.error.end()))};
    case 0x02:
        if (!OldCounterFormLocked())
            return blocksLocked(r.canCounters, arg);
        if (arg > 1)
            return {frame(kMonitorReply, {})};
        return blocksLocked(arg == 0 ? r.canCounters : r.rsCounters, 0);
    case 0x0B:
        if (OldCounterFormLocked())
            return {};
        return blocksLocked(r.rsCounters, arg);
    case 0x04:
        commitPageLocked();
        m_loader = true;
        m_loaderHeld = false;
        m_loaderUntil = Clock::now() + std::chrono::milliseconds(m_loaderMs);
        return {};
    case 0x06:
        return {frame(kMonitorReply, {static_cast<uint8_t>(r.destination), static_cast<uint8_t>(r.destination >> 8)})};
    case 0x0A:
        std::fill(r.canCounters.begin(), r.canCounters.end(), 0);
        std::fill(r.rsCounters.begin(), r.rsCounters.end(), 0);
        return {};
    case 0x10: {
        if (arg >= r.temperatures.size())
            return {frame(kMonitorReply, {})};
        // The three upper bytes of the single-precision value, lowest first.
        const uint32_t bits = std::bit_cast<uint32_t>(r.temperatures[arg]);
        return {frame(kMonitorReply, {static_cast<uint8_t>(bits >> 8), static_cast<uint8_t>(bits >> 16),
                                      static_cast<uint8_t>(bits >> 24)})};
    }
    case 0x13:
        if (arg >= r.adc.size())
            return {};
        return {frame(kMonitorReply, {static_cast<uint8_t>(r.adc[arg]), static_cast<uint8_t>(r.adc[arg] >> 8)})};
    case 0x14:
        return {frame(kMonitorReply, histogramBlockLocked(d.size() > 2 ? d[2] : 0, arg != 0))};
    case 0x15: {
        auto answer = frame(kMonitorReply, Bytes(r.latchUp.begin(), r.latchUp.end()));
        if (arg == 0xFF)
            r.latchUp = {};
        return {answer};
    }
    case 0x16:
        return {frame(kMonitorReply, {r.major, r.minor})};
    case 0x17:
        return {frame(kMonitorReply, {r.threshold, static_cast<uint8_t>(r.laser), static_cast<uint8_t>(r.laser >> 8), 0})};
    default:
        return {};
    }
}

std::vector<SimCanFrame> CSimCanNode::firmwareLocked(uint8_t b, std::span<const uint8_t> d)
{
    if (!m_loader)
        return {};
    m_loaderHeld = true;
    if (b == kSetAddress) {
        if (d.size() < 4)
            return {};
        const uint32_t address = uint32_t(d[0]) | (uint32_t(d[1]) << 8) | (uint32_t(d[2]) << 16) | (uint32_t(d[3]) << 24);
        commitPageLocked();
        if (address == kUnlockAddress)
            m_loader = false;
        else
            m_address = address;
        return {};
    }
    if (b == kData) {
        for (uint8_t byte : d) {
            const uint32_t base = m_address & ~(kPageSize - 1);
            if (!m_page.empty() && base != m_pageBase)
                commitPageLocked();
            if (m_page.empty()) {
                m_page.assign(kPageSize, 0xFF);
                m_pageBase = base;
            }
            m_page[m_address - base] = byte;
            ++m_address;
            if (m_address % kPageSize == 0)
                commitPageLocked();
        }
        return {};
    }
    commitPageLocked();
    const uint32_t count = d.empty() ? 0 : d[0];
    std::vector<SimCanFrame> frames;
    frames.push_back(frame(kSetAddress, {static_cast<uint8_t>(m_address), static_cast<uint8_t>(m_address >> 8),
                                         static_cast<uint8_t>(m_address >> 16), static_cast<uint8_t>(m_address >> 24)}));
    for (uint32_t done = 0; done < count; done += 8) {
        Bytes chunk;
        for (uint32_t i = done; i < std::min(count, done + 8); ++i) {
            const uint64_t at = uint64_t(m_address) + i;
            chunk.push_back(at < kFlashSize ? m_flash[at] : 0xFF);
        }
        frames.push_back(frame(kData, std::move(chunk)));
    }
    m_address += count;
    return frames;
}

std::vector<uint8_t> CSimCanNode::histogramBlockLocked(uint8_t block, bool clear)
{
    Bytes& bins = m_readings.histogram;
    const size_t start = size_t(block) * 8;
    if (start >= bins.size())
        return {};
    const auto first = bins.begin() + static_cast<long>(start);
    const auto last = bins.begin() + static_cast<long>(std::min(start + 8, bins.size()));
    Bytes out(first, last);
    // Clearing goes block by block, as each is read.
    if (clear)
        std::fill(first, last, 0);
    return out;
}

std::vector<uint8_t> CSimCanNode::HistogramBlock(uint8_t block, bool clear)
{
    std::lock_guard lock(m_lock);
    return histogramBlockLocked(block, clear);
}

void CSimCanNode::commitPageLocked()
{
    if (m_page.empty())
        return;
    for (uint32_t i = 0; i < kPageSize; ++i)
        if (uint64_t(m_pageBase) + i < kFlashSize)
            m_flash[m_pageBase + i] = m_page[i];
    m_page.clear();
}

void CSimCanNode::advanceLocked()
{
    if (m_loader && !m_loaderHeld && Clock::now() >= m_loaderUntil)
        m_loader = false;
}

bool CSimCanNode::OldCounterFormLocked() const
{
    const unsigned version = m_readings.major * 256u + m_readings.minor;
    return (m_number == 0 && version <= 0x0207) || (m_number == 9 && version <= 0x0204);
}

bool CSimCanNode::OldCounterForm()
{
    std::lock_guard lock(m_lock);
    return OldCounterFormLocked();
}

SimCanReadings CSimCanNode::Readings()
{
    std::lock_guard lock(m_lock);
    return m_readings;
}

void CSimCanNode::SetReadings(const SimCanReadings& readings)
{
    std::lock_guard lock(m_lock);
    m_readings = readings;
}

void CSimCanNode::SetErrorState(const SimCanErrorState& state)
{
    std::lock_guard lock(m_lock);
    m_readings.error = packError(m_number, state);
}

void CSimCanNode::SetVersion(uint8_t major, uint8_t minor)
{
    std::lock_guard lock(m_lock);
    m_readings.major = major;
    m_readings.minor = minor;
}

void CSimCanNode::SetCounters(std::vector<uint8_t> can, std::vector<uint8_t> rs)
{
    std::lock_guard lock(m_lock);
    m_readings.canCounters = std::move(can);
    m_readings.rsCounters = std::move(rs);
}

bool CSimCanNode::InLoader()
{
    std::lock_guard lock(m_lock);
    advanceLocked();
    return m_loader;
}

void CSimCanNode::SetLoaderMs(int ms)
{
    std::lock_guard lock(m_lock);
    m_loaderMs = ms;
}

std::vector<uint8_t> CSimCanNode::Flash(uint32_t address, size_t length)
{
    std::lock_guard lock(m_lock);
    Bytes out;
    for (size_t i = 0; i < length; ++i) {
        const uint64_t at = uint64_t(address) + i;
        out.push_back(at < kFlashSize ? m_flash[at] : 0xFF);
    }
    return out;
}

CSimCanNodes::CSimCanNodes()
{
    for (int i = 0; i < kCount; ++i)
        m_nodes[static_cast<size_t>(i)] = std::make_unique<CSimCanNode>(static_cast<uint8_t>(i));
}

CSimCanNode* CSimCanNodes::Node(int number)
{
    return number >= 0 && number < kCount ? m_nodes[static_cast<size_t>(number)].get() : nullptr;
}
