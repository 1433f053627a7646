#include "cli/LinkSettings.h"

#include "base/Error.h"
#include "base/NumberText.h"

#include <cstdio>
#include <strings.h>

bool parseLinkSetting(const std::string& text, LinkSetting& out)
{
    const size_t eq = text.find('=');
    if (eq == std::string::npos || eq == 0)
        return false;
    out = {text.substr(0, eq), text.substr(eq + 1)};
    return true;
}

bool setLinkSetting(CPortMC_All& link, const std::string& name, const std::string& text)
{
    _PROPDEF e;
    for (bool more = link.GetNextProperty(e, true); more; more = link.GetNextProperty(e, false)) {
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

bool applyLinkSettings(CPortMC_All& link, const std::vector<LinkSetting>& settings, const char* command)
{
    for (const auto& [name, value] : settings) {
        if (!setLinkSetting(link, name, value)) {
            std::fprintf(stderr, "telvane-cli %s: setting \"%s\" refused the value \"%s\"\n", command, name.c_str(),
                         value.c_str());
            return false;
        }
    }
    return true;
}
