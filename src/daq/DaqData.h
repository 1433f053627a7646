#pragma once
// The event store of a run: one slot per requested event, each holding the
// ROS and PU words of its event, and the serialised form the DAQ server
// sends. Not thread-safe: the engine guards it with its bus lock.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

struct _DAQEVDATA {
    std::vector<uint32_t> ros;
    std::vector<uint32_t> pu;

    // 13 + R + P: the serialised size in words.
    uint32_t SizeWords() const { return static_cast<uint32_t>(13 + ros.size() + pu.size()); }
};

class CDaqData {
public:
    static constexpr uint32_t kRosBlockOffset = 9;

    // Empties the store and gives it `events` empty slots.
    void Reset(uint32_t events);
    // Fills the next empty slot; false when every slot is filled.
    bool Store(std::span<const uint32_t> ros, std::span<const uint32_t> pu);

    uint32_t Slots() const { return static_cast<uint32_t>(m_events.size()); }

    // Appends every slot, stored or not, as its run of words.
    void Serialise(std::vector<uint32_t>& words) const;
    // The word count Serialise appends.
    size_t SerialisedWords() const;

private:
    uint32_t m_header[2] = {0, 1};
    std::vector<_DAQEVDATA> m_events;
    uint32_t m_stored = 0;
};
