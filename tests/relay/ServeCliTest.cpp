// telvane-cli serve as a process: it relays for our own crate link, prints
// the traffic as a spy does, logs its clients, and ends cleanly on SIGINT
// and SIGTERM, or with status 1 when the crate link fails.

#include "RelayTestSupport.h"
#include "support/RunCommand.h"

#include <csignal>
#include <spawn.h>

extern char** environ;

using namespace relaytest;

namespace {

const uint8_t kStatusCommand[] = {0xEA};

// A running telvane-cli serve with its standard output and error in pipes.
class ServeProcess {
public:
    explicit ServeProcess(const std::vector<std::string>& args)
    {
        if (pipe2(m_out, O_CLOEXEC) != 0 || pipe2(m_err, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, m_out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, m_err[1], 2);
        std::vector<std::string> all = {TelvaneCli(), "serve"};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(m_out[1]);
        close(m_err[1]);
    }
    ~ServeProcess()
    {
        if (m_pid > 0 && !m_reaped) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        close(m_out[0]);
        close(m_err[0]);
    }

    // Reads standard error until a line holds `piece`; that line, or empty.
    std::string WaitErr(const std::string& piece, int timeoutMs = 5000)
    {
        const auto t0 = Clock::now();
        for (;;) {
            const size_t at = m_errText.find(piece);
            if (at != std::string::npos) {
                const size_t start = m_errText.rfind('\n', at);
                return m_errText.substr(start == std::string::npos ? 0 : start + 1,
                                        m_errText.find('\n', at) - (start == std::string::npos ? 0 : start + 1));
            }
            const long left = timeoutMs - msSince(t0);
            pollfd p{m_err[0], POLLIN, 0};
            if (left <= 0 || poll(&p, 1, int(left)) != 1)
                return {};
            char buffer[1024];
            const ssize_t n = read(m_err[0], buffer, sizeof buffer);
            if (n <= 0)
                return {};
            m_errText.append(buffer, size_t(n));
        }
    }
    // Waits for the exit and collects what is left of both outputs.
    int Wait(int timeoutMs = 5000)
    {
        const auto t0 = Clock::now();
        int status = 0;
        while (waitpid(m_pid, &status, WNOHANG) == 0) {
            if (msSince(t0) > timeoutMs)
                return -2;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        m_reaped = true;
        Drain(m_err[0], m_errText);
        Drain(m_out[0], m_outText);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    void Signal(int sig) { kill(m_pid, sig); }
    uint16_t ListeningPort()
    {
        const std::string line = WaitErr("listening on 127.0.0.1:");
        return line.empty() ? 0 : uint16_t(std::stoi(line.substr(line.rfind(':') + 1)));
    }
    const std::string& Err() const { return m_errText; }
    const std::string& Out() const { return m_outText; }

private:
    static void Drain(int fd, std::string& into)
    {
        char buffer[4096];
        ssize_t n;
        while ((n = read(fd, buffer, sizeof buffer)) > 0)
            into.append(buffer, size_t(n));
    }

    pid_t m_pid = -1;
    bool m_reaped = false;
    int m_out[2] = {-1, -1};
    int m_err[2] = {-1, -1};
    std::string m_errText, m_outText;
};

class ServeCliTest : public RelayTest {
protected:
    void SetUp() override
    {
        if (TelvaneCli().empty())
            GTEST_SKIP() << "telvane-cli is not built";
        RelayTest::SetUp();
    }
};

TEST_F(ServeCliTest, RelaysPrintsTrafficAndStopsCleanlyOnEachSignal)
{
    for (int sig : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(strsignal(sig));
        ServeProcess serve({"--set", "ComName=" + sim.PrimaryBusPath(), "--port", "0", "--bind", "127.0.0.1",
                            "--print-traffic", "--decode", std::string(TELVANE_SOURCE_DIR) + "/examples/Cb_v126.dec"});
        const uint16_t relay = serve.ListeningPort();
        ASSERT_NE(relay, 0) << serve.Err();
        auto client = OpenClientLink(relay, 101);
        ASSERT_TRUE(client);
        uint8_t reply[256];
        int n = sizeof reply;
        ASSERT_TRUE(client->Command(kStatusCommand, 1, reply, n, 1000));
        EXPECT_EQ(statusCcbid(reply), 101);
        client.reset();
        EXPECT_FALSE(serve.WaitErr("disconnected: closed by the client").empty());

        serve.Signal(sig);
        EXPECT_EQ(serve.Wait(), 0);
        EXPECT_NE(serve.Err().find("Open ->0\n"), std::string::npos);
        EXPECT_NE(serve.Err().find("telvane-cli: client 127.0.0.1:"), std::string::npos);
        EXPECT_NE(serve.Err().find("connected\n"), std::string::npos);
        EXPECT_NE(serve.Err().find(std::string(strsignal(sig)) + ", stopping\nDisconnected\n"), std::string::npos);
        EXPECT_EQ(serve.Err().find("Warning"), std::string::npos) << "bound to one address";
        EXPECT_EQ(serve.Out().rfind("Reading decode file ", 0), 0u);
        EXPECT_NE(serve.Out().find("Read Success\nTX->EC 00 EA \nRX->Data decoded code=0x13\nccb_id=101"),
                  std::string::npos)
            << serve.Out();
    }
}

TEST_F(ServeCliTest, WarnsAboutOpenAccessAndRefusesOutsiders)
{
    ServeProcess serve({"--set", "ComName=" + sim.PrimaryBusPath(), "--port", "0"});
    const std::string warning = serve.WaitErr("Warning:");
    EXPECT_NE(warning.find("every client may connect; limit it with --bind ADDR or --allow CIDR"), std::string::npos)
        << warning;
    serve.Signal(SIGTERM);
    EXPECT_EQ(serve.Wait(), 0);

    ServeProcess limited({"--set", "ComName=" + sim.PrimaryBusPath(), "--port", "0", "--allow", "10.0.0.0/8",
                          "--allow", "192.168.0.0/16", "--bind", "127.0.0.1"});
    const uint16_t relay = limited.ListeningPort();
    ASSERT_NE(relay, 0);
    Fd c = porttest::ConnectTo(relay);
    EXPECT_FALSE(limited.WaitErr("refused: address not in the allowlist").empty());
    limited.Signal(SIGTERM);
    EXPECT_EQ(limited.Wait(), 0);
}

TEST_F(ServeCliTest, LinkFailureEndsWithStatusOne)
{
    ServeProcess serve({"--set", "IOType=TCP/IP Port", "--set", "Host=127.0.0.1", "--set",
                        "Port=" + std::to_string(sim.CrateServerPort()), "--set", "CCB ID=101", "--port", "0",
                        "--bind", "127.0.0.1"});
    const uint16_t relay = serve.ListeningPort();
    ASSERT_NE(relay, 0) << serve.Err();
    sim.Board(101)->Faults().Set(SimFault::DropConnection, 1);
    Fd c = porttest::ConnectTo(relay);
    Answer a;
    ASSERT_TRUE(SendRequest(c, 101, {0xEA}, 1000));
    ASSERT_TRUE(ReadAnswer(c, a));
    EXPECT_EQ(a.payload, Bytes{0x03});
    EXPECT_EQ(serve.Wait(), 1);
    EXPECT_NE(serve.Err().find("Command Error: ->10054\n"), std::string::npos) << serve.Err();
    EXPECT_NE(serve.Err().find("Disconnected\n"), std::string::npos);
}

TEST_F(ServeCliTest, UsageAndRefusedSettings)
{
    const std::string cli = TelvaneCli();
    CommandResult help = RunCommand(cli + " serve --help 2>/dev/null");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: telvane-cli serve [--set NAME=VALUE]...", 0), 0u);
    EXPECT_NE(help.out.find("--allow CIDR"), std::string::npos);
    struct Case {
        const char* args;
        int status;
        const char* err;
    } cases[] = {
        {"--frobnicate", 2, "usage: telvane-cli serve"},
        {"--decode x.dec", 2, "usage: telvane-cli serve"},
        {"--allow 10.0.0.1/8", 2, "setting \"AllowClients\" refused the value \"10.0.0.1/8\""},
        {"--bind nowhere", 2, "setting \"BindAddress\" refused the value \"nowhere\""},
        {"--set ComName=/nonexistent/tty --port 0", 1, "Open Error: ->2\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        CommandResult r = RunCommand(cli + " serve " + c.args + " 2>&1");
        EXPECT_EQ(r.status, c.status);
        EXPECT_NE(r.out.find(c.err), std::string::npos) << r.out;
    }
}

}  // namespace
