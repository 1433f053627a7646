// "telvane-cli send --repeat N" against a minimal C client
// (minimal_send_client.c) sending the same status command to the same
// simulated crate over TCP, each as a whole process, from start to exit.
// Their output goes to a pipe that the benchmark reads, as a script's would,
// or to a pseudo-terminal. Before timing anything the client's text is
// checked to be the text of "telvane-cli send --raw". The processor time
// the programs take is shown as "cpu".
// Goal: telvane-cli reaches at least 0.9 times the client's commands per
// second, decoded and raw, as the median of per-round ratios.

#include "RoundRatios.h"
#include "Spawn.h"

#include "sim/SimSystem.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <pty.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kCommands = 20000;
constexpr uint16_t kCcbId = 101;
const std::string kCli = std::string(TELVANE_BINARY_DIR) + "/src/cli/telvane-cli";

CSimSystem& Simulator()
{
    static CSimSystem* sim = [] {
        SimConfig c;
        c.crates = {{0, 1, 1, kCcbId, 0, 0x00010019}};
        c.secondaryServer = c.primaryBus = c.secondaryBus = false;
        auto* s = new CSimSystem(c);
        if (!s->Start())
            std::abort();
        // The status carries a running uptime; one fixed reply lets the
        // client's text be compared with telvane-cli's.
        const auto status = s->Board(kCcbId)->Execute(std::vector<uint8_t>{0xEA});
        if (!status)
            std::abort();
        s->Board(kCcbId)->ReplaceAnswer({0xEA}, *status);
        return s;
    }();
    return *sim;
}

enum class Program { Client, Cli, CliRaw };

std::vector<std::string> Command(Program program, int commands)
{
    const std::string port = std::to_string(Simulator().CrateServerPort());
    const std::string count = std::to_string(commands);
    if (program == Program::Client)
        return {MINIMAL_SEND_CLIENT, "127.0.0.1", port, std::to_string(kCcbId), count, "EA"};
    std::vector<std::string> args = {kCli, "send", "--set", "IOType=TCP/IP Port", "--set", "Host=127.0.0.1",
                                     "--set", "Port=" + port, "--set", "CCB ID=" + std::to_string(kCcbId),
                                     "--decode", std::string(TELVANE_SOURCE_DIR) + "/examples/Cb_v126.dec",
                                     "--repeat", count, "EA"};
    if (program == Program::CliRaw)
        args.insert(args.end() - 1, "--raw");
    return args;
}

// Runs the program with its output read from a pipe, or from a
// pseudo-terminal; the text is kept when `text` is given.
bool Run(const std::vector<std::string>& args, bool terminal, double& seconds, std::string* text = nullptr,
         double* cpuSeconds = nullptr)
{
    int readEnd = -1, writeEnd = -1;
    if (terminal) {
        if (openpty(&readEnd, &writeEnd, nullptr, nullptr, nullptr) != 0)
            return false;
        fcntl(readEnd, F_SETFD, FD_CLOEXEC);
        fcntl(writeEnd, F_SETFD, FD_CLOEXEC);
    } else {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return false;
        readEnd = fds[0];
        writeEnd = fds[1];
    }
    std::thread reader([&] {
        char buffer[1 << 16];
        ssize_t n;
        // A pseudo-terminal's master fails with EIO once the program
        // has closed the last slave descriptor.
        while ((n = read(readEnd, buffer, sizeof buffer)) > 0) {
            if (text)
                text->append(buffer, static_cast<size_t>(n));
        }
    });
    const auto start = std::chrono::steady_clock::now();
    const bool ok = bench::RunProgram(args, writeEnd, cpuSeconds);
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    close(writeEnd);
    reader.join();
    close(readEnd);
    return ok;
}

// The client prints what "send --raw" prints, but for its closing line of
// round-trip times.
bool SameTextAsRaw()
{
    double seconds;
    std::string client, raw;
    if (!Run(Command(Program::Client, 3), false, seconds, &client) ||
        !Run(Command(Program::CliRaw, 3), false, seconds, &raw))
        return false;
    const size_t last = raw.rfind("round trip:");
    return !client.empty() && last != std::string::npos && raw.substr(0, last) == client;
}

void Send(benchmark::State& state, Program program, bool terminal)
{
    static const bool same = SameTextAsRaw();
    if (!same)
        return state.SkipWithError("the client's text differs from that of telvane-cli send --raw");
    const std::vector<std::string> args = Command(program, kCommands);
    double cpu = 0;
    for (auto _ : state) {
        double seconds = 0, processor = 0;
        if (!Run(args, terminal, seconds, nullptr, &processor))
            return state.SkipWithError(("failed: " + args[0]).c_str());
        state.SetIterationTime(seconds);
        cpu += processor;
    }
    state.SetItemsProcessed(state.iterations() * kCommands);
    state.counters["cpu"] = benchmark::Counter(cpu, benchmark::Counter::kAvgIterations);
}

void BM_Client(benchmark::State& state) { Send(state, Program::Client, false); }
void BM_Cli(benchmark::State& state) { Send(state, Program::Cli, false); }
void BM_CliRaw(benchmark::State& state) { Send(state, Program::CliRaw, false); }
void BM_ClientTerminal(benchmark::State& state) { Send(state, Program::Client, true); }
void BM_CliTerminal(benchmark::State& state) { Send(state, Program::Cli, true); }

}  // namespace

int main(int argc, char** argv)
{
    const int rounds = bench::TakeRounds(argc, argv, 9);
    auto once = [](benchmark::internal::Benchmark* b) {
        b->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
    };
    bench::RegisterRounds(rounds, {{"BM_Client", BM_Client, once},
                                   {"BM_Cli", BM_Cli, once},
                                   {"BM_CliRaw", BM_CliRaw, once},
                                   {"BM_ClientTerminal", BM_ClientTerminal, once},
                                   {"BM_CliTerminal", BM_CliTerminal, once}});
    using Kind = bench::Ratio::Kind;
    return bench::RunAndReport(
        argc, argv,
        {{"send, decoded: telvane-cli / C client, speed", "BM_Cli", "BM_Client", Kind::Speed, 0.9},
         {"send --raw: telvane-cli / C client, speed", "BM_CliRaw", "BM_Client", Kind::Speed, 0.9},
         {"send, decoded, on a terminal: telvane-cli / C client, speed", "BM_CliTerminal", "BM_ClientTerminal",
          Kind::Speed, 0.9},
         {"send, decoded: telvane-cli / C client, processor time", "BM_Cli", "BM_Client", Kind::Time, 0, "cpu"},
         {"send --raw: telvane-cli / C client, processor time", "BM_CliRaw", "BM_Client", Kind::Time, 0, "cpu"}});
}
