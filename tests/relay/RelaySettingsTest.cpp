// The server's settings: their table, defaults, checks, and what the
// listener gets from them.

#include "base/Error.h"
#include "relay/RelaySettings.h"

#include <gtest/gtest.h>
#include <strings.h>

namespace {

TEST(RelaySettings, TableListsEverySettingWithItsDefault)
{
    CRelaySettings s;
    struct Row {
        const char* name;
        int32_t id;
        CVariant value;
    } expected[] = {
        {"ServerPort", 901, CVariant::FromInt(18888)},   {"ServerReplyTo", 902, CVariant::FromInt(5000)},
        {"BindAddress", 903, CVariant::FromString("")},  {"AllowClients", 904, CVariant::FromString("")},
        {"MaxClients", 905, CVariant::FromInt(16)},      {"FrameDeadline", 906, CVariant::FromInt(500)},
        {"MaxCmdTimeOut", 907, CVariant::FromInt(60000)}, {"WriteDeadline", 908, CVariant::FromInt(5000)},
    };
    size_t i = 0;
    for (const _PROPDEF& e : s.Properties()) {
        ASSERT_LT(i, std::size(expected));
        EXPECT_STREQ(e.name, expected[i].name);
        EXPECT_EQ(e.id, expected[i].id);
        CVariant v;
        ASSERT_TRUE(s.GetProperty(e.id, v));
        EXPECT_EQ(v, expected[i].value) << e.name;
        ++i;
    }
    EXPECT_EQ(i, std::size(expected));
}

TEST(RelaySettings, ValuesAreCheckedAndRefusedOnesLeaveTheOldValue)
{
    struct Case {
        const char* name;
        const char* text;
        bool ok;
    } cases[] = {
        {"ServerPort", "0", true},          {"ServerPort", "65535", true},     {"ServerPort", "65536", false},
        {"serverport", "-1", false},        {"ServerPort", "port", false},     {"BindAddress", "10.0.0.7", true},
        {"BindAddress", "", true},          {"BindAddress", "10.0.0", false},  {"BindAddress", "localhost", false},
        {"AllowClients", "10.0.0.0/8, 192.168.1.7", true}, {"AllowClients", "10.0.0.1/8", false},
        {"MaxClients", "0", true},          {"MaxClients", "-3", false},       {"FrameDeadline", "0", false},
        {"FrameDeadline", "60000", true},   {"MaxCmdTimeOut", "3600001", false}, {"WriteDeadline", "1", true},
        {"ServerReplyTo", "-7", true},      {"NoSuchSetting", "1", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + "=" + c.text);
        CRelaySettings s;
        int32_t id = 0;
        for (const _PROPDEF& e : s.Properties())
            if (strcasecmp(e.name, c.name) == 0)
                id = e.id;
        CVariant before;
        s.GetProperty(id, before);
        EXPECT_EQ(s.SetProperty(c.name, CVariant::FromString(c.text)), c.ok);
        CVariant after;
        s.GetProperty(id, after);
        if (!c.ok) {
            EXPECT_EQ(GetLastErr(), id ? err::BadParam : err::NotFound);
            EXPECT_EQ(after, before);
        } else {
            std::string text;
            after.ToText(text);
            EXPECT_EQ(text, c.text);
        }
    }
}

TEST(RelaySettings, ListenerGetsTheAccessRulesAndTheLinksFrameLimit)
{
    CRelaySettings s;
    ListenSettings l = s.ToListenSettings();
    EXPECT_EQ(l.port, 18888);
    EXPECT_EQ(l.bindAddress, "");
    EXPECT_TRUE(l.allowed.empty());
    EXPECT_EQ(l.maxClients, 16);
    EXPECT_EQ(l.readDeadlineMs, 500);
    EXPECT_EQ(l.writeDeadlineMs, 5000);
    EXPECT_EQ(l.maxBodyLength, 240u);
    EXPECT_NE(CListenServer::OpenAccessWarning(l, 18888).find("\"BindAddress\" or \"AllowClients\""),
              std::string::npos);

    ASSERT_TRUE(s.SetProperty("AllowClients", CVariant::FromString("10.1.0.0/16 127.0.0.1")));
    ASSERT_TRUE(s.SetProperty("FrameDeadline", CVariant::FromInt(250)));
    ASSERT_TRUE(s.SetProperty("WriteDeadline", CVariant::FromInt(900)));
    ASSERT_TRUE(s.SetProperty("MaxClients", CVariant::FromInt(3)));
    l = s.ToListenSettings();
    EXPECT_EQ(NetworkListText(l.allowed), "10.1.0.0/16,127.0.0.1/32");
    EXPECT_EQ(l.readDeadlineMs, 250);
    EXPECT_EQ(l.writeDeadlineMs, 900);
    EXPECT_EQ(l.maxClients, 3);
    EXPECT_EQ(CListenServer::OpenAccessWarning(l, 18888), "");
}

}  // namespace
