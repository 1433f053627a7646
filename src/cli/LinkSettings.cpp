#include "cli/LinkSettings.h"

#include "base/Error.h"
#include "base/NumberText.h"

#include <strings.h>

bool SetLinkSettingByName(CPortMC_All& link, const std::string& name, const std::string& text)
{
    _PROPDEF e;
    for (bool more = link.GetNextProperty(e, true); more; more = link.GetNextProperty(e, false)) {
        if (strcasecmp(e.name, name.c_str()) != 0)
            continue;
        if (e.options) {
            if (const _PROPOPT* o = FindOption(e.options, text))
                return link.SetPropertyById(e.id, CVariant::FromInt(o->value));
        }
        if (e.type == VarType::String)
            return link.SetPropertyById(e.id, CVariant::FromString(text));
        if (e.type == VarType::Bool)
            return link.SetPropertyById(e.id, CVariant::FromString(text));
        return link.SetPropertyById(e.id, CVariant::FromInt(ParseNumberText(text)));
    }
    SetLastErr(err::NotFound);
    return false;
}
