// telvane-cli findlink and catalogue, run as the program against a real
// HTTP server on loopback.

#include "support/HttpPeer.h"
#include "support/TempDir.h"
#include "support/RunCommand.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

void WriteFile(const std::string& path, const std::string& content)
{
    std::ofstream(path, std::ios::binary) << content;
}

class CliFetch : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_cli = TelvaneCli();
        if (m_cli.empty())
            GTEST_SKIP() << "telvane-cli not built in this tree";
        WriteFile(m_dir.File("releases.html"),
                  "<html><body>\r\n"
                  "<a href=\"old.s19\">HC16 Firmware V1.24</a>\r\n"
                  "<A HREF=\"new.s19\">HC16 <b>Firmware</b>\r\n V1,26 &amp; notes</A>\r\n"
                  "</body></html>\r\n");
        WriteFile(m_dir.File("list.xml"),
                  "<?xml version=\"1.0\"?>\n<Divadiduvs>\n"
                  "  <Divadiduv wheel=\"YB+1\" sector=\"S4\" type=\"MB2\" pid=\"12\" ccbid=\"345\" host=\"crates.example\""
                  " pid_port=\"18888\" ccbid_port=\"18889\"/>\n"
                  "  <Divadiduv wheel=\"YB-2\" sector=\"S12\" type=\"MB5\" pid=\"7\" ccbid=\"9\" host=\"h2\" pid_port=\"1\""
                  " ccbid_port=\"2\" proxy=\"socks.example:1080\"/>\n"
                  "</Divadiduvs>\n");
    }

    CommandResult Cli(const std::string& arguments) { return RunCommand(m_cli + " " + arguments); }

    std::string m_cli;
    CTempDir m_dir;
};

}  // namespace

TEST_F(CliFetch, FindLinkPrintsHrefAndCapturedParts)
{
    CHttpPeer peer(m_dir.Path());
    const std::string pattern = "'HC16[ \\t]+Firmware[ \\t]+V\\c[0-9]+\\c[.,]\\c[0-9]+\\c & notes$'";
    CommandResult r = Cli("findlink " + peer.Url("/files/releases.html") + " " + pattern);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "new.s19\n1\n26\n");
}

TEST_F(CliFetch, FindLinkFailuresExitWithTheirStatus)
{
    CHttpPeer peer(m_dir.Path());
    EXPECT_EQ(Cli("findlink " + peer.Url("/files/releases.html") + " 'V9\\.99' 2>/dev/null").status, 1)
        << "no anchor matches";
    EXPECT_EQ(Cli("findlink " + peer.Url("/status/404") + " 'V' 2>/dev/null").status, 1);
    EXPECT_EQ(Cli("findlink " + peer.Url("/files/releases.html") + " '*V' 2>/dev/null").status, 2)
        << "a quantifier with nothing before it is a bad pattern";
    EXPECT_EQ(Cli("findlink " + peer.Url("/files/releases.html") + " 'HC16)ZZZZ-not-in-page' 2>/dev/null").status, 2)
        << "a ')' that closes no group is a bad pattern, not the end of it";
    EXPECT_EQ(Cli("findlink " + peer.Url("/files/releases.html") + " 2>/dev/null").status, 2);
}

TEST_F(CliFetch, CatalogueListsCratesFromFileAndHttp)
{
    const std::string expected = "1\t4\t2\t12\t345\t";
    CommandResult local = Cli("catalogue " + m_dir.File("list.xml"));
    ASSERT_EQ(local.status, 0);
    EXPECT_EQ(local.out.substr(0, expected.size()), expected);
    EXPECT_NE(local.out.find("\th2\t1\t2\tsocks.example:1080\n"), std::string::npos) << local.out;

    CHttpPeer peer(m_dir.Path());
    CommandResult remote = Cli("catalogue " + peer.Url("/files/list.xml"));
    EXPECT_EQ(remote.status, 0);
    EXPECT_EQ(remote.out, local.out) << "a download reads the same crates";
}

TEST_F(CliFetch, CatalogueFindPrintsIndexAndCrate)
{
    CommandResult found = Cli("catalogue " + m_dir.File("list.xml") + " --find -2 12 5");
    EXPECT_EQ(found.status, 0);
    EXPECT_EQ(found.out.substr(0, 4), "1\t-2") << found.out;
    CommandResult any = Cli("catalogue " + m_dir.File("list.xml") + " --find -10 -1 -1");
    EXPECT_EQ(any.out.substr(0, 2), "0\t") << "wildcards take the first crate";
    EXPECT_EQ(Cli("catalogue " + m_dir.File("list.xml") + " --find 3 3 3 2>/dev/null").status, 1);
    EXPECT_EQ(Cli("catalogue " + m_dir.File("missing.xml") + " 2>/dev/null").status, 1);
    EXPECT_EQ(Cli("catalogue " + m_dir.File("list.xml") + " --find x 1 1 2>/dev/null").status, 2);
}

TEST_F(CliFetch, FetchesEndWithinTheirLimits)
{
    CHttpPeer peer(m_dir.Path());
    const struct {
        std::string arguments;
        std::string message;
    } cases[] = {
        {"findlink " + peer.Url("/endless") + " 'x'", "The page is longer than its limit of 16777216 bytes ->234"},
        {"findlink " + peer.Url("/trickle/1000/400") + " 'x' --deadline 2",
         "The page took longer than its deadline of 2 s ->1460"},
        {"catalogue --deadline 2 " + peer.Url("/trickle/1000/400"),
         "The download took longer than its deadline of 2 s"},
    };
    for (const auto& c : cases) {
        // Without the limits these run for minutes or until memory runs out.
        CommandResult r = Cli(c.arguments + " 2>&1");
        EXPECT_EQ(r.status, 1) << c.arguments;
        EXPECT_NE(r.out.find(c.message), std::string::npos) << c.arguments << "\n" << r.out;
    }
    for (const char* bad : {"--deadline", "--deadline 0", "--deadline 2x", "--deadline -5"})
        EXPECT_EQ(Cli("findlink " + peer.Url("/bytes/1") + " x " + bad + " 2>/dev/null").status, 2) << bad;
}

TEST_F(CliFetch, CatalogueDownloadLeavesNothingBehindWhenInterrupted)
{
    CHttpPeer peer(m_dir.Path());
    const std::string url = peer.Url("/trickle/100000/50");
    for (int signal : {SIGTERM, SIGINT}) {
        CTempDir temp;
        pid_t pid = fork();
        if (pid == 0) {
            setenv("TMPDIR", temp.Path().c_str(), 1);
            int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
            execl(m_cli.c_str(), m_cli.c_str(), "catalogue", url.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        ASSERT_GT(pid, 0);
        // The catalogue's copy and the download's partial file beside it.
        std::vector<std::string> names;
        for (int wait = 0; wait < 500 && names.size() < 2; ++wait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            names = temp.Entries();
        }
        EXPECT_EQ(names.size(), 2u);
        for (const auto& name : names) {
            struct stat st {};
            ASSERT_EQ(stat(temp.File(name).c_str(), &st), 0) << name;
            EXPECT_EQ(st.st_mode & 0777, 0600u) << name;
            EXPECT_TRUE(name.starts_with("DivadiduvList") || name.ends_with(".part")) << name;
        }
        kill(pid, signal);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << "ended as the signal says";
        EXPECT_TRUE(temp.Entries().empty()) << temp.Entries().front();
    }
}
