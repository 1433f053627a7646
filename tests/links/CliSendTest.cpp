// telvane-cli send: the traffic text of many commands, whole and in order
// although it is written in batches; on a terminal each exchange shows
// while the next command waits for its reply; text waiting when a command
// fails is written.

#include "support/RunCommand.h"

#include "language/VaCompiler.h"
#include "sim/SimSystem.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <vector>

extern char** environ;

namespace {

const std::string kDecodeFile = std::string(TELVANE_SOURCE_DIR) + "/examples/Cb_v126.dec";

std::string Hex(const std::vector<uint8_t>& bytes)
{
    std::string text;
    char pair[4];
    for (uint8_t b : bytes) {
        std::snprintf(pair, sizeof pair, "%02X ", b);
        text += pair;
    }
    return text;
}

std::string SendArgs(uint16_t port)
{
    return " send --set \"IOType=TCP/IP Port\" --set Host=127.0.0.1 --set Port=" + std::to_string(port) +
           " --set \"CCB ID=101\"";
}

TEST(CliSend, RepeatPrintsEveryExchangeInOrder)
{
    if (TelvaneCli().empty())
        GTEST_SKIP() << "telvane-cli not built";
    SimConfig config;
    config.crates = {{0, 1, 1, 101, 0, 0x00010019}};
    config.secondaryServer = config.primaryBus = config.secondaryBus = false;
    CSimSystem sim(config);
    ASSERT_TRUE(sim.Start());
    // The status carries a running uptime: one reply for every exchange, so
    // that all of them read alike.
    const auto status = sim.Board(101)->Execute(std::vector<uint8_t>{0xEA});
    ASSERT_TRUE(status);
    sim.Board(101)->ReplaceAnswer({0xEA}, *status);
    CVa_Compiler tables;
    ASSERT_EQ(tables.Compile(kDecodeFile, false), 1);

    // 300 exchanges: the sequence wraps, and the text, over 200 KiB when
    // decoded, takes several batches.
    const int kRepeat = 300;
    const std::string cli = TelvaneCli() + SendArgs(sim.CrateServerPort()) + " --decode " + kDecodeFile +
                            " --repeat " + std::to_string(kRepeat);
    const CommandResult raw = RunCommand(cli + " --raw EA 2>&1");
    const CommandResult decoded = RunCommand(cli + " EA 2>&1");
    ASSERT_EQ(raw.status, 0) << raw.out;
    ASSERT_EQ(decoded.status, 0) << decoded.out;

    // The board's status reply: 200 bytes after the code 0x13.
    const std::string firstReply = "RX->EC 00 13 ";
    const size_t at = raw.out.find(firstReply);
    ASSERT_NE(at, std::string::npos) << raw.out.substr(0, 200);
    std::vector<uint8_t> body;
    for (size_t i = at + firstReply.size(); raw.out[i] != '\n'; i += 3)
        body.push_back(static_cast<uint8_t>(std::stoi(raw.out.substr(i, 2), nullptr, 16)));
    ASSERT_EQ(body.size(), 200u);
    // The decoded text with the LF line ends of standard output.
    std::string fields;
    for (char c : tables.Structs().DecodeText(0x13, body.data(), body.size()))
        if (c != '\r')
            fields += c;
    ASSERT_EQ(fields.rfind("ccb_id=101\nfw_major=1\nfw_minor=25\n", 0), 0u) << fields;

    std::string expectRaw, expectDecoded;
    for (int k = 0; k < kRepeat; ++k) {
        const std::string sent = "TX->" + Hex({0xEC, static_cast<uint8_t>(k), 0xEA}) + "\n";
        expectRaw += sent + "RX->" + Hex({0xEC, static_cast<uint8_t>(k), 0x13}) + Hex(body) + "\n";
        expectDecoded += sent + "RX->Data decoded code=0x13\n" + fields + "\n";
    }
    for (auto [out, expect] : {std::pair{raw.out, expectRaw}, std::pair{decoded.out, expectDecoded}}) {
        const size_t summary = out.rfind("round trip: min ");
        ASSERT_NE(summary, std::string::npos);
        EXPECT_EQ(out.substr(summary).find('\n'), out.size() - summary - 1) << "the summary is the last line";
        EXPECT_TRUE(out.substr(0, summary) == expect) << "the traffic text differs";
    }
}

// A crate server that answers the first command and then waits, silent,
// until the test lets it close the connection.
class CStallingServer {
public:
    CStallingServer()
    {
        EXPECT_EQ(pipe2(m_secondArrived, O_CLOEXEC), 0);
        EXPECT_EQ(pipe2(m_release, O_CLOEXEC), 0);
        m_listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof a;
        EXPECT_EQ(bind(m_listener, reinterpret_cast<sockaddr*>(&a), size), 0);
        EXPECT_EQ(listen(m_listener, 1), 0);
        getsockname(m_listener, reinterpret_cast<sockaddr*>(&a), &size);
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this] { Serve(); });
    }
    ~CStallingServer()
    {
        Close();
        m_thread.join();
        close(m_listener);
        for (int fd : {m_secondArrived[0], m_secondArrived[1], m_release[0]})
            close(fd);
    }
    uint16_t Port() const { return m_port; }
    // True once the second command has arrived.
    bool WaitForSecondCommand(int timeoutMs)
    {
        pollfd p{m_secondArrived[0], POLLIN, 0};
        return poll(&p, 1, timeoutMs) == 1;
    }
    void Close()
    {
        shutdown(m_listener, SHUT_RDWR);
        if (m_release[1] >= 0)
            close(m_release[1]);
        m_release[1] = -1;
    }

private:
    void Serve()
    {
        pollfd p{m_listener, POLLIN, 0};
        if (poll(&p, 1, 10000) != 1)
            return;
        const int c = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0)
            return;
        timeval t{10, 0};
        setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t);
        uint8_t frame[15];
        if (recv(c, frame, sizeof frame, MSG_WAITALL) == sizeof frame) {
            // Head with the total length 16, status 0; payload EC seq FC EA.
            const uint8_t reply[] = {0x55, 0x55, 0, 101, 0, 0, 0, 16, 0, 0, 0, 0, 0xEC, frame[13], 0xFC, 0xEA};
            send(c, reply, sizeof reply, MSG_NOSIGNAL);
            if (recv(c, frame, sizeof frame, MSG_WAITALL) == sizeof frame)
                write(m_secondArrived[1], "x", 1);
            pollfd r{m_release[0], POLLIN, 0};
            poll(&r, 1, 10000);
        }
        close(c);
    }

    int m_listener = -1;
    uint16_t m_port = 0;
    int m_secondArrived[2] = {-1, -1};
    int m_release[2] = {-1, -1};
    std::thread m_thread;
};

// "telvane-cli send --raw --repeat 2" with standard output on outFd; ended
// and reaped when it goes out of scope still running.
class CCliProcess {
public:
    CCliProcess(uint16_t port, int outFd) : m_pid(Start(port, outFd)) {}
    ~CCliProcess()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
    }
    bool Started() const { return m_pid > 0; }
    bool Running() const { return waitpid(m_pid, nullptr, WNOHANG) == 0; }
    int ExitStatus()
    {
        int status = 0;
        const bool reaped = waitpid(m_pid, &status, 0) == m_pid;
        m_pid = -1;
        return reaped && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    static pid_t Start(uint16_t port, int outFd);
    pid_t m_pid;
};

pid_t CCliProcess::Start(uint16_t port, int outFd)
{
    std::vector<std::string> words = {TelvaneCli(), "send", "--set", "IOType=TCP/IP Port", "--set", "Host=127.0.0.1",
                                      "--set", "Port=" + std::to_string(port), "--set", "CCB ID=101", "--raw",
                                      "--timeout", "10000", "--repeat", "2", "EA"};
    std::vector<char*> argv;
    for (auto& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outFd, 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// What arrives on fd within timeoutMs, up to `enough` bytes or its end.
std::string ReadFor(int fd, int timeoutMs, size_t enough)
{
    std::string text;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (text.size() < enough) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) != 1)
            break;
        char buffer[4096];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        text.append(buffer, static_cast<size_t>(n));
    }
    return text;
}

TEST(CliSend, TerminalShowsEachExchangeAtOnce)
{
    if (TelvaneCli().empty())
        GTEST_SKIP() << "telvane-cli not built";
    struct Case {
        const char* what;
        bool terminal;
    } cases[] = {{"terminal", true}, {"pipe", false}};
    const std::string first = "TX->EC 00 EA \nRX->EC 00 FC EA \n";
    const std::string second = "TX->EC 01 EA \n";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CStallingServer server;
        int readEnd = -1, writeEnd = -1;
        if (c.terminal) {
            ASSERT_EQ(openpty(&readEnd, &writeEnd, nullptr, nullptr, nullptr), 0);
            termios t;
            tcgetattr(writeEnd, &t);
            cfmakeraw(&t);
            tcsetattr(writeEnd, TCSANOW, &t);
        } else {
            int fds[2];
            ASSERT_EQ(pipe(fds), 0);
            readEnd = fds[0];
            writeEnd = fds[1];
        }
        fcntl(readEnd, F_SETFD, FD_CLOEXEC);
        CCliProcess cli(server.Port(), writeEnd);
        close(writeEnd);
        ASSERT_TRUE(cli.Started());

        // The second command waits for its reply: on a terminal the first
        // exchange shows meanwhile; on a pipe the text waits for its batch.
        ASSERT_TRUE(server.WaitForSecondCommand(10000));
        const std::string meanwhile = ReadFor(readEnd, c.terminal ? 5000 : 300, first.size());
        EXPECT_TRUE(cli.Running()) << "still waiting for the second reply";
        EXPECT_EQ(meanwhile, c.terminal ? first : "");

        // The connection drops: the command fails, and the text it left
        // behind is written.
        server.Close();
        const std::string rest = ReadFor(readEnd, 10000, SIZE_MAX);
        EXPECT_EQ(meanwhile + rest, first + second);
        EXPECT_EQ(cli.ExitStatus(), 1);
        close(readEnd);
    }
}

}  // namespace
