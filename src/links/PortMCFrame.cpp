#include "links/PortMCFrame.h"

#include "base/Error.h"

namespace mcframe {

uint16_t Crc16(const uint8_t* bytes, size_t count, uint16_t crc)
{
    for (size_t i = 0; i < count; ++i) {
        crc ^= static_cast<uint16_t>(bytes[i] << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

bool BuildSerialFrame(const uint8_t* payload, int count, std::vector<uint8_t>& frame)
{
    if (count < 0 || count > kMaxPayload) {
        SetLastErr(err::BadParam);
        return false;
    }
    frame.resize(static_cast<size_t>(count) + 4);
    frame[0] = kStart;
    frame[1] = static_cast<uint8_t>(count + 2);
    std::copy(payload, payload + count, frame.begin() + 2);
    const uint16_t crc = Crc16(frame.data(), static_cast<size_t>(count) + 2);
    frame[static_cast<size_t>(count) + 2] = static_cast<uint8_t>(crc >> 8);
    frame[static_cast<size_t>(count) + 3] = static_cast<uint8_t>(crc);
    return true;
}

std::array<uint8_t, kAddressFrameSize> BuildAddressFrame(uint16_t address)
{
    std::array<uint8_t, kAddressFrameSize> f{kStart, static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address),
                                             0, 0};
    const uint16_t crc = Crc16(f.data(), 3);
    f[3] = static_cast<uint8_t>(crc >> 8);
    f[4] = static_cast<uint8_t>(crc);
    return f;
}

bool SerialCrcOk(const uint8_t* frame, size_t size) { return Crc16(frame, size) == 0; }

std::array<uint8_t, kTcpHeadSize> BuildTcpHead(uint16_t ccbid, uint32_t payloadLength, int32_t field)
{
    const uint32_t total = payloadLength + kTcpHeadSize;
    const uint32_t f = static_cast<uint32_t>(field);
    return {kStart,
            kStart,
            static_cast<uint8_t>(ccbid >> 8),
            static_cast<uint8_t>(ccbid),
            static_cast<uint8_t>(total >> 24),
            static_cast<uint8_t>(total >> 16),
            static_cast<uint8_t>(total >> 8),
            static_cast<uint8_t>(total),
            static_cast<uint8_t>(f >> 24),
            static_cast<uint8_t>(f >> 16),
            static_cast<uint8_t>(f >> 8),
            static_cast<uint8_t>(f)};
}

bool ParseTcpHead(const uint8_t* head, TcpHead& out)
{
    if (head[0] != kStart || head[1] != kStart)
        return false;
    auto be32 = [](const uint8_t* p) {
        return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
    };
    out.ccbid = static_cast<uint16_t>((head[2] << 8) | head[3]);
    out.length = be32(head + 4);
    out.field = static_cast<int32_t>(be32(head + 8));
    return true;
}

std::vector<uint8_t> InsertBridge(const uint8_t* payload, int count, uint16_t destination)
{
    const size_t at = count >= 2 && payload[0] == kHeader ? 2 : 0;
    std::vector<uint8_t> out(payload, payload + at);
    out.push_back(0xDE);
    out.push_back(static_cast<uint8_t>(destination >> 8));
    out.push_back(static_cast<uint8_t>(destination));
    out.insert(out.end(), payload + at, payload + count);
    return out;
}

}  // namespace mcframe
