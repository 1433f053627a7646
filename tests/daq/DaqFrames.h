#pragma once
// Builders of DAQ server requests and readers of replies, written from the
// wire format independently of the engine's own helpers.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

using Bytes = std::vector<uint8_t>;

inline void AppendBE(Bytes& b, uint32_t v, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

inline Bytes RequestFrame(uint16_t id, const Bytes& payload)
{
    Bytes f = {0x55, 0x55};
    AppendBE(f, id, 2);
    AppendBE(f, static_cast<uint32_t>(12 + payload.size()), 4);
    AppendBE(f, 0, 4);
    f.insert(f.end(), payload.begin(), payload.end());
    return f;
}

inline Bytes StartRunPayload(uint32_t events)
{
    Bytes p = {0xC1};
    AppendBE(p, events, 4);
    return p;
}

inline Bytes ReadRegPayload(uint32_t board, uint32_t offset, uint16_t width)
{
    Bytes p = {0xC2};
    AppendBE(p, board, 4);
    AppendBE(p, offset, 4);
    AppendBE(p, width, 2);
    return p;
}

inline Bytes WriteRegPayload(uint32_t board, uint32_t offset, uint16_t width, uint32_t value)
{
    Bytes p = {0xC3};
    AppendBE(p, board, 4);
    AppendBE(p, offset, 4);
    AppendBE(p, width, 2);
    AppendBE(p, value, 4);
    return p;
}

inline uint32_t BE32(const uint8_t* p)
{
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

struct Reply {
    uint16_t id = 0;
    uint32_t length = 0;
    uint32_t status = 0;
    Bytes payload;
    bool magic = false;

    static Reply Parse(const Bytes& frame)
    {
        Reply r;
        if (frame.size() < 12)
            return r;
        r.magic = frame[0] == 0x55 && frame[1] == 0x55;
        r.id = static_cast<uint16_t>(frame[2] << 8 | frame[3]);
        r.length = BE32(&frame[4]);
        r.status = BE32(&frame[8]);
        r.payload.assign(frame.begin() + 12, frame.end());
        return r;
    }
    // The event words of a 0xC0 reply, least significant byte first.
    std::vector<uint32_t> Words() const
    {
        std::vector<uint32_t> w;
        for (size_t i = 1; i + 4 <= payload.size(); i += 4)
            w.push_back(uint32_t{payload[i]} | uint32_t{payload[i + 1]} << 8 |
                        uint32_t{payload[i + 2]} << 16 | uint32_t{payload[i + 3]} << 24);
        return w;
    }
    uint32_t Value() const { return payload.size() >= 5 ? BE32(&payload[1]) : 0xDEADBEEF; }
};

// The serialised words of a stand event without ROS data, one PU record
// (n = 0) holding the stand's record 0 of event e.
inline std::vector<uint32_t> EventWithoutRos(uint32_t e, uint32_t slots)
{
    return {17, 0, 1, slots, 0, 9, 10, 0, 0, 1, 6, 0x501, e & 0xFFFF, 0xA300A200, 0xA500A400, 0xA700A600, 17};
}
