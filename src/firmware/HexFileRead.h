#pragma once
// Walks a loaded image in chunks that never cross a granule boundary and
// never span two blocks, for writing flash pages.

#include "firmware/HexFileImage.h"

#include <atomic>
#include <cstdint>

class CHexFileRead {
public:
    CHexFileRead() = default;
    CHexFileRead(const CHexFileRead&) = delete;
    CHexFileRead& operator=(const CHexFileRead&) = delete;

    // Starts over on image (not owned; may be null). The walk is valid
    // while the image is neither cleared nor reloaded.
    void Reset(const CHexImage* image);

    // Copies the next chunk (at most granule bytes, and never more than its
    // block holds, so buffer needs the smaller of the two) and reports its
    // address and length. False when every block has been handed out, with
    // address the current address and length 0.
    bool GetNext(uint8_t* buffer, uint32_t& address, uint32_t& length, uint32_t granule);

    // Sum of all block lengths and bytes handed out so far; another thread
    // may read both for a progress bar.
    uint32_t Total() const { return m_total.load(std::memory_order_relaxed); }
    uint32_t Delivered() const { return m_delivered.load(std::memory_order_relaxed); }
    const std::atomic<uint32_t>& DeliveredCounter() const { return m_delivered; }

private:
    const CHexImage* m_image = nullptr;
    size_t m_block = 0;
    uint32_t m_offset = 0;
    uint32_t m_address = 0;
    std::atomic<uint32_t> m_total{0};
    std::atomic<uint32_t> m_delivered{0};
};

// The walk of Intel HEX images, always in whole 64-byte pages.
class CHexFileRead_mcs {
public:
    static constexpr uint32_t kGranule = 64;

    void Reset(const CHexImage* image) { m_walk.Reset(image); }
    bool GetNext(uint8_t* buffer, uint32_t& address, uint32_t& length)
    {
        return m_walk.GetNext(buffer, address, length, kGranule);
    }
    uint32_t Total() const { return m_walk.Total(); }
    uint32_t Delivered() const { return m_walk.Delivered(); }

private:
    CHexFileRead m_walk;
};
