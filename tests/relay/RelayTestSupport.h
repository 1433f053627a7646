#pragma once
// The relay under test: a CRelayServer whose link reaches the in-process
// simulator, listening on an ephemeral loopback port, with its output and
// its client events captured; raw loopback clients for the misbehaving
// ones and our own TCP crate links for the well-behaved.

#include "links/PortMCFrame.h"
#include "links/PortMCSim.h"
#include "ports/PortTestUtil.h"
#include "relay/RelayServer.h"
#include "support/CapturedOut.h"

#include <condition_variable>
#include <cstdarg>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace relaytest {

using porttest::Clock;
using porttest::Fd;
using porttest::msSince;

// Client events as lines: "added A", "refused A: why", "closed A: why", "removed A", "stop".
class EventLog : public CRelayObserver {
public:
    void ClientAdded(const std::shared_ptr<_CLIENTDATA>& c) override { Add("added " + c->title); }
    void ClientRemoved(const std::shared_ptr<_CLIENTDATA>& c) override { Add("removed " + c->title); }
    void ClientRefused(const std::string& a, const char* why) override { Add("refused " + a + ": " + why); }
    void ClientClosed(const _CLIENTDATA& c, const char* why) override { Add("closed " + c.title + ": " + why); }
    void StopRequested() override { Add("stop"); }

    bool Wait(const std::string& line, int timeoutMs = 3000)
    {
        std::unique_lock g(m_lock);
        return m_changed.wait_for(g, std::chrono::milliseconds(timeoutMs), [&] {
            for (const auto& l : m_lines)
                if (l == line)
                    return true;
            return false;
        });
    }
    std::vector<std::string> Lines()
    {
        std::lock_guard g(m_lock);
        return m_lines;
    }

private:
    void Add(std::string line)
    {
        {
            std::lock_guard g(m_lock);
            m_lines.push_back(std::move(line));
        }
        m_changed.notify_all();
    }
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<std::string> m_lines;
};

inline std::string AddressOf(const Fd& fd) { return "127.0.0.1:" + std::to_string(porttest::LocalPort(fd.get())); }

// One answer of the relay as a raw client reads it.
struct Answer {
    mcframe::TcpHead head;
    Bytes payload;
};

// Writes one request frame: head (ccbid, length, timeout) and payload.
inline bool SendRequest(const Fd& fd, uint16_t ccbid, const Bytes& payload, int32_t timeoutMs)
{
    const auto head = mcframe::BuildTcpHead(ccbid, static_cast<uint32_t>(payload.size()), timeoutMs);
    Bytes frame(head.size() + payload.size());
    std::copy(head.begin(), head.end(), frame.begin());
    std::copy(payload.begin(), payload.end(), frame.begin() + head.size());
    return porttest::WriteAll(fd.get(), frame.data(), frame.size());
}

inline bool ReadAnswer(const Fd& fd, Answer& a, int timeoutMs = 3000)
{
    uint8_t head[mcframe::kTcpHeadSize];
    if (!porttest::ReadAll(fd.get(), head, sizeof head, timeoutMs) || !mcframe::ParseTcpHead(head, a.head) ||
        a.head.length < mcframe::kTcpHeadSize)
        return false;
    a.payload.resize(a.head.length - mcframe::kTcpHeadSize);
    return porttest::ReadAll(fd.get(), a.payload.data(), a.payload.size(), timeoutMs);
}

// A connection of the server's own kind: the TCP crate link.
inline std::unique_ptr<CPortMC_All> OpenClientLink(uint16_t port, int ccbid)
{
    auto link = std::make_unique<CPortMC_All>();
    link->SetPropertyById(CPortMC_All::kIOType, CVariant::FromInt(CPortMC_All::kTcp));
    link->SetProperty("Host", CVariant::FromString("127.0.0.1"));
    link->SetProperty("Port", CVariant::FromUInt16(port));
    link->SetProperty("CCB ID", CVariant::FromInt(ccbid));
    if (!link->Open() || !link->WaitUntilOpen(5000))
        return nullptr;
    return link;
}

// "F5" read of `length` bytes of RAM at `address`.
inline Bytes ReadMemCommand(uint32_t address, uint32_t length)
{
    return {0xF5, uint8_t(address >> 16), uint8_t(address >> 8), uint8_t(address), uint8_t(length >> 16),
            uint8_t(length >> 8), uint8_t(length)};
}

class RelayTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(sim.Start()); }
    void TearDown() override
    {
        if (server)
            server->Disconnect();
    }

    // A relay whose link is `ioType` (primary bus, or TCP to the simulated
    // crate server), listening on 127.0.0.1 with these extra settings.
    void StartRelay(int ioType, const std::vector<std::pair<std::string, std::string>>& extra = {})
    {
        server = std::make_unique<CRelayServer>(out, &events);
        CPortMC_All& link = server->Link();
        ASSERT_TRUE(link.SetPropertyById(CPortMC_All::kIOType, CVariant::FromInt(ioType)));
        if (ioType == CPortMC_All::kPrimary) {
            ASSERT_TRUE(link.SetProperty("ComName", CVariant::FromString(sim.PrimaryBusPath())));
        } else {
            ASSERT_TRUE(link.SetProperty("Host", CVariant::FromString("127.0.0.1")));
            ASSERT_TRUE(link.SetProperty("Port", CVariant::FromUInt16(sim.CrateServerPort())));
            ASSERT_TRUE(link.SetProperty("CCB ID", CVariant::FromInt(101)));
        }
        CRelaySettings& s = server->Settings();
        ASSERT_TRUE(s.SetProperty("ServerPort", CVariant::FromInt(0)));
        ASSERT_TRUE(s.SetProperty("BindAddress", CVariant::FromString("127.0.0.1")));
        for (const auto& [name, value] : extra)
            ASSERT_TRUE(s.SetProperty(name, CVariant::FromString(value))) << name << "=" << value;
        ASSERT_TRUE(server->Connect()) << out.Text();
        ASSERT_TRUE(server->Link().WaitUntilOpen(5000));
        port = server->ListeningPort();
    }

    Fd Connect() const { return porttest::ConnectTo(port); }

    // One raw exchange; fails the test when no answer comes.
    Answer Exchange(const Fd& fd, const Bytes& payload, int32_t timeoutMs = 1000, uint16_t ccbid = 101)
    {
        Answer a;
        EXPECT_TRUE(SendRequest(fd, ccbid, payload, timeoutMs));
        EXPECT_TRUE(ReadAnswer(fd, a));
        return a;
    }

    CSimSystem sim{testCrates()};
    CCapturedOut out;
    EventLog events;
    std::unique_ptr<CRelayServer> server;
    uint16_t port = 0;
};

}  // namespace relaytest
