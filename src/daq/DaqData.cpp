#include "daq/DaqData.h"

void CDaqData::Reset(uint32_t events)
{
    m_events.clear();
    m_events.shrink_to_fit();
    m_events.resize(events);
    m_stored = 0;
}

bool CDaqData::Store(std::span<const uint32_t> ros, std::span<const uint32_t> pu)
{
    if (m_stored >= m_events.size())
        return false;
    _DAQEVDATA& e = m_events[m_stored++];
    e.ros.assign(ros.begin(), ros.end());
    e.pu.assign(pu.begin(), pu.end());
    return true;
}

size_t CDaqData::SerialisedWords() const
{
    size_t words = 0;
    for (const _DAQEVDATA& e : m_events)
        words += e.SizeWords();
    return words;
}

void CDaqData::Serialise(std::vector<uint32_t>& words) const
{
    words.reserve(words.size() + SerialisedWords());
    const uint32_t slots = Slots();
    for (const _DAQEVDATA& e : m_events) {
        const uint32_t r = static_cast<uint32_t>(e.ros.size());
        const uint32_t p = static_cast<uint32_t>(e.pu.size());
        const uint32_t size = e.SizeWords();
        words.insert(words.end(),
                     {size, m_header[0], m_header[1], slots, 0, kRosBlockOffset,
                      kRosBlockOffset + 1 + r, 0, 0, r + 1});
        words.insert(words.end(), e.ros.begin(), e.ros.end());
        words.insert(words.end(), {p + 2, (p + 1) * 256 + 1});
        words.insert(words.end(), e.pu.begin(), e.pu.end());
        words.push_back(size);
    }
}
