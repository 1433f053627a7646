#pragma once
// Record builders and loading helpers shared by the image file tests.

#include "base/ByteStream.h"
#include "firmware/HexFileImage.h"

#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

inline void AppendHex(std::string& text, unsigned value)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    text += kDigits[(value >> 4) & 0xF];
    text += kDigits[value & 0xF];
}

inline std::string HexByte(unsigned value)
{
    std::string text;
    AppendHex(text, value);
    return text;
}

// One S-record line: type '0'..'9', address of addressBytes bytes, data,
// the correct checksum unless checksumDelta moves it.
inline std::string SRecord(char type, uint32_t address, const Bytes& data, unsigned addressBytes,
                           int checksumDelta = 0)
{
    unsigned count = addressBytes + static_cast<unsigned>(data.size()) + 1;
    unsigned sum = count;
    std::string body = HexByte(count);
    for (unsigned i = addressBytes; i-- > 0;) {
        unsigned b = (address >> (8 * i)) & 0xFF;
        sum += b;
        body += HexByte(b);
    }
    for (uint8_t b : data) {
        sum += b;
        body += HexByte(b);
    }
    return std::string("S") + type + body + HexByte((~sum + checksumDelta) & 0xFF) + "\r\n";
}

inline std::string S1(uint32_t address, const Bytes& data) { return SRecord('1', address, data, 2); }
inline std::string S2(uint32_t address, const Bytes& data) { return SRecord('2', address, data, 3); }

// One Intel HEX line with the correct checksum unless checksumDelta moves it.
inline std::string IntelRecord(uint8_t type, uint16_t address, const Bytes& data, int checksumDelta = 0)
{
    unsigned sum = static_cast<unsigned>(data.size()) + (address >> 8) + (address & 0xFF) + type;
    std::string line = ":" + HexByte(static_cast<unsigned>(data.size())) + HexByte(address >> 8) +
                       HexByte(address & 0xFF) + HexByte(type);
    line.reserve(line.size() + 2 * data.size() + 3);
    for (uint8_t b : data) {
        sum += b;
        AppendHex(line, b);
    }
    return line + HexByte((0x100 - (sum & 0xFF) + checksumDelta) & 0xFF) + "\n";
}

inline Bytes Counting(size_t n, uint8_t first = 0)
{
    Bytes bytes(n);
    for (size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<uint8_t>(first + i);
    return bytes;
}

inline bool LoadText(CHexImage& image, const std::string& text)
{
    CMemoryStream stream(text.data(), text.size());
    return image.LoadFrom(stream);
}

struct BlockShape {
    uint32_t start;
    uint32_t length;
    bool operator==(const BlockShape&) const = default;
};

inline std::vector<BlockShape> Shape(const CHexImage& image)
{
    std::vector<BlockShape> shape;
    for (const auto& b : image.Blocks())
        shape.push_back({b.start, b.length()});
    return shape;
}

inline std::ostream& operator<<(std::ostream& os, const BlockShape& b)
{
    char text[40];
    std::snprintf(text, sizeof text, "{0x%X, %u}", b.start, b.length);
    return os << text;
}
