#pragma once
// The CAN side of a simulated crate system: which crate boards are node
// controllers (each with ten CAN nodes of its own, reached through every
// crate front end) and the CAN gateway front end on TCP, in front of the
// nodes of one controller.

#include "sim/SimCanController.h"
#include "sim/SimCanGateway.h"
#include "sim/SimSystem.h"

#include <memory>
#include <string>
#include <vector>

struct SimNodeControllerSpec {
    uint16_t ccbid = 0;          // the crate board that is a node controller
    uint8_t connectionNode = 3;  // the node whose CAN port it sits on
};

struct SimCanConfig {
    std::vector<SimNodeControllerSpec> controllers;
    bool gateway = true;
    uint16_t gatewayPort = 0;
    // The controller whose nodes the gateway reaches; 0: the first one
    // (with no controller at all, the gateway has nodes of its own).
    uint16_t gatewayCcbid = 0;
    std::string address = "127.0.0.1";
};

class CSimCanSystem {
public:
    // Makes the named boards of `crates` node controllers.
    CSimCanSystem(CSimSystem& crates, SimCanConfig config);
    ~CSimCanSystem();
    CSimCanSystem(const CSimCanSystem&) = delete;
    CSimCanSystem& operator=(const CSimCanSystem&) = delete;

    // Starts the gateway; false with the last error (2 when a named
    // controller board does not exist).
    bool Start();
    void Stop();

    uint16_t GatewayPort() const { return m_gateway ? m_gateway->Port() : 0; }
    CSimCanGateway* Gateway() { return m_gateway.get(); }
    CSimCanController* Controller(uint16_t ccbid);
    // The nodes behind a controller; null when ccbid is none.
    CSimCanNodes* Nodes(uint16_t ccbid);
    CSimCanNodes& GatewayNodes() { return *m_gatewayNodes; }
    const SimCanConfig& Config() const { return m_config; }

    // Sends a message unasked from a node of the gateway's nodes: through
    // the gateway (from that node) and, as C6 C5 and the data, from their
    // controller on the crate front ends. Returns how many front ends sent it.
    int EmitUnsolicited(uint8_t node, std::span<const uint8_t> data);

private:
    struct ControllerEntry {
        uint16_t ccbid;
        std::shared_ptr<CSimCanController> controller;
    };

    CSimSystem& m_crates;
    SimCanConfig m_config;
    std::vector<ControllerEntry> m_controllers;
    bool m_missingBoard = false;
    std::shared_ptr<CSimCanNodes> m_gatewayNodes;
    uint16_t m_gatewayCcbid = 0;
    std::unique_ptr<CSimCanGateway> m_gateway;
};
