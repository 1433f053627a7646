// telvane-cli serve: one crate link shared with TCP clients, as the server
// window does it, until SIGINT or SIGTERM (or a failure of the link).

#include "cli/Commands.h"

#include "base/Error.h"
#include "cli/LinkSettings.h"
#include "relay/RelayServer.h"
#include "relay/Spy.h"

#include <csignal>
#include <cstring>
#include <cstdio>
#include <poll.h>
#include <pthread.h>
#include <strings.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

constexpr int kOpenWaitMs = 10000;
constexpr int kTickMs = 1000;

// The settings that belong to the server rather than to its link.
bool isServerSetting(const std::string& name)
{
    for (const _PROPDEF& e : CRelaySettings::Properties())
        if (strcasecmp(e.name, name.c_str()) == 0)
            return true;
    return false;
}

class StderrLog : public CRelayObserver {
public:
    void ClientAdded(const std::shared_ptr<_CLIENTDATA>& c) override
    {
        std::fprintf(stderr, "telvane-cli: client %s connected\n", c->title.c_str());
    }
    void ClientRefused(const std::string& address, const char* reason) override
    {
        std::fprintf(stderr, "telvane-cli: client %s refused: %s\n", address.c_str(), reason);
    }
    void ClientClosed(const _CLIENTDATA& c, const char* reason) override
    {
        std::fprintf(stderr, "telvane-cli: client %s disconnected: %s\n", c.title.c_str(), reason);
    }
};

int runServe(const CliArgs& args)
{
    std::vector<LinkSetting> settings;
    if (!ParseLinkSettings(args, settings))
        return kExitUsage;
    std::vector<LinkSetting> linkSettings, serverSettings;
    for (const auto& s : settings)
        (isServerSetting(s.first) ? serverSettings : linkSettings).push_back(s);
    for (const auto& [option, name] : {std::pair{"--port", "ServerPort"}, std::pair{"--bind", "BindAddress"},
                                       std::pair{"--max-clients", "MaxClients"}})
        if (const std::string* value = args.Value(option))
            serverSettings.emplace_back(name, *value);
    std::string allowed;
    for (const std::string& network : args.Values("--allow"))
        allowed += (allowed.empty() ? "" : ",") + network;
    if (!allowed.empty())
        serverSettings.emplace_back("AllowClients", allowed);
    const std::string* decodeFile = args.Value("--decode");
    const bool printTraffic = args.Has("--print-traffic");
    if (decodeFile && !printTraffic)
        return UsageFail(kServeCommand, "--decode decodes the printed traffic (add --print-traffic)");

    // Signals are taken by the main loop only: every thread started from
    // here on inherits the blocked set.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    const int signalFd = signalfd(-1, &stopSignals, SFD_CLOEXEC);
    if (signalFd < 0) {
        return Fail("signalfd: %s", std::strerror(errno));
    }
    struct FdCloser {
        int fd;
        ~FdCloser() { close(fd); }
    } closer{signalFd};

    CLfStdOut errors(stderr);
    CLfStdOut traffic(stdout);
    StderrLog log;
    CRelayServer server(errors, &log);
    server.SetOpenAccessHint("limit it with --bind ADDR or --allow CIDR");
    server.Link().SetPropertyById(CPortMC_All::kIOType, CVariant::FromInt(CPortMC_All::kPrimary));
    if (!ApplyLinkSettings(kServeCommand, "crate", server.Link(), linkSettings))
        return kExitUsage;
    for (const auto& [name, value] : serverSettings)
        if (!server.Settings().SetProperty(name, CVariant::FromString(value)))
            return UsageFail(kServeCommand, "setting \"%s\" refused the value \"%s\"", name.c_str(), value.c_str());

    std::unique_ptr<CSpy> spy;
    if (printTraffic) {
        spy = std::make_unique<CSpy>(traffic);
        spy->SetDecode(decodeFile != nullptr);
        if (decodeFile && !spy->LoadDecodeFile(*decodeFile))
            return kExitFailed;
        spy->Watch(&server.Spies());
    }

    const std::string place = LinkPlace(server.Link());
    if (!server.Connect())
        return Fail("%s: the link did not open", place.c_str());
    const bool opened = server.Link().WaitUntilOpen(kOpenWaitMs);
    const uint32_t openError = GetLastErr();
    if (!server.UpdateLinkState().open) {
        if (!opened && openError == err::Timeout)
            Fail("%s: %s", place.c_str(), LastErrorLine("Open Error:", openError).c_str());
        else
            Fail("%s: the link did not open", place.c_str());
        server.Disconnect();
        return kExitFailed;
    }
    std::fprintf(stderr, "telvane-cli: listening on %s:%u\n",
                 server.Settings().Get().bindAddress.empty() ? "0.0.0.0" : server.Settings().Get().bindAddress.c_str(),
                 server.ListeningPort());

    int status = 0;
    for (;;) {
        const int r = WaitForAny({CWaitItem::Fd(signalFd, POLLIN), CWaitItem::Of(server.StopRequested())}, kTickMs);
        if (r == 0) {
            signalfd_siginfo info{};
            (void)!read(signalFd, &info, sizeof info);
            std::fprintf(stderr, "telvane-cli: %s, stopping\n", strsignal(static_cast<int>(info.ssi_signo)));
            break;
        }
        if (r == 1) {
            status = 1;
            break;
        }
        server.Tick();
    }
    if (spy)
        spy->Watch(nullptr);
    server.Disconnect();
    return status;
}

}  // namespace

const CliCommand kServeCommand{
    .name = "serve",
    .summary = "Shares one crate link with clients of the crate server protocol until SIGINT or SIGTERM.",
    .options =
        {
            {"--set", "NAME=VALUE",
             "a crate-link setting (telvane-cli settings crate) or a server setting (see below)", true},
            {"--port", "N", "TCP port to listen on (\"ServerPort\", default 18888; 0 any free port)"},
            {"--bind", "ADDR", "listen on this IPv4 address only (default: every address)"},
            {"--allow", "CIDR", "let in clients of this network only, such as 10.1.0.0/16 (default: everyone)",
             true},
            {"--max-clients", "N", "refuse connections beyond N clients (default 16)"},
            {"--print-traffic", nullptr, "print every command and reply on standard output as a spy does"},
            {"--decode", "FILE", "decode the printed replies with this decode file"},
        },
    .run = runServe,
    .details = "Server settings for --set: ServerPort, BindAddress, AllowClients, MaxClients,\n"
               "FrameDeadline, MaxCmdTimeOut, WriteDeadline. IOType defaults to \"COM Port Primary\".\n"
               "Connections, refusals, disconnections and errors are logged on standard error.\n",
};
