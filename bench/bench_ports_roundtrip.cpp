// Request/reply round trips of 16 bytes each way through the ports, against
// plain system calls on the same kind of line: a pseudo-terminal pair and a
// loopback TCP connection, each with an echoing peer thread.
// Goal: each port reaches at least 0.8 times the baseline's round trips/s,
// as the median of per-round ratios. Each run is 50000 exchanges.

#include "FdLoops.h"
#include "RoundRatios.h"

#include "ports/PortIO_Com.h"
#include "ports/PortIO_Socket.h"

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kMessage = 16;
constexpr int kExchanges = 50000;

// Echoes 16-byte messages on fd until it reads end of file or fails.
void echoLoop(int fd)
{
    uint8_t msg[kMessage];
    while (bench::ReadFull(fd, msg, sizeof msg) && bench::WriteFull(fd, msg, sizeof msg)) {
    }
}

// A pseudo-terminal whose master side echoes.
class EchoPty {
public:
    EchoPty()
    {
        char name[128];
        if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0)
            throw std::runtime_error("openpty");
        termios t;
        tcgetattr(m_master, &t);
        cfmakeraw(&t);
        tcsetattr(m_master, TCSANOW, &t);
        m_path = name;
        m_thread = std::thread([this] { echoLoop(m_master); });
    }
    ~EchoPty()
    {
        // With the last slave descriptor closed the master's read fails
        // and the echo loop ends.
        close(m_slave);
        m_thread.join();
        close(m_master);
    }
    const std::string& path() const { return m_path; }

private:
    int m_master = -1;
    int m_slave = -1;  // keeps the line up between the benchmark's opens
    std::string m_path;
    std::thread m_thread;
};

void BM_PtyPlain(benchmark::State& state)
{
    EchoPty pty;
    int fd = open(pty.path().c_str(), O_RDWR | O_NOCTTY);
    termios t;
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    uint8_t request[kMessage] = {0x55, 1, 2, 3}, reply[kMessage];
    for (auto _ : state) {
        if (!bench::WriteFull(fd, request, sizeof request) || !bench::ReadFull(fd, reply, sizeof reply))
            state.SkipWithError("plain pty exchange failed");
    }
    close(fd);
    state.SetItemsProcessed(state.iterations());
}

void BM_PtyPort(benchmark::State& state)
{
    EchoPty pty;
    {
        CPortIO_Com port;
        if (!port.OpenSpec(pty.path() + ":115200:8:None:1"))
            state.SkipWithError("open failed");
        uint8_t request[kMessage] = {0x55, 1, 2, 3}, reply[kMessage];
        for (auto _ : state) {
            if (!port.Write(request, kMessage) || !port.ReadExact(reply, kMessage, 1000))
                state.SkipWithError("port exchange failed");
        }
    }
    state.SetItemsProcessed(state.iterations());
}

// A loopback TCP server echoing on its one connection.
class EchoServer {
public:
    EchoServer()
    {
        m_listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof a;
        if (bind(m_listener, reinterpret_cast<sockaddr*>(&a), size) != 0 || listen(m_listener, 1) != 0)
            throw std::runtime_error("listen");
        getsockname(m_listener, reinterpret_cast<sockaddr*>(&a), &size);
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this] {
            int c = accept(m_listener, nullptr, nullptr);
            int one = 1;
            setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            echoLoop(c);
            close(c);
        });
    }
    ~EchoServer()
    {
        m_thread.join();
        close(m_listener);
    }
    uint16_t port() const { return m_port; }

private:
    int m_listener = -1;
    uint16_t m_port = 0;
    std::thread m_thread;
};

void BM_TcpPlain(benchmark::State& state)
{
    EchoServer server;
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(server.port());
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        state.SkipWithError("connect failed");
    uint8_t request[kMessage] = {0x55, 0x55, 1, 2}, reply[kMessage];
    for (auto _ : state) {
        if (!bench::WriteFull(fd, request, sizeof request) || !bench::ReadFull(fd, reply, sizeof reply))
            state.SkipWithError("plain TCP exchange failed");
    }
    close(fd);
    state.SetItemsProcessed(state.iterations());
}

void BM_TcpPort(benchmark::State& state)
{
    EchoServer server;
    {
        CPortIO_Socket port;
        if (!port.OpenSpec("127.0.0.1:" + std::to_string(server.port())))
            state.SkipWithError("open failed");
        uint8_t request[kMessage] = {0x55, 0x55, 1, 2}, reply[kMessage];
        for (auto _ : state) {
            if (!port.Write(request, kMessage) || !port.ReadExact(reply, kMessage, 1000))
                state.SkipWithError("port exchange failed");
        }
    }
    state.SetItemsProcessed(state.iterations());
}

}  // namespace

int main(int argc, char** argv)
{
    const int rounds = bench::TakeRounds(argc, argv, 5);
    auto fixed = [](benchmark::internal::Benchmark* b) {
        b->Iterations(kExchanges)->UseRealTime()->Unit(benchmark::kMicrosecond);
    };
    bench::RegisterRounds(rounds, {{"BM_PtyPlain", BM_PtyPlain, fixed},
                                   {"BM_PtyPort", BM_PtyPort, fixed},
                                   {"BM_TcpPlain", BM_TcpPlain, fixed},
                                   {"BM_TcpPort", BM_TcpPort, fixed}});
    using Kind = bench::Ratio::Kind;
    return bench::RunAndReport(argc, argv,
                               {{"Pty: port / plain round trips", "BM_PtyPort", "BM_PtyPlain", Kind::Speed, 0.8},
                                {"Tcp: port / plain round trips", "BM_TcpPort", "BM_TcpPlain", Kind::Speed, 0.8}});
}
