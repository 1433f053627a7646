#pragma once
// A node controller: a crate board that also reaches the CAN nodes of its
// crate. Attached to a simulated board, it adds these commands to the
// board's set (every front end of the crate simulator reaches them):
//
//   EA              -> C4 and the connection node's status
//   C5 R B A data   -> the CAN message (identifier bytes A and B, reply
//                      expected when R is 1) goes to node A; the answer
//                      is C6 C5 and the node's reply data, or FC C5 and a
//                      code: 00 done (no reply expected), 01 bad message,
//                      02 no node or no reply, 07 write error
//   C7 node count   -> C6, the node's read address and count bytes read
//                      from its flash; FC C7 and a code as above
//   C8 clear        -> C9 and the next 8 histogram bins of the connection
//                      node (an empty block ends a pass and starts again)
//
// The replies of EA, C7 and C8 are laid out by links/CanNodeController.h.
// The connection node is the node whose CAN port the board sits on.

#include "base/Event.h"
#include "sim/SimCanNode.h"
#include "sim/SimCrateBoard.h"

#include <memory>
#include <mutex>
#include <optional>

class CSimCanController : public std::enable_shared_from_this<CSimCanController> {
public:
    CSimCanController(std::shared_ptr<CSimCanNodes> nodes, uint8_t connectionNode);

    // Adds the commands to the board. The board keeps this controller
    // alive as long as it keeps the commands.
    void Attach(CSimBoard& board);
    // Ends the waits of late answers (for shutting down).
    void Abort() { m_abort.Set(); }

    CSimCanNodes& Nodes() { return *m_nodes; }
    uint8_t ConnectionNode() const { return m_connectionNode; }
    void SetConnectionNode(uint8_t node) { m_connectionNode = node; }

    // The crate command answers, without faults of the board itself.
    std::optional<std::vector<uint8_t>> Execute(std::span<const uint8_t> command);

private:
    using Bytes = std::vector<uint8_t>;
    Bytes status();
    std::optional<Bytes> tunnel(std::span<const uint8_t> c);
    std::optional<Bytes> readNode(std::span<const uint8_t> c);
    Bytes histogram(std::span<const uint8_t> c);
    // Waits out a late answer; false when aborted meanwhile.
    bool delay(const SimCanAnswer& answer);

    std::shared_ptr<CSimCanNodes> m_nodes;
    std::atomic<uint8_t> m_connectionNode;
    CEvent m_abort{true, false};
    std::mutex m_histogramLock;
    uint8_t m_histogramBlock = 0;
};
