#include "sim/SimCanSystem.h"

#include "base/Error.h"

CSimCanSystem::CSimCanSystem(CSimSystem& crates, SimCanConfig config) : m_crates(crates), m_config(std::move(config))
{
    for (const auto& entry : m_config.controllers) {
        CSimBoard* board = m_crates.Board(entry.ccbid);
        if (!board) {
            m_missingBoard = true;
            continue;
        }
        auto controller = std::make_shared<CSimCanController>(std::make_shared<CSimCanNodes>(), entry.connectionNode);
        controller->Attach(*board);
        m_controllers.push_back({entry.ccbid, controller});
    }
    const uint16_t wanted = m_config.gatewayCcbid;
    for (const auto& c : m_controllers) {
        if (wanted == 0 || wanted == c.ccbid) {
            // The controller shares its nodes with the gateway.
            m_gatewayNodes = std::shared_ptr<CSimCanNodes>(c.controller, &c.controller->Nodes());
            m_gatewayCcbid = c.ccbid;
            break;
        }
    }
    if (!m_gatewayNodes)
        m_gatewayNodes = std::make_shared<CSimCanNodes>();
}

CSimCanSystem::~CSimCanSystem()
{
    Stop();
    // The boards keep their controllers; late answers still waiting end now.
    for (auto& c : m_controllers)
        c.controller->Abort();
}

bool CSimCanSystem::Start()
{
    Stop();
    if (m_missingBoard || (m_config.gatewayCcbid != 0 && m_gatewayCcbid != m_config.gatewayCcbid)) {
        SetLastErr(err::NotFound);
        return false;
    }
    if (!m_config.gateway)
        return true;
    m_gateway = std::make_unique<CSimCanGateway>(m_gatewayNodes);
    if (!m_gateway->Start(m_config.gatewayPort, m_config.address)) {
        m_gateway.reset();
        return false;
    }
    return true;
}

void CSimCanSystem::Stop() { m_gateway.reset(); }

CSimCanController* CSimCanSystem::Controller(uint16_t ccbid)
{
    for (auto& c : m_controllers)
        if (c.ccbid == ccbid)
            return c.controller.get();
    return nullptr;
}

CSimCanNodes* CSimCanSystem::Nodes(uint16_t ccbid)
{
    CSimCanController* c = Controller(ccbid);
    return c ? &c->Nodes() : nullptr;
}

int CSimCanSystem::EmitUnsolicited(uint8_t node, std::span<const uint8_t> data)
{
    int sent = m_gateway ? m_gateway->Emit(node, data) : 0;
    if (m_gatewayCcbid != 0) {
        std::vector<uint8_t> payload{0xC6, 0xC5};
        payload.insert(payload.end(), data.begin(), data.end());
        sent += m_crates.EmitUnsolicited(m_gatewayCcbid, payload);
    }
    return sent;
}
