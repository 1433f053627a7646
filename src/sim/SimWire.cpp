#include "sim/SimWire.h"

namespace simwire {

uint16_t Crc16(std::span<const uint8_t> bytes, uint16_t crc)
{
    for (uint8_t b : bytes) {
        crc ^= static_cast<uint16_t>(b) << 8;
        for (int i = 0; i < 8; ++i)
            crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021) : static_cast<uint16_t>(crc << 1);
    }
    return crc;
}

std::vector<uint8_t> SerialFrame(std::span<const uint8_t> payload)
{
    std::vector<uint8_t> f;
    f.reserve(payload.size() + 4);
    f.push_back(kStart);
    f.push_back(static_cast<uint8_t>(payload.size() + 2));
    f.insert(f.end(), payload.begin(), payload.end());
    uint16_t crc = Crc16(f);
    f.push_back(static_cast<uint8_t>(crc >> 8));
    f.push_back(static_cast<uint8_t>(crc));
    return f;
}

std::vector<uint8_t> AddressFrame(uint16_t address)
{
    std::vector<uint8_t> f{kStart, static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address)};
    uint16_t crc = Crc16(f);
    f.push_back(static_cast<uint8_t>(crc >> 8));
    f.push_back(static_cast<uint8_t>(crc));
    return f;
}

static void putBe32(std::vector<uint8_t>& v, uint32_t x)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        v.push_back(static_cast<uint8_t>(x >> shift));
}

static uint32_t getBe32(const uint8_t* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

std::vector<uint8_t> TcpFrame(uint16_t ccbid, int32_t field, std::span<const uint8_t> payload)
{
    std::vector<uint8_t> f{kStart, kStart, static_cast<uint8_t>(ccbid >> 8), static_cast<uint8_t>(ccbid)};
    putBe32(f, static_cast<uint32_t>(payload.size() + kTcpHead));
    putBe32(f, static_cast<uint32_t>(field));
    f.insert(f.end(), payload.begin(), payload.end());
    return f;
}

bool ParseTcpHead(const uint8_t* head, TcpHead& out)
{
    if (head[0] != kStart || head[1] != kStart)
        return false;
    out.ccbid = static_cast<uint16_t>((head[2] << 8) | head[3]);
    out.length = getBe32(head + 4);
    out.field = static_cast<int32_t>(getBe32(head + 8));
    return true;
}

void CSerialDecoder::Feed(const uint8_t* bytes, size_t count)
{
    m_buffer.insert(m_buffer.end(), bytes, bytes + count);
}

std::optional<CSerialDecoder::Item> CSerialDecoder::Next(bool idle)
{
    for (;;) {
        size_t skip = 0;
        while (skip < m_buffer.size() && m_buffer[skip] != kStart)
            ++skip;
        m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<long>(skip));
        if (m_buffer.size() < 2)
            return std::nullopt;

        const size_t n = m_buffer[1];
        const bool dataPossible = n >= 2 && n - 2 <= kMaxPayload;
        const bool dataComplete = dataPossible && m_buffer.size() >= n + 2;
        const bool dataValid = dataComplete && Crc16({m_buffer.data(), n + 2}) == 0;

        if (m_addresses && m_buffer.size() >= 5 && Crc16({m_buffer.data(), 5}) == 0) {
            // A pseudo-terminal carries no parity bit, so an address frame
            // is told from a data frame by its form: five bytes whose CRC
            // checks. A longer data frame that also checks wins.
            const bool longerData = dataValid && n + 2 > 5;
            const bool mayBeLongerData = dataPossible && !dataComplete && n + 2 > 5;
            if (!longerData && (!mayBeLongerData || idle)) {
                Item item;
                item.kind = Item::Address;
                item.address = static_cast<uint16_t>((m_buffer[1] << 8) | m_buffer[2]);
                m_buffer.erase(m_buffer.begin(), m_buffer.begin() + 5);
                return item;
            }
        }
        if (!dataPossible) {
            m_buffer.erase(m_buffer.begin());
            continue;
        }
        if (!dataComplete) {
            // A frame cut short is dropped once the line has gone quiet.
            if (!idle)
                return std::nullopt;
            m_buffer.erase(m_buffer.begin());
            continue;
        }
        if (!dataValid) {
            m_buffer.erase(m_buffer.begin());
            continue;
        }
        Item item;
        item.payload.assign(m_buffer.begin() + 2, m_buffer.begin() + static_cast<long>(n));
        m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<long>(n + 2));
        return item;
    }
}

}  // namespace simwire
