#include "firmware/HexFileRead.h"

#include <algorithm>
#include <cstring>

void CHexFileRead::Reset(const CHexImage* image)
{
    m_image = image;
    m_block = 0;
    m_offset = 0;
    m_address = 0;
    m_delivered.store(0, std::memory_order_relaxed);
    uint32_t total = 0;
    if (image) {
        for (const auto& block : image->Blocks())
            total += block.length();
        m_address = image->GetStart();
    }
    m_total.store(total, std::memory_order_relaxed);
}

bool CHexFileRead::GetNext(uint8_t* buffer, uint32_t& address, uint32_t& length, uint32_t granule)
{
    length = 0;
    address = m_address;
    if (!m_image || granule == 0)
        return false;
    const auto& blocks = m_image->Blocks();
    // An empty block has nothing to hand out.
    while (m_block < blocks.size() && blocks[m_block].data.empty())
        ++m_block;
    if (m_block >= blocks.size())
        return false;

    const _MEMBLK& block = blocks[m_block];
    if (m_offset == 0)
        m_address = block.start;
    const uint32_t toBoundary = granule - m_address % granule;
    length = std::min(toBoundary, block.length() - m_offset);
    std::memcpy(buffer, block.data.data() + m_offset, length);
    address = m_address;

    m_offset += length;
    m_address += length;
    m_delivered.fetch_add(length, std::memory_order_relaxed);
    if (m_offset == block.length()) {
        ++m_block;
        m_offset = 0;
    }
    return true;
}
