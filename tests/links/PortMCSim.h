#pragma once
// Crate links wired to an in-process simulator.
//
// Tests keep their links on the heap: std::mutex has no destructor the
// thread sanitizer sees, so mutexes of stack objects of earlier tests at the
// same address would merge into false lock-order reports.

#include "base/Error.h"
#include "links/PortMC_All.h"
#include "sim/SimSystem.h"

#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <vector>

using Bytes = std::vector<uint8_t>;

inline SimConfig testCrates()
{
    SimConfig c;
    c.crates = {{0, 1, 1, 101, 0, 0x00010019}, {0, 1, 2, 102, 0, 0x00010018}, {1, 8, 1, 103, 0, 0x00010017}};
    c.timing = {50, 100};
    return c;
}

// Every payload the link's monitor saw, by direction.
struct TrafficLog {
    std::mutex lock;
    std::vector<Bytes> sent, received;

    static void Hook(void* context, int direction, const uint8_t* bytes, int count)
    {
        auto* log = static_cast<TrafficLog*>(context);
        std::lock_guard g(log->lock);
        (direction == 0 ? log->sent : log->received).emplace_back(bytes, bytes + count);
    }
};

class SimLinkTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(sim.Start()); }

    // A link of the given IOType configured for the simulator, opened.
    void OpenLink(CPortMC_All& link, int ioType, int ccbid)
    {
        ASSERT_TRUE(link.SetPropertyById(CPortMC_All::kIOType, CVariant::FromInt(ioType)));
        if (ioType == CPortMC_All::kPrimary) {
            ASSERT_TRUE(link.SetProperty("ComName", CVariant::FromString(sim.PrimaryBusPath())));
        } else if (ioType == CPortMC_All::kSecondary) {
            ASSERT_TRUE(link.SetProperty("ComName", CVariant::FromString(sim.SecondaryBusPath())));
            ASSERT_TRUE(link.SetProperty("CCB ID", CVariant::FromInt(ccbid)));
        } else {
            ASSERT_TRUE(link.SetProperty("Host", CVariant::FromString("127.0.0.1")));
            ASSERT_TRUE(link.SetProperty("Port", CVariant::FromUInt16(sim.CrateServerPort())));
            ASSERT_TRUE(link.SetProperty("CCB ID", CVariant::FromInt(ccbid)));
        }
        ASSERT_TRUE(link.Open()) << GetLastErr();
        ASSERT_TRUE(link.WaitUntilOpen(5000)) << GetLastErr();
    }

    CSimSystem sim{testCrates()};
};

inline uint16_t statusCcbid(const uint8_t* reply) { return static_cast<uint16_t>((reply[1] << 8) | reply[2]); }
