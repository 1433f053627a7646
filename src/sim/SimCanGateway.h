#pragma once
// The CAN gateway front end: TCP clients exchange gateway messages (head
// and 13-byte records, see SimCanWire.h) with the CAN nodes of a crate.
//
// A client first sends its configuration (kind 1); each record is
// answered accepted (byte 0 = 1) in a kind-1 answer. Data messages
// (kind 0) before that get a write-error answer. Each data message is
// delivered record by record and acknowledged by a kind-0 message of one
// record whose byte 4 is 0x40 (or answered by a write error when a record
// cannot be delivered); the nodes' replies follow as kind-0 messages,
// each record: status 0, the type byte of the frame type, the node, the
// client's reception counter, the length and the data.

#include "base/Event.h"
#include "sim/SimCanNode.h"
#include "sim/SimCanWire.h"
#include "sim/SimTcpServer.h"

#include <memory>
#include <string>

class CSimCanGateway {
public:
    explicit CSimCanGateway(std::shared_ptr<CSimCanNodes> nodes);
    ~CSimCanGateway();
    CSimCanGateway(const CSimCanGateway&) = delete;
    CSimCanGateway& operator=(const CSimCanGateway&) = delete;

    // Listens on address (port 0: an ephemeral port); false with the last error.
    bool Start(uint16_t port, const std::string& address = "127.0.0.1") { return m_tcp.Start(port, address); }
    void Stop() { m_tcp.Stop(); }
    uint16_t Port() const { return m_tcp.Port(); }
    CSimCanFaults& Faults() { return m_faults; }
    CSimCanNodes& Nodes() { return *m_nodes; }

    // Sends a message unasked from `node` (frame type 3) to every client
    // that has configured the gateway; returns how many got it.
    int Emit(uint8_t node, std::span<const uint8_t> data);
    int ClientCount() { return m_tcp.ClientCount(); }

private:
    struct Client : CSimTcpClient {
        bool configured = false;
        uint8_t counter = 0;
    };

    void serve(Client& client);
    bool configure(Client& client, std::vector<simcan::Record>& records);
    bool deliver(Client& client, const std::vector<simcan::Record>& records);
    bool sendReply(Client& client, const std::vector<SimCanFrame>& frames);
    simcan::Record recordOf(Client& client, const SimCanFrame& frame);
    bool send(Client& client, const std::vector<uint8_t>& bytes) { return m_tcp.Send(client, bytes); }

    std::shared_ptr<CSimCanNodes> m_nodes;
    CSimCanFaults m_faults;
    CSimTcpServer m_tcp;
};
