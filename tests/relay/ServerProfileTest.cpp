// The server window's profile walk: the keys it stores for each kind of
// link, the ids it leaves out, and values that come back as they went.

#include "relay/ServerProfile.h"

#include <gtest/gtest.h>
#include <map>
#include <memory>

namespace {

std::vector<std::string> Keys(const std::vector<ProfileValue>& values)
{
    std::vector<std::string> keys;
    for (const auto& v : values)
        keys.push_back(v.key);
    return keys;
}

const std::vector<std::string> kServerKeys = {"ServerPort",    "ServerReplyTo", "BindAddress",   "AllowClients",
                                              "MaxClients",    "FrameDeadline", "MaxCmdTimeOut", "WriteDeadline"};

TEST(ServerProfile, KeysFollowTheLinkAndLeaveOutWhatEachClientBrings)
{
    struct Case {
        int ioType;
        std::vector<std::string> linkKeys;
    } cases[] = {
        {CPortMC_All::kPrimary, {"IOType", "ComName", "Baud", "ByteSize", "Parity", "Stop", "RxBuff", "TxBuff"}},
        {CPortMC_All::kSecondary, {"IOType", "ComName", "Baud", "ByteSize", "Parity", "Stop", "RxBuff", "TxBuff"}},
        {CPortMC_All::kTcp,
         {"IOType", "CCB ID Mode", "MC List", "Port Type", "Wheel", "Sector", "MC Type", "Dest. MC", "Timeout", "Host",
          "Port", "EnProxy", "Proxy", "ProxyPort", "ProxyType"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ioType);
        auto link = std::make_unique<CPortMC_All>();
        CRelaySettings settings;
        ASSERT_TRUE(link->SetPropertyById(CPortMC_All::kIOType, CVariant::FromInt(c.ioType)));
        std::vector<std::string> expected = c.linkKeys;
        expected.insert(expected.end(), kServerKeys.begin(), kServerKeys.end());
        EXPECT_EQ(Keys(SaveServerProfile(*link, settings)), expected);
    }
    for (int32_t id : {101, 104, 109, 401, 402, 501, 604, 608, 609})
        EXPECT_TRUE(IsLeftOutOfServerProfile(id)) << id;
    for (int32_t id : {102, 103, 611, 701, 901})
        EXPECT_FALSE(IsLeftOutOfServerProfile(id)) << id;
}

TEST(ServerProfile, StoredValuesComeBackAndMissingKeysKeepTheirSetting)
{
    auto source = std::make_unique<CPortMC_All>();
    CRelaySettings sourceSettings;
    ASSERT_TRUE(source->SetPropertyById(CPortMC_All::kIOType, CVariant::FromInt(CPortMC_All::kTcp)));
    ASSERT_TRUE(source->SetProperty("Host", CVariant::FromString("10.1.2.3")));
    ASSERT_TRUE(source->SetProperty("Port", CVariant::FromUInt16(4321)));
    ASSERT_TRUE(source->SetProperty("EnProxy", CVariant::FromBool(true)));
    ASSERT_TRUE(source->SetProperty("Timeout", CVariant::FromInt(750)));
    ASSERT_TRUE(sourceSettings.SetProperty("ServerPort", CVariant::FromInt(18999)));
    ASSERT_TRUE(sourceSettings.SetProperty("AllowClients", CVariant::FromString("10.0.0.0/8")));
    const auto saved = SaveServerProfile(*source, sourceSettings);
    for (const auto& v : saved) {
        if (v.key == "Host") {
            EXPECT_TRUE(v.isText && v.text == "10.1.2.3");
        } else if (v.key == "EnProxy") {
            EXPECT_TRUE(!v.isText && v.number == 1) << "booleans are stored as integers";
        } else if (v.key == "IOType") {
            EXPECT_TRUE(!v.isText && v.number == 3);
        }
    }

    std::map<std::string, ProfileValue> store;
    for (const auto& v : saved)
        if (v.key != "MaxClients")
            store[v.key] = v;
    auto target = std::make_unique<CPortMC_All>();
    CRelaySettings targetSettings;
    ASSERT_TRUE(targetSettings.SetProperty("MaxClients", CVariant::FromInt(5)));
    LoadServerProfile(*target, targetSettings, [&](const std::string& key, bool isText) -> const ProfileValue* {
        auto it = store.find(key);
        if (it == store.end())
            return nullptr;
        EXPECT_EQ(it->second.isText, isText) << key;
        return &it->second;
    });
    EXPECT_EQ(target->GetIOType(), CPortMC_All::kTcp) << "IOType first, then the TCP link's settings";
    const auto reloaded = SaveServerProfile(*target, targetSettings);
    ASSERT_EQ(Keys(reloaded), Keys(saved));
    for (size_t i = 0; i < saved.size(); ++i) {
        SCOPED_TRACE(saved[i].key);
        if (saved[i].key == "MaxClients") {
            EXPECT_EQ(reloaded[i].number, 5) << "not in the store: kept";
            continue;
        }
        EXPECT_EQ(reloaded[i].isText, saved[i].isText);
        EXPECT_EQ(reloaded[i].number, saved[i].number);
        EXPECT_EQ(reloaded[i].text, saved[i].text);
    }
}

}  // namespace
