#pragma once
// What the node engine tests share: a simulated crate whose board 102 is a
// node controller sitting on node 3, with the CAN gateway in front of the
// same nodes; a node monitor pointed at either path; a print sink that
// keeps what was printed; Intel HEX files made on the fly.
//
// Monitors live on the heap (see tests/links/PortMCSim.h: mutexes of stack
// objects at reused addresses confuse the thread sanitizer).

#include "base/Error.h"
#include "base/StdOut.h"
#include "nodes/NodeMonitor.h"
#include "sim/SimCanSystem.h"
#include "support/CapturedOut.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using Bytes = std::vector<uint8_t>;

enum class CanPath { Crate, Gateway };

inline std::string PathName(const ::testing::TestParamInfo<CanPath>& info)
{
    return info.param == CanPath::Crate ? "ThroughCrate" : "ThroughGateway";
}

// An Intel HEX file of the given blocks (address, bytes), 16 bytes a record.
inline void WriteIntelHex(const std::string& path, const std::map<uint32_t, Bytes>& blocks)
{
    std::ofstream file(path);
    auto record = [&file](uint16_t address, uint8_t type, const Bytes& data) {
        unsigned sum = static_cast<unsigned>(data.size()) + (address >> 8) + (address & 0xFF) + type;
        char head[16];
        std::snprintf(head, sizeof head, ":%02X%04X%02X", static_cast<unsigned>(data.size()), address, type);
        file << head;
        for (uint8_t b : data) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%02X", b);
            file << hex;
            sum += b;
        }
        char check[4];
        std::snprintf(check, sizeof check, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
        file << check << "\n";
    };
    int upper = -1;
    for (const auto& [start, bytes] : blocks) {
        for (size_t i = 0; i < bytes.size(); i += 16) {
            const uint32_t address = start + static_cast<uint32_t>(i);
            if (static_cast<int>(address >> 16) != upper) {
                upper = static_cast<int>(address >> 16);
                record(0, 4, {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)});
            }
            const size_t n = std::min<size_t>(16, bytes.size() - i);
            record(static_cast<uint16_t>(address), 0, Bytes(bytes.begin() + static_cast<long>(i), bytes.begin() + static_cast<long>(i + n)));
        }
    }
    record(0, 1, {});
}

// count bytes that differ from page to page.
inline Bytes Pattern(size_t count, uint8_t seed)
{
    Bytes out(count);
    for (size_t i = 0; i < count; ++i)
        out[i] = static_cast<uint8_t>(seed + i * 7);
    return out;
}

class NodeSim : public ::testing::TestWithParam<CanPath> {
protected:
    static constexpr uint16_t kController = 102;
    static constexpr uint8_t kConnectionNode = 3;

    void SetUp() override
    {
        SimConfig config;
        config.crates = {{0, 1, 2, kController, 0, 0x00010019}, {0, 1, 1, 101, 0, 0x00010019}};
        config.timing = {50, 100};
        config.primaryBus = config.secondaryBus = config.secondaryServer = false;
        crates = std::make_unique<CSimSystem>(config);
        ASSERT_TRUE(crates->Start());
        can = std::make_unique<CSimCanSystem>(*crates, SimCanConfig{{{kController, kConnectionNode}}});
        ASSERT_TRUE(can->Start());
        out = std::make_unique<CCapturedOut>();
        monitor = std::make_unique<CNodeMonitor>(*out);
        monitor->SetResetWaitMs(100);
    }
    void TearDown() override
    {
        monitor.reset();
        can.reset();
        crates.reset();
    }

    // Sets the monitor's link up for the path of the test.
    void Configure(CPortCAN_All& link, CanPath path)
    {
        if (path == CanPath::Crate) {
            ASSERT_TRUE(link.SetPropertyById(CPortCAN_All::kCANIOType, CVariant::FromInt(CPortCAN_All::kCompatible)));
            ASSERT_TRUE(link.SetProperty("IOType", CVariant::FromInt(3)));
            ASSERT_TRUE(link.SetProperty("Host", CVariant::FromString("127.0.0.1")));
            ASSERT_TRUE(link.SetProperty("Port", CVariant::FromUInt16(crates->CrateServerPort())));
            ASSERT_TRUE(link.SetProperty("CCB ID", CVariant::FromInt(kController)));
        } else {
            ASSERT_TRUE(link.SetPropertyById(CPortCAN_All::kCANIOType, CVariant::FromInt(CPortCAN_All::kNode)));
            ASSERT_TRUE(link.SetProperty("Host", CVariant::FromString("127.0.0.1")));
            ASSERT_TRUE(link.SetProperty("Port", CVariant::FromUInt16(can->GatewayPort())));
        }
    }
    void OpenMonitor()
    {
        Configure(monitor->Link(), GetParam());
        ASSERT_TRUE(monitor->Open(5000)) << out->Text();
    }
    // The connection node as each path learns it.
    uint8_t ExpectedConnection() const { return GetParam() == CanPath::Crate ? kConnectionNode : 9; }
    CSimCanNode& node(int n) { return *can->Nodes(kController)->Node(n); }

    std::unique_ptr<CSimSystem> crates;
    std::unique_ptr<CSimCanSystem> can;
    std::unique_ptr<CCapturedOut> out;
    std::unique_ptr<CNodeMonitor> monitor;
};
