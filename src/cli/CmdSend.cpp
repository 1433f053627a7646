// telvane-cli send: one crate command over a crate link, printed as the
// traffic box prints it.

#include "cli/Commands.h"
#include "cli/LinkSettings.h"

#include "base/ByteText.h"
#include "base/Error.h"
#include "cli/DecodeFiles.h"
#include "language/ExampleFiles.h"
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

constexpr char kDefaultDecodeFile[] = "Cb_v126.dec";
constexpr int kOpenWaitMs = 10000;

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
            WriteOut(m_text);
            FlushOut();
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

int runSend(const CliArgs& args)
{
    std::vector<LinkSetting> settings;
    if (!ParseLinkSettings(args, settings))
        return kExitUsage;
    int64_t timeoutMs, repeat;
    if (!OptionNumber(args, "--timeout", 0, 3600000, 2000, timeoutMs) ||
        !OptionNumber(args, "--repeat", 1, 1000000, 1, repeat))
        return kExitUsage;
    std::vector<uint8_t> command;
    std::string bad;
    if (!ParseByteWords(args.Operands(), command, bad))
        return UsageFail(kSendCommand, "'%s' is not a hexadecimal byte", bad.c_str());
    if (command.empty())
        return UsageFail(kSendCommand, "no bytes to send");
    const bool raw = args.Has("--raw");
    const std::string* decodeFileGiven = args.Value("--decode");

    CVa_Compiler tables;
    std::unique_ptr<CStructListDecoder> decoder;
    if (!raw) {
        const std::string decodeFile = FindExampleFile(decodeFileGiven ? *decodeFileGiven : kDefaultDecodeFile);
        if (decodeFileGiven) {
            if (!CompileDecodeFile(tables, decodeFile, false))
                return kExitFailed;
            decoder = std::make_unique<CStructListDecoder>(tables.Structs());
        } else if (tables.Compile(decodeFile, false)) {
            decoder = std::make_unique<CStructListDecoder>(tables.Structs());
        } else {
            Fail("%s; replies are not decoded", DecodeFileError(tables, decodeFile).c_str());
        }
    }

    CPortMC_All link;
    link.SetPropertyById(CPortMC_All::kIOType, CVariant::FromInt(CPortMC_All::kPrimary));
    if (!ApplyLinkSettings(kSendCommand, "crate", link, settings))
        return kExitUsage;
    const std::string place = LinkPlace(link);
    if (!CatchToLastError([&] { return link.Open() && link.WaitUntilOpen(kOpenWaitMs); }))
        return Fail("%s: %s", place.c_str(), LastErrorLine("Open Error:", GetLastErr()).c_str());

    CTrafficPrinter printer(decoder.get(), !raw);
    link.SetMonitor(&printer, &CTrafficPrinter::Hook);
    std::vector<double> roundTrips;
    for (int64_t i = 0; i < repeat; ++i) {
        uint8_t reply[256];
        int replyCount = sizeof reply;
        const auto t0 = std::chrono::steady_clock::now();
        const bool ok = link.Command(command.data(), static_cast<int>(command.size()), reply, replyCount,
                                     static_cast<int>(timeoutMs));
        const auto t1 = std::chrono::steady_clock::now();
        if (!ok) {
            const uint32_t error = GetLastErr();
            printer.Finish();
            Fail("%s: %s", place.c_str(), LastErrorLine("Command Error:", error).c_str());
            link.Close();
            return kExitFailed;
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
    return kExitOk;
}

const CliCommand kSendCommand{
    .name = "send",
    .operands = "BYTES...",
    .minOperands = 1,
    .maxOperands = -1,
    .summary = "Sends one crate command (hexadecimal bytes: EA, 0xEA, \"2F 13 01\") and prints the traffic.",
    .options =
        {
            {"--set", "NAME=VALUE", "a crate-link setting (telvane-cli settings crate lists them)", true},
            {"--decode", "FILE", "decode file for the replies (default: the example Cb_v126.dec)"},
            {"--timeout", "MS", "reply time-out in milliseconds (default 2000)"},
            {"--repeat", "N", "send the command N times, then print the round-trip times"},
            {"--raw", nullptr, "print the replies as bytes, without decoding"},
        },
    .run = runSend,
    .details = "The traffic goes to standard output as the traffic box shows it (TX->, RX-> lines).\n"
               "Exit status 0 when every reply came, 1 when the link or a command failed, 2 for a\n"
               "usage error.\n",
};
