// telvane-cli flash: the firmware update engine without the desktop, one
// progress line per destination as its state changes.

#include "cli/Commands.h"
#include "cli/LinkSettings.h"
#include "cli/StoredSettings.h"

#include "base/Error.h"
#include "base/NumberText.h"
#include "firmware/FirmUpdate.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>

namespace {

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
        Fail("%s: give --install-dir", line.c_str());
        return false;
    }
};

// A CCB ID: 1 to 65535, decimal or 0x hexadecimal.
bool ParseId(const std::string& text, uint16_t& id)
{
    int64_t v;
    if (!ParseStrictNumber(text, v) || v < 1 || v > 0xFFFF)
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

int runFlash(const CliArgs& args)
{
    std::vector<LinkSetting> settings;
    if (!ParseLinkSettings(args, settings))
        return kExitUsage;
    _FIRMSETTINGS s;
    s.firmVerify = args.Has("--verify");
    s.firmWrite = !args.Has("--no-write");
    s.mcReset = !args.Has("--no-reset");
    CCliFirmHost host;
    if (const std::string* type = args.Value("--type")) {
        const std::string& t = *type;
        s.firmType = t == "flash" ? kFirmFlash : t == "ram" ? kFirmRam : t == "fpga" ? kFirmFpgaFlash : 0;
        if (s.firmType == 0)
            return UsageFail(kFlashCommand, "--type: '%s' is not flash, ram or fpga", t.c_str());
    }
    const bool file = args.Has("--file");
    const bool automatic = args.Has("--auto");
    if (file == automatic)
        return UsageFail(kFlashCommand, "give either --file or --auto");
    if (file)
        s.firmwareFile = *args.Value("--file");
    if (const std::string* page = args.Value("--page")) {
        if (!automatic)
            return UsageFail(kFlashCommand, "--page goes with --auto");
        host.page = *page;
    }
    const std::string& destinations = *args.Value("--dest");
    if (!ParseDestinations(destinations, s.destinations))
        return UsageFail(kFlashCommand, "--dest: bad CCB ID in '%s' (1 to 65535 each)", destinations.c_str());
    int64_t repeat;
    if (!OptionNumber(args, "--repeat", 0, 1000, s.repeat, repeat))
        return kExitUsage;
    s.repeat = static_cast<int>(repeat);
    if (const std::string* trb = args.Value("--trb")) {
        if (*trb != "6" && *trb != "7")
            return UsageFail(kFlashCommand, "--trb: '%s' is not 6 or 7", trb->c_str());
        s.flashTrb = *trb == "7" ? 1 : 0;
    }
    if (const std::string* dir = args.Value("--install-dir"))
        host.installDir = *dir;
    const std::string logPath = args.Value("--log") ? *args.Value("--log") : "";
    s.getFirmwareFile = file ? 1 : 0;

    CPortMC_All link;
    link.SetPropertyById(CPortMC_All::kIOType, CVariant::FromInt(CPortMC_All::kPrimary));
    if (!ApplyLinkSettings(kFlashCommand, "crate", link, settings))
        return kExitUsage;

    std::unique_ptr<FILE, int (*)(FILE*)> logFile(nullptr, &std::fclose);
    std::unique_ptr<CStdOut> log;
    if (logPath == "-") {
        log = std::make_unique<CLfStdOut>(stderr);
    } else if (!logPath.empty()) {
        logFile.reset(std::fopen(logPath.c_str(), "w"));
        if (!logFile)
            return Fail("%s: cannot create: %s", logPath.c_str(), std::strerror(errno));
        log = std::make_unique<CStdOutFile>(logFile.get());
    }

    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    CFirmUpdate update("flash", log.get(), host);
    if (update.Start(s, link) != CFirmUpdate::StartResult::Started)
        return Fail("the update did not start");
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
            FlushOut();
        }
        if (!running)
            break;
        if (s_stop && !aborting) {
            aborting = true;
            Fail("aborting every crate");
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
    return ok + already == crates ? kExitOk : kExitFailed;
}

}  // namespace

const CliCommand kFlashCommand{
    .name = "flash",
    .summary = "Writes one firmware image into the control boards of many crates at once.",
    .options =
        {
            {"--set", "NAME=VALUE", "a crate-link setting (telvane-cli settings crate lists them)", true},
            {"--type", "flash|ram|fpga", "what is written (default flash)"},
            {"--file", "F", "the image: S-records, or raw bytes for fpga"},
            {"--auto", nullptr, "take the image from the release page"},
            {"--page", "URL", "the release page for --auto (default the stored \"HTML_Page\")"},
            {"--dest", "ID[,ID...]", "CCB IDs of the crates (1 to 65535, 0x for hexadecimal)", false, true},
            {"--verify", nullptr, "read the image back and compare it"},
            {"--no-write", nullptr, "do not write (with --verify: compare only)"},
            {"--no-reset", nullptr, "do not reset a crate after a flash write"},
            {"--repeat", "N", "tries per command (default 3; 0 counts as 1)"},
            {"--trb", "6|7", "the FPGA board an fpga update addresses (default 6)"},
            {"--install-dir", "DIR", "the folder holding Cb_mini_ram.s19 (default the stored \"InstallDir\")"},
            {"--log", "FILE", "the detailed log (- for standard error)"},
        },
    .run = runFlash,
    .details = "One progress line per crate as its state changes, then a summary. Exit status 0 only\n"
               "when every crate ends \"OK\" or \"Already Update\", 1 otherwise, 2 for a usage error.\n",
};
