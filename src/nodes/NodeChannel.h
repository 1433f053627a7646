#pragma once
// The node channel: the CAN link to the nodes of one crate and the number
// of the node the link is attached to (the connection node), with every
// node operation of the monitor and the firmware messages.
//
// Results: true, or false with the thread's last error: 87 a request the
// node rules refuse (node out of 0..9, connection node not yet known, the
// connection node itself unless it is 0 or 9, histograms of a node other
// than 8 or 9); 13 a reply that does not fit; 160 a read-back of more than
// 10 gateway messages; 234 a read-back reply shorter than asked; errors of
// the link pass through.
//
// Threads: one caller at a time, the holder of Lock() (a read pass or an
// update). Each exchange waits at most the link's time-outs (3000 ms for a
// crate command or a tunnelled message, 5000 ms for a gateway message).

#include "links/CanNodeController.h"
#include "links/PortCAN_All.h"
#include "nodes/NodeData.h"
#include "nodes/NodeLinkLock.h"

#include <atomic>
#include <cstdint>
#include <span>
#include <vector>

class CNodeChannel {
public:
    static constexpr int kCrateCommandTimeoutMs = 3000;
    static constexpr uint8_t kMonitor = 0x00;
    static constexpr uint8_t kReadRequest = 0x1D;
    static constexpr uint8_t kSetAddress = 0x1E;
    static constexpr uint8_t kData = 0x1F;
    static constexpr uint32_t kUnlockAddress = 0xFFFFFFFF;
    // A gateway read-back takes at most this many data messages.
    static constexpr int kMaxReadMessages = 10;

    explicit CNodeChannel(CPortCAN_All& link) : m_link(link) {}

    CPortCAN_All& Link() { return m_link; }
    CNodeLinkLock& Lock() { return m_lock; }
    uint8_t ConnectionNode() const { return m_connectionNode; }
    // Forgets the connection node (a new link, another crate).
    void ForgetConnectionNode() { m_connectionNode = kNodeUnknown; }

    // Learns the connection node: through the crate (EA, its C4 reply)
    // with "CANIOType" 1; node 9 with "CANIOType" 2; 87 otherwise.
    bool GetNode();

    bool ResetNode(uint8_t node);
    bool ResetErrorCnt(uint8_t node);
    bool GetError(uint8_t node, NodeErrorState& out);
    // The node's version first; then the counters, in the old form for
    // node 0 up to version 0x0207 and node 9 up to 0x0204.
    bool GetErrorCnt(uint8_t node, NodeErrorCounters& out);
    bool GetDest(uint8_t node, NodeDestination& out);
    bool RdDac(uint8_t node, NodeDac& out);
    // reset: 0xFF clears the node's latch-up state after reading it.
    bool LatchUp(uint8_t node, uint8_t reset, NodeLatchUp& out);
    bool RdVersion(uint8_t node, NodeVersion& out);
    bool ReadAdc(uint8_t node, uint8_t channel, uint16_t& value);
    // Reads every channel of the node even after a failure; out.mask tells
    // which values came; false with the first failure's error.
    bool RdAdcIntAll(uint8_t node, NodeAnalog& out);
    // clear: the node clears each block of bins as it hands it over.
    bool ReadHistog(uint8_t node, bool clear, std::vector<uint8_t>& bins);
    bool ReadTemperature(std::vector<float>& celsius);

    // Firmware messages (identifier byte B 0x1E, 0x1F, 0x1D).
    bool SetAddress(uint8_t node, uint32_t address);
    bool WriteData(uint8_t node, std::span<const uint8_t> bytes);
    // Reads count bytes from the node's read address; address: where they came from.
    bool ReadFlash(uint8_t node, int count, uint32_t& address, std::vector<uint8_t>& data);

private:
    // The node rules; `useCrate` tells whether the crate answers for the node.
    bool Allowed(uint8_t node, bool& useCrate) const;
    bool AllowedOnBus(uint8_t node) const;
    bool Send(uint8_t node, uint8_t idB, std::span<const uint8_t> data);
    // One monitor request and its reply; `expected` is the reply's data
    // length, `least` the bytes the caller reads from it.
    bool Ask(uint8_t node, std::span<const uint8_t> request, int expected, int least, CanRecord& reply);
    bool CrateCommand(std::span<const uint8_t> command, uint8_t* reply, int& replyCount);
    bool CrateStatus(nodectl::ControllerStatus& status);
    bool ReadBlocks(uint8_t node, uint8_t subCommand, std::vector<uint8_t>& out);
    bool ReadFlashThroughCrate(uint8_t node, int count, uint32_t& address, std::vector<uint8_t>& data);
    bool ReadFlashThroughGateway(uint8_t node, int count, uint32_t& address, std::vector<uint8_t>& data);

    CPortCAN_All& m_link;
    CNodeLinkLock m_lock;
    std::atomic<uint8_t> m_connectionNode{kNodeUnknown};
};

// The monitor's rule for a reply: frame type 3, or byte 0 the node and the
// data length the expected one.
bool AcceptNodeReply(const CanRecord& reply, uint8_t node, int expectedLength);
