#pragma once
// The "--set NAME=VALUE" options of the commands that open a link. Each
// setting is found by its shown name in any case; a choice takes an
// option name or its number, other settings the text as the link converts
// it. The settings may come in any order: the link-kind choices
// ("CANIOType", then "IOType") go first, since they decide which settings
// exist, then the rest in the order given.
//
// Threads: the command's main thread, before the link opens.

#include "base/Property.h"
#include "cli/CommandLine.h"

#include <string>
#include <utility>
#include <vector>

using LinkSetting = std::pair<std::string, std::string>;

// Splits every "--set NAME=VALUE" of args; false with the usage error
// printed when one has no name or no '='.
bool ParseLinkSettings(const CliArgs& args, std::vector<LinkSetting>& out);

// What the functions below need of a link, for their one implementation.
struct LinkSettingTarget {
    PropertyList (*properties)(void* link);
    bool (*setById)(void* link, int32_t id, const CVariant& value);
    bool (*getById)(void* link, int32_t id, CVariant& value);
};

template <class Link>
const LinkSettingTarget& SettingTargetOf()
{
    static const LinkSettingTarget target{
        [](void* l) { return static_cast<Link*>(l)->Properties(); },
        [](void* l, int32_t id, const CVariant& v) { return static_cast<Link*>(l)->SetPropertyById(id, v); },
        [](void* l, int32_t id, CVariant& v) { return static_cast<Link*>(l)->GetProperty(id, v); },
    };
    return target;
}

// Applies the settings; false with the usage error printed at an unknown
// name or a refused value. `kind` names the list that "telvane-cli
// settings" shows for this link ("crate" or "can").
bool ApplyLinkSettings(const CliCommand& command, const char* kind, void* link, const LinkSettingTarget& target,
                       const std::vector<LinkSetting>& settings);
template <class Link>
bool ApplyLinkSettings(const CliCommand& command, const char* kind, Link& link,
                       const std::vector<LinkSetting>& settings)
{
    return ApplyLinkSettings(command, kind, &link, SettingTargetOf<Link>(), settings);
}

// The setting's current value as text (a choice by its option name).
std::string SettingValueText(void* link, const LinkSettingTarget& target, const _PROPDEF& entry);
// What a setting takes: "number", "number 0..65535", "True|False", "text",
// "choice".
const char* SettingTypeText(const _PROPDEF& entry);
// The choices of a setting: "\"TCP/IP Port\"=3, ..."; empty for none.
std::string SettingChoicesText(const _PROPDEF& entry);

// Where the link goes, for messages: "HOST:PORT" or the serial port's
// name; empty when its settings name neither.
std::string LinkPlace(void* link, const LinkSettingTarget& target);
template <class Link>
std::string LinkPlace(Link& link)
{
    return LinkPlace(&link, SettingTargetOf<Link>());
}
