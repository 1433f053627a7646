#include "cli/LinkSettings.h"

#include <cstdio>
#include <strings.h>

bool ParseLinkSetting(const char* command, const std::string& assignment, std::vector<LinkSetting>& out)
{
    const size_t eq = assignment.find('=');
    if (eq == std::string::npos || eq == 0) {
        std::fprintf(stderr, "telvane-cli %s: expected NAME=VALUE, got '%s'\n", command, assignment.c_str());
        return false;
    }
    out.emplace_back(assignment.substr(0, eq), assignment.substr(eq + 1));
    return true;
}

bool ApplyLinkSettings(const char* command, void* link, const LinkSettingTarget& target,
                       const std::vector<LinkSetting>& settings)
{
    for (const auto& [name, text] : settings) {
        // Listed anew for each setting: a link-type choice changes the list.
        const PropertyList list = target.properties(link);
        const _PROPDEF* entry = nullptr;
        for (const _PROPDEF& e : list)
            if (strcasecmp(e.name, name.c_str()) == 0) {
                entry = &e;
                break;
            }
        if (!entry) {
            std::fprintf(stderr, "telvane-cli %s: unknown setting '%s'\n", command, name.c_str());
            return false;
        }
        const _PROPOPT* option = entry->options ? FindOption(entry->options, text) : nullptr;
        const CVariant value = option ? CVariant::FromInt(option->value) : CVariant::FromString(text);
        if (!target.setById(link, entry->id, value)) {
            std::fprintf(stderr, "telvane-cli %s: setting \"%s\" refused the value \"%s\"\n", command, entry->name,
                         text.c_str());
            return false;
        }
    }
    return true;
}
