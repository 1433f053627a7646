// telvane-cli can: one CAN message over a CAN link set up from property
// names and values; prints the reply record or the error text.

#include "base/Error.h"
#include "base/NumberText.h"
#include "cli/Commands.h"
#include "links/PortCAN_All.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <strings.h>

namespace {

constexpr int kOpenWaitMs = 10000;

// Settings are found by name in the link's list as it stands, so
// "CANIOType" must come before the settings of the path it chooses.
bool applySetting(CPortCAN_All& link, const std::string& assignment)
{
    const size_t eq = assignment.find('=');
    const std::string name = assignment.substr(0, eq);
    if (eq == std::string::npos || name.empty()) {
        std::fprintf(stderr, "telvane-cli can: expected NAME=VALUE, got '%s'\n", assignment.c_str());
        return false;
    }
    _PROPDEF entry;
    for (bool more = link.GetNextProperty(entry, true); more; more = link.GetNextProperty(entry, false)) {
        if (strcasecmp(entry.name, name.c_str()) != 0)
            continue;
        if (link.SetPropertyById(entry.id, CVariant::FromString(assignment.substr(eq + 1))))
            return true;
        std::fprintf(stderr, "telvane-cli can: bad value for %s\n", entry.name);
        return false;
    }
    std::fprintf(stderr, "telvane-cli can: unknown setting '%s'\n", name.c_str());
    return false;
}

}  // namespace

int runCan(const Args& args)
{
    CPortCAN_All link;
    std::vector<std::string> settings;
    std::vector<uint8_t> data;
    int idA = -1, idB = -1;
    bool reply = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--set" && i + 1 < args.size()) {
            settings.push_back(args[++i]);
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
    for (const std::string& s : settings)
        if (!applySetting(link, s))
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
