#pragma once
// The crate commands of a node controller (the crate board that sits on
// one CAN node of its crate, the connection node) and the layouts of their
// replies. The node monitor reads them with these definitions; the
// simulated controller builds its status reply from the example decode
// file's 0xC4 structure and the others with the encoders below, and a test
// holds the three together.
//
//   EA              -> C4, version major, minor, connection node,
//                      destination (2 bytes), analog values 0 to 3 (2 bytes
//                      each), all of the connection node
//   C7 node count   -> C6, the node's read address (4 bytes), the data
//   C8 clear        -> C9 and the next 8 (or fewer) histogram bins of the
//                      connection node
//
// Multi-byte values least significant byte first. Plain functions without
// state: any thread, no waits.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace nodectl {

inline constexpr uint8_t kStatusCommand = 0xEA;
inline constexpr uint8_t kStatusReply = 0xC4;
inline constexpr uint8_t kReadCommand = 0xC7;
inline constexpr uint8_t kReadReply = 0xC6;
inline constexpr uint8_t kHistogramCommand = 0xC8;
inline constexpr uint8_t kHistogramReply = 0xC9;

inline constexpr int kAnalogValues = 4;
inline constexpr int kStatusReplySize = 6 + 2 * kAnalogValues;
inline constexpr int kReadHeadSize = 5;
inline constexpr int kHistogramBlockSize = 8;

struct ControllerStatus {
    uint8_t major = 0;
    uint8_t minor = 0;
    uint8_t connectionNode = 0;
    uint16_t destination = 0;
    std::array<uint16_t, kAnalogValues> analog{};
};

namespace detail {
inline uint16_t getLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
}  // namespace detail

// False for a reply that is not C4 or is too short.
inline bool DecodeStatus(std::span<const uint8_t> reply, ControllerStatus& s)
{
    if (reply.size() < kStatusReplySize || reply[0] != kStatusReply)
        return false;
    s.major = reply[1];
    s.minor = reply[2];
    s.connectionNode = reply[3];
    s.destination = detail::getLe16(&reply[4]);
    for (int i = 0; i < kAnalogValues; ++i)
        s.analog[static_cast<size_t>(i)] = detail::getLe16(&reply[6 + 2 * static_cast<size_t>(i)]);
    return true;
}

inline std::vector<uint8_t> EncodeRead(uint32_t address, std::span<const uint8_t> data)
{
    std::vector<uint8_t> out{kReadReply};
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(address >> (8 * i)));
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

// False for a reply that is not C6 with a whole address; data is what follows it.
inline bool DecodeRead(std::span<const uint8_t> reply, uint32_t& address, std::span<const uint8_t>& data)
{
    if (reply.size() < kReadHeadSize || reply[0] != kReadReply)
        return false;
    address = uint32_t(reply[1]) | (uint32_t(reply[2]) << 8) | (uint32_t(reply[3]) << 16) | (uint32_t(reply[4]) << 24);
    data = reply.subspan(kReadHeadSize);
    return true;
}

inline std::vector<uint8_t> EncodeHistogramBlock(std::span<const uint8_t> bins)
{
    std::vector<uint8_t> out{kHistogramReply};
    out.insert(out.end(), bins.begin(), bins.end());
    return out;
}

// False for a reply that is not C9 or carries more than one block of bins.
inline bool DecodeHistogramBlock(std::span<const uint8_t> reply, std::span<const uint8_t>& bins)
{
    if (reply.empty() || reply[0] != kHistogramReply || reply.size() > 1 + kHistogramBlockSize)
        return false;
    bins = reply.subspan(1);
    return true;
}

}  // namespace nodectl
