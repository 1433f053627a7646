// Events per second from the trigger to the serialised run at a TCP client
// of the DAQ server, against the engine's own rate in the same process
// (StartRun, the event read on the interrupt, WaitEvents serialising the
// run) on the same simulated stand with the trigger at full speed.
//
// Runs of 100 events. Each round measures, in an order that alternates:
//   in-process  the engine called directly;
//   1 client    one client sending 0xC1 then 0xC0 and reading the reply whole;
//   4 clients   the same client while three more read registers as fast as
//               they can (the engine serves one request at a time, so runs
//               of several clients would overwrite each other's store).
// Reported: the median over the rounds of each rate and of the per-round
// ratios to the in-process rate. Goal: 1 client >= 0.80.
//
// A shared machine makes single rounds noisy; the median of per-round
// ratios is what to compare. Options: --rounds N (default 15), --runs N
// runs per measurement (default 200).

#include "../tests/daq/DaqClient.h"
#include "base/StdOut.h"
#include "daq/DaqServer.h"
#include "sim/SimVmeStand.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;
constexpr uint32_t kEvents = 100;

class CQuiet : public CStdOut {
public:
    int PrintV(const char*, va_list) override { return 0; }
};

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n == 0 ? 0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

[[noreturn]] void Die(const char* what)
{
    std::fprintf(stderr, "bench_daq_server: %s\n", what);
    std::exit(1);
}

double InProcess(CDaqEngine& engine, int runs)
{
    std::vector<uint32_t> words;
    const auto start = Clock::now();
    for (int r = 0; r < runs; ++r)
        if (!engine.StartRun(kEvents) || !engine.WaitEvents(words) || words.empty())
            Die("in-process run failed");
    return runs * kEvents / std::chrono::duration<double>(Clock::now() - start).count();
}

double OverTcp(CDaqTestClient& client, int runs)
{
    const Bytes startRun = RequestFrame(1, StartRunPayload(kEvents));
    const Bytes collect = RequestFrame(2, {0xC0});
    const auto start = Clock::now();
    for (int r = 0; r < runs; ++r) {
        if (!client.Send(startRun) || client.ReadReply().status != 1000)
            Die("run start over TCP failed");
        if (!client.Send(collect))
            Die("collect over TCP failed");
        const Reply reply = client.ReadReply();
        if (reply.status != 1000 || reply.payload.size() < 1 + 4 * 13 * kEvents)
            Die("collect over TCP failed");
    }
    return runs * kEvents / std::chrono::duration<double>(Clock::now() - start).count();
}

// Three more clients reading a register while `measure` runs.
double WithReaders(uint16_t port, CDaqTestClient& runner, int runs)
{
    std::atomic<bool> stop{false};
    std::atomic<long> reads{0};
    std::vector<std::thread> readers;
    for (int c = 0; c < 3; ++c)
        readers.emplace_back([&] {
            CDaqTestClient reader;
            if (!reader.Connect(port))
                return;
            const Bytes read = RequestFrame(3, ReadRegPayload(1, 0x2E, 0x10));
            while (!stop) {
                if (!reader.Send(read) || reader.ReadReply().status != 1000)
                    return;
                ++reads;
            }
        });
    const double rate = OverTcp(runner, runs);
    stop = true;
    for (auto& t : readers)
        t.join();
    if (reads == 0)
        Die("the register readers got no reply");
    return rate;
}
}  // namespace

int main(int argc, char** argv)
{
    int rounds = 15, runs = 200;
    // Other arguments are the Google Benchmark ones scripts/bench passes to all.
    for (int i = 1; i + 1 < argc; ++i) {
        if (!std::strcmp(argv[i], "--rounds"))
            rounds = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--runs"))
            runs = std::max(1, std::atoi(argv[++i]));
    }
    unsetenv("TELVANE_VME_LIBRARY");
    CSimVmeStand& stand = CSimVmeStand::Global();
    stand.PowerUp();
    stand.SetTriggerDelay(std::chrono::milliseconds(0));

    CQuiet quiet;
    CDaqEngine engine;
    CDaqServer server(engine, quiet);
    ListenSettings listen = CDaqServer::DefaultSettings(0);
    listen.bindAddress = "127.0.0.1";
    if (!server.Open(listen))
        Die("the DAQ server did not open");
    CDaqTestClient client;
    if (!client.Connect(server.Port()))
        Die("no connection to the DAQ server");

    InProcess(engine, runs);  // warm-up
    OverTcp(client, runs);
    std::vector<double> local, one, four, ratioOne, ratioFour;
    for (int round = 0; round < rounds; ++round) {
        double l = 0, o = 0, f = 0;
        // Alternating the order spreads a drift of the machine's load.
        if (round % 2 == 0) {
            l = InProcess(engine, runs);
            o = OverTcp(client, runs);
            f = WithReaders(server.Port(), client, runs);
        } else {
            f = WithReaders(server.Port(), client, runs);
            o = OverTcp(client, runs);
            l = InProcess(engine, runs);
        }
        local.push_back(l);
        one.push_back(o);
        four.push_back(f);
        ratioOne.push_back(o / l);
        ratioFour.push_back(f / l);
        std::printf("round %2d: in-process %8.0f ev/s, 1 client %8.0f ev/s (%.2f), 4 clients %8.0f ev/s (%.2f)\n",
                    round + 1, l, o, o / l, f, f / l);
    }
    server.Close();
    std::printf("median of %d rounds, runs of %u events, %d runs each:\n", rounds, kEvents, runs);
    std::printf("  in-process %.0f ev/s\n", Median(local));
    std::printf("  1 client   %.0f ev/s, ratio %.2f (goal 0.80)\n", Median(one), Median(ratioOne));
    std::printf("  4 clients  %.0f ev/s, ratio %.2f (one running, three reading registers)\n", Median(four),
                Median(ratioFour));
    return 0;
}
