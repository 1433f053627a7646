// Requests per second of 16-byte crate commands from TCP clients through
// the relay to a simulated crate on the primary bus (a pseudo-terminal),
// against ser2net relaying the same bus for a client that frames the bus
// bytes itself, and against that client talking to the pseudo-terminal
// directly. Every path has its own simulated crate, so that no two readers
// share a bus.
//
// Rounds interleave the measurements (their order rotates), and each goal
// is judged on the median of the per-round ratios, as load on a shared
// machine changes faster than one measurement runs.
// Goals: the relay with 1 client >= 0.8 x ser2net; 8 clients together
// >= 0.9 x the relay's 1-client rate; 7 clients with a stalled 8th (it
// sent requests and reads no replies, and the relay has stopped taking
// them) >= 0.9 x the same 7 clients alone.
//
// Usage: bench_relay_requests [--rounds N] [--seconds S]

#include "FdLoops.h"

#include "links/PortMCFrame.h"
#include "relay/RelayServer.h"
#include "sim/SimSystem.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <utility>
#include <memory>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    Fd(Fd&& o) noexcept : m_fd(std::exchange(o.m_fd, -1)) {}
    Fd& operator=(Fd&&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

sockaddr_in loopback(uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// A port nobody listens on: bound briefly, then released.
uint16_t freePort()
{
    Fd s(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a = loopback(0);
    socklen_t size = sizeof a;
    if (bind(s.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        getsockname(s.get(), reinterpret_cast<sockaddr*>(&a), &size) != 0)
        return 0;
    return ntohs(a.sin_port);
}

constexpr uint16_t kCcbid = 101;
// Writes 12 bytes into RAM: 16 command bytes with a 2-byte reply.
const Bytes kCommand = {0xFE, 0x00, 0x10, 0x00, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};

class NullOut : public CStdOut {
public:
    int PrintV(const char*, va_list) override { return 0; }
};

std::unique_ptr<CSimSystem> startSimulator()
{
    SimConfig c;
    c.crates = {{0, 1, 1, kCcbid, 0, 0x00010019}};
    c.crateServer = false;
    c.secondaryServer = false;
    c.secondaryBus = false;
    auto sim = std::make_unique<CSimSystem>(c);
    if (!sim->Start()) {
        std::fprintf(stderr, "simulator did not start\n");
        std::exit(1);
    }
    return sim;
}

// One request and its reply; false when the exchange failed.
using Exchange = std::function<bool(uint8_t sequence)>;

bool writeAll(int fd, const Bytes& b) { return send(fd, b.data(), b.size(), MSG_NOSIGNAL) == ssize_t(b.size()); }

// A client that frames the bus bytes itself (direct pseudo-terminal, ser2net).
Exchange busClient(int fd, bool socket)
{
    return [fd, socket](uint8_t seq) {
        Bytes payload = {mcframe::kHeader, seq};
        payload.insert(payload.end(), kCommand.begin(), kCommand.end());
        Bytes frame;
        mcframe::BuildSerialFrame(payload.data(), int(payload.size()), frame);
        const bool written = socket ? writeAll(fd, frame) : write(fd, frame.data(), frame.size()) == ssize_t(frame.size());
        uint8_t reply[8];  // 0x55, N, 0xEC, sequence, 0xFC, 0xFE, CRC
        return written && bench::ReadFull(fd, reply, sizeof reply) && reply[3] == seq;
    };
}

// A client of the crate server protocol.
Exchange relayClient(int fd)
{
    return [fd](uint8_t seq) {
        Bytes payload = {mcframe::kHeader, seq};
        payload.insert(payload.end(), kCommand.begin(), kCommand.end());
        const auto head = mcframe::BuildTcpHead(kCcbid, uint32_t(payload.size()), 1000);
        Bytes frame(head.begin(), head.end());
        frame.insert(frame.end(), payload.begin(), payload.end());
        uint8_t reply[12 + 4];
        return writeAll(fd, frame) && bench::ReadFull(fd, reply, sizeof reply) && reply[13] == seq;
    };
}

// Completed exchanges per second of all clients together.
double measure(const std::vector<Exchange>& clients, double seconds)
{
    std::atomic<bool> go{false};
    std::atomic<long> total{0};
    std::atomic<bool> failed{false};
    const auto until = [&] {
        return Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    };
    Clock::time_point deadline{};
    std::vector<std::thread> threads;
    for (const Exchange& e : clients) {
        threads.emplace_back([&, e] {
            while (!go)
                std::this_thread::yield();
            long done = 0;
            uint8_t seq = 0;
            while (Clock::now() < deadline) {
                if (!e(seq++)) {
                    failed = true;
                    break;
                }
                ++done;
            }
            total += done;
        });
    }
    deadline = until();
    go = true;
    for (auto& t : threads)
        t.join();
    if (failed) {
        std::fprintf(stderr, "an exchange failed\n");
        std::exit(1);
    }
    return double(total) / seconds;
}

Fd connectTo(uint16_t port)
{
    for (int i = 0; i < 100; ++i) {
        Fd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        const sockaddr_in a = loopback(port);
        if (connect(fd.get(), reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0) {
            const int one = 1;
            setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            return fd;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::fprintf(stderr, "cannot connect to port %u\n", port);
    std::exit(1);
}

// ser2net relaying one pseudo-terminal on a loopback port, without the
// wait after each character that its default configuration adds.
class Ser2net {
public:
    Ser2net(const std::string& device, uint16_t port)
    {
        const std::string config[] = {
            "connection: &bench",
            "  accepter: tcp,127.0.0.1," + std::to_string(port),
            "  connector: serialdev," + device + ",38400n81,local",
            "  options:",
            "    chardelay: false",
        };
        std::vector<std::string> args = {"ser2net", "-n", "-u", "-P", "/tmp/bench-relay-ser2net.pid"};
        for (const auto& line : config) {
            args.push_back("-Y");
            args.push_back(line);
        }
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        if (posix_spawnp(&m_pid, "ser2net", &actions, nullptr, argv.data(), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Ser2net()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
    }
    bool Running() const { return m_pid > 0; }

private:
    pid_t m_pid = -1;
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Connects a client that floods reads with long replies and never reads
// them; returns once the relay has stopped taking its requests (its
// replies fill the sockets' buffers). Until then the relay serves it like
// any other client: the requests already in the sockets' buffers count as
// sent.
Fd stallClient(CRelayServer& relay)
{
    Fd fd = connectTo(relay.ListeningPort());
    sockaddr_in local{};
    socklen_t size = sizeof local;
    getsockname(fd.get(), reinterpret_cast<sockaddr*>(&local), &size);
    const std::string title = "127.0.0.1:" + std::to_string(ntohs(local.sin_port));
    const Bytes read = {mcframe::kHeader, 0, 0xF5, 0x00, 0x10, 0x00, 0x00, 0x00, 230};
    const auto head = mcframe::BuildTcpHead(kCcbid, uint32_t(read.size()), 1000);
    Bytes frame(head.begin(), head.end());
    frame.insert(frame.end(), read.begin(), read.end());
    auto taken = [&] {
        for (const auto& c : relay.Clients())
            if (c->title == title)
                return c->receivedBytes.load();
        return 0u;
    };
    auto lastProgress = Clock::now();
    uint32_t lastTaken = 0;
    size_t sent = 0;
    while (Clock::now() - lastProgress < std::chrono::milliseconds(200)) {
        const ssize_t n = send(fd.get(), frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0)
            sent = (sent + size_t(n)) % frame.size();
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (const uint32_t now = taken(); now != lastTaken) {
            lastTaken = now;
            lastProgress = Clock::now();
        }
    }
    return fd;
}

}  // namespace

int main(int argc, char** argv)
{
    int rounds = 7;
    double seconds = 1.0;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--rounds"))
            rounds = std::max(1, std::atoi(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--seconds"))
            seconds = std::max(0.1, std::atof(argv[i + 1]));
    }
    std::signal(SIGPIPE, SIG_IGN);

    auto directSim = startSimulator(), ser2netSim = startSimulator(), relaySim = startSimulator();

    Fd direct(open(directSim->PrimaryBusPath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    termios t{};
    tcgetattr(direct.get(), &t);
    cfmakeraw(&t);
    tcsetattr(direct.get(), TCSANOW, &t);

    const uint16_t ser2netPort = freePort();
    Ser2net ser2net(ser2netSim->PrimaryBusPath(), ser2netPort);
    if (!ser2net.Running()) {
        std::fprintf(stderr, "ser2net did not start (scripts/setup installs it)\n");
        return 1;
    }
    Fd ser2netClient = connectTo(ser2netPort);

    NullOut quiet;
    CRelayServer relay(quiet);
    relay.Link().SetPropertyById(CPortMC_All::kIOType, CVariant::FromInt(CPortMC_All::kPrimary));
    relay.Link().SetProperty("ComName", CVariant::FromString(relaySim->PrimaryBusPath()));
    relay.Settings().SetProperty("ServerPort", CVariant::FromInt(0));
    relay.Settings().SetProperty("BindAddress", CVariant::FromString("127.0.0.1"));
    if (!relay.Connect()) {
        std::fprintf(stderr, "relay did not start\n");
        return 1;
    }
    std::vector<Fd> relayFds;
    for (int i = 0; i < 8; ++i)
        relayFds.push_back(connectTo(relay.ListeningPort()));
    auto relayClients = [&](int n) {
        std::vector<Exchange> v;
        for (int i = 0; i < n; ++i)
            v.push_back(relayClient(relayFds[size_t(i)].get()));
        return v;
    };

    struct Measurement {
        const char* name;
        std::function<double()> run;
        std::vector<double> rates;
    };
    double window = 0.2;  // a short warm-up of every path first, not counted
    std::vector<Measurement> m = {
        {"direct pty, 1 client", [&] { return measure({busClient(direct.get(), false)}, window); }, {}},
        {"ser2net, 1 client", [&] { return measure({busClient(ser2netClient.get(), true)}, window); }, {}},
        {"relay, 1 client", [&] { return measure(relayClients(1), window); }, {}},
        {"relay, 8 clients", [&] { return measure(relayClients(8), window); }, {}},
        {"relay, 7 clients", [&] { return measure(relayClients(7), window); }, {}},
        {"relay, 7 clients + 1 stalled",
         [&] {
             Fd stalled = stallClient(relay);
             return measure(relayClients(7), window);
         },
         {}},
    };
    for (auto& x : m)
        x.run();
    window = seconds;

    std::printf("%-30s", "round");
    for (const auto& x : m)
        std::printf(" | %s", x.name);
    std::printf("\n");
    for (int r = 0; r < rounds; ++r) {
        std::vector<double> rates(m.size());
        for (size_t k = 0; k < m.size(); ++k) {
            const size_t i = (k + size_t(r)) % m.size();
            rates[i] = m[i].run();
            m[i].rates.push_back(rates[i]);
        }
        std::printf("%-30d", r + 1);
        for (double x : rates)
            std::printf(" | %8.0f/s", x);
        std::printf("\n");
    }

    auto ratios = [&](size_t a, size_t b) {
        std::vector<double> v;
        for (int r = 0; r < rounds; ++r)
            v.push_back(m[a].rates[size_t(r)] / m[b].rates[size_t(r)]);
        return median(v);
    };
    struct Goal {
        const char* what;
        double ratio;
        double goal;
    } goals[] = {
        {"ser2net / direct pty (context, no goal)", ratios(1, 0), 0},
        {"relay 1 client / ser2net", ratios(2, 1), 0.8},
        {"relay 8 clients / relay 1 client", ratios(3, 2), 0.9},
        {"7 clients with a stalled 8th / 7 alone", ratios(5, 4), 0.9},
    };
    std::printf("\nmedian of per-round ratios over %d rounds of %.1f s:\n", rounds, seconds);
    int missed = 0;
    for (const auto& g : goals) {
        if (g.goal > 0) {
            const bool met = g.ratio >= g.goal;
            missed += !met;
            std::printf("  %-42s %5.2f  (goal >= %.1f: %s)\n", g.what, g.ratio, g.goal, met ? "met" : "NOT met");
        } else {
            std::printf("  %-42s %5.2f\n", g.what, g.ratio);
        }
    }
    relay.Disconnect();
    return missed ? 2 : 0;
}
