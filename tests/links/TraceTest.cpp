// The field trace: one line per event of the chosen layers, with the bytes.

#include "base/Trace.h"
#include "links/PortMCSim.h"
#include "support/ReadFile.h"

#include <fstream>
#include <regex>
#include <sstream>

TEST_F(SimLinkTest, TraceWritesOneLinePerEventOfTheChosenLayers)
{
    const std::string path = ::testing::TempDir() + "telvane_trace.log";
    std::remove(path.c_str());
    EXPECT_EQ(trace::Configure("links,ports", path.c_str()), unsigned{trace::Links | trace::Ports});

    auto link = std::make_unique<CPortMC_All>();
    OpenLink(*link, CPortMC_All::kTcp, 101);
    const uint8_t status = 0xEA;
    uint8_t reply[256];
    int count = sizeof reply;
    ASSERT_TRUE(link->Command(&status, 1, reply, count, 5000));
    link->Close();
    trace::Configure(nullptr, nullptr);
    ASSERT_TRUE(link->Open());
    link->Close();

    const std::string text = ReadFile(path);
    std::istringstream lines(text);
    std::string line;
    const std::regex shape(R"(^\d+\.\d{6} \d+ (ports|links) 0x[0-9a-f]+ (open|close|write|read|time-out|error)( .*)?$)");
    int opens = 0, closes = 0;
    while (std::getline(lines, line)) {
        EXPECT_TRUE(std::regex_match(line, shape)) << line;
        opens += line.find("ports") != std::string::npos && line.find(" open ") != std::string::npos;
        closes += line.find(" close") != std::string::npos;
    }
    EXPECT_EQ(opens, 1) << "nothing is traced once tracing is off:\n" << text;
    EXPECT_EQ(closes, 1) << text;
    // The link's payload (0xEC, its sequence, the command), and the whole
    // frame at the port with its 12-byte head.
    EXPECT_TRUE(std::regex_search(text, std::regex(R"( links 0x[0-9a-f]+ write 3: EC [0-9A-F]{2} EA\n)"))) << text;
    EXPECT_TRUE(std::regex_search(text, std::regex(R"( ports 0x[0-9a-f]+ write 15: 55 55 )"))) << text;
    EXPECT_TRUE(std::regex_search(text, std::regex(R"( links 0x[0-9a-f]+ read \d+: EC [0-9A-F]{2} )"))) << text;
    std::remove(path.c_str());
}

TEST(Trace, ChannelListsAreParsedByName)
{
    struct Case {
        const char* list;
        unsigned channels;
    };
    const Case cases[] = {
        {"all", trace::Ports | trace::Links | trace::Can | trace::Http},
        {"can,http", trace::Can | trace::Http},
        {"ports,bogus", trace::Ports},
        {"", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(trace::Configure(c.list, nullptr), c.channels) << c.list;
    trace::Configure(nullptr, nullptr);
    EXPECT_FALSE(trace::On(trace::Ports));
}
