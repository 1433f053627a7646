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

void printSettingsHelp(FILE* out)
{
    std::fputs("\nSettings for --set (decimal or 0x hexadecimal):\n", out);
    for (const _DAQSETTING& s : CDaqSettings::Table()) {
        // Addresses and register values in hexadecimal, the port and the run limit in decimal.
        const bool hex = std::string_view(s.key).starts_with("PU_") || std::string_view(s.key).ends_with("Addr");
        std::fprintf(out, hex ? "  %-17s %2d bits, default 0x%X\n" : "  %-17s %2d bits, default %u\n", s.key,
                     s.bits, s.defaultValue);
    }
    std::fputs("The VME adapter library is TELVANE_VME_LIBRARY; unset: the simulated stand.\n", out);
}

bool parseCount(const std::string& text, uint32_t max, uint32_t& out)
{
    return ParseSettingValue(text, out) && out <= max;
}

int runDaq(const CliArgs& args)
{
    CDaqSettings settings;
    ListenSettings listen = CDaqServer::DefaultSettings(0);
    listen.openAccessHint = "use --bind or --allow to limit access";
    int port = -1;
    uint32_t number = 0;
    if (const std::string* v = args.Value("--port")) {
        if (!parseCount(*v, 0xFFFF, number))
            return UsageFail(kDaqCommand, "--port: '%s' is not a TCP port", v->c_str());
        port = static_cast<int>(number);
    }
    if (const std::string* v = args.Value("--bind"))
        listen.bindAddress = *v;
    for (const std::string& v : args.Values("--allow")) {
        std::vector<CIpv4Network> networks;
        std::string bad;
        if (!ParseNetworkList(v, networks, bad))
            return UsageFail(kDaqCommand, "--allow: '%s' is not a network", bad.c_str());
        listen.allowed.insert(listen.allowed.end(), networks.begin(), networks.end());
    }
    if (const std::string* v = args.Value("--max-clients")) {
        if (!parseCount(*v, 0x7FFFFFFF, number))
            return UsageFail(kDaqCommand, "--max-clients: '%s' is not a client count", v->c_str());
        listen.maxClients = static_cast<int>(number);
    }
    for (const std::string& v : args.Values("--set")) {
        if (!settings.Assign(v)) {
            const bool unknown = GetLastErr() == err::NotFound;
            return UsageFail(kDaqCommand, "--set: %s '%s'", unknown ? "unknown setting" : "bad value in", v.c_str());
        }
    }
    const uint32_t zoraPort = settings.Get(CDaqSettings::ZOraPort);
    if (port < 0 && zoraPort > 0xFFFF) {
        return UsageFail(kDaqCommand, "ZOraPort %u is no TCP port", zoraPort);
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
        return kExitFailed;
    log.Print("Listening on %s:%u\n", listen.bindAddress.empty() ? "0.0.0.0" : listen.bindAddress.c_str(),
              server.Port());

    int signal = 0;
    sigwait(&stopSignals, &signal);
    log.Print("%s received\n", signal == SIGINT ? "SIGINT" : "SIGTERM");
    server.Close();
    return kExitOk;
}

}  // namespace

const CliCommand kDaqCommand{
    .name = "daq",
    .summary = "Runs the DAQ server (runs of triggered events, board registers) until SIGINT or SIGTERM.",
    .options =
        {
            {"--port", "N", "listen on port N (0: any free port; default the setting ZOraPort, 38888)"},
            {"--bind", "ADDR", "listen on this IPv4 address only (default: every address)"},
            {"--allow", "CIDR", "let in clients of this network, e.g. 10.1.0.0/16, or a comma list", true},
            {"--max-clients", "N", "refuse connections beyond N open clients (default 16, 0: none)"},
            {"--set", "NAME=VALUE", "a DAQ setting (listed below)", true},
        },
    .run = runDaq,
    .moreHelp = printSettingsHelp,
};
