#pragma once
// The CAN gateway's wire format as the simulated gateway speaks it: a
// 12-byte head (magic, record count, kind; 32-bit numbers least
// significant byte first) and 13-byte records. Kept apart from the link
// code: the simulator is the independent peer the links are tested against.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace simcan {

constexpr uint32_t kMagic = 0x5555AAAA;
constexpr size_t kHeadSize = 12;
constexpr size_t kRecordSize = 13;
constexpr uint32_t kMaxRecords = 64;
constexpr uint32_t kKindData = 0;
constexpr uint32_t kKindConfig = 1;
constexpr uint8_t kAcknowledge = 0x40;  // record byte 4 of the gateway's acknowledge
constexpr uint8_t kConfigAccepted = 1;  // record byte 0 of an accepted configuration record
constexpr uint8_t kWriteError = 2;      // record byte 0 of a write-error answer

using Record = std::array<uint8_t, kRecordSize>;

struct Head {
    uint32_t magic = kMagic;
    uint32_t count = 0;
    uint32_t kind = kKindData;
};

std::array<uint8_t, kHeadSize> EncodeHead(const Head& head);
Head DecodeHead(const uint8_t* bytes);
// Head and records as one message.
std::vector<uint8_t> Message(uint32_t kind, std::span<const Record> records);

// Record byte 1 carries the identifier bits of byte B: ((B & 0xFD | 1) << 3) | (B & 3).
uint8_t EncodeTypeByte(uint8_t identifierB);
// The frame type those bits stand for: ((byte1 >> 3) & 0x1C) | (byte1 & 3).
uint8_t FrameType(uint8_t typeByte);

}  // namespace simcan
