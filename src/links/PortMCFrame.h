#pragma once
// The crate link frames: the serial frame of both buses (start byte, length,
// payload, CRC-16/XMODEM), the secondary bus address frame, and the crate
// server's 12-byte TCP head. Numbers are most significant byte first.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace mcframe {

constexpr uint8_t kStart = 0x55;
constexpr uint8_t kHeader = 0xEC;  // first payload byte of a command or reply
constexpr int kMaxPayload = 240;
constexpr int kTcpHeadSize = 12;
constexpr int kAddressFrameSize = 5;

// Polynomial 0x1021, initial value 0, most significant bit first, no final XOR.
uint16_t Crc16(const uint8_t* bytes, size_t count, uint16_t crc = 0);

// 0x55, N = count + 2, payload, CRC high, CRC low. False with 87 when the
// payload is longer than 240 bytes.
bool BuildSerialFrame(const uint8_t* payload, int count, std::vector<uint8_t>& frame);

// 0x55, address high, address low, CRC high, CRC low.
std::array<uint8_t, kAddressFrameSize> BuildAddressFrame(uint16_t address);

// A receiver's check: the CRC run over start byte, N, payload and the two
// CRC bytes comes out 0.
bool SerialCrcOk(const uint8_t* frame, size_t size);

struct TcpHead {
    uint16_t ccbid = 0;
    uint32_t length = 0;  // payload length + 12
    int32_t field = 0;    // request: timeout in ms; reply: status
};
std::array<uint8_t, kTcpHeadSize> BuildTcpHead(uint16_t ccbid, uint32_t payloadLength, int32_t field);
// False when the head does not start with 0x55 0x55.
bool ParseTcpHead(const uint8_t* head, TcpHead& out);

// The bridge bytes (0xDE, destination high, low) go after the 0xEC and
// sequence bytes when the payload starts with 0xEC, else in front.
std::vector<uint8_t> InsertBridge(const uint8_t* payload, int count, uint16_t destination);

}  // namespace mcframe
