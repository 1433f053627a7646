// The editable and shown rules of the connection window's link parameters
// and the "Sector" choices by "Port Type".

#include "console/ConnectionPane.h"
#include "links/PortMC_All.h"

#include <gtest/gtest.h>
#include <map>

namespace {

struct Case {
    const char* what;
    int32_t id;
    bool linkFree;
    std::map<int32_t, int32_t> values;
    _PARAMSTATE expect;
};

constexpr int32_t kMode = CPortMC_Tcp::kCcbIdMode;
constexpr int32_t kPortType = CPortMC_Tcp::kPortType;
constexpr int32_t kBridge = CPortMC_Tcp::kBridge;

}  // namespace

TEST(ConnectionPane, EditableAndShownLinkParameters)
{
    const Case cases[] = {
        {"Parity never editable", CPortIO_Com::kParity, true, {}, {false, true}},
        {"primary Bridge while connected", CPortMC_Pri::kBridge, false, {}, {true, true}},
        {"secondary CCB ID while connected", CPortMC_Sec::kCcbId, false, {}, {true, true}},
        {"Dest. ID without bridge", CPortMC_Pri::kDestId, true, {{CPortMC_Pri::kBridge, 0}}, {false, true}},
        {"Dest. ID with bridge, connected", CPortMC_Pri::kDestId, false, {{CPortMC_Pri::kBridge, 2}}, {true, true}},
        {"Host while free", CPortIO_Socket::kHost, true, {{kMode, 0}}, {true, true}},
        {"Port while connected", CPortIO_Socket::kPort, false, {{kMode, 0}}, {false, true}},
        {"Host hidden with McList", CPortIO_Socket::kHost, true, {{kMode, 1}}, {true, false}},
        {"Proxy without EnProxy", CPortIO_Socket::kProxy, true, {{CPortIO_Socket::kEnProxy, 0}}, {false, true}},
        {"ProxyType with EnProxy", CPortIO_Socket::kProxyType, true, {{CPortIO_Socket::kEnProxy, 1}}, {true, true}},
        {"ProxyPort with EnProxy, connected", CPortIO_Socket::kProxyPort, false, {{CPortIO_Socket::kEnProxy, 1}},
         {false, true}},
        {"MC List hidden when manual", CPortMC_Tcp::kMcList, true, {{kMode, 0}}, {true, false}},
        {"Wheel shown with McList, connected", CPortMC_Tcp::kWheel, false, {{kMode, 1}}, {false, true}},
        {"Port Type with McList", kPortType, true, {{kMode, 1}}, {true, true}},
        {"TCP CCB ID hidden with McList", CPortMC_Tcp::kCcbId, false, {{kMode, 1}}, {true, false}},
        {"Sector hidden when manual", CPortMC_Tcp::kSector, true, {{kMode, 0}}, {true, false}},
        {"MC Type shown with McList", CPortMC_Tcp::kMcType, false, {{kMode, 1}}, {true, true}},
        {"TCP Bridge when manual", kBridge, false, {{kMode, 0}, {kPortType, 2}}, {true, true}},
        {"TCP Bridge with McList on the primary port", kBridge, true, {{kMode, 1}, {kPortType, 1}}, {true, true}},
        {"TCP Bridge with McList on a secondary port", kBridge, true, {{kMode, 1}, {kPortType, 3}}, {false, false}},
        {"TCP Dest. ID with bridge, manual", CPortMC_Tcp::kDestId, true, {{kMode, 0}, {kBridge, 1}}, {true, true}},
        {"TCP Dest. ID hidden with McList", CPortMC_Tcp::kDestId, true, {{kMode, 1}, {kBridge, 1}}, {true, false}},
        {"Dest. MC with McList, primary", CPortMC_Tcp::kDestMc, true, {{kMode, 1}, {kPortType, 1}, {kBridge, 1}},
         {true, true}},
        {"Dest. MC hidden on a secondary port", CPortMC_Tcp::kDestMc, true, {{kMode, 1}, {kPortType, 2}},
         {false, false}},
        {"Dest. MC hidden when manual", CPortMC_Tcp::kDestMc, true, {{kMode, 0}, {kPortType, 1}}, {false, false}},
        {"any other while free", CPortMC_Tcp::kTimeout, true, {}, {true, true}},
        {"any other while connected", CPortIO_Com::kBaud, false, {}, {false, true}},
    };
    for (const auto& c : cases) {
        auto valueOf = [&](int32_t id) {
            auto it = c.values.find(id);
            return it == c.values.end() ? 0 : it->second;
        };
        const _PARAMSTATE got = LinkParameterState(c.id, c.linkFree, valueOf, {true, true});
        EXPECT_EQ(got.editable, c.expect.editable) << c.what;
        EXPECT_EQ(got.shown, c.expect.shown) << c.what;
    }
    // Where the rules say "unchanged", the state stays as it was.
    auto none = [](int32_t) { return 0; };
    const _PARAMSTATE hidden = LinkParameterState(CPortMC_Tcp::kTimeout, true, none, {false, false});
    EXPECT_TRUE(hidden.editable);
    EXPECT_FALSE(hidden.shown);
    EXPECT_FALSE(LinkParameterState(CPortMC_Tcp::kSector, true, none, {false, true}).editable);
}

TEST(ConnectionPane, SectorChoicesByPortType)
{
    using Options = std::vector<std::pair<std::string, int32_t>>;
    const Options primary{{"S1", 1}, {"S2", 2}, {"S3", 3},   {"S4", 4},   {"S5", 5},   {"S6", 6},
                          {"S7", 7}, {"S8", 8}, {"S9", 9}, {"S10", 10}, {"S11", 11}, {"S12", 12}};
    const Options low{{"S1", 1},          {"S2", 2},          {"S3", 3},          {"S4", 4},
                      {"S5", 5},          {"S6", 6},          {"S7  bridge", 7},  {"S8  bridge", 8},
                      {"S9  bridge", 9},  {"S10 bridge", 10}, {"S11 bridge", 11}, {"S12 bridge", 12}};
    const Options high{{"S1 bridge", 1}, {"S2 bridge", 2}, {"S3 bridge", 3}, {"S4 bridge", 4},
                       {"S5 bridge", 5}, {"S6 bridge", 6}, {"S7", 7},        {"S8", 8},
                       {"S9", 9},        {"S10", 10},      {"S11", 11},      {"S12", 12}};
    EXPECT_EQ(SectorOptions(1), primary);
    EXPECT_EQ(SectorOptions(2), low);
    EXPECT_EQ(SectorOptions(3), high);
    EXPECT_TRUE(SectorOptions(0).empty());
}
