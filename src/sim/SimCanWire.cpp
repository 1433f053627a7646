#include "sim/SimCanWire.h"

namespace simcan {

static void putLe32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

static uint32_t getLe32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

std::array<uint8_t, kHeadSize> EncodeHead(const Head& head)
{
    std::array<uint8_t, kHeadSize> out{};
    putLe32(&out[0], head.magic);
    putLe32(&out[4], head.count);
    putLe32(&out[8], head.kind);
    return out;
}

Head DecodeHead(const uint8_t* bytes) { return Head{getLe32(bytes), getLe32(bytes + 4), getLe32(bytes + 8)}; }

std::vector<uint8_t> Message(uint32_t kind, std::span<const Record> records)
{
    auto head = EncodeHead({kMagic, static_cast<uint32_t>(records.size()), kind});
    std::vector<uint8_t> out(head.begin(), head.end());
    for (const Record& r : records)
        out.insert(out.end(), r.begin(), r.end());
    return out;
}

uint8_t EncodeTypeByte(uint8_t b) { return static_cast<uint8_t>((((b & 0xFD) | 1) << 3) | (b & 3)); }

uint8_t FrameType(uint8_t typeByte) { return static_cast<uint8_t>(((typeByte >> 3) & 0x1C) | (typeByte & 3)); }

}  // namespace simcan
