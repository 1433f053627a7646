// telvane-cli can: one CAN message over a CAN link set up from property
// names and values; prints the reply record or the error text.

#include "base/ByteText.h"
#include "base/Error.h"
#include "base/NumberText.h"
#include "cli/Commands.h"
#include "cli/LinkSettings.h"
#include "links/PortCAN_All.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace {

constexpr int kOpenWaitMs = 10000;

// "A,B": the two identifiers of a CAN message, each 0 to 255.
bool parseIds(const std::string& text, int64_t& a, int64_t& b)
{
    const size_t comma = text.find(',');
    return comma != std::string::npos && ParseStrictNumber(std::string_view(text).substr(0, comma), a) &&
           ParseStrictNumber(std::string_view(text).substr(comma + 1), b) && a >= 0 && a <= 255 && b >= 0 &&
           b <= 255;
}

int runCan(const CliArgs& args)
{
    std::vector<LinkSetting> settings;
    if (!ParseLinkSettings(args, settings))
        return kExitUsage;
    int64_t idA, idB;
    if (!parseIds(*args.Value("--id"), idA, idB))
        return UsageFail(kCanCommand, "--id: '%s' is not two numbers from 0 to 255 (A,B)",
                         args.Value("--id")->c_str());
    std::vector<uint8_t> data;
    std::string bad;
    if (!ParseByteWords(args.Operands(), data, bad))
        return UsageFail(kCanCommand, "'%s' is not a hexadecimal byte", bad.c_str());
    if (data.size() > 15)
        return UsageFail(kCanCommand, "%zu data bytes; the length field holds at most 15", data.size());
    const bool reply = args.Has("--reply");

    CPortCAN_All link;
    if (!ApplyLinkSettings(kCanCommand, "can", link, settings))
        return kExitUsage;
    const std::string place = LinkPlace(link);
    if (!link.Open() || !link.WaitUntilOpen(kOpenWaitMs))
        return Fail("%s: %s", place.c_str(), LastErrorLine("Open Error:", GetLastErr()).c_str());
    // A longer message keeps its length so that the link refuses it.
    CanMessage message = MakeCanMessage(static_cast<uint8_t>(idA), static_cast<uint8_t>(idB), reply, data.data(),
                                     static_cast<int>(std::min<size_t>(data.size(), 8)));
    message.control = static_cast<uint8_t>((message.control & 0xF0) | data.size());
    CanRecord record[1]{};
    int count = 1;
    if (!link.Command(&message, 1, record, count)) {
        const uint32_t error = GetLastErr();
        link.Close();
        return Fail("%s: %s", place.c_str(), LastErrorLine("Command Error:", error).c_str());
    }
    for (int r = 0; r < count; ++r) {
        const uint8_t* b = reinterpret_cast<const uint8_t*>(&record[r]);
        for (int k = 0; k < 13; ++k)
            std::printf("%02X ", b[k]);
        std::printf(" length %u data", record[r].length);
        for (int k = 0; k < std::min<int>(record[r].length, 8); ++k)
            std::printf(" %02X", record[r].data[k]);
        std::printf("\n");
    }
    link.Close();
    return kExitOk;
}

}  // namespace

const CliCommand kCanCommand{
    .name = "can",
    .operands = "[DATA...]",
    .minOperands = 0,
    .maxOperands = -1,
    .summary = "Sends one CAN message (data as hexadecimal bytes) and prints the reply records.",
    .options =
        {
            {"--set", "NAME=VALUE", "a CAN-link setting (telvane-cli settings can lists them)", true},
            {"--id", "A,B", "the message's two identifiers, 0 to 255 each", false, true},
            {"--reply", nullptr, "ask the node for a reply"},
        },
    .run = runCan,
    .details = "Each reply record prints as its 13 bytes, its length and its data bytes.\n",
};
