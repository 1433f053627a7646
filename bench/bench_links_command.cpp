// Crate-link commands against plain exchanges of the same frame bytes with
// the same in-process simulator: over TCP (crate server) and over the
// primary bus on a pseudo-terminal. Goals, as medians of per-round ratios:
// Command reaches at least 0.7 times the plain round trips per second over
// TCP and 0.85 times on the primary bus. The primary bus is also compared
// with a plain exchange that waits with a time-out, as the link does.

#include "FdLoops.h"
#include "RoundRatios.h"

#include "links/PortMC_All.h"
#include "links/PortMCFrame.h"
#include "sim/SimSystem.h"

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace {

CSimSystem& simulator()
{
    static CSimSystem* sim = [] {
        SimConfig c;
        c.crates = {{0, 1, 1, 101, 0, 0x00010019}};
        c.secondaryServer = false;
        c.secondaryBus = false;
        auto* s = new CSimSystem(c);
        if (!s->Start())
            std::abort();
        return s;
    }();
    return *sim;
}

const uint8_t kCommand[] = {0xED, 0x01};  // ProtectFlash: a short command with a short reply

void runCommands(benchmark::State& state, CPortMC_All& link)
{
    uint8_t reply[16];
    for (auto _ : state) {
        int n = sizeof reply;
        if (!link.Command(kCommand, sizeof kCommand, reply, n, 2000)) {
            state.SkipWithError("Command failed");
            return;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_CommandTcp(benchmark::State& state)
{
    CPortMC_All link;
    link.SetPropertyById(CPortMC_All::kIOType, CVariant::FromInt(3));
    link.SetProperty("Host", CVariant::FromString("127.0.0.1"));
    link.SetProperty("Port", CVariant::FromUInt16(simulator().CrateServerPort()));
    link.SetProperty("CCB ID", CVariant::FromInt(101));
    if (!link.Open() || !link.WaitUntilOpen(5000))
        return state.SkipWithError("open failed");
    runCommands(state, link);
}

void BM_PlainTcp(benchmark::State& state)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(simulator().CrateServerPort());
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0)
        return state.SkipWithError("connect failed");
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    uint8_t seq = 0;
    uint8_t reply[12 + 4];
    for (auto _ : state) {
        const uint8_t payload[] = {0xEC, seq++, kCommand[0], kCommand[1]};
        auto head = mcframe::BuildTcpHead(101, sizeof payload, 2000);
        uint8_t frame[12 + sizeof payload];
        std::copy(head.begin(), head.end(), frame);
        std::copy(payload, payload + sizeof payload, frame + 12);
        if (write(fd, frame, sizeof frame) != static_cast<ssize_t>(sizeof frame) || !bench::ReadFull(fd, reply, sizeof reply))
            return state.SkipWithError("exchange failed");
    }
    close(fd);
    state.SetItemsProcessed(state.iterations());
}

void BM_CommandPrimary(benchmark::State& state)
{
    CPortMC_All link;
    link.SetPropertyById(CPortMC_All::kIOType, CVariant::FromInt(1));
    link.SetProperty("ComName", CVariant::FromString(simulator().PrimaryBusPath()));
    if (!link.Open())
        return state.SkipWithError("open failed");
    runCommands(state, link);
}

int openRawPrimaryBus(int flags)
{
    int fd = open(simulator().PrimaryBusPath().c_str(), O_RDWR | O_NOCTTY | flags);
    if (fd < 0)
        return -1;
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    return fd;
}

// Reads n bytes, waiting for each part at most timeoutMs as a link must.
bool readAllWithin(int epollSet, int fd, uint8_t* p, size_t n, int timeoutMs)
{
    while (n > 0) {
        epoll_event event;
        if (epoll_wait(epollSet, &event, 1, timeoutMs) <= 0)
            return false;
        ssize_t r = read(fd, p, n);
        if (r <= 0)
            return false;
        p += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

// The plain exchange of the command's frames; readReply reads one reply.
template <class ReadReply>
void exchangePlainPrimary(benchmark::State& state, int fd, ReadReply readReply)
{
    uint8_t seq = 0;
    std::vector<uint8_t> frame;
    uint8_t reply[8];
    for (auto _ : state) {
        const uint8_t payload[] = {0xEC, seq++, kCommand[0], kCommand[1]};
        mcframe::BuildSerialFrame(payload, sizeof payload, frame);
        if (write(fd, frame.data(), frame.size()) != static_cast<ssize_t>(frame.size()) ||
            !readReply(reply, sizeof reply))
            return state.SkipWithError("exchange failed");
    }
    state.SetItemsProcessed(state.iterations());
}

// Blocking reads without a time-out: the fastest exchange, and one no
// program can ship, as a silent crate would hold it for ever.
void BM_PlainPrimary(benchmark::State& state)
{
    int fd = openRawPrimaryBus(0);
    if (fd < 0)
        return state.SkipWithError("open failed");
    exchangePlainPrimary(state, fd, [fd](uint8_t* reply, size_t n) { return bench::ReadFull(fd, reply, n); });
    close(fd);
}

// The same exchange with the wait a time-out needs: epoll, then read.
void BM_PlainPrimaryTimed(benchmark::State& state)
{
    int fd = openRawPrimaryBus(O_NONBLOCK);
    int epollSet = epoll_create1(EPOLL_CLOEXEC);
    epoll_event watch{};
    watch.events = EPOLLIN;
    if (fd < 0 || epollSet < 0 || epoll_ctl(epollSet, EPOLL_CTL_ADD, fd, &watch) != 0)
        return state.SkipWithError("open failed");
    exchangePlainPrimary(state, fd, [fd, epollSet](uint8_t* reply, size_t n) {
        return readAllWithin(epollSet, fd, reply, n, 2000);
    });
    close(epollSet);
    close(fd);
}

}  // namespace

int main(int argc, char** argv)
{
    const int rounds = bench::TakeRounds(argc, argv, 5);
    auto timed = [](benchmark::internal::Benchmark* b) { b->MinTime(0.5)->UseRealTime(); };
    bench::RegisterRounds(rounds, {{"BM_CommandTcp", BM_CommandTcp, timed},
                                   {"BM_PlainTcp", BM_PlainTcp, timed},
                                   {"BM_CommandPrimary", BM_CommandPrimary, timed},
                                   {"BM_PlainPrimary", BM_PlainPrimary, timed},
                                   {"BM_PlainPrimaryTimed", BM_PlainPrimaryTimed, timed}});
    using Kind = bench::Ratio::Kind;
    return bench::RunAndReport(
        argc, argv,
        {{"Tcp: Command / plain round trips", "BM_CommandTcp", "BM_PlainTcp", Kind::Speed, 0.7},
         {"Primary bus: Command / plain round trips", "BM_CommandPrimary", "BM_PlainPrimary", Kind::Speed, 0.85},
         {"Primary bus: Command / plain with time-out", "BM_CommandPrimary", "BM_PlainPrimaryTimed", Kind::Speed,
          0},
         {"Tcp: Command / plain, processor time of the caller", "BM_CommandTcp", "BM_PlainTcp", Kind::Time, 0,
          bench::kThreadCpu},
         {"Primary bus: Command / plain, processor time of the caller", "BM_CommandPrimary", "BM_PlainPrimary",
          Kind::Time, 0, bench::kThreadCpu}});
}
