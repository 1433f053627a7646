#include "sim/SimWire.h"

#include <gtest/gtest.h>
#include <string>

using Bytes = std::vector<uint8_t>;
using namespace simwire;

TEST(SimWire, CrcMatchesTheXmodemCheckValue)
{
    const std::string check = "123456789";
    EXPECT_EQ(Crc16({reinterpret_cast<const uint8_t*>(check.data()), check.size()}), 0x31C3);
}

TEST(SimWire, FramesCarryLengthAndCrc)
{
    EXPECT_EQ(SerialFrame(Bytes{0xEC, 0x00, 0x01}), (Bytes{0x55, 0x05, 0xEC, 0x00, 0x01, 0x4F, 0x51}));
    EXPECT_EQ(AddressFrame(0x4EE5), (Bytes{0x55, 0x4E, 0xE5, 0x36, 0x76}));
    EXPECT_EQ(TcpFrame(0x0102, -1, Bytes{0x02}),
              (Bytes{0x55, 0x55, 0x01, 0x02, 0, 0, 0, 13, 0xFF, 0xFF, 0xFF, 0xFF, 0x02}));
    TcpHead h;
    Bytes head{0x55, 0x55, 0x12, 0x34, 0, 0, 0, 20, 0, 0, 0x07, 0xD0};
    ASSERT_TRUE(ParseTcpHead(head.data(), h));
    EXPECT_EQ(h.ccbid, 0x1234);
    EXPECT_EQ(h.length, 20u);
    EXPECT_EQ(h.field, 2000);
    head[1] = 0x54;
    EXPECT_FALSE(ParseTcpHead(head.data(), h));
}

TEST(SimWire, DecoderSkipsNoiseAndDropsBadFrames)
{
    CSerialDecoder d(false);
    Bytes stream{0x00, 0xAA, 0x13};
    Bytes good = SerialFrame(Bytes{0xEC, 0x07, 0xEA});
    Bytes bad = good;
    bad.back() ^= 1;
    stream.insert(stream.end(), bad.begin(), bad.end());
    stream.insert(stream.end(), good.begin(), good.end());
    d.Feed(stream.data(), stream.size());
    auto item = d.Next();
    ASSERT_TRUE(item);
    EXPECT_EQ(item->kind, CSerialDecoder::Item::Data);
    EXPECT_EQ(item->payload, (Bytes{0xEC, 0x07, 0xEA}));
    EXPECT_FALSE(d.Next());
}

TEST(SimWire, DecoderTellsAddressFramesByFormAndCrc)
{
    CSerialDecoder d(true);
    Bytes stream = AddressFrame(20101);
    Bytes data = SerialFrame(Bytes{0xEC, 0x01, 0xEA});
    stream.insert(stream.end(), data.begin(), data.end());
    d.Feed(stream.data(), stream.size());
    EXPECT_FALSE(d.Next()) << "0x4E85 could still start a longer data frame";
    auto a = d.Next(true);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->kind, CSerialDecoder::Item::Address);
    EXPECT_EQ(a->address, 20101);
    auto f = d.Next();
    ASSERT_TRUE(f);
    EXPECT_EQ(f->kind, CSerialDecoder::Item::Data);
    EXPECT_EQ(f->payload, (Bytes{0xEC, 0x01, 0xEA}));
}

TEST(SimWire, DecoderWaitsForTheRestOfACutFrameUntilIdle)
{
    CSerialDecoder d(false);
    Bytes frame = SerialFrame(Bytes{0xEC, 0x01, 0xEA});
    d.Feed(frame.data(), 4);
    EXPECT_FALSE(d.Next());
    EXPECT_TRUE(d.HasPending());
    EXPECT_FALSE(d.Next(true));
    EXPECT_FALSE(d.HasPending()) << "a cut frame is dropped once the line is idle";
}
