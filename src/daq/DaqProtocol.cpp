#include "daq/DaqProtocol.h"

namespace daqproto {

void PutBE32(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

uint32_t GetBE32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}

uint16_t GetBE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

_DAQHEAD ParseHead(const uint8_t* head)
{
    _DAQHEAD h;
    h.magic = head[0] == kMagic && head[1] == kMagic;
    h.id = GetBE16(head + 2);
    h.length = GetBE32(head + 4);
    h.status = GetBE32(head + 8);
    return h;
}

void PutHead(uint8_t* head, uint16_t id, uint32_t length, uint32_t status)
{
    head[0] = kMagic;
    head[1] = kMagic;
    head[2] = static_cast<uint8_t>(id >> 8);
    head[3] = static_cast<uint8_t>(id);
    PutBE32(head + 4, length);
    PutBE32(head + 8, status);
}

}  // namespace daqproto
