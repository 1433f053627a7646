// Awaited requests per second through the whole console path (send queue,
// send step, link, simulator, receive step, reply to the requester, record
// printed by the traffic box) against the path of `telvane-cli send
// --repeat` (Command on the link, each frame printed by the monitor hook)
// on the same simulated link. Both print the same decoded text to the
// same sink and flush it once per batch. Rounds alternate which path goes
// first; the result is the median of the per-round ratios console / send.
// Goal: at least 0.8.
//
// Usage: bench_console_path [ROUNDS [REQUESTS [console|send|both [tcp|primary]]]];
// with a path or a link named, only that one runs (for profiling it alone).

#include "console/ConnectionEngine.h"
#include "language/VaCompiler.h"
#include "links/TrafficText.h"
#include "sim/SimSystem.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

const uint8_t kCommand[] = {0xED, 0x01};  // ProtectFlash: a short command with a short reply
const std::string kDecodeFile = std::string(TELVANE_SOURCE_DIR) + "/examples/Cb_v126.dec";

// Where both paths print: written and flushed like a terminal.
FILE* nullSink()
{
    static FILE* f = std::fopen("/dev/null", "w");
    return f;
}

class NullTextSink : public CTextSink {
public:
    void Append(std::string_view text) override { std::fwrite(text.data(), 1, text.size(), nullSink()); }
};

class Quiet : public CStdOut {
public:
    int PrintV(const char*, va_list) override { return 0; }
};

void configure(CPortMC_All& link, CSimSystem& sim, int ioType)
{
    link.SetPropertyById(CPortMC_All::kIOType, CVariant::FromInt(ioType));
    if (ioType == CPortMC_All::kPrimary) {
        link.SetProperty("ComName", CVariant::FromString(sim.PrimaryBusPath()));
    } else {
        link.SetProperty("Host", CVariant::FromString("127.0.0.1"));
        link.SetProperty("Port", CVariant::FromUInt16(sim.CrateServerPort()));
        link.SetProperty("CCB ID", CVariant::FromInt(101));
    }
}

// Requests per second through the connection engine as the console drives
// it: requests queued while the send queue has room, and one thread that
// prints the box's records and takes the replies, woken by the replies
// while they are due. 0 on failure.
double consolePath(CSimSystem& sim, int ioType, int requests)
{
    Quiet quiet;
    NullTextSink sink;
    CFifo<_MCDATA> replies(CConnectionEngine::kSendQueueSlots + 2);
    CFifoWr<_MCDATA> replyWriter(replies);
    auto engine = std::make_unique<CConnectionEngine>(quiet);
    CTrafficBox& box = engine->Box();
    box.SetSink(&sink);
    engine->LoadDecodeFile(kDecodeFile);
    configure(engine->Link(), sim, ioType);
    if (!engine->Connect() || !engine->Link().WaitUntilOpen(5000))
        return 0;
    _MCDATA request;
    request.status = 2000;
    request.waitReply = 1;
    request.length = sizeof kCommand;
    std::copy(std::begin(kCommand), std::end(kCommand), request.bytes);

    const auto start = Clock::now();
    int queued = 0, answered = 0;
    bool failed = false;
    // Done when the last reply's line is printed too.
    while (!failed && (answered < requests || !box.Queue().IsEmpty())) {
        while (queued < requests && !engine->IsQueueFull()) {
            engine->Queue(&replyWriter, request);
            ++queued;
        }
        // While replies are due they wake the loop, and the records that
        // came with them are printed in one batch.
        if (answered < queued)
            WaitForAny({CWaitItem::Of(replies.DataEvent())}, 10);
        else
            WaitForAny({CWaitItem::Of(box.Queue().DataEvent()), CWaitItem::Of(engine->QueueSpaceEvent())}, 5000);
        box.Drain();
        std::fflush(nullSink());
        _MCDATA batch[CConnectionEngine::kSendQueueSlots + 1];
        const size_t n = replies.TryRead(batch, std::size(batch));
        for (size_t i = 0; i < n; ++i)
            failed = failed || batch[i].status != 0;
        answered += static_cast<int>(n);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    engine->Disconnect();
    return failed ? 0 : requests / seconds;
}

struct SendPrinter {
    const CTrafficDecoder* decoder;

    static void Hook(void* context, int direction, const uint8_t* bytes, int count)
    {
        auto* p = static_cast<SendPrinter*>(context);
        const std::string text = TrafficText(TrafficRecord(direction, bytes, count), p->decoder, {true, false, 0});
        std::fputs(text.c_str(), nullSink());
    }
};

// Requests per second as `telvane-cli send --repeat` makes them.
double sendPath(CSimSystem& sim, int ioType, int requests, const CTrafficDecoder& decoder)
{
    auto link = std::make_unique<CPortMC_All>();
    configure(*link, sim, ioType);
    if (!link->Open() || !link->WaitUntilOpen(5000))
        return 0;
    SendPrinter printer{&decoder};
    link->SetMonitor(&printer, &SendPrinter::Hook);
    const auto start = Clock::now();
    for (int i = 0; i < requests; ++i) {
        uint8_t reply[256];
        int count = sizeof reply;
        if (!link->Command(kCommand, sizeof kCommand, reply, count, 2000))
            return 0;
        std::fflush(nullSink());
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    link->SetMonitor(nullptr, nullptr);
    link->Close();
    return requests / seconds;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv)
{
    // Rounds of about 0.1 s: shorter ones last only a few scheduler time
    // slices, and a single late wake-up swings their ratio.
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 9;
    const int requests = argc > 2 ? std::atoi(argv[2]) : 2000;
    std::string only = argc > 3 ? argv[3] : "";
    const std::string onlyLink = argc > 4 ? argv[4] : "";
    if (only == "both")
        only = "";
    if (rounds < 1 || requests < 1 || (only != "" && only != "console" && only != "send") ||
        (onlyLink != "" && onlyLink != "tcp" && onlyLink != "primary")) {
        std::fprintf(stderr, "usage: bench_console_path [ROUNDS [REQUESTS [console|send|both [tcp|primary]]]]\n");
        return 2;
    }

    SimConfig config;
    config.crates = {{0, 1, 1, 101, 0, 0x00010019}};
    config.secondaryServer = false;
    config.secondaryBus = false;
    CSimSystem sim(config);
    if (!sim.Start()) {
        std::fprintf(stderr, "simulator did not start\n");
        return 1;
    }
    CVa_Compiler tables;
    tables.Clear();
    if (!tables.Compile(kDecodeFile, false)) {
        std::fprintf(stderr, "%s\n", tables.GetErrorText().c_str());
        return 1;
    }
    const CStructListDecoder decoder(tables.Structs());

    bool allMet = true;
    const std::pair<const char*, int> paths[] = {{"tcp", CPortMC_All::kTcp}, {"primary", CPortMC_All::kPrimary}};
    for (const auto& [name, ioType] : paths) {
        if (onlyLink != "" && onlyLink != name)
            continue;
        std::vector<double> console, send, ratios;
        for (int round = 0; round < rounds; ++round) {
            double c = 1, s = 1;
            if (only == "console") {
                c = consolePath(sim, ioType, requests);
            } else if (only == "send") {
                s = sendPath(sim, ioType, requests, decoder);
            } else if (round % 2 == 0) {
                c = consolePath(sim, ioType, requests);
                s = sendPath(sim, ioType, requests, decoder);
            } else {
                s = sendPath(sim, ioType, requests, decoder);
                c = consolePath(sim, ioType, requests);
            }
            if (c <= 0 || s <= 0) {
                std::fprintf(stderr, "%s: a request failed in round %d\n", name, round + 1);
                return 1;
            }
            console.push_back(c);
            send.push_back(s);
            ratios.push_back(c / s);
        }
        const double ratio = median(ratios);
        const bool met = ratio >= 0.8;
        allMet = allMet && met;
        std::printf("%-8s console %8.0f req/s  send --repeat %8.0f req/s  median ratio %.3f (goal >= 0.8: %s)\n",
                    name, median(console), median(send), ratio, met ? "met" : "NOT met");
        std::printf("         rounds:");
        for (double r : ratios)
            std::printf(" %.2f", r);
        std::printf("\n");
    }
    return allMet ? 0 : 1;
}
