#include "base/Error.h"
#include "links/PortMCFrame.h"

#include <gtest/gtest.h>
#include <string>

using Bytes = std::vector<uint8_t>;

TEST(PortMCFrame, CrcIsXmodem)
{
    const std::string check = "123456789";
    EXPECT_EQ(mcframe::Crc16(reinterpret_cast<const uint8_t*>(check.data()), check.size()), 0x31C3);
    const Bytes frame{0x55, 0x05, 0xEC, 0x00, 0x01, 0x4F, 0x51};
    EXPECT_TRUE(mcframe::SerialCrcOk(frame.data(), frame.size()));
    Bytes bad = frame;
    bad[3] = 0x01;
    EXPECT_FALSE(mcframe::SerialCrcOk(bad.data(), bad.size()));
}

TEST(PortMCFrame, SerialFrameBytesAndLimit)
{
    Bytes f;
    const Bytes p{0xEC, 0x00, 0x01};
    ASSERT_TRUE(mcframe::BuildSerialFrame(p.data(), 3, f));
    EXPECT_EQ(f, (Bytes{0x55, 0x05, 0xEC, 0x00, 0x01, 0x4F, 0x51}));

    const Bytes big(241, 0xA5);
    ASSERT_TRUE(mcframe::BuildSerialFrame(big.data(), 240, f));
    EXPECT_EQ(f.size(), 244u);
    EXPECT_EQ(f[1], 242) << "N = payload + 2";
    EXPECT_TRUE(mcframe::SerialCrcOk(f.data(), f.size()));
    SetLastErr(0);
    EXPECT_FALSE(mcframe::BuildSerialFrame(big.data(), 241, f));
    EXPECT_EQ(GetLastErr(), 87u);
}

TEST(PortMCFrame, AddressFrameAndTcpHead)
{
    const auto a = mcframe::BuildAddressFrame(0x4EE5);
    EXPECT_EQ(Bytes(a.begin(), a.end()), (Bytes{0x55, 0x4E, 0xE5, 0x36, 0x76}));

    const auto h = mcframe::BuildTcpHead(0x1234, 3, 2000);
    EXPECT_EQ(Bytes(h.begin(), h.end()), (Bytes{0x55, 0x55, 0x12, 0x34, 0, 0, 0, 15, 0, 0, 0x07, 0xD0}));
    const Bytes reply{0x55, 0x55, 0x00, 0x07, 0, 0, 0, 13, 0xFF, 0xFF, 0xFF, 0xFF};
    mcframe::TcpHead parsed;
    ASSERT_TRUE(mcframe::ParseTcpHead(reply.data(), parsed));
    EXPECT_EQ(parsed.ccbid, 7);
    EXPECT_EQ(parsed.length, 13u);
    EXPECT_EQ(parsed.field, -1);
    Bytes broken = reply;
    broken[0] = 0x54;
    EXPECT_FALSE(mcframe::ParseTcpHead(broken.data(), parsed));
}

TEST(PortMCFrame, BridgeBytesGoAfterTheHeaderOrInFront)
{
    struct Case {
        Bytes payload;
        uint16_t dest;
        Bytes expect;
    } cases[] = {
        {{0xEC, 0x05, 0x10}, 0x0102, {0xEC, 0x05, 0xDE, 0x01, 0x02, 0x10}},
        {{0x10, 0x11}, 0x0102, {0xDE, 0x01, 0x02, 0x10, 0x11}},
        {{0xEC}, 0x0000, {0xDE, 0x00, 0x00, 0xEC}},
        {{0xEC, 0x09}, 0xFFFF, {0xEC, 0x09, 0xDE, 0xFF, 0xFF}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(mcframe::InsertBridge(c.payload.data(), static_cast<int>(c.payload.size()), c.dest), c.expect);
}
