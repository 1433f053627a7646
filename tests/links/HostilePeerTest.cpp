// Peers that never let a wait end by themselves: the caller's time-out
// must still bound every reception.

#include "base/Error.h"
#include "links/PortCAN_Node.h"
#include "links/PortMC_Pri.h"
#include "links/PortMC_Tcp.h"
#include "ports/PortTestUtil.h"

#include <atomic>
#include <cstring>
#include <gtest/gtest.h>
#include <thread>

using namespace porttest;
using namespace std::chrono_literals;

namespace {

void putLe32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// A gateway head: magic, record count, kind.
std::vector<uint8_t> gatewayHead(uint32_t count, uint32_t kind)
{
    std::vector<uint8_t> h(12);
    putLe32(&h[0], 0x5555AAAA);
    putLe32(&h[4], count);
    putLe32(&h[8], kind);
    return h;
}

bool readBytes(const LoopbackServer& server, int fd, size_t n)
{
    std::vector<uint8_t> buf(n);
    size_t got = 0;
    while (got < n) {
        if (!server.WaitReadable(fd))
            return false;
        const ssize_t r = read(fd, buf.data() + got, n - got);
        if (r <= 0)
            return false;
        got += static_cast<size_t>(r);
    }
    return true;
}

}  // namespace

TEST(HostilePeer, SerialNoiseCannotHoldACommandPastItsTimeOut)
{
    PtyPair pty;
    auto link = std::make_unique<CPortMC_Pri>();
    ASSERT_TRUE(link->SetProperty("ComName", CVariant::FromString(pty.path())));
    ASSERT_TRUE(link->Open()) << GetLastErr();
    std::atomic<bool> stop{false};
    std::thread noise([&] {
        const uint8_t junk = 0x00;  // never the start byte
        for (int i = 0; i < 500 && !stop; ++i) {
            (void)!write(pty.master(), &junk, 1);
            std::this_thread::sleep_for(10ms);
        }
    });
    const uint8_t status = 0xEA;
    uint8_t reply[256];
    int count = sizeof reply;
    const auto t0 = Clock::now();
    EXPECT_FALSE(link->Command(&status, 1, reply, count, 300));
    EXPECT_EQ(GetLastErr(), err::Timeout);
    EXPECT_LT(msSince(t0), 2000) << "the search for the start byte restarted with each byte";
    stop = true;
    noise.join();
    link->Close();
}

TEST(HostilePeer, EmptyGatewayHeadsCannotHoldAReplyPastItsTimeOut)
{
    LoopbackServer gateway([](const LoopbackServer& server, int fd) {
        // Accept the set-up, acknowledge the message, then send heads with
        // no records for up to five seconds.
        if (!readBytes(server, fd, 12 + 5 * 13))
            return;
        std::vector<uint8_t> setUp = gatewayHead(5, 1);
        for (int i = 0; i < 5; ++i) {
            uint8_t record[13] = {1};
            setUp.insert(setUp.end(), record, record + 13);
        }
        WriteAll(fd, setUp.data(), setUp.size());
        if (!readBytes(server, fd, 12 + 13))
            return;
        std::vector<uint8_t> ack = gatewayHead(1, 0);
        uint8_t record[13] = {};
        record[4] = 0x40;
        ack.insert(ack.end(), record, record + 13);
        WriteAll(fd, ack.data(), ack.size());
        const std::vector<uint8_t> empty = gatewayHead(0, 0);
        for (int i = 0; i < 250; ++i) {
            if (!WriteAll(fd, empty.data(), empty.size()))
                return;
            std::this_thread::sleep_for(20ms);
        }
    });
    auto link = std::make_unique<CPortCAN_Node>();
    ASSERT_TRUE(link->SetProperty("Host", CVariant::FromString("127.0.0.1")));
    ASSERT_TRUE(link->SetProperty("Port", CVariant::FromUInt16(gateway.port())));
    ASSERT_TRUE(link->SetProperty("OpenAsync", CVariant::FromBool(false)));
    ASSERT_TRUE(link->Open()) << GetLastErr();
    link->SetHeadTimeout(300);
    const uint8_t data[1] = {0x01};
    const CanMessage message = MakeCanMessage(3, 0x10, true, data, 1);
    CanRecord reply{};
    int count = 1;
    const auto t0 = Clock::now();
    EXPECT_FALSE(link->Command(&message, 1, &reply, count));
    EXPECT_EQ(GetLastErr(), err::Timeout);
    EXPECT_LT(msSince(t0), 2000) << "each empty head restarted the wait";
    link->Close();
}

TEST(HostilePeer, CrateServerTimeOutSettingIsBounded)
{
    struct Case {
        int32_t value;
        bool taken;
    };
    const Case cases[] = {{0, true},     {5000, true},         {CPortMC_Tcp::kMaxTimeoutMs, true},
                          {-5000, false}, {3600001, false},    {2147483647, false}};
    auto link = std::make_unique<CPortMC_Tcp>();
    for (const Case& c : cases) {
        SetLastErr(0);
        EXPECT_EQ(link->SetProperty("Timeout", CVariant::FromInt(c.value)), c.taken) << c.value;
        if (!c.taken) {
            EXPECT_EQ(GetLastErr(), err::BadParam) << c.value;
        }
    }
    CVariant value;
    ASSERT_TRUE(link->GetProperty(CPortMC_Tcp::kTimeout, value));
    EXPECT_EQ(value.number(), CPortMC_Tcp::kMaxTimeoutMs) << "a refused value leaves the setting as it was";

    // A silent server: the wait is the setting plus the caller's time-out.
    LoopbackServer silent([](const LoopbackServer& server, int fd) {
        uint8_t buf[256];
        while (server.WaitReadable(fd, 10000))
            if (read(fd, buf, sizeof buf) <= 0)
                return;
    });
    ASSERT_TRUE(link->SetProperty("Timeout", CVariant::FromInt(100)));
    ASSERT_TRUE(link->SetProperty("Host", CVariant::FromString("127.0.0.1")));
    ASSERT_TRUE(link->SetProperty("Port", CVariant::FromUInt16(silent.port())));
    ASSERT_TRUE(link->SetProperty("OpenAsync", CVariant::FromBool(false)));
    ASSERT_TRUE(link->Open()) << GetLastErr();
    const uint8_t status = 0xEA;
    uint8_t reply[256];
    int count = sizeof reply;
    const auto t0 = Clock::now();
    EXPECT_FALSE(link->Command(&status, 1, reply, count, 200));
    EXPECT_EQ(GetLastErr(), err::Timeout);
    EXPECT_GE(msSince(t0), 290);
    EXPECT_LT(msSince(t0), 2000);
    link->Close();
}
