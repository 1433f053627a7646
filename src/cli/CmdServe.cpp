// telvane-cli serve: one crate link shared with TCP clients, as the server
// window does it, until SIGINT or SIGTERM (or a failure of the link).

#include "cli/Commands.h"

#include "base/Error.h"
#include "base/NumberText.h"
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

void usage(FILE* out)
{
    std::fputs(
        "usage: telvane-cli serve [--set NAME=VALUE ...] [--port N] [--bind ADDR] [--allow CIDR ...]\n"
        "                         [--max-clients N] [--print-traffic [--decode FILE]]\n"
        "\n"
        "Shares one crate link with clients of the crate server protocol until SIGINT or SIGTERM.\n"
        "  --set NAME=VALUE  a setting of the link (IOType, ComName, Host, Port, CCB ID, ...) or of\n"
        "                    the server (ServerPort, BindAddress, AllowClients, MaxClients,\n"
        "                    FrameDeadline, MaxCmdTimeOut, WriteDeadline); IOType defaults to\n"
        "                    \"COM Port Primary\"\n"
        "  --port N          TCP port to listen on (\"ServerPort\", default 18888; 0 any free port)\n"
        "  --bind ADDR       listen on this IPv4 address only (default: all addresses)\n"
        "  --allow CIDR      let in clients of this network only, such as 10.1.0.0/16 (repeatable;\n"
        "                    default: everyone)\n"
        "  --max-clients N   refuse connections beyond N clients (default 16)\n"
        "  --print-traffic   print every command and reply on standard output as a spy does\n"
        "  --decode FILE     decode the printed replies with this decode file\n"
        "Connections, refusals, disconnections and errors are logged on standard error.\n",
        out);
}

// Sets a link setting by its shown name; choices take their option name or number.
bool setLink(CPortMC_All& link, const std::string& name, const std::string& text)
{
    for (const _PROPDEF& e : link.Properties()) {
        if (strcasecmp(e.name, name.c_str()) != 0)
            continue;
        if (e.options) {
            if (const _PROPOPT* o = FindOption(e.options, text))
                return link.SetPropertyById(e.id, CVariant::FromInt(o->value));
        }
        if (e.type == VarType::String || e.type == VarType::Bool)
            return link.SetPropertyById(e.id, CVariant::FromString(text));
        return link.SetPropertyById(e.id, CVariant::FromInt(ParseNumberText(text)));
    }
    SetLastErr(err::NotFound);
    return false;
}

bool setByName(CRelayServer& server, const std::string& name, const std::string& text)
{
    if (setLink(server.Link(), name, text))
        return true;
    return GetLastErr() == err::NotFound && server.Settings().SetProperty(name, CVariant::FromString(text));
}

class StderrLog : public CRelayObserver {
public:
    void ClientAdded(const std::shared_ptr<_CLIENTDATA>& c) override
    {
        std::fprintf(stderr, "telvane-cli serve: client %s connected\n", c->title.c_str());
    }
    void ClientRefused(const std::string& address, const char* reason) override
    {
        std::fprintf(stderr, "telvane-cli serve: client %s refused: %s\n", address.c_str(), reason);
    }
    void ClientClosed(const _CLIENTDATA& c, const char* reason) override
    {
        std::fprintf(stderr, "telvane-cli serve: client %s disconnected: %s\n", c.title.c_str(), reason);
    }
};

}  // namespace

int runServe(const Args& args)
{
    std::vector<std::pair<std::string, std::string>> settings;
    std::vector<std::string> allowed;
    std::string decodeFile;
    bool printTraffic = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--help" || a == "-h") {
            usage(stdout);
            return 0;
        } else if (a == "--set" && hasValue) {
            const std::string& s = args[++i];
            const size_t eq = s.find('=');
            if (eq == std::string::npos || eq == 0)
                return usageError(runServe);
            settings.emplace_back(s.substr(0, eq), s.substr(eq + 1));
        } else if (a == "--port" && hasValue) {
            settings.emplace_back("ServerPort", args[++i]);
        } else if (a == "--bind" && hasValue) {
            settings.emplace_back("BindAddress", args[++i]);
        } else if (a == "--allow" && hasValue) {
            allowed.push_back(args[++i]);
        } else if (a == "--max-clients" && hasValue) {
            settings.emplace_back("MaxClients", args[++i]);
        } else if (a == "--print-traffic") {
            printTraffic = true;
        } else if (a == "--decode" && hasValue) {
            decodeFile = args[++i];
        } else {
            std::fprintf(stderr, "telvane-cli serve: unknown argument '%s'\n", a.c_str());
            return usageError(runServe);
        }
    }
    if (!decodeFile.empty() && !printTraffic)
        return usageError(runServe);
    if (!allowed.empty()) {
        std::string list;
        for (const auto& n : allowed)
            list += (list.empty() ? "" : ",") + n;
        settings.emplace_back("AllowClients", list);
    }

    // Signals are taken by the main loop only: every thread started from
    // here on inherits the blocked set.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    const int signalFd = signalfd(-1, &stopSignals, SFD_CLOEXEC);
    if (signalFd < 0) {
        std::perror("telvane-cli serve: signalfd");
        return 1;
    }
    struct FdCloser {
        int fd;
        ~FdCloser() { close(fd); }
    } closer{signalFd};

    CStdOutFile errors(stderr);
    CStdOutFile traffic(stdout);
    StderrLog log;
    CRelayServer server(errors, &log);
    server.SetOpenAccessHint("limit it with --bind ADDR or --allow CIDR");
    server.Link().SetPropertyById(CPortMC_All::kIOType, CVariant::FromInt(CPortMC_All::kPrimary));
    for (const auto& [name, value] : settings) {
        if (!setByName(server, name, value)) {
            std::fprintf(stderr, "telvane-cli serve: setting \"%s\" refused the value \"%s\"\n", name.c_str(),
                         value.c_str());
            return 1;
        }
    }

    std::unique_ptr<CSpy> spy;
    if (printTraffic) {
        spy = std::make_unique<CSpy>(traffic);
        spy->SetDecode(!decodeFile.empty());
        if (!decodeFile.empty() && !spy->LoadDecodeFile(decodeFile))
            return 1;
        spy->Watch(&server.Spies());
    }

    if (!server.Connect())
        return 1;
    const bool opened = server.Link().WaitUntilOpen(kOpenWaitMs);
    const uint32_t openError = GetLastErr();
    if (!server.UpdateLinkState().open) {
        if (!opened && openError == err::Timeout)
            std::fputs(formatErrorText("Open Error:", openError).c_str(), stderr);
        server.Disconnect();
        return 1;
    }
    std::fprintf(stderr, "telvane-cli serve: listening on %s:%u\n",
                 server.Settings().Get().bindAddress.empty() ? "0.0.0.0" : server.Settings().Get().bindAddress.c_str(),
                 server.ListeningPort());

    int status = 0;
    for (;;) {
        const int r = WaitForAny({CWaitItem::Fd(signalFd, POLLIN), CWaitItem::Of(server.StopRequested())}, kTickMs);
        if (r == 0) {
            signalfd_siginfo info{};
            (void)!read(signalFd, &info, sizeof info);
            std::fprintf(stderr, "telvane-cli serve: %s, stopping\n", strsignal(static_cast<int>(info.ssi_signo)));
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
