// telvane-cli flash: the firmware update engine without the desktop, one
// progress line per destination as its state changes.

#include "cli/Commands.h"
#include "cli/LinkSettings.h"
#include "cli/StoredSettings.h"

#include "base/Error.h"
#include "firmware/FirmUpdate.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>

namespace {

const char kHelp[] =
    "Writes one firmware image into the control boards of many crates at once.\n"
    "  --set NAME=VALUE    a crate-link setting by its shown name (\"IOType\", \"Host\", \"Port\", ...)\n"
    "  --type flash|ram|fpga   what is written (default flash)\n"
    "  --file F            the image: S-records, or raw bytes for fpga\n"
    "  --auto [--page URL] the image from the release page (default the stored \"HTML_Page\")\n"
    "  --dest ID[,ID...]   CCB IDs of the crates (0x for hexadecimal)\n"
    "  --verify            read the image back and compare it\n"
    "  --no-write          do not write (with --verify: compare only)\n"
    "  --no-reset          do not reset a crate after a flash write\n"
    "  --repeat N          tries per command (default 3; 0 counts as 1)\n"
    "  --trb 6|7           the FPGA board an fpga update addresses (default 6)\n"
    "  --install-dir DIR   the folder holding Cb_mini_ram.s19 (default the stored \"InstallDir\")\n"
    "  --log FILE          the detailed log (- for standard error)\n"
    "Exit status 0 only when every crate ends \"OK\" or \"Already Update\".\n";

volatile std::sig_atomic_t s_stop = 0;

void OnStopSignal(int) { s_stop = 1; }

// Application values from the options, else from the settings file.
class CCliFirmHost : public CFirmHost {
public:
    std::string page, installDir;

    std::string AppValue(const char* key, const std::string& fallback) override
    {
        if (!std::strcmp(key, kKeyHtmlPage) && !page.empty())
            return page;
        if (!std::strcmp(key, kKeyInstallDir) && !installDir.empty())
            return installDir;
        return StoredAppValue(key).value_or(fallback);
    }
    void SetAppValue(const char* key, const std::string& value) override
    {
        if (!std::strcmp(key, kKeyInstallDir))
            installDir = value;
    }
    bool AskFolder(const std::string& message, const std::string&, CEvent&, std::string&) override
    {
        std::string line = message;
        for (char& c : line)
            if (c == '\n')
                c = ' ';
        std::fprintf(stderr, "telvane-cli flash: %s: give --install-dir\n", line.c_str());
        return false;
    }
};

bool ParseId(const std::string& text, uint16_t& id)
{
    if (text.empty())
        return false;
    char* end;
    const bool hex = text.size() > 2 && text[0] == '0' && text[1] == 'x';
    const unsigned long v = std::strtoul(text.c_str() + (hex ? 2 : 0), &end, hex ? 16 : 10);
    if (*end || v == 0 || v > 0xFFFF || !std::isxdigit(static_cast<unsigned char>(text[hex ? 2 : 0])))
        return false;
    id = static_cast<uint16_t>(v);
    return true;
}

bool ParseDestinations(const std::string& list, std::vector<uint16_t>& out)
{
    size_t start = 0;
    for (;;) {
        const size_t comma = list.find(',', start);
        uint16_t id;
        if (!ParseId(list.substr(start, comma - start), id))
            return false;
        out.push_back(id);
        if (comma == std::string::npos)
            return true;
        start = comma + 1;
    }
}

std::string Shown(std::string state)
{
    while (!state.empty() && (state.back() == '\n' || state.back() == '\r'))
        state.pop_back();
    return state;
}

}  // namespace

int runFlash(const Args& args)
{
    std::vector<LinkSetting> settings;
    _FIRMSETTINGS s;
    s.firmVerify = false;
    CCliFirmHost host;
    std::string logPath;
    bool file = false, automatic = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--help" || a == "-h") {
            std::printf("usage: telvane-cli ");
            for (const auto& c : kCliCommands)
                if (c.run == runFlash)
                    std::printf("%s\n", c.usage);
            std::fputs(kHelp, stdout);
            return 0;
        } else if (a == "--set" && hasValue) {
            if (!ParseLinkSetting("flash", args[++i], settings))
                return usageError(runFlash);
        } else if (a == "--type" && hasValue) {
            const std::string& t = args[++i];
            s.firmType = t == "flash" ? kFirmFlash : t == "ram" ? kFirmRam : t == "fpga" ? kFirmFpgaFlash : 0;
            if (s.firmType == 0)
                return usageError(runFlash);
        } else if (a == "--file" && hasValue) {
            s.firmwareFile = args[++i];
            file = true;
        } else if (a == "--auto") {
            automatic = true;
        } else if (a == "--page" && hasValue) {
            host.page = args[++i];
        } else if (a == "--dest" && hasValue) {
            if (!ParseDestinations(args[++i], s.destinations)) {
                std::fprintf(stderr, "telvane-cli flash: bad CCB ID in '%s'\n", args[i].c_str());
                return usageError(runFlash);
            }
        } else if (a == "--verify") {
            s.firmVerify = true;
        } else if (a == "--no-write") {
            s.firmWrite = false;
        } else if (a == "--no-reset") {
            s.mcReset = false;
        } else if (a == "--repeat" && hasValue) {
            s.repeat = std::atoi(args[++i].c_str());
        } else if (a == "--trb" && hasValue) {
            const std::string& t = args[++i];
            if (t != "6" && t != "7")
                return usageError(runFlash);
            s.flashTrb = t == "7" ? 1 : 0;
        } else if (a == "--install-dir" && hasValue) {
            host.installDir = args[++i];
        } else if (a == "--log" && hasValue) {
            logPath = args[++i];
        } else {
            std::fprintf(stderr, "telvane-cli flash: unknown argument '%s'\n", a.c_str());
            return usageError(runFlash);
        }
    }
    if (file == automatic || s.destinations.empty() || (!host.page.empty() && !automatic) || s.repeat < 0)
        return usageError(runFlash);
    s.getFirmwareFile = file ? 1 : 0;

    CPortMC_All link;
    link.SetPropertyById(CPortMC_All::kIOType, CVariant::FromInt(CPortMC_All::kPrimary));
    if (!ApplyLinkSettings("flash", link, settings))
        return 1;

    std::unique_ptr<FILE, int (*)(FILE*)> logFile(nullptr, &std::fclose);
    std::unique_ptr<CStdOutFile> log;
    if (logPath == "-") {
        log = std::make_unique<CStdOutFile>(stderr);
    } else if (!logPath.empty()) {
        logFile.reset(std::fopen(logPath.c_str(), "w"));
        if (!logFile) {
            std::fprintf(stderr, "telvane-cli flash: cannot write %s\n", logPath.c_str());
            return 1;
        }
        log = std::make_unique<CStdOutFile>(logFile.get());
    }

    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    CFirmUpdate update("flash", log.get(), host);
    if (update.Start(s, link) != CFirmUpdate::StartResult::Started) {
        std::fprintf(stderr, "telvane-cli flash: the update did not start\n");
        return 1;
    }
    std::vector<std::string> shown(update.RowCount());
    bool aborting = false;
    for (;;) {
        const bool running = update.AnyUnfinished();
        for (size_t i = 0; i < update.RowCount(); ++i) {
            const std::string state = Shown(update.Row(i).GetState());
            if (state == shown[i])
                continue;
            shown[i] = state;
            if (i == 0)
                std::printf("Load File: %s\n", state.c_str());
            else
                std::printf("%d: %s\n", s.destinations[i - 1], state.c_str());
            std::fflush(stdout);
        }
        if (!running)
            break;
        if (s_stop && !aborting) {
            aborting = true;
            std::fprintf(stderr, "telvane-cli flash: aborting every crate\n");
            update.AbortAll();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    update.Join();

    int ok = 0, already = 0;
    for (size_t i = 1; i < update.RowCount(); ++i) {
        const std::string state = update.Row(i).GetState();
        ok += state == "OK";
        already += state == "Already Update";
    }
    const int crates = static_cast<int>(s.destinations.size());
    std::printf("summary: %d crates, %d OK, %d Already Update, %d failed\n", crates, ok, already,
                crates - ok - already);
    return ok + already == crates ? 0 : 1;
}
