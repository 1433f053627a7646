// telvane-cli send: one crate command over a crate link, printed as the
// traffic box prints it.

#include "cli/Commands.h"
#include "cli/LinkSettings.h"

#include "base/Error.h"
#include "base/NumberText.h"
#include "language/VaCompiler.h"
#include "links/PortMC_All.h"
#include "links/TrafficText.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr char kDefaultDecodeFile[] = "examples/Cb_v126.dec";
constexpr int kOpenWaitMs = 10000;

// "EA", "F5 00 10 00", "0xF5", "F5001000": hexadecimal byte pairs.
bool parseBytes(const std::string& token, std::vector<uint8_t>& out)
{
    std::string t = token;
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X'))
        t = t.substr(2);
    if (t.empty() || t.size() % 2)
        return false;
    for (size_t i = 0; i < t.size(); i += 2) {
        char pair[3] = {t[i], t[i + 1], 0};
        char* end;
        long v = std::strtol(pair, &end, 16);
        if (*end || !std::isxdigit(static_cast<unsigned char>(pair[0])))
            return false;
        out.push_back(static_cast<uint8_t>(v));
    }
    return true;
}

// The traffic text of the commands. The link hands each record over as it
// passes; an exchange is decoded and formatted once the next command has
// gone out, while the crate works on it, so that the text never paces the
// commands. On a terminal the text is written there and then, so that each
// exchange shows at once; otherwise it is written in batches. Finish writes
// what is left, before an error message and at the end. The link calls the
// hook on the thread that runs the commands, the one that calls Finish.
class CTrafficPrinter {
public:
    CTrafficPrinter(const CTrafficDecoder* decoder, bool decode)
        : m_decoder(decoder), m_decode(decode), m_terminal(isatty(fileno(stdout)))
    {
    }
    ~CTrafficPrinter() { Finish(); }

    static void Hook(void* context, int direction, const uint8_t* bytes, int count)
    {
        auto* p = static_cast<CTrafficPrinter*>(context);
        if (direction == _MCDATA::kSent)
            p->Format(p->m_terminal ? 0 : kBatchBytes);
        p->m_records.push_back(TrafficRecord(direction, bytes, count));
    }

    void Finish() { Format(0); }

private:
    static constexpr size_t kBatchBytes = 64 * 1024;

    // Formats the records held, and writes the text once it has `batch`
    // bytes.
    void Format(size_t batch)
    {
        for (const _MCDATA& r : m_records)
            m_text += TrafficText(r, m_decoder, {m_decode, false, 0});
        m_records.clear();
        if (!m_text.empty() && m_text.size() >= batch) {
            std::fwrite(m_text.data(), 1, m_text.size(), stdout);
            std::fflush(stdout);
            m_text.clear();
        }
    }

    const CTrafficDecoder* m_decoder;
    const bool m_decode;
    const bool m_terminal;
    std::vector<_MCDATA> m_records;
    std::string m_text;
};

}  // namespace

int runSend(const Args& args)
{
    std::vector<LinkSetting> settings;
    std::string decodeFile = kDefaultDecodeFile;
    bool decodeFileGiven = false;
    bool raw = false;
    int timeoutMs = 2000;
    int repeat = 1;
    std::vector<uint8_t> command;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--set" && hasValue) {
            if (!ParseLinkSetting("send", args[++i], settings))
                return usageError(runSend);
        } else if (a == "--decode" && hasValue) {
            decodeFile = args[++i];
            decodeFileGiven = true;
        } else if (a == "--timeout" && hasValue) {
            timeoutMs = ParseNumberText(args[++i]);
        } else if (a == "--repeat" && hasValue) {
            repeat = ParseNumberText(args[++i]);
        } else if (a == "--raw") {
            raw = true;
        } else if (!parseBytes(a, command)) {
            std::fprintf(stderr, "telvane-cli send: '%s' is not a hexadecimal byte\n", a.c_str());
            return usageError(runSend);
        }
    }
    if (command.empty() || repeat < 1 || timeoutMs < 0)
        return usageError(runSend);

    CVa_Compiler tables;
    std::unique_ptr<CStructListDecoder> decoder;
    if (!raw) {
        if (tables.Compile(decodeFile, false)) {
            decoder = std::make_unique<CStructListDecoder>(tables.Structs());
        } else if (decodeFileGiven) {
            std::fprintf(stderr, "Read Fail: %s\n", tables.GetErrorText().c_str());
            return 1;
        } else {
            std::fprintf(stderr, "telvane-cli send: %s not read (%s); replies are not decoded\n", decodeFile.c_str(),
                         tables.GetErrorText().c_str());
        }
    }

    CPortMC_All link;
    link.SetPropertyById(CPortMC_All::kIOType, CVariant::FromInt(CPortMC_All::kPrimary));
    if (!ApplyLinkSettings("send", link, settings))
        return 1;
    if (!CatchToLastError([&] { return link.Open() && link.WaitUntilOpen(kOpenWaitMs); })) {
        std::fputs(formatErrorText("Open Error:", GetLastErr()).c_str(), stderr);
        return 1;
    }

    CTrafficPrinter printer(decoder.get(), !raw);
    link.SetMonitor(&printer, &CTrafficPrinter::Hook);
    std::vector<double> roundTrips;
    for (int i = 0; i < repeat; ++i) {
        uint8_t reply[256];
        int replyCount = sizeof reply;
        const auto t0 = std::chrono::steady_clock::now();
        const bool ok = link.Command(command.data(), static_cast<int>(command.size()), reply, replyCount, timeoutMs);
        const auto t1 = std::chrono::steady_clock::now();
        if (!ok) {
            printer.Finish();
            std::fputs(formatErrorText("Command Error:", GetLastErr()).c_str(), stderr);
            link.Close();
            return 1;
        }
        roundTrips.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
    link.SetMonitor(nullptr, nullptr);
    link.Close();
    printer.Finish();
    if (repeat > 1) {
        std::sort(roundTrips.begin(), roundTrips.end());
        std::printf("round trip: min %.3f ms, median %.3f ms, max %.3f ms\n", roundTrips.front(),
                    roundTrips[roundTrips.size() / 2], roundTrips.back());
    }
    return 0;
}
