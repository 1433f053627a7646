// telvane-cli flash against simulated crates and a loopback HTTP server:
// progress lines, exit status, the log, stored settings and SIGINT.

#include "FirmTestSupport.h"
#include "support/HttpPeer.h"
#include "support/ReadFile.h"
#include "support/RunCommand.h"
#include "support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

class FirmCliTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        cli = TelvaneCli();
        if (cli.empty())
            GTEST_SKIP() << "telvane-cli is not built in this tree";
        SimConfig config;
        config.crates = {{0, 1, 1, 101, 0, 0x00010019}, {0, 1, 2, 102, 0, 0x00010019}};
        config.timing = QuickBoards();
        config.secondaryServer = config.primaryBus = config.secondaryBus = false;
        sim = std::make_unique<CSimSystem>(config);
        ASSERT_TRUE(sim->Start());
        WriteFile(dir.File("fw.s19"), SRecordText(0x80000, FlashBytes(4096, 0x0001001A)));
    }
    std::string Link() const
    {
        return " --set IOType='TCP/IP Port' --set Host=127.0.0.1 --set Port=" +
               std::to_string(sim->CrateServerPort());
    }
    CommandResult Flash(const std::string& arguments, const std::string& prefix = "")
    {
        return RunCommand(prefix + "'" + cli + "' flash" + arguments + " 2>/dev/null");
    }

    std::string cli;
    CTempDir dir;
    std::unique_ptr<CSimSystem> sim;
};

}  // namespace

TEST_F(FirmCliTest, UpdatesEveryDestinationAndSummarises)
{
    const auto r = Flash(Link() + " --type flash --file '" + dir.File("fw.s19") + "' --dest 101,0x66 --verify --log '" +
                         dir.File("log.txt") + "'");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("Load File: OK\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("101: OK\n"), std::string::npos);
    EXPECT_NE(r.out.find("102: OK\n"), std::string::npos);
    EXPECT_EQ(r.out.substr(r.out.rfind("summary:")), "summary: 2 crates, 2 OK, 0 Already Update, 0 failed\n");
    EXPECT_EQ(sim->Board(102)->Peek(0x80000, 4096), FlashBytes(4096, 0x0001001A));
    const auto log = ReadFile(dir.File("log.txt"));
    EXPECT_NE(log.find("Hex File Start 0x00080000 End 0x00081000\r\n"), std::string::npos) << log;
}

TEST_F(FirmCliTest, AnyFailedCrateFailsTheRun)
{
    sim->Board(102)->ReplaceAnswer({0xEA}, {0x55});
    const auto r = Flash(Link() + " --file '" + dir.File("fw.s19") + "' --dest 101,102");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("101: OK\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("102: FAIL\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("summary: 2 crates, 1 OK, 0 Already Update, 1 failed\n"), std::string::npos);
}

TEST_F(FirmCliTest, UsageErrors)
{
    const auto help = RunCommand("'" + cli + "' flash --help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: telvane-cli flash ", 0), 0u) << help.out;
    for (const std::string args : {" --file x.s19", " --file x.s19 --auto --dest 1", " --dest 1",
                                   " --file x --dest 12x", " --file x --dest 1 --type rom",
                                   " --file x --dest 1 --trb 8", " --file x --dest 1 --page http://h/"}) {
        EXPECT_EQ(Flash(args).status, 2) << args;
    }
}

TEST_F(FirmCliTest, AutoTakesTheStoredPageAndPattern)
{
    WriteFile(dir.File("rel.html"), "<a href=\"fw.s19\">Custom firmware V1.26</a>"
                                    "<a href=\"other.s19\">HC16 Divadiduv Firmware V1.26</a>");
    CHttpPeer peer(dir.Path());
    std::filesystem::create_directories(dir.File("config/Belmora"));
    WriteFile(dir.File("config/Belmora/Telvane.ini"),
              "[General]\nHTML_Page=http://wrong/\n\n[Workspace]\nCommandFile=Cb_v126_cmd.dec\nHTML_Page=" +
                  peer.Url("/files/rel.html") + "\nHTML_LinkRegExp=\"^Custom[ \\\\t]+firmware V\\\\c[0-9]+\\\\c.\\\\c[0-9]+\\\\c$\"\n");
    const auto r = Flash(Link() + " --auto --dest 101", "XDG_CONFIG_HOME='" + dir.File("config") + "' ");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("101: OK\n"), std::string::npos) << r.out;
    EXPECT_EQ(sim->Board(101)->Peek(0x80000, 4096), FlashBytes(4096, 0x0001001A)) << "fw.s19, by the stored pattern";
}

TEST_F(FirmCliTest, InterruptAbortsEveryCrateAndWaits)
{
    WriteFile(dir.File("big.s19"), SRecordText(0x80000, FlashBytes(256 * 1024, 0x0001001A)));
    for (uint16_t id : {101, 102})
        sim->Board(id)->SetTiming(SimTiming{30, 1000, 3});
    const auto t0 = std::chrono::steady_clock::now();
    const auto r = Flash(Link() + " --file '" + dir.File("big.s19") + "' --dest 101,102", "timeout --preserve-status -s INT 1.5 ");
    const auto elapsed = std::chrono::steady_clock::now() - t0;
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("101: FAIL: Abort by user\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("102: FAIL: Abort by user\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("summary: 2 crates, 0 OK, 0 Already Update, 2 failed\n"), std::string::npos);
    EXPECT_LT(elapsed, std::chrono::seconds(5));
}
