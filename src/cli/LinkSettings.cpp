#include "cli/LinkSettings.h"

#include <strings.h>

namespace {

// The settings that choose a link's kind, in the order they apply.
const char* const kKindChoices[] = {"CANIOType", "IOType"};

const _PROPDEF* findEntry(const PropertyList& list, const std::string& name)
{
    for (const _PROPDEF& e : list)
        if (strcasecmp(e.name, name.c_str()) == 0)
            return &e;
    return nullptr;
}

const _PROPDEF* findEntryByName(const PropertyList& list, const char* name)
{
    for (const _PROPDEF& e : list)
        if (std::string_view(e.name) == name)
            return &e;
    return nullptr;
}

// The order the settings apply in: kind choices first.
std::vector<LinkSetting> applyOrder(const std::vector<LinkSetting>& settings)
{
    std::vector<LinkSetting> ordered;
    for (const char* kind : kKindChoices)
        for (const auto& s : settings)
            if (strcasecmp(s.first.c_str(), kind) == 0)
                ordered.push_back(s);
    for (const auto& s : settings) {
        bool isKind = false;
        for (const char* kind : kKindChoices)
            isKind = isKind || strcasecmp(s.first.c_str(), kind) == 0;
        if (!isKind)
            ordered.push_back(s);
    }
    return ordered;
}

}  // namespace

bool ParseLinkSettings(const CliArgs& args, std::vector<LinkSetting>& out)
{
    for (const std::string& assignment : args.Values("--set")) {
        const size_t eq = assignment.find('=');
        if (eq == std::string::npos || eq == 0) {
            UsageFail(args.Command(), "--set: expected NAME=VALUE, got '%s'", assignment.c_str());
            return false;
        }
        out.emplace_back(assignment.substr(0, eq), assignment.substr(eq + 1));
    }
    return true;
}

bool ApplyLinkSettings(const CliCommand& command, const char* kind, void* link, const LinkSettingTarget& target,
                       const std::vector<LinkSetting>& settings)
{
    for (const auto& [name, text] : applyOrder(settings)) {
        // Listed anew for each setting: a link-kind choice changes the list.
        const PropertyList list = target.properties(link);
        const _PROPDEF* entry = findEntry(list, name);
        if (!entry) {
            UsageFail(command, "unknown setting '%s' (telvane-cli settings %s lists them)", name.c_str(), kind);
            return false;
        }
        const _PROPOPT* option = entry->options ? FindOption(entry->options, text) : nullptr;
        const CVariant value = option ? CVariant::FromInt(option->value) : CVariant::FromString(text);
        if (!target.setById(link, entry->id, value)) {
            std::string takes = SettingTypeText(*entry);
            if (entry->options)
                takes += ": " + SettingChoicesText(*entry);
            UsageFail(command, "setting \"%s\" refused the value \"%s\" (%s)", entry->name, text.c_str(),
                      takes.c_str());
            return false;
        }
    }
    return true;
}

std::string SettingValueText(void* link, const LinkSettingTarget& target, const _PROPDEF& entry)
{
    CVariant value = CVariant::FromString("");
    if (!target.getById(link, entry.id, value))
        return "";
    // Asked with a text, a choice answers with its name; names such as
    // the stop bits' "1" must not be read back as a number.
    if (entry.options && value.isString() && FindOption(entry.options, value.text()))
        return value.text();
    int64_t number;
    if (entry.options && value.ToNumber(number))
        if (const _PROPOPT* o = FindOptionByValue(entry.options, static_cast<int32_t>(number)))
            return o->name;
    std::string text;
    value.ToText(text);
    return text;
}

const char* SettingTypeText(const _PROPDEF& entry)
{
    if (entry.options)
        return "choice";
    switch (entry.type) {
    case VarType::Bool: return "True|False";
    case VarType::String: return "text";
    case VarType::UInt16: return "number 0..65535";
    default: return "number";
    }
}

std::string SettingChoicesText(const _PROPDEF& entry)
{
    std::string text;
    for (const _PROPOPT* o = entry.options; o && o->name; ++o)
        text += (text.empty() ? "\"" : ", \"") + std::string(o->name) + "\"=" + std::to_string(o->value);
    return text;
}

std::string LinkPlace(void* link, const LinkSettingTarget& target)
{
    const PropertyList list = target.properties(link);
    const _PROPDEF* host = findEntryByName(list, "Host");
    const _PROPDEF* port = findEntryByName(list, "Port");
    if (host && port)
        return SettingValueText(link, target, *host) + ":" + SettingValueText(link, target, *port);
    if (const _PROPDEF* com = findEntryByName(list, "ComName"))
        return SettingValueText(link, target, *com);
    return "";
}
