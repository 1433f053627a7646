// Updating N simulated crates at once with a 256 KiB flash image (write and
// verify) over the crate server, N = 1, 8 and 32, and one crate's update
// against the same chunks sent as plain link commands one after the other.
// Each simulated board takes --answer-ms (default 1) to carry out a command,
// as a real board does. Rounds run the four measurements in a shuffled
// order; the medians of the per-round ratios are reported.
// Goals: N = 32 within 1.5 times N = 1; one crate at least 0.7 times the
// byte rate of the plain commands.
//
// usage: bench_firmware_update [--rounds R] [--answer-ms MS]

#include "firmware/FirmUpdate.h"
#include "sim/SimSystem.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kFlash = 0x80000;
constexpr size_t kImageBytes = 256 * 1024;
constexpr int kMaxCrates = 32;

class CNoHost : public CFirmHost {
public:
    std::string AppValue(const char*, const std::string& fallback) override { return fallback; }
    void SetAppValue(const char*, const std::string&) override {}
    bool AskFolder(const std::string&, const std::string&, CEvent&, std::string&) override { return false; }
};

std::string SRecordLine(uint32_t address, const uint8_t* data, size_t n)
{
    const unsigned count = static_cast<unsigned>(n) + 4;
    unsigned sum = count + (address >> 16 & 0xFF) + (address >> 8 & 0xFF) + (address & 0xFF);
    char head[16];
    std::snprintf(head, sizeof head, "S2%02X%06X", count, address);
    std::string line = head;
    for (size_t i = 0; i < n; ++i) {
        char byte[3];
        std::snprintf(byte, sizeof byte, "%02X", data[i]);
        line += byte;
        sum += data[i];
    }
    char tail[8];
    std::snprintf(tail, sizeof tail, "%02X\r\n", ~sum & 0xFF);
    return line + tail;
}

std::string WriteImage()
{
    std::vector<uint8_t> image(kImageBytes);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>((i * 13 + 5) % 251);
    char path[] = "/tmp/bench-firmware-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0)
        std::abort();
    std::string text;
    for (size_t at = 0; at < image.size(); at += 32)
        text += SRecordLine(kFlash + static_cast<uint32_t>(at), &image[at], 32);
    if (write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        std::abort();
    close(fd);
    return path;
}

void TcpLink(CPortMC_All& link, uint16_t port)
{
    link.SetPropertyById(CPortMC_All::kIOType, CVariant::FromInt(CPortMC_All::kTcp));
    link.SetProperty("Host", CVariant::FromString("127.0.0.1"));
    link.SetProperty("Port", CVariant::FromUInt16(port));
}

// Wall time until every destination row has finished "OK".
double UpdateSeconds(CSimSystem& sim, const std::string& image, int crates)
{
    CNoHost host;
    CPortMC_All link;
    TcpLink(link, sim.CrateServerPort());
    _FIRMSETTINGS s;
    s.getFirmwareFile = 1;
    s.firmwareFile = image;
    s.firmVerify = true;
    s.rdSecSize = 128;
    s.mcReset = false;  // the next round finds the board running, not busy after a reset
    for (int i = 0; i < crates; ++i)
        s.destinations.push_back(static_cast<uint16_t>(101 + i));
    CFirmUpdate update("bench", nullptr, host);
    const auto t0 = Clock::now();
    if (update.Start(s, link) != CFirmUpdate::StartResult::Started)
        std::abort();
    for (;;) {
        bool done = true;
        for (size_t i = 1; i < update.RowCount(); ++i)
            done = done && update.Row(i).IsFinished();
        if (done)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    for (size_t i = 1; i < update.RowCount(); ++i) {
        if (update.Row(i).GetState() != "OK") {
            std::fprintf(stderr, "crate row %zu ended \"%s\"\n", i, update.Row(i).GetState().c_str());
            std::exit(1);
        }
    }
    return seconds;
}

// The same chunks as plain commands: write halves of 256-byte chunks, then
// 128-byte reads.
double PlainCommandSeconds(CSimSystem& sim)
{
    CPortMC_All link;
    TcpLink(link, sim.CrateServerPort());
    link.SetProperty("CCB ID", CVariant::FromInt(101));
    const auto t0 = Clock::now();
    if (!link.Open() || !link.WaitUntilOpen(5000))
        std::abort();
    uint8_t request[4 + 256], reply[256];
    auto send = [&](int count) {
        int n = sizeof reply;
        if (!link.Command(request, count, reply, n, 5000))
            std::abort();
    };
    const uint8_t unprotect[] = {0xED, 0x00};
    std::memcpy(request, unprotect, sizeof unprotect);
    send(2);
    for (uint32_t at = 0; at < kImageBytes; at += 128) {
        const uint32_t a = kFlash + at;
        request[0] = 0xF3;
        request[1] = static_cast<uint8_t>(a >> 16);
        request[2] = static_cast<uint8_t>(a >> 8);
        request[3] = static_cast<uint8_t>(a);
        std::memset(request + 4, 0x5A, 128);
        send(4 + 128);
    }
    for (uint32_t at = 0; at < kImageBytes; at += 128) {
        const uint32_t a = kFlash + at;
        const uint8_t read[] = {0xF5, static_cast<uint8_t>(a >> 16), static_cast<uint8_t>(a >> 8),
                                static_cast<uint8_t>(a), 0, 0, 128};
        std::memcpy(request, read, sizeof read);
        send(sizeof read);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    link.Close();
    return seconds;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv)
{
    int rounds = 5;
    int answerMs = 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--rounds"))
            rounds = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--answer-ms"))
            answerMs = std::atoi(argv[i + 1]);
    }
    SimConfig config;
    for (int i = 0; i < kMaxCrates; ++i)
        config.crates.push_back({0, 1 + i % 12, 1 + i % 5, static_cast<uint16_t>(101 + i), 0, 0x00010019});
    config.timing = SimTiming{2000, 1000, answerMs};
    config.secondaryServer = config.primaryBus = config.secondaryBus = false;
    CSimSystem sim(config);
    if (!sim.Start())
        return 1;
    const std::string image = WriteImage();

    std::printf("256 KiB flash image, write and verify, board answer time %d ms, %d rounds\n", answerMs, rounds);
    std::vector<double> t1s, t8s, t32s, plains, parallelRatios, rateRatios;
    std::mt19937 shuffle(12345);
    for (int round = 0; round < rounds; ++round) {
        int order[] = {0, 1, 2, 3};
        std::shuffle(std::begin(order), std::end(order), shuffle);
        double t[4] = {};
        for (int which : order)
            t[which] = which == 3 ? PlainCommandSeconds(sim) : UpdateSeconds(sim, image, which == 0 ? 1 : which == 1 ? 8 : 32);
        t1s.push_back(t[0]);
        t8s.push_back(t[1]);
        t32s.push_back(t[2]);
        plains.push_back(t[3]);
        parallelRatios.push_back(t[2] / t[0]);
        rateRatios.push_back(t[3] / t[0]);
        std::printf("round %d: N=1 %.2f s, N=8 %.2f s, N=32 %.2f s, plain commands %.2f s\n", round + 1, t[0], t[1],
                    t[2], t[3]);
        std::fflush(stdout);
    }
    std::remove(image.c_str());
    std::printf("median wall time: N=1 %.2f s, N=8 %.2f s, N=32 %.2f s\n", Median(t1s), Median(t8s), Median(t32s));
    std::printf("median N=32 / N=1: %.2f (goal <= 1.5)\n", Median(parallelRatios));
    std::printf("one crate: %.0f image bytes/s, plain commands %.0f bytes/s; median rate ratio %.2f (goal >= 0.7)\n",
                kImageBytes / Median(t1s), kImageBytes / Median(plains), Median(rateRatios));
    return 0;
}
