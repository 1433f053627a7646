#pragma once
// The crate wire formats as the simulated hardware speaks them. Kept apart
// from the link code on purpose: the simulator is the independent peer the
// links are tested against.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace simwire {

constexpr uint8_t kStart = 0x55;
constexpr size_t kMaxPayload = 240;
constexpr size_t kTcpHead = 12;

// CRC-16, polynomial 0x1021, initial 0, most significant bit first.
uint16_t Crc16(std::span<const uint8_t> bytes, uint16_t crc = 0);

// 0x55, N, payload, CRC high, CRC low.
std::vector<uint8_t> SerialFrame(std::span<const uint8_t> payload);
// 0x55, address high, address low, CRC high, CRC low.
std::vector<uint8_t> AddressFrame(uint16_t address);

struct TcpHead {
    uint16_t ccbid = 0;
    uint32_t length = 0;  // payload + 12
    int32_t field = 0;    // request: timeout ms; reply: status
};
std::vector<uint8_t> TcpFrame(uint16_t ccbid, int32_t field, std::span<const uint8_t> payload);
// False when the head does not start with 0x55 0x55.
bool ParseTcpHead(const uint8_t* head, TcpHead& out);

// Cuts a byte stream from a serial bus into frames. Bytes before a start
// byte, and frames whose CRC fails, are dropped (a board ignores them).
class CSerialDecoder {
public:
    struct Item {
        enum Kind { Data, Address } kind = Data;
        std::vector<uint8_t> payload;  // Data
        uint16_t address = 0;          // Address
    };

    // recogniseAddresses: the secondary bus, where a 5-byte frame whose CRC
    // checks is an address selection.
    explicit CSerialDecoder(bool recogniseAddresses) : m_addresses(recogniseAddresses) {}

    void Feed(const uint8_t* bytes, size_t count);
    // The next complete item. With idle set (no byte arrived for a while) a
    // valid 5-byte address frame is taken even if a longer data frame
    // could still be arriving, and a frame cut short is dropped.
    std::optional<Item> Next(bool idle = false);
    bool HasPending() const { return !m_buffer.empty(); }

private:
    std::vector<uint8_t> m_buffer;
    bool m_addresses;
};

}  // namespace simwire
