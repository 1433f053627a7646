#pragma once
// The crate link over the primary bus: serial frames on a serial port
// (38400 baud, no parity), optionally bridged to another board.

#include "links/PortMC.h"
#include "ports/PortIO_Com.h"

#include <vector>

class CPortMC_Pri : public CPortMC {
public:
    enum PropertyId : int32_t { kBridge = 401, kDestId = 402 };
    enum BridgeMode : int32_t { kBridgeOff = 0, kBridgeMode1 = 1, kBridgeMode2 = 2 };
    static const _PROPDEF kProperties[];
    // The 0xDF command of bridge mode 1.
    static constexpr int kBridgeCommandTimeoutMs = 1000;

    CPortMC_Pri();
    ~CPortMC_Pri() override;

    bool GetNextProperty(_PROPDEF& entry, bool restart) override;
    void ListProperties(PropertyList& out) override;
    bool GetProperty(int32_t id, CVariant& value) override;
    bool SetProperty(std::string_view name, const CVariant& value) override;
    bool SetPropertyById(int32_t id, const CVariant& value) override;
    bool SendFrame(const uint8_t* bytes, int count, int timeoutMs) override;
    bool ReceiveFrame(uint8_t* buffer, int& count, int timeoutMs) override;

    CPortIO_Com& Port() { return m_com; }

private:
    CPortIO_Com m_com;
    std::atomic<int32_t> m_bridge{kBridgeOff};
    std::atomic<uint16_t> m_destId{0};
    bool m_bridgeSuspended = false;  // guarded by the command lock
};

// The bridge handling shared by the primary and TCP links: mode 1 first
// sends 0xDF with the destination and inserts 0xDE 00 00, mode 2 inserts
// 0xDE with the destination. The payload to frame, or false when the 0xDF
// command failed.
bool PrepareBridgedPayload(CPortMC& link, int32_t mode, uint16_t destination, const uint8_t* bytes, int count,
                           std::vector<uint8_t>& payload);

extern const _PROPOPT kBridgeOptions[];
