#include "base/Error.h"
#include "links/PortMC_All.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {
std::vector<std::string> names(CPortMC& link)
{
    std::vector<std::string> out;
    _PROPDEF e;
    for (bool more = link.GetNextProperty(e, true); more; more = link.GetNextProperty(e, false))
        out.push_back(std::to_string(e.id) + " " + e.name);
    return out;
}

int64_t get(CPortMC& link, int id)
{
    CVariant v;
    EXPECT_TRUE(link.GetProperty(id, v)) << id;
    return v.number();
}
}  // namespace

TEST(PortMCProperty, ListsChainLinkThenPort)
{
    CPortMC_All all;
    EXPECT_EQ(names(all), std::vector<std::string>{"701 IOType"}) << "no link chosen yet";
    all.SetPropertyById(701, CVariant::FromInt(1));
    auto pri = names(all);
    ASSERT_GE(pri.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(pri.begin(), pri.begin() + 4),
              (std::vector<std::string>{"701 IOType", "401 Bridge", "402 Dest. ID", "1 ComName"}));
    all.SetPropertyById(701, CVariant::FromInt(3));
    auto tcp = names(all);
    const std::vector<std::string> expect{"701 IOType",    "601 CCB ID Mode", "602 MC List",  "603 Port Type",
                                          "604 CCB ID",    "605 Wheel",       "606 Sector",   "607 MC Type",
                                          "608 Bridge",    "609 Dest. ID",    "610 Dest. MC", "611 Timeout",
                                          "101 SocketType"};
    ASSERT_GE(tcp.size(), expect.size());
    EXPECT_EQ(std::vector<std::string>(tcp.begin(), tcp.begin() + 13), expect);
    all.SetPropertyById(701, CVariant::FromInt(2));
    auto sec = names(all);
    EXPECT_EQ(sec[1], "501 CCB ID");
}

TEST(PortMCProperty, DefaultsOfEachLink)
{
    CPortMC_All all;
    CVariant v;
    EXPECT_EQ(get(all, 701), 0);
    EXPECT_FALSE(all.Open());
    EXPECT_EQ(GetLastErr(), 6u) << "no link chosen";

    all.SetPropertyById(701, CVariant::FromInt(1));
    EXPECT_EQ(get(all, 2), 38400);
    EXPECT_EQ(get(all, 4), 0);
    EXPECT_EQ(get(all, 401), 0);
    all.SetPropertyById(701, CVariant::FromInt(2));
    EXPECT_EQ(get(all, 2), 38400);
    EXPECT_EQ(get(all, 4), 4) << "secondary bus: space parity";
    all.SetPropertyById(701, CVariant::FromInt(3));
    const std::pair<int, int64_t> tcp[] = {{601, 0}, {603, 1}, {604, 0}, {605, 0}, {606, 1}, {607, 1},
                                           {608, 0}, {609, 0}, {610, 1}, {611, 2000}, {101, 0}, {109, 1}};
    for (auto [id, value] : tcp)
        EXPECT_EQ(get(all, id), value) << id;
    all.GetProperty(602, v);
    const std::string list = v.text();
    EXPECT_EQ(list.rfind("http://", 0), 0u);
    EXPECT_EQ(list.substr(list.size() - 17), "DivadiduvList.xml");
}

TEST(PortMCProperty, McTypeAlsoSetsDestMcAndValuesAreChecked)
{
    CPortMC_Tcp tcp;
    ASSERT_TRUE(tcp.SetProperty("MC Type", CVariant::FromInt(3)));
    EXPECT_EQ(get(tcp, 610), 3);
    ASSERT_TRUE(tcp.SetProperty("Dest. MC", CVariant::FromInt(5)));
    EXPECT_EQ(get(tcp, 607), 3) << "Dest. MC changes only itself";
    EXPECT_FALSE(tcp.SetPropertyById(605, CVariant::FromInt(3))) << "no wheel YB+3";
    EXPECT_FALSE(tcp.SetPropertyById(606, CVariant::FromInt(13)));
    EXPECT_FALSE(tcp.SetProperty("MC Type", CVariant::FromString("2"))) << "by name the type must match";
    EXPECT_TRUE(tcp.SetPropertyById(607, CVariant::FromString("2"))) << "by id it converts";
    EXPECT_EQ(get(tcp, 607), 2);
    EXPECT_TRUE(tcp.SetPropertyById(612, CVariant::FromInt(0))) << "manual mode: nothing to apply";

    CPortMC_All all;
    all.SetPropertyById(701, CVariant::FromInt(1));
    EXPECT_FALSE(all.SetPropertyById(612, CVariant::FromInt(0))) << "612 only reaches a TCP link";
    EXPECT_FALSE(all.SetPropertyById(701, CVariant::FromInt(4)));
    EXPECT_EQ(get(all, 701), 1);
}

TEST(PortMCProperty, CopySettingsTakesOverEveryValue)
{
    CPortMC_All source, target;
    source.SetPropertyById(701, CVariant::FromInt(3));
    source.SetProperty("Host", CVariant::FromString("crate7.example"));
    source.SetProperty("Port", CVariant::FromUInt16(18888));
    source.SetProperty("CCB ID", CVariant::FromInt(1234));
    source.SetProperty("Timeout", CVariant::FromInt(750));
    source.SetProperty("MC Type", CVariant::FromInt(4));
    source.SetProperty("Dest. MC", CVariant::FromInt(2));
    CopySettings(source, target);
    EXPECT_EQ(get(target, 701), 3);
    CVariant host;
    target.GetProperty(102, host);
    EXPECT_EQ(host.text(), "crate7.example");
    EXPECT_EQ(get(target, 103), 18888);
    EXPECT_EQ(get(target, 604), 1234);
    EXPECT_EQ(get(target, 611), 750);
    EXPECT_EQ(get(target, 607), 4);
    EXPECT_EQ(get(target, 610), 2) << "walked in table order, Dest. MC after MC Type";
}
