// Setting values, property tables and the settings operations of both
// port classes (no device needed).

#include "base/Error.h"
#include "ports/PortIO_Com.h"
#include "ports/PortIO_Socket.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

struct Row {
    const char* name;
    int32_t id;
    uint16_t type;
    std::vector<std::pair<std::string, int32_t>> options;
};

std::vector<Row> Walk(CPortIO& port)
{
    std::vector<Row> rows;
    _PROPDEF entry{};
    for (bool more = port.GetNextProperty(entry, true); more; more = port.GetNextProperty(entry, false)) {
        Row r{entry.name, entry.id, static_cast<uint16_t>(entry.type), {}};
        for (const _PROPOPT* o = entry.options; o && o->name; ++o)
            r.options.emplace_back(o->name, o->value);
        rows.push_back(r);
    }
    return rows;
}

void ExpectTable(const std::vector<Row>& got, const std::vector<Row>& want)
{
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE(want[i].name);
        EXPECT_STREQ(got[i].name, want[i].name);
        EXPECT_EQ(got[i].id, want[i].id);
        EXPECT_EQ(got[i].type, want[i].type);
        EXPECT_EQ(got[i].options, want[i].options);
    }
}

TEST(PortProperties, SerialTableInOrderWithTypeCodesAndOptions)
{
    CPortIO_Com port;
    ExpectTable(Walk(port), {
                                {"ComName", 1, 8, {}},
                                {"Baud", 2, 22, {}},
                                {"ByteSize", 3, 22, {}},
                                {"Parity", 4, 8, {{"None", 0}, {"Odd", 1}, {"Even", 2}, {"Mark", 3}, {"Space", 4}}},
                                {"Stop", 5, 8, {{"1", 0}, {"1.5", 1}, {"2", 2}}},
                                {"RxBuff", 6, 22, {}},
                                {"TxBuff", 7, 22, {}},
                            });
    // The end marker: no name, type 1.
    EXPECT_EQ(CPortIO_Com::kProperties[7].name, nullptr);
    EXPECT_EQ(static_cast<int>(CPortIO_Com::kProperties[7].type), 1);
}

TEST(PortProperties, SocketTableInOrderWithTypeCodesAndOptions)
{
    CPortIO_Socket port;
    ExpectTable(Walk(port), {
                                {"SocketType", 101, 22, {{"TCP", 0}, {"UDP", 1}, {"Server", 2}}},
                                {"Host", 102, 8, {}},
                                {"Port", 103, 18, {}},
                                {"PortUDP", 104, 18, {}},
                                {"EnProxy", 108, 11, {}},
                                {"Proxy", 105, 8, {}},
                                {"ProxyPort", 106, 18, {}},
                                {"ProxyType", 107, 3, {{"SOCKS4", 0}, {"SOCKS5", 1}, {"HTTP", 2}}},
                                {"OpenAsync", 109, 11, {}},
                            });
}

TEST(PortProperties, CursorBelongsToTheClassNotTheObject)
{
    CPortIO_Com a, b;
    CPortIO_Socket s;
    _PROPDEF e{};
    ASSERT_TRUE(a.GetNextProperty(e, true));
    EXPECT_EQ(e.id, 1);
    ASSERT_TRUE(b.GetNextProperty(e, false));
    EXPECT_EQ(e.id, 2) << "a second object continues the class's walk";
    ASSERT_TRUE(s.GetNextProperty(e, true));
    EXPECT_EQ(e.id, 101);
    ASSERT_TRUE(a.GetNextProperty(e, false));
    EXPECT_EQ(e.id, 3) << "the socket class's walk does not move the serial cursor";
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(a.GetNextProperty(e, false));
    EXPECT_EQ(e.id, 7);
    EXPECT_FALSE(a.GetNextProperty(e, false));
    EXPECT_FALSE(a.GetNextProperty(e, false)) << "stays at the end";
}

TEST(PortProperties, VariantConversions)
{
    struct Case {
        CVariant value;
        bool converts;
        int64_t number;
    } cases[] = {
        {CVariant::FromString("38400"), true, 38400},
        {CVariant::FromString("  -12 "), true, -12},
        {CVariant::FromString("0x1F"), true, 31},
        {CVariant::FromString("true"), true, 1},
        {CVariant::FromString("FALSE"), true, 0},
        {CVariant::FromString("12ab"), false, 0},
        {CVariant::FromString(""), false, 0},
        {CVariant::FromString("99999999999"), false, 0},
        {CVariant::FromBool(true), true, 1},
        {CVariant::FromUInt16(65535), true, 65535},
        {CVariant::FromInt32(-7), true, -7},
        {CVariant(), false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value.text() + " type " + std::to_string(static_cast<int>(c.value.type())));
        int64_t n = 0;
        EXPECT_EQ(c.value.ToNumber(n), c.converts);
        if (c.converts) {
            EXPECT_EQ(n, c.number);
        }
    }
    std::string text;
    ASSERT_TRUE(CVariant::FromBool(false).ToText(text));
    EXPECT_EQ(text, "False");
    ASSERT_TRUE(CVariant::FromInt(-5).ToText(text));
    EXPECT_EQ(text, "-5");
}

TEST(PortProperties, SerialParityAndStopFromStringsAndNumbers)
{
    struct Case {
        int32_t id;
        CVariant value;
        bool accepted;
        int32_t stored;
    } cases[] = {
        {CPortIO_Com::kParity, CVariant::FromString("even"), true, 2},
        {CPortIO_Com::kParity, CVariant::FromString("EVEN"), true, 2},
        {CPortIO_Com::kParity, CVariant::FromString("E"), true, 2},
        {CPortIO_Com::kParity, CVariant::FromString("odd"), true, 1},
        {CPortIO_Com::kParity, CVariant::FromString("mark"), true, 3},
        {CPortIO_Com::kParity, CVariant::FromString("Space"), true, 4},
        {CPortIO_Com::kParity, CVariant::FromString("none"), true, 0},
        {CPortIO_Com::kParity, CVariant::FromString("xeven"), false, 0},
        {CPortIO_Com::kParity, CVariant::FromString(""), false, 0},
        {CPortIO_Com::kParity, CVariant::FromInt(3), true, 3},
        {CPortIO_Com::kStop, CVariant::FromString("1"), true, 0},
        {CPortIO_Com::kStop, CVariant::FromString("1.5"), true, 1},
        {CPortIO_Com::kStop, CVariant::FromString("2"), true, 2},
        {CPortIO_Com::kStop, CVariant::FromString("3"), false, 0},
        {CPortIO_Com::kStop, CVariant::FromString("one"), false, 0},
        {CPortIO_Com::kStop, CVariant::FromInt(2), true, 2},
        {CPortIO_Com::kBaud, CVariant::FromString("115200"), true, 115200},
        {CPortIO_Com::kBaud, CVariant::FromString("fast"), false, 0},
        {CPortIO_Com::kByteSize, CVariant::FromInt32(7), true, 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.id) + " <- " + c.value.text());
        CPortIO_Com port;
        EXPECT_EQ(port.SetPropertyById(c.id, c.value), c.accepted);
        if (!c.accepted) {
            EXPECT_EQ(GetLastErr(), err::BadParam);
            continue;
        }
        CVariant back = CVariant::FromInt(0);
        ASSERT_TRUE(port.GetProperty(c.id, back));
        EXPECT_EQ(back, CVariant::FromInt(c.stored));
    }
}

TEST(PortProperties, SerialDefaultsAndChoiceNamesReadBack)
{
    CPortIO_Com port;
    struct Case {
        int32_t id;
        CVariant asked;
        CVariant expected;
    } cases[] = {
        {1, CVariant(), CVariant::FromString("")},
        {2, CVariant(), CVariant::FromInt(9600)},
        {3, CVariant(), CVariant::FromInt(8)},
        {4, CVariant(), CVariant::FromInt(0)},
        {4, CVariant::FromString(""), CVariant::FromString("None")},
        {5, CVariant::FromString(""), CVariant::FromString("1")},
        {6, CVariant(), CVariant::FromInt(4096)},
        {7, CVariant(), CVariant::FromInt(4096)},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.id);
        ASSERT_TRUE(port.GetProperty(c.id, c.asked));
        EXPECT_EQ(c.asked, c.expected);
    }
    ASSERT_TRUE(port.SetPropertyById(4, CVariant::FromString("Mark")));
    ASSERT_TRUE(port.SetPropertyById(5, CVariant::FromInt(1)));
    CVariant parity = CVariant::FromString(""), stop = CVariant::FromString("");
    ASSERT_TRUE(port.GetProperty(4, parity));
    ASSERT_TRUE(port.GetProperty(5, stop));
    EXPECT_EQ(parity.text(), "Mark");
    EXPECT_EQ(stop.text(), "1.5");
    CVariant unknown;
    EXPECT_FALSE(port.GetProperty(99, unknown));
}

TEST(PortProperties, ComNameReadsBackAsGivenAndMapsToDevicePath)
{
    CPortIO_Com port;
    ASSERT_TRUE(port.SetProperty("ComName", CVariant::FromString("ttyUSB3")));
    CVariant v;
    ASSERT_TRUE(port.GetProperty(1, v));
    EXPECT_EQ(v.text(), "ttyUSB3");
    EXPECT_EQ(CPortIO_Com::DevicePath("ttyUSB3"), "/dev/ttyUSB3");
    EXPECT_EQ(CPortIO_Com::DevicePath("/dev/pts/7"), "/dev/pts/7");
}

TEST(PortProperties, SetByNameNeedsTheExactTypeAnyCase)
{
    CPortIO_Com com;
    EXPECT_TRUE(com.SetProperty("baud", CVariant::FromInt(19200)));
    EXPECT_FALSE(com.SetProperty("Baud", CVariant::FromInt32(19200))) << "type 3 is not the table's 22";
    EXPECT_EQ(GetLastErr(), err::BadParam);
    EXPECT_FALSE(com.SetProperty("Baud", CVariant::FromString("19200")));
    EXPECT_TRUE(com.SetProperty("PARITY", CVariant::FromString("Odd")));
    EXPECT_FALSE(com.SetProperty("Parity", CVariant::FromInt(1)));
    EXPECT_FALSE(com.SetProperty("NoSuchSetting", CVariant::FromInt(1)));
    CVariant v;
    ASSERT_TRUE(com.GetProperty(2, v));
    EXPECT_EQ(v.number(), 19200);

    CPortIO_Socket sock;
    EXPECT_TRUE(sock.SetProperty("Port", CVariant::FromUInt16(4000)));
    EXPECT_FALSE(sock.SetProperty("Port", CVariant::FromInt(4000)));
    EXPECT_TRUE(sock.SetProperty("ProxyType", CVariant::FromInt32(1)));
    EXPECT_FALSE(sock.SetProperty("ProxyType", CVariant::FromInt(1)));
    EXPECT_TRUE(sock.SetProperty("enproxy", CVariant::FromBool(true)));
}

TEST(PortProperties, SocketSettingsConvertAndCheckRanges)
{
    struct Case {
        int32_t id;
        CVariant value;
        bool accepted;
        CVariant readBack;
    } cases[] = {
        {101, CVariant::FromString("udp"), true, CVariant::FromInt(1)},
        {101, CVariant::FromInt(2), true, CVariant::FromInt(2)},
        {101, CVariant::FromInt(3), false, CVariant()},
        {102, CVariant::FromString("crate7.lab"), true, CVariant::FromString("crate7.lab")},
        {103, CVariant::FromString("18888"), true, CVariant::FromUInt16(18888)},
        {103, CVariant::FromInt(65536), false, CVariant()},
        {103, CVariant::FromInt(-1), false, CVariant()},
        {104, CVariant::FromInt(4001), true, CVariant::FromUInt16(4001)},
        {108, CVariant::FromInt(1), true, CVariant::FromBool(true)},
        {105, CVariant::FromString("proxy.lab"), true, CVariant::FromString("proxy.lab")},
        {106, CVariant::FromInt(1080), true, CVariant::FromUInt16(1080)},
        {107, CVariant::FromString("SOCKS5"), true, CVariant::FromInt32(1)},
        {107, CVariant::FromInt(7), false, CVariant()},
        {109, CVariant::FromString("True"), true, CVariant::FromBool(true)},
        {110, CVariant::FromInt(0), false, CVariant()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        CPortIO_Socket port;
        EXPECT_EQ(port.SetPropertyById(c.id, c.value), c.accepted);
        if (!c.accepted) {
            EXPECT_EQ(GetLastErr(), err::BadParam);
            continue;
        }
        CVariant back;
        ASSERT_TRUE(port.GetProperty(c.id, back));
        EXPECT_EQ(back, c.readBack);
    }
    CPortIO_Socket port;
    CVariant asName = CVariant::FromString("");
    ASSERT_TRUE(port.GetProperty(101, asName));
    EXPECT_EQ(asName.text(), "TCP");
}

}  // namespace
