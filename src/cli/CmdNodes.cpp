// telvane-cli nodes and nodeflash: the node monitor's read pass and its
// node firmware update, over a CAN link set up from property names.

#include "base/NumberText.h"
#include "cli/Commands.h"
#include "cli/LinkSettings.h"
#include "nodes/NodeGrid.h"
#include "nodes/NodeMonitor.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const char kNodesHelp[] =
    "Runs one read pass over the CAN nodes 0 to 9 of a crate and prints the\n"
    "status grid (one column per node), the histograms of nodes 8 and 9 and the\n"
    "temperatures. The pass's own lines go to standard error.\n"
    "  --set NAME=VALUE    a CAN link setting: CANIOType (1 through the crate,\n"
    "                      2 through a CAN gateway) first, then that path's\n"
    "                      settings (IOType, Host, Port, CCB ID, ...)\n"
    "  --reset-counters    reset the error counters after reading them\n"
    "  --clear-histograms  clear the histograms after reading them\n"
    "  --reset-latchup     reset the latch-up state after reading it\n"
    "Exit status 0 when every read worked (requests the node rules refuse for\n"
    "the connection node aside), 1 otherwise, 2 for a usage error.\n";

const char kNodeFlashHelp[] =
    "Writes an Intel HEX image into CAN node N over the CAN link and prints the\n"
    "update's result lines; --verify reads the image back and compares it.\n"
    "  --set NAME=VALUE    a CAN link setting, as for telvane-cli nodes\n"
    "Exit status 0 when the image was written (and verified) and the node\n"
    "unlocked, 1 otherwise, 2 for a usage error.\n";

int printHelp(int (*run)(const Args&), const char* text)
{
    for (const auto& c : kCliCommands)
        if (c.run == run)
            std::printf("usage: telvane-cli %s\n\n%s", c.usage, text);
    return 0;
}

bool wantsHelp(const Args& args)
{
    return std::any_of(args.begin(), args.end(), [](const std::string& a) { return a == "--help" || a == "-h"; });
}

const char* colourStart(NodeCellColour colour)
{
    switch (colour) {
    case NodeCellColour::Yellow: return "\033[30;43m";
    case NodeCellColour::Red: return "\033[37;41m";
    default: return nullptr;
    }
}

void printGrid(const NodeGrid& grid, bool colours)
{
    size_t labelWidth = sizeof kNodeGridCorner - 1;
    for (const char* label : kNodeGridLabels)
        labelWidth = std::max(labelWidth, std::string(label).size());
    std::vector<size_t> width(kNodeCount, 1);
    for (const auto& row : grid)
        for (size_t n = 0; n < row.size(); ++n)
            width[n] = std::max(width[n], row[n].text.size());

    std::printf("%-*s", static_cast<int>(labelWidth), kNodeGridCorner);
    for (int n = 0; n < kNodeCount; ++n)
        std::printf("  %*d", static_cast<int>(width[static_cast<size_t>(n)]), n);
    std::printf("\n");
    for (size_t r = 0; r < grid.size(); ++r) {
        std::printf("%-*s", static_cast<int>(labelWidth), kNodeGridLabels[r]);
        for (size_t n = 0; n < grid[r].size(); ++n) {
            const NodeGridCell& cell = grid[r][n];
            const char* start = colours ? colourStart(cell.colour) : nullptr;
            std::printf("  %s%*s%s", start ? start : "", static_cast<int>(width[n]), cell.text.c_str(),
                        start ? "\033[0m" : "");
        }
        std::printf("\n");
    }
}

void printHistograms(const NodeMonitorData& data)
{
    constexpr size_t kPerLine = 16;
    for (const NodeHistogram& h : data.histograms) {
        std::printf("\nHistogram node %d: %zu bins\n", h.node, h.bins.size());
        for (size_t i = 0; i < h.bins.size(); i += kPerLine) {
            std::printf("%4zu:", i);
            for (size_t k = i; k < std::min(i + kPerLine, h.bins.size()); ++k)
                std::printf(" %3u", h.bins[k]);
            std::printf("\n");
        }
    }
}

void printTemperatures(const NodeMonitorData& data)
{
    std::printf("\n");
    if (!data.temperaturesValid) {
        std::printf("Temperatures: not read\n");
        return;
    }
    for (size_t i = 0; i < data.temperatures.size(); ++i)
        std::printf("Temperature %zu: %.1f\n", i, static_cast<double>(data.temperatures[i]));
}

}  // namespace

int runNodes(const Args& args)
{
    if (wantsHelp(args))
        return printHelp(runNodes, kNodesHelp);
    std::vector<LinkSetting> settings;
    unsigned flags = 0;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--set" && i + 1 < args.size()) {
            if (!ParseLinkSetting("nodes", args[++i], settings))
                return usageError(runNodes);
        } else if (a == "--reset-counters")
            flags |= CNodePassFlags::ResetCounters;
        else if (a == "--clear-histograms")
            flags |= CNodePassFlags::ClearHistograms;
        else if (a == "--reset-latchup")
            flags |= CNodePassFlags::ResetLatchUp;
        else
            return usageError(runNodes);
    }

    CStdOutFile log(stderr);
    CNodeMonitor monitor(log);
    if (!ApplyLinkSettings("nodes", monitor.Link(), settings))
        return 1;
    if (!monitor.Open())
        return 1;
    for (auto flag : {CNodePassFlags::ResetCounters, CNodePassFlags::ClearHistograms, CNodePassFlags::ResetLatchUp})
        if (flags & flag)
            monitor.Flags().Set(flag);
    const NodePassResult result = monitor.ReadPass();
    if (!result.ran)
        return 1;

    const NodeMonitorData data = monitor.Data();
    std::printf("Connection node %d\n\n", data.connectionNode);
    printGrid(BuildNodeGrid(data), isatty(STDOUT_FILENO) != 0);
    printHistograms(data);
    printTemperatures(data);
    return result.failures == result.refused ? 0 : 1;
}

int runNodeFlash(const Args& args)
{
    if (wantsHelp(args))
        return printHelp(runNodeFlash, kNodeFlashHelp);
    std::vector<LinkSetting> settings;
    NodeFlashJob job;
    bool nodeGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--set" && i + 1 < args.size()) {
            if (!ParseLinkSetting("nodeflash", args[++i], settings))
                return usageError(runNodeFlash);
        } else if (a == "--node" && i + 1 < args.size()) {
            const std::string& n = args[++i];
            if (n.empty() || !std::isdigit(static_cast<unsigned char>(n[0])))
                return usageError(runNodeFlash);
            job.node = ParseNumberText(n);
            nodeGiven = true;
        } else if (a == "--file" && i + 1 < args.size()) {
            job.file = args[++i];
        } else if (a == "--verify") {
            job.verify = true;
        } else {
            return usageError(runNodeFlash);
        }
    }
    if (!nodeGiven || job.file.empty())
        return usageError(runNodeFlash);

    CStdOutFile out(stdout);
    CNodeMonitor monitor(out);
    if (!ApplyLinkSettings("nodeflash", monitor.Link(), settings))
        return 1;
    if (!monitor.Open())
        return 1;
    return monitor.Update(job) ? 0 : 1;
}
