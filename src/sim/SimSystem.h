#pragma once
// A set of simulated crates with their front ends: the crate server on TCP
// (boards by CCB ID), a second crate server reaching the boards by their
// secondary-bus address, the primary bus (the first crate's board, the
// others behind its bridge) and the secondary bus on pseudo-terminals.
// Tests start it in-process on ephemeral ports; telvane-sim runs it alone.

#include "sim/SimBus.h"
#include "sim/SimCrateBoard.h"
#include "sim/SimServer.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct SimCrateSpec {
    int wheel = 0;    // -2..2
    int sector = 1;   // 1..12
    int type = 1;     // 1..5
    uint16_t ccbid = 1;
    uint16_t pid = 0;  // the crate server's CCB ID for the board; 0: same as ccbid
    uint32_t version = 0x00010019;  // flash image version; 0: erased flash
};

struct SimConfig {
    std::vector<SimCrateSpec> crates;
    SimTiming timing;
    bool crateServer = true;
    uint16_t crateServerPort = 0;
    bool secondaryServer = true;
    uint16_t secondaryServerPort = 0;
    bool primaryBus = true;
    bool secondaryBus = true;
    std::string address = "127.0.0.1";
};

class CSimSystem {
public:
    explicit CSimSystem(SimConfig config);
    ~CSimSystem();
    CSimSystem(const CSimSystem&) = delete;
    CSimSystem& operator=(const CSimSystem&) = delete;

    // Starts every configured front end; false with the last error (and
    // nothing left running) when one cannot start.
    bool Start();
    void Stop();

    uint16_t CrateServerPort() const { return m_crateServer ? m_crateServer->Port() : 0; }
    uint16_t SecondaryServerPort() const { return m_secondaryServer ? m_secondaryServer->Port() : 0; }
    std::string PrimaryBusPath() const { return m_primaryBus ? m_primaryBus->Path() : std::string(); }
    std::string SecondaryBusPath() const { return m_secondaryBus ? m_secondaryBus->Path() : std::string(); }
    CSimBus* PrimaryBus() { return m_primaryBus.get(); }
    CSimBus* SecondaryBus() { return m_secondaryBus.get(); }
    const SimConfig& Config() const { return m_config; }

    // The board of a crate by its ccbid; null when there is none.
    CSimBoard* Board(uint16_t ccbid);
    CSimBoard* BoardByPid(uint16_t pid);
    CSimBoard* BoardBySecondaryAddress(uint16_t address);

    // The secondary-bus address of a board: (sector + 19) * 1000 + ccbid for
    // sectors below 7, (sector + 23) * 1000 + ccbid otherwise.
    static uint16_t SecondaryAddress(int sector, uint16_t ccbid);

    // The crate catalogue (XML) describing these crates and where the
    // running servers listen; false with the last error.
    std::string CatalogueXml() const;
    bool WriteCatalogue(const std::string& path) const;

    // Sends a frame unasked from a board on every front end that reaches
    // it (the primary bus, the servers' clients that addressed it); returns
    // how many front ends sent it.
    int EmitUnsolicited(uint16_t ccbid, std::span<const uint8_t> payload);

private:
    struct Crate {
        SimCrateSpec crate;
        std::unique_ptr<CSimBoard> board;
    };

    SimConfig m_config;
    std::vector<Crate> m_crates;
    std::unique_ptr<CSimServer> m_crateServer;
    std::unique_ptr<CSimServer> m_secondaryServer;
    std::unique_ptr<CSimBus> m_primaryBus;
    std::unique_ptr<CSimBus> m_secondaryBus;
};
