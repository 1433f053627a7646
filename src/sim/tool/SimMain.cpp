// telvane-sim: simulated crates for trying Telvane without hardware.

#include "base/Error.h"
#include "base/NumberText.h"
#include "base/OpenFiles.h"
#include "daq/DaqConsoleLog.h"
#include "daq/DaqServer.h"
#include "sim/SimCanOptions.h"
#include "sim/SimSystem.h"
#include "sim/SimVmeOptions.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kUsage[] =
    "usage: telvane-sim [OPTIONS]\n"
    "  --crate WHEEL:SECTOR:TYPE:CCBID[:VERSION]  a simulated crate, e.g. YB0:S1:MB1:101:1.25\n"
    "                                  (VERSION major.minor, or 0 for erased flash; default 1.25)\n"
    "  --tcp-port N         crate server port (default 0: any free port)\n"
    "  --secondary-port N   port of the crate server reaching boards by secondary address\n"
    "  --no-tcp, --no-secondary-tcp, --no-primary, --no-secondary   leave a front end out\n"
    "  --catalogue FILE     write the crate catalogue of the simulated crates to FILE\n"
    "  --reset-ms MS        busy time after a reset (default 2000)\n"
    "  --autostart-ms MS    boot loader's wait before starting the flash firmware (default 1000)\n"
    "  --fault CCBID:KIND[:COUNT]  KIND lost, late, crc, noise, stale, busy or drop;\n"
    "                       COUNT answers affected (default -1: all)\n"
    "  --late-ms MS         delay of late answers (default 3000)\n";

int wheelValue(const std::string& t)
{
    static const char* names[] = {"YB-2", "YB-1", "YB0", "YB+1", "YB+2"};
    for (int i = 0; i < 5; ++i)
        if (strcasecmp(t.c_str(), names[i]) == 0)
            return i - 2;
    return 99;
}

int prefixed(const std::string& t, const char* prefix)
{
    size_t n = std::strlen(prefix);
    if (strncasecmp(t.c_str(), prefix, n) != 0 || t.size() == n)
        return -1;
    return ParseNumberText(t.substr(n));
}

std::vector<std::string> split(const std::string& s)
{
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        size_t p = s.find(':', start);
        out.push_back(s.substr(start, p - start));
        if (p == std::string::npos)
            return out;
        start = p + 1;
    }
}

uint32_t versionValue(const std::string& t)
{
    size_t dot = t.find('.');
    if (dot == std::string::npos)
        return static_cast<uint32_t>(ParseNumberText(t));
    return (static_cast<uint32_t>(ParseNumberText(t.substr(0, dot))) << 16) |
           (static_cast<uint32_t>(ParseNumberText(t.substr(dot + 1))) & 0xFFFF);
}

std::string versionText(uint32_t v)
{
    return v == 0 ? "erased" : std::to_string(v >> 16) + "." + std::to_string(v & 0xFFFF);
}

bool parseCrate(const std::string& text, SimCrateSpec& crate)
{
    auto f = split(text);
    if (f.size() < 4 || f.size() > 5)
        return false;
    crate.wheel = wheelValue(f[0]);
    crate.sector = prefixed(f[1], "S");
    crate.type = prefixed(f[2], "MB");
    int id = ParseNumberText(f[3]);
    if (crate.wheel == 99 || crate.sector < 1 || crate.sector > 12 || crate.type < 1 || crate.type > 5 || id <= 0 ||
        id > 0xFFFF)
        return false;
    crate.ccbid = static_cast<uint16_t>(id);
    if (f.size() == 5)
        crate.version = versionValue(f[4]);
    return true;
}

struct FaultArg {
    uint16_t ccbid;
    SimFault fault;
    int count;
};

bool parseFault(const std::string& text, FaultArg& out)
{
    static const std::pair<const char*, SimFault> kinds[] = {
        {"lost", SimFault::LostReply}, {"late", SimFault::LateReply},         {"crc", SimFault::BadCrc},
        {"noise", SimFault::Noise},    {"stale", SimFault::StaleSequence},    {"busy", SimFault::Busy},
        {"drop", SimFault::DropConnection}};
    auto f = split(text);
    if (f.size() < 2 || f.size() > 3)
        return false;
    out.ccbid = static_cast<uint16_t>(ParseNumberText(f[0]));
    out.count = f.size() == 3 ? ParseNumberText(f[2]) : -1;
    for (const auto& k : kinds) {
        if (f[1] == k.first) {
            out.fault = k.second;
            return true;
        }
    }
    return false;
}

int usage()
{
    std::fputs(kUsage, stderr);
    std::fputs(kSimCanUsage, stderr);
    std::fputs(kSimVmeUsage, stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    RaiseOpenFileLimit();
    SimConfig config;
    SimCanConfig canConfig;
    SimVmeConfig vmeConfig;
    std::string catalogue;
    std::vector<FaultArg> faults;
    int lateMs = -1;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc)
                return false;
            out = argv[++i];
            return true;
        };
        std::string v;
        if (int taken = ParseSimCanOption(argc, argv, i, canConfig); taken != 0) {
            if (taken < 0)
                return usage();
        } else if (int vmeTaken = ParseSimVmeOption(argc, argv, i, vmeConfig); vmeTaken != 0) {
            if (vmeTaken < 0)
                return usage();
        } else if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            std::fputs(kSimCanUsage, stdout);
            std::fputs(kSimVmeUsage, stdout);
            return 0;
        } else if (a == "--no-tcp") {
            config.crateServer = false;
        } else if (a == "--no-secondary-tcp") {
            config.secondaryServer = false;
        } else if (a == "--no-primary") {
            config.primaryBus = false;
        } else if (a == "--no-secondary") {
            config.secondaryBus = false;
        } else if (!value(v)) {
            return usage();
        } else if (a == "--crate") {
            SimCrateSpec crate;
            if (!parseCrate(v, crate)) {
                std::fprintf(stderr, "telvane-sim: bad crate '%s'\n", v.c_str());
                return usage();
            }
            config.crates.push_back(crate);
        } else if (a == "--tcp-port") {
            config.crateServerPort = static_cast<uint16_t>(ParseNumberText(v));
        } else if (a == "--secondary-port") {
            config.secondaryServerPort = static_cast<uint16_t>(ParseNumberText(v));
        } else if (a == "--catalogue") {
            catalogue = v;
        } else if (a == "--reset-ms") {
            config.timing.resetBusyMs = ParseNumberText(v);
        } else if (a == "--autostart-ms") {
            config.timing.autoStartMs = ParseNumberText(v);
        } else if (a == "--late-ms") {
            lateMs = ParseNumberText(v);
        } else if (a == "--fault") {
            FaultArg f;
            if (!parseFault(v, f)) {
                std::fprintf(stderr, "telvane-sim: bad fault '%s'\n", v.c_str());
                return usage();
            }
            faults.push_back(f);
        } else {
            return usage();
        }
    }
    if (config.crates.empty()) {
        config.crates = {{0, 1, 1, 101, 0, 0x00010019}, {0, 1, 2, 102, 0, 0x00010018}, {0, 2, 1, 103, 0, 0}};
    }

    // Threads inherit the blocked signals, so only sigwait below sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    CSimSystem sim(config);
    for (const auto& f : faults) {
        CSimBoard* board = sim.Board(f.ccbid);
        if (!board) {
            std::fprintf(stderr, "telvane-sim: no crate with ccbid %u\n", f.ccbid);
            return 2;
        }
        board->Faults().Set(f.fault, f.count);
        if (lateMs >= 0)
            board->Faults().SetLateMs(lateMs);
    }
    if (!sim.Start()) {
        std::fputs(formatErrorText("telvane-sim: start failed:", GetLastErr()).c_str(), stderr);
        return 1;
    }
    canConfig.address = sim.Config().address;
    CSimCanSystem can(sim, canConfig);
    if (!can.Start()) {
        std::fputs(formatErrorText("telvane-sim: CAN start failed:", GetLastErr()).c_str(), stderr);
        return 1;
    }
    const std::string& host = sim.Config().address;
    if (sim.CrateServerPort())
        std::printf("crate-server %s:%u\n", host.c_str(), sim.CrateServerPort());
    if (sim.SecondaryServerPort())
        std::printf("secondary-server %s:%u\n", host.c_str(), sim.SecondaryServerPort());
    if (!sim.PrimaryBusPath().empty())
        std::printf("primary-bus %s ccbid %u\n", sim.PrimaryBusPath().c_str(), config.crates.front().ccbid);
    if (!sim.SecondaryBusPath().empty())
        std::printf("secondary-bus %s\n", sim.SecondaryBusPath().c_str());
    for (const auto& c : sim.Config().crates) {
        std::printf("crate YB%s%d S%d MB%d ccbid %u secondary %u version %s\n", c.wheel > 0 ? "+" : "", c.wheel,
                    c.sector, c.type, c.ccbid, CSimSystem::SecondaryAddress(c.sector, c.ccbid),
                    versionText(c.version).c_str());
    }
    PrintSimCanListening(can, stdout);
    // The DAQ server logs to standard error: standard output is for the
    // lines above, which scripts read.
    CDaqConsoleLog daqLog(stderr);
    CDaqEngine daqEngine;
    CDaqServer daqServer(daqEngine, daqLog);
    if (vmeConfig.daqPort >= 0) {
        ApplySimVmeConfig(vmeConfig, CSimVmeStand::Global());
        ListenSettings listen = CDaqServer::DefaultSettings(static_cast<uint16_t>(vmeConfig.daqPort));
        listen.bindAddress = host;
        if (!daqServer.Open(listen)) {
            std::fputs("telvane-sim: DAQ server did not open\n", stderr);
            return 1;
        }
        std::printf("daq-server %s:%u\n", host.c_str(), daqServer.Port());
    }
    if (!catalogue.empty()) {
        if (!sim.WriteCatalogue(catalogue)) {
            std::fputs(formatErrorText("telvane-sim: catalogue not written:", GetLastErr()).c_str(), stderr);
            return 1;
        }
        std::printf("catalogue %s\n", catalogue.c_str());
    }
    std::printf("ready\n");
    std::fflush(stdout);

    int sig = 0;
    sigwait(&stopSignals, &sig);
    daqServer.Close();
    sim.Stop();
    std::printf("stopped\n");
    return 0;
}
