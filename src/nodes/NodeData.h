#pragma once
// What a read pass learns about the CAN nodes of a crate, as plain records
// that the node monitor window and telvane-cli both read. Copies are
// handed between threads; the records themselves are not shared.

#include <array>
#include <cstdint>
#include <vector>

inline constexpr int kNodeCount = 10;
inline constexpr uint8_t kNodeUnknown = 0xFF;
// The nodes that keep histograms.
inline constexpr std::array<uint8_t, 2> kHistogramNodes = {8, 9};
// The node that reads the temperature sensors.
inline constexpr uint8_t kTemperatureNode = 7;

// Every item carries `valid`: false until read, and after a failed read.
struct NodeErrorState {
    std::array<uint8_t, 4> code{};  // "TX Can ErrCnt", "RX Can ErrCnt", "Can Err Code", "Rs Err Code"
    uint16_t timeA = 0;             // "Ack Time"
    uint16_t timeB = 0;             // "Ack Time1"
    uint8_t flags = 0;
    bool valid = false;
};

struct NodeErrorCounters {
    std::vector<uint8_t> can;
    std::vector<uint8_t> rs485;
    bool valid = false;
};

struct NodeAnalog {
    std::array<uint16_t, 4> value{};
    uint8_t mask = 0;  // bit i: value i was read
    bool valid = false;
};

struct NodeDestination {
    uint16_t value = 0;
    bool valid = false;
};

struct NodeDac {
    uint8_t threshold = 0;
    uint16_t laser = 0;
    bool valid = false;
};

struct NodeLatchUp {
    std::array<uint8_t, 3> state{};
    bool valid = false;
};

struct NodeVersion {
    uint8_t major = 0;
    uint8_t minor = 0;
    bool valid = false;

    unsigned Number() const { return major * 256u + minor; }
};

struct NodeData {
    NodeErrorState error;
    NodeErrorCounters counters;
    NodeAnalog analog;
    NodeDestination destination;
    NodeDac dac;
    NodeLatchUp latchUp;
    NodeVersion version;
};

struct NodeHistogram {
    uint8_t node = 0;
    std::vector<uint8_t> bins;  // one count per bin, bin 0 first
};

struct NodeMonitorData {
    uint8_t connectionNode = kNodeUnknown;
    std::array<NodeData, kNodeCount> nodes{};
    std::array<NodeHistogram, kHistogramNodes.size()> histograms{
        {NodeHistogram{kHistogramNodes[0], {}}, NodeHistogram{kHistogramNodes[1], {}}}};
    std::vector<float> temperatures;  // one per sensor of the temperature node
    bool temperaturesValid = false;
};
