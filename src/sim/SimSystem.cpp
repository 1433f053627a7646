#include "sim/SimSystem.h"

#include "base/Error.h"

#include <cstdio>

CSimSystem::CSimSystem(SimConfig config) : m_config(std::move(config))
{
    for (const auto& crate : m_config.crates) {
        Crate c{crate, std::make_unique<CSimBoard>(crate.ccbid, crate.version, m_config.timing)};
        if (c.crate.pid == 0)
            c.crate.pid = crate.ccbid;
        c.board->SetBridge([this](uint16_t ccbid) { return Board(ccbid); });
        m_crates.push_back(std::move(c));
    }
}

CSimSystem::~CSimSystem() { Stop(); }

uint16_t CSimSystem::SecondaryAddress(int sector, uint16_t ccbid)
{
    return static_cast<uint16_t>((sector < 7 ? sector + 19 : sector + 23) * 1000 + ccbid);
}

CSimBoard* CSimSystem::Board(uint16_t ccbid)
{
    for (auto& c : m_crates)
        if (c.crate.ccbid == ccbid)
            return c.board.get();
    return nullptr;
}

CSimBoard* CSimSystem::BoardByPid(uint16_t pid)
{
    for (auto& c : m_crates)
        if (c.crate.pid == pid)
            return c.board.get();
    return nullptr;
}

CSimBoard* CSimSystem::BoardBySecondaryAddress(uint16_t address)
{
    for (auto& c : m_crates)
        if (SecondaryAddress(c.crate.sector, c.crate.ccbid) == address)
            return c.board.get();
    return nullptr;
}

bool CSimSystem::Start()
{
    Stop();
    bool ok = true;
    if (ok && m_config.crateServer) {
        m_crateServer = std::make_unique<CSimServer>([this](uint16_t id) { return BoardByPid(id); });
        ok = m_crateServer->Start(m_config.crateServerPort, m_config.address);
    }
    if (ok && m_config.secondaryServer) {
        m_secondaryServer = std::make_unique<CSimServer>([this](uint16_t a) { return BoardBySecondaryAddress(a); });
        ok = m_secondaryServer->Start(m_config.secondaryServerPort, m_config.address);
    }
    if (ok && m_config.primaryBus && !m_crates.empty()) {
        m_primaryBus = std::make_unique<CSimBus>(m_crates.front().board.get());
        ok = m_primaryBus->Start();
    }
    if (ok && m_config.secondaryBus) {
        m_secondaryBus = std::make_unique<CSimBus>([this](uint16_t a) { return BoardBySecondaryAddress(a); });
        ok = m_secondaryBus->Start();
    }
    if (!ok) {
        uint32_t e = GetLastErr();
        Stop();
        SetLastErr(e);
    }
    return ok;
}

void CSimSystem::Stop()
{
    m_crateServer.reset();
    m_secondaryServer.reset();
    m_primaryBus.reset();
    m_secondaryBus.reset();
}

int CSimSystem::EmitUnsolicited(uint16_t ccbid, std::span<const uint8_t> payload)
{
    int sent = 0;
    if (m_primaryBus && !m_crates.empty() && m_crates.front().crate.ccbid == ccbid && m_primaryBus->Emit(payload))
        ++sent;
    for (auto& c : m_crates) {
        if (c.crate.ccbid != ccbid)
            continue;
        if (m_crateServer)
            sent += m_crateServer->Emit(c.crate.pid, payload);
        if (m_secondaryServer)
            sent += m_secondaryServer->Emit(SecondaryAddress(c.crate.sector, c.crate.ccbid), payload);
    }
    return sent;
}

static std::string wheelName(int wheel)
{
    return wheel > 0 ? "YB+" + std::to_string(wheel) : "YB" + std::to_string(wheel);
}

std::string CSimSystem::CatalogueXml() const
{
    std::string xml = "<?xml version=\"1.0\"?>\n<Divadiduvs>\n";
    char line[512];
    for (const auto& c : m_crates) {
        // "sector" goes before "ccbid": readers derive the secondary
        // address from the sector read so far.
        std::snprintf(line, sizeof line,
                      "  <Divadiduv wheel=\"%s\" sector=\"S%d\" type=\"MB%d\" pid=\"%u\" ccbid=\"%u\" "
                      "host=\"%s\" pid_port=\"%u\" ccbid_port=\"%u\"/>\n",
                      wheelName(c.crate.wheel).c_str(), c.crate.sector, c.crate.type, c.crate.pid, c.crate.ccbid,
                      m_config.address.c_str(), CrateServerPort(), SecondaryServerPort());
        xml += line;
    }
    xml += "</Divadiduvs>\n";
    return xml;
}

bool CSimSystem::WriteCatalogue(const std::string& path) const
{
    FILE* f = std::fopen(path.c_str(), "w");
    if (!f) {
        SetLastErrFromErrno();
        return false;
    }
    const std::string xml = CatalogueXml();
    const bool ok = std::fwrite(xml.data(), 1, xml.size(), f) == xml.size();
    const bool closed = std::fclose(f) == 0;
    if (!ok || !closed) {
        SetLastErr(err::WriteFault);
        return false;
    }
    return true;
}
