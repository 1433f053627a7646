#pragma once
// The "--set NAME=VALUE" options of the commands that open a link: parsed
// once, then applied by the setting's shown name, in the order given (a
// link-type choice first, since it decides which settings exist).

#include "base/Property.h"

#include <string>
#include <utility>
#include <vector>

using LinkSetting = std::pair<std::string, std::string>;

// Splits "NAME=VALUE"; false with a message on stderr when there is no name
// or no '='.
bool ParseLinkSetting(const char* command, const std::string& assignment, std::vector<LinkSetting>& out);

// Applies each setting to `link` (a crate or CAN link): found by name in
// any case; a choice takes an option name or a number, other settings the
// text as the link converts it. False with a message on stderr at the first
// unknown name or refused value.
template <class Link>
bool ApplyLinkSettings(const char* command, Link& link, const std::vector<LinkSetting>& settings);

// What ApplyLinkSettings needs of a link, for its one implementation.
struct LinkSettingTarget {
    PropertyList (*properties)(void* link);
    bool (*setById)(void* link, int32_t id, const CVariant& value);
};
bool ApplyLinkSettings(const char* command, void* link, const LinkSettingTarget& target,
                       const std::vector<LinkSetting>& settings);

template <class Link>
bool ApplyLinkSettings(const char* command, Link& link, const std::vector<LinkSetting>& settings)
{
    static const LinkSettingTarget target{
        [](void* l) { return static_cast<Link*>(l)->Properties(); },
        [](void* l, int32_t id, const CVariant& v) { return static_cast<Link*>(l)->SetPropertyById(id, v); },
    };
    return ApplyLinkSettings(command, &link, target, settings);
}
