// telvane-cli daq: the DAQ server without the desktop, on the VME adapter
// library named by TELVANE_VME_LIBRARY or on the simulated stand. Runs until
// SIGINT or SIGTERM, then closes the server and the boards.

#include "base/Error.h"
#include "cli/Commands.h"
#include "daq/DaqConsoleLog.h"
#include "daq/DaqServer.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <pthread.h>
#include <string>
#include <string_view>

namespace {

const char kHelp[] =
    "Runs the DAQ server: clients start runs of triggered events, collect them\n"
    "and read or write board registers (TCP, port from ZOraPort, default 38888).\n"
    "\n"
    "  --port N          listen on port N (0: any free port; default ZOraPort)\n"
    "  --bind ADDR       listen on this IPv4 address only (default: every address)\n"
    "  --allow CIDR      let in clients of this network, e.g. 10.1.0.0/16; repeat\n"
    "                    or separate by commas (default: every client)\n"
    "  --max-clients N   refuse connections beyond N open clients (default 16, 0: none)\n"
    "  --set NAME=VALUE  a setting (decimal or 0x hexadecimal):\n";

void printHelp()
{
    std::fputs("usage: telvane-cli ", stdout);
    for (const auto& c : kCliCommands)
        if (c.run == runDaq)
            std::puts(c.usage);
    std::fputs(kHelp, stdout);
    for (const _DAQSETTING& s : CDaqSettings::Table()) {
        // Addresses and register values in hexadecimal, the port and the run limit in decimal.
        const bool hex = std::string_view(s.key).starts_with("PU_") || std::string_view(s.key).ends_with("Addr");
        std::printf(hex ? "                      %-17s %2d bits, default 0x%X\n"
                        : "                      %-17s %2d bits, default %u\n",
                    s.key, s.bits, s.defaultValue);
    }
    std::fputs("The VME adapter library is TELVANE_VME_LIBRARY; unset: the simulated stand.\n", stdout);
}

bool parseCount(const std::string& text, uint32_t max, uint32_t& out)
{
    return ParseSettingValue(text, out) && out <= max;
}

}  // namespace

int runDaq(const Args& args)
{
    CDaqSettings settings;
    ListenSettings listen = CDaqServer::DefaultSettings(0);
    listen.openAccessHint = "use --bind or --allow to limit access";
    int port = -1;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            printHelp();
            return 0;
        }
        if (i + 1 >= args.size())
            return usageError(runDaq);
        const std::string& v = args[++i];
        uint32_t number = 0;
        if (a == "--port") {
            if (!parseCount(v, 0xFFFF, number)) {
                std::fprintf(stderr, "telvane-cli daq: bad port '%s'\n", v.c_str());
                return 2;
            }
            port = static_cast<int>(number);
        } else if (a == "--bind") {
            listen.bindAddress = v;
        } else if (a == "--allow") {
            std::vector<CIpv4Network> networks;
            std::string bad;
            if (!ParseNetworkList(v, networks, bad)) {
                std::fprintf(stderr, "telvane-cli daq: bad network '%s'\n", bad.c_str());
                return 2;
            }
            listen.allowed.insert(listen.allowed.end(), networks.begin(), networks.end());
        } else if (a == "--max-clients") {
            if (!parseCount(v, 0x7FFFFFFF, number)) {
                std::fprintf(stderr, "telvane-cli daq: bad client limit '%s'\n", v.c_str());
                return 2;
            }
            listen.maxClients = static_cast<int>(number);
        } else if (a == "--set") {
            if (!settings.Assign(v)) {
                const bool unknown = GetLastErr() == err::NotFound;
                std::fprintf(stderr, "telvane-cli daq: %s '%s'\n", unknown ? "unknown setting" : "bad value in",
                             v.c_str());
                return 2;
            }
        } else {
            return usageError(runDaq);
        }
    }
    const uint32_t zoraPort = settings.Get(CDaqSettings::ZOraPort);
    if (port < 0 && zoraPort > 0xFFFF) {
        std::fprintf(stderr, "telvane-cli daq: ZOraPort %u is no TCP port\n", zoraPort);
        return 2;
    }
    listen.port = static_cast<uint16_t>(port >= 0 ? port : static_cast<int>(zoraPort));

    // Threads inherit the blocked signals, so only sigwait below sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    const char* library = std::getenv("TELVANE_VME_LIBRARY");
    CDaqConsoleLog log(stdout);
    log.Print("VME adapter: %s\n", library && *library ? library : "simulated stand");
    CDaqEngine engine(settings);
    CDaqServer server(engine, log);
    if (!server.Open(listen))
        return 1;
    log.Print("Listening on %s:%u\n", listen.bindAddress.empty() ? "0.0.0.0" : listen.bindAddress.c_str(),
              server.Port());

    int signal = 0;
    sigwait(&stopSignals, &signal);
    log.Print("%s received\n", signal == SIGINT ? "SIGINT" : "SIGTERM");
    server.Close();
    return 0;
}
