#include "cli/CanSettings.h"

#include <cstdio>
#include <strings.h>

bool applyCanSetting(CPortCAN& link, const std::string& assignment, const char* command)
{
    const size_t eq = assignment.find('=');
    const std::string name = assignment.substr(0, eq);
    if (eq == std::string::npos || name.empty()) {
        std::fprintf(stderr, "telvane-cli %s: expected NAME=VALUE, got '%s'\n", command, assignment.c_str());
        return false;
    }
    _PROPDEF entry;
    for (bool more = link.GetNextProperty(entry, true); more; more = link.GetNextProperty(entry, false)) {
        if (strcasecmp(entry.name, name.c_str()) != 0)
            continue;
        if (link.SetPropertyById(entry.id, CVariant::FromString(assignment.substr(eq + 1))))
            return true;
        std::fprintf(stderr, "telvane-cli %s: bad value for %s\n", command, entry.name);
        return false;
    }
    std::fprintf(stderr, "telvane-cli %s: unknown setting '%s'\n", command, name.c_str());
    return false;
}
