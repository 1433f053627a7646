#pragma once
// The DAQ server's frames: a 12-byte head (magic 0x55 0x55, request id,
// total length, status; all most significant byte first) and a payload.

#include <cstddef>
#include <cstdint>

namespace daqproto {
constexpr size_t kHeadSize = 12;
// Only the low 8 bits of a payload length ever reached the engine, so no
// request is longer than this.
constexpr size_t kMaxPayload = 255;
constexpr size_t kMaxRequest = kHeadSize + kMaxPayload;
constexpr uint8_t kMagic = 0x55;
constexpr uint32_t kStatusOk = 1000;
constexpr uint32_t kStatusFailed = 0xFFFFFFFF;

enum : uint8_t {
    kWaitEvents = 0xC0,
    kStartRun = 0xC1,
    kReadReg = 0xC2,
    kWriteReg = 0xC3,
    // The connection window's two-byte sequence header in front of a request.
    kSequenceHeader = 0xEC,
    // The whole payload of a failure reply.
    kFailure = 0x02,
};

struct _DAQHEAD {
    bool magic = false;
    uint16_t id = 0;
    uint32_t length = 0;  // head plus payload
    uint32_t status = 0;
};

_DAQHEAD ParseHead(const uint8_t* head);
// Writes the 12 bytes of a head.
void PutHead(uint8_t* head, uint16_t id, uint32_t length, uint32_t status);

void PutBE32(uint8_t* p, uint32_t v);
uint32_t GetBE32(const uint8_t* p);
uint16_t GetBE16(const uint8_t* p);
}  // namespace daqproto
