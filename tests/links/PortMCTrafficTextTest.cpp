#include "links/TrafficText.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <map>

namespace {

// Decode tables of two structures; the text shows which bytes it was given.
class TableDecoder : public CTrafficDecoder {
public:
    bool Knows(int32_t code, int& size) const override
    {
        auto it = m_sizes.find(code);
        if (it == m_sizes.end())
            return false;
        size = it->second;
        return true;
    }
    std::string Decode(int32_t code, const uint8_t* bytes, size_t length) const override
    {
        std::string s = "fields of " + std::to_string(code) + ":";
        for (size_t i = 0; i < static_cast<size_t>(m_sizes.at(code)) && i < length; ++i)
            s += " " + std::to_string(bytes[i]);
        return s;
    }

private:
    std::map<int32_t, int> m_sizes{{0xFC, 1}, {0xBE0A, 2}, {0x0F04, 1}};
};

_MCDATA record(int direction, std::initializer_list<uint8_t> bytes, int32_t status = 0)
{
    std::vector<uint8_t> b(bytes);
    return TrafficRecord(direction, b.data(), static_cast<int>(b.size()), status);
}

}  // namespace

TEST(PortMCTrafficText, LinesForEachKindOfRecord)
{
    TableDecoder tables;
    _MCDATA tagged = record(0, {0xEC, 0x01, 0xEA});
    tagged.tag = 7;
    _MCDATA text = record(1, {'h', 'i', 0, 'x'});
    text.text = 1;
    struct Case {
        const char* what;
        _MCDATA r;
        bool decode;
        std::string expect;
    } cases[] = {
        {"sent", record(0, {0xEC, 0x00, 0xEA}), true, "TX->EC 00 EA \r\n"},
        {"sent with tag", tagged, true, "TX [7]->EC 01 EA \r\n"},
        {"text record", text, true, "RX->hi"},
        {"decoded", record(1, {0xEC, 0x05, 0xFC, 0xED}), true,
         "RX->Data decoded code=0xFC\r\nfields of 252: 237\r\n"},
        {"decoded, error status", record(1, {0xEC, 0x05, 0xFC, 0x01}, -1), true,
         "RX ERROR->Data decoded code=0xFC\r\nfields of 252: 1\r\n"},
        {"size warning", record(1, {0xFC, 0x01, 0x02}), true,
         "RX->Data decoded code=0xFC\r\nfields of 252: 1\r\nWARNING invalid size: codesize=1 rxsize=2\r\n"},
        {"short reply zero-padded", record(1, {0xEC, 0x05, 0xBE, 0x0A, 0x07}), true,
         "RX->Data decoded code=0xBE0A\r\nfields of 48650: 7 0\r\nWARNING invalid size: codesize=2 rxsize=1\r\n"},
        {"two-byte code keeps four digits", record(1, {0xEC, 0x05, 0x0F, 0x04, 0x01}), true,
         "RX->Data decoded code=0x0F04\r\nfields of 3844: 1\r\n"},
        {"two-byte header only is raw", record(1, {0xEC, 0xFC}), true, "RX->EC FC \r\n"},
        {"unknown code raw", record(1, {0xEC, 0x05, 0x44, 0x01}), true, "RX->EC 05 44 01 \r\n"},
        {"decoding off", record(1, {0xEC, 0x05, 0xFC, 0xED}), false, "RX->EC 05 FC ED \r\n"},
        {"text reply", record(1, {0xEC, 0x05, 0x02, 'B', 'a', 'd', 0, 0x99}), true, "Bad"},
        {"text reply with error status is raw", record(1, {0x02, 'B'}, -4), true, "RX ERROR->02 42 \r\n"},
        {"empty received", record(1, {}, -1), true, "RX ERROR->\r\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TrafficText(c.r, &tables, {c.decode, false, 0}), c.expect) << c.what;
    EXPECT_EQ(TrafficText(record(1, {0xEC, 0x05, 0xFC, 0xED}), nullptr, {}), "RX->EC 05 FC ED \r\n");
}

TEST(PortMCTrafficText, TimeOnlyOnSentRecords)
{
    const std::time_t when = 1700000000;
    std::tm local{};
    localtime_r(&when, &local);
    char stamp[16];
    std::strftime(stamp, sizeof stamp, "%H:%M:%S ", &local);
    EXPECT_EQ(TrafficText(record(0, {0x01}), nullptr, {true, true, when}), std::string(stamp) + "TX->01 \r\n");
    EXPECT_EQ(TrafficText(record(1, {0x01}), nullptr, {true, true, when}), "RX->01 \r\n");
}

TEST(PortMCTrafficText, RecordKeepsAtMost255Bytes)
{
    std::vector<uint8_t> big(300, 0xAB);
    _MCDATA r = TrafficRecord(1, big.data(), 300, -2);
    EXPECT_EQ(r.length, 255);
    EXPECT_EQ(r.status, -2);
    EXPECT_EQ(r.direction, 1);
}
