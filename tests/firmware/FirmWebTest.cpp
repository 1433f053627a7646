// The web lookup of flash and RAM images against a real HTTP server on
// 127.0.0.1 serving a release page and image files.

#include "FirmTestSupport.h"
#include "firmware/FirmImage.h"
#include "firmware/FirmUpdate.h"
#include "support/HttpPeer.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace {

constexpr uint32_t kFlash = 0x80000;

class FirmWebTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        WriteFile(dir.File("fw125.s19"), SRecordText(kFlash, FlashBytes(1024, 0x00010019, 1)));
        WriteFile(dir.File("fw130.s19"), SRecordText(kFlash, FlashBytes(1024, 0x0001001E, 2)));
        WriteFile(dir.File("ram126.s19"), SRecordText(0x1000, FlashBytes(512, 0, 3)));
        WriteFile(dir.File("broken.s19"), SRecord('2', kFlash, Bytes(16, 1), 3, 1));
        peer = std::make_unique<CHttpPeer>(dir.Path());

        SimConfig config;
        config.crates = {{0, 1, 1, 101, 0, 0x00010019}, {0, 1, 2, 102, 0, 0x00010020}};
        config.timing = QuickBoards();
        config.secondaryServer = config.primaryBus = config.secondaryBus = false;
        sim = std::make_unique<CSimSystem>(config);
        ASSERT_TRUE(sim->Start());
        linkTemplate = std::make_unique<CPortMC_All>();
        TcpTemplate(*linkTemplate, sim->CrateServerPort());
    }

    // Serves page as releases.html and runs an Auto update of the type.
    void Update(const std::string& page, std::vector<uint16_t> destinations, int32_t type = kFirmFlash)
    {
        WriteFile(dir.File("releases.html"), page);
        if (!host.values.count(kKeyHtmlPage))
            host.values[kKeyHtmlPage] = peer->Url("/files/releases.html");
        _FIRMSETTINGS s;
        s.getFirmwareFile = 0;
        s.destinations = std::move(destinations);
        s.firmType = type;
        s.firmVerify = true;
        engine = std::make_unique<CFirmUpdate>("Web", &out, host, QuickTiming());
        ASSERT_EQ(engine->Start(s, *linkTemplate), CFirmUpdate::StartResult::Started);
        ASSERT_TRUE(WaitFor([&] { return !engine->AnyUnfinished(); }, 20000)) << out.Text();
        engine->Join();
    }
    std::string State(size_t row) { return engine->Row(row).GetState(); }

    CTempDir dir;
    std::unique_ptr<CHttpPeer> peer;
    std::unique_ptr<CSimSystem> sim;
    std::unique_ptr<CPortMC_All> linkTemplate;
    CCapturedOut out;
    CFixedHost host;
    std::unique_ptr<CFirmUpdate> engine;
};

const char kReleases[] =
    "<html><body><ul>\n"
    "<li><a href=\"fw120.s19\">HC16 Divadiduv Firmware V1.20 beta</a>\n"
    "<li><a href=\"ram126.s19\">Ram Version of the Firmware V1.26</a>\n"
    "<li><A HREF=\"fw125.s19\"><b>HC16</b> Divadiduv&nbsp;Firmware V 1,25</a>\n"
    "<li><a href=\"fw130.s19\">HC16 Divadiduv Firmware V1.30</a>\n"
    "</ul></body></html>\n";

}  // namespace

TEST_F(FirmWebTest, FirstMatchingLinkGivesImageAndVersion)
{
    Update(kReleases, {101, 102});
    EXPECT_EQ(State(0), "OK");
    EXPECT_EQ(State(1), "Already Update") << "1.25 installed, 1,25 on the page";
    EXPECT_EQ(State(2), "OK");
    EXPECT_EQ(sim->Board(102)->Peek(kFlash, 1024), FlashBytes(1024, 0x00010019, 1)) << "the first match, not 1.30";
    EXPECT_NE(sim->Board(101)->Peek(kFlash, 1024), FlashBytes(1024, 0x00010019, 1)) << "left alone";
    EXPECT_TRUE(out.Has("Reading " + peer->Url("/files/fw125.s19") + "\n"));
}

TEST_F(FirmWebTest, RamImagesUseTheirOwnPattern)
{
    Update(kReleases, {101}, kFirmRam);
    EXPECT_EQ(State(0), "OK");
    EXPECT_EQ(State(1), "OK");
    EXPECT_EQ(sim->Board(101)->Peek(0x1000, 512), FlashBytes(512, 0, 3));
}

TEST_F(FirmWebTest, LookupFailuresStopTheUpdate)
{
    struct Case {
        const char* what;
        std::string page;
        std::string pageUrl;  // empty: the served releases.html
        std::string state;
    } cases[] = {
        {"page answered 404", kReleases, "/status/404", "FAIL: HTML Page not found"},
        {"page answered 500", kReleases, "/status/500", "FAIL: HTML Page not found"},
        {"no link matches", "<a href=\"x.s19\">Firmware</a>", "", "FAIL: Link not found"},
        {"link text broken over two lines", "<a href=\"fw125.s19\">HC16 Divadiduv\r\nFirmware V1.25</a>", "",
         "FAIL: Link not found"},
        {"file missing", "<a href=\"gone.s19\">HC16 Divadiduv Firmware V1.25</a>", "", "FAIL: File not found"},
        {"broken image", "<a href=\"broken.s19\">HC16 Divadiduv Firmware V1.25</a>", "", "FAIL: Sumcheck Error"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        host.values.clear();
        if (!c.pageUrl.empty())
            host.values[kKeyHtmlPage] = peer->Url(c.pageUrl);
        Update(c.page, {101});
        EXPECT_EQ(State(0), c.state);
        EXPECT_EQ(State(1), "") << "no worker started";
        EXPECT_TRUE(engine->Row(1).IsFinished());
    }
}

TEST_F(FirmWebTest, AbsoluteLinkIsFetchedAsItStands)
{
    Update("<a href=\"" + peer->Url("/files/fw130.s19") + "\">HC16 Divadiduv Firmware V1.30</a>", {102});
    EXPECT_EQ(State(0), "OK");
    EXPECT_EQ(State(1), "OK");
    EXPECT_EQ(sim->Board(102)->Peek(kFlash, 1024), FlashBytes(1024, 0x0001001E, 2));
}

TEST_F(FirmWebTest, InternetClientFailureIsShownOnTheImageRow)
{
    host.values[kKeyHtmlPage] = "ftp://127.0.0.1/releases.html";
    Update(kReleases, {101});
    const std::string state = State(0);
    EXPECT_EQ(state.rfind("FAIL: ", 0), 0u) << state;
    EXPECT_EQ(state.substr(state.size() - 2), "\r\n");
    EXPECT_GT(state.size(), 8u) << "the exception's message";
}

TEST(FirmFileUrl, RelativeLinksJoinThePageFolderAbsoluteOnesStand)
{
    struct Case {
        const char* page;
        const char* href;
        const char* url;
    } cases[] = {
        {"http://h/fw/releases.html", "a.s19", "http://h/fw/a.s19"},
        {"http://h/fw/releases.html", "sub/a.s19", "http://h/fw/sub/a.s19"},
        {"http://h/fw/releases.html", "/a.s19", "http://h/fw//a.s19"},
        {"http://h/fw/", "a.s19", "http://h/fw/a.s19"},
        {"http://h/fw/releases.html", "http://other/a.s19", "http://other/a.s19"},
        {"http://h/fw/releases.html", "HTTPS://other/a.s19", "HTTPS://other/a.s19"},
        {"http://h/fw/releases.html", "a.s19?from=http://x", "http://h/fw/a.s19?from=http://x"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FileUrlFor(c.page, c.href), c.url) << c.page << " + " << c.href;
}
