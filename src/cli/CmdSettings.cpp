// telvane-cli settings: every "--set" name of the crate and CAN links, with
// its type, default and choices, read from the links' own property lists.

#include "cli/Commands.h"
#include "cli/LinkSettings.h"
#include "links/PortCAN_All.h"
#include "links/PortMC_All.h"

#include <algorithm>
#include <cstdio>

namespace {

struct Row {
    std::string name, type, fallback, choices;
};

void printRows(const std::vector<Row>& rows)
{
    size_t name = 4, type = 4, fallback = 7;
    for (const Row& r : rows) {
        name = std::max(name, r.name.size());
        type = std::max(type, r.type.size());
        fallback = std::max(fallback, r.fallback.size());
    }
    for (const Row& r : rows) {
        std::string line = "  " + r.name + std::string(name - r.name.size() + 2, ' ') + r.type;
        if (!r.fallback.empty() || !r.choices.empty())
            line += std::string(type - r.type.size() + 2, ' ') + r.fallback;
        if (!r.choices.empty())
            line += std::string(fallback - r.fallback.size() + 2, ' ') + r.choices;
        std::printf("%s\n", line.c_str());
    }
}

Row rowOf(void* link, const LinkSettingTarget& target, const _PROPDEF& e)
{
    std::string value = SettingValueText(link, target, e);
    // Texts and choice names may hold blanks; a choice not yet made has none.
    if (e.options && !FindOption(e.options, value))
        value = "(none)";
    else if (e.options || e.type == VarType::String)
        value = "\"" + value + "\"";
    return {e.name, SettingTypeText(e), value, SettingChoicesText(e)};
}

// The kind choice of the link, then for each kind the settings it adds.
template <class Link>
void listLink(const char* title, int32_t kindId, int32_t defaultKind)
{
    Link link;
    const LinkSettingTarget& target = SettingTargetOf<Link>();
    if (defaultKind)
        link.SetPropertyById(kindId, CVariant::FromInt(defaultKind));
    const PropertyList top = link.Properties();
    const auto kind = std::find_if(top.begin(), top.end(), [kindId](const _PROPDEF& e) { return e.id == kindId; });
    std::printf("%s\n", title);
    printRows({rowOf(&link, target, *kind)});
    for (const _PROPOPT* o = kind->options; o && o->name; ++o) {
        Link chosen;
        chosen.SetPropertyById(kindId, CVariant::FromInt(o->value));
        std::vector<Row> rows;
        for (const _PROPDEF& e : chosen.Properties())
            if (e.id != kindId)
                rows.push_back(rowOf(&chosen, target, e));
        std::printf("\nwith %s=\"%s\":\n", kind->name, o->name);
        printRows(rows);
        // A CAN link through a crate takes the crate link's settings too.
        if (std::any_of(rows.begin(), rows.end(), [](const Row& r) { return r.name == "IOType"; }))
            std::printf("  and the crate link's settings of the IOType chosen\n");
    }
}

int runSettings(const CliArgs& args)
{
    const std::string which = args.Operands().empty() ? "" : args.Operands().front();
    if (!which.empty() && which != "crate" && which != "can")
        return UsageFail(kSettingsCommand, "'%s' is neither crate nor can", which.c_str());
    if (which.empty() || which == "crate")
        listLink<CPortMC_All>("Crate link (send, console, serve, flash): NAME TYPE DEFAULT CHOICES",
                              CPortMC_All::kIOType, CPortMC_All::kPrimary);
    if (which.empty())
        std::printf("\n");
    if (which.empty() || which == "can")
        listLink<CPortCAN_All>("CAN link (can, nodes, nodeflash): NAME TYPE DEFAULT CHOICES",
                               CPortCAN_All::kCANIOType, 0);
    return kExitOk;
}

}  // namespace

const CliCommand kSettingsCommand{
    .name = "settings",
    .operands = "[crate|can]",
    .minOperands = 0,
    .maxOperands = 1,
    .summary = "Lists every --set name of the crate or CAN link with its type, default and choices.",
    .run = runSettings,
    .details = "Names are matched in any case; a choice is given by its name or its number. The kind\n"
               "choice (IOType, CANIOType) decides which other settings exist; it may come anywhere\n"
               "among the --set options.\n",
};
