// telvane-cli can: one CAN message over a CAN link set up from property
// names and values; prints the reply record or the error text.

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

}  // namespace

int runCan(const Args& args)
{
    CPortCAN_All link;
    std::vector<LinkSetting> settings;
    std::vector<uint8_t> data;
    int idA = -1, idB = -1;
    bool reply = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--set" && i + 1 < args.size()) {
            if (!ParseLinkSetting("can", args[++i], settings))
                return usageError(runCan);
        } else if (a == "--id" && i + 1 < args.size()) {
            const std::string& ids = args[++i];
            const size_t comma = ids.find(',');
            if (comma == std::string::npos)
                return usageError(runCan);
            idA = ParseNumberText(ids.substr(0, comma));
            idB = ParseNumberText(ids.substr(comma + 1));
        } else if (a == "--reply") {
            reply = true;
        } else if (!a.empty() && a[0] == '-' && a.size() > 1 && !std::isdigit(static_cast<unsigned char>(a[1]))) {
            return usageError(runCan);
        } else {
            data.push_back(static_cast<uint8_t>(ParseNumberText(a)));
        }
    }
    if (idA < 0 || idA > 255 || idB < 0 || idB > 255 || data.size() > 15)
        return usageError(runCan);
    if (!ApplyLinkSettings("can", link, settings))
        return 1;

    if (!link.Open() || !link.WaitUntilOpen(kOpenWaitMs)) {
        std::fputs(formatErrorText("Open Error:", GetLastErr()).c_str(), stderr);
        return 1;
    }
    // A longer message keeps its length so that the link refuses it.
    CanMessage message = MakeCanMessage(static_cast<uint8_t>(idA), static_cast<uint8_t>(idB), reply, data.data(),
                                     static_cast<int>(std::min<size_t>(data.size(), 8)));
    message.control = static_cast<uint8_t>((message.control & 0xF0) | data.size());
    CanRecord record[1]{};
    int count = 1;
    if (!link.Command(&message, 1, record, count)) {
        std::fputs(formatErrorText("Command Error:", GetLastErr()).c_str(), stderr);
        link.Close();
        return 1;
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
    return 0;
}
