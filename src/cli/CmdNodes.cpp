// telvane-cli nodes and nodeflash: the node monitor's read pass and its
// node firmware update, over a CAN link set up from property names.

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

int runNodes(const CliArgs& args)
{
    std::vector<LinkSetting> settings;
    if (!ParseLinkSettings(args, settings))
        return kExitUsage;
    unsigned flags = 0;
    if (args.Has("--reset-counters"))
        flags |= CNodePassFlags::ResetCounters;
    if (args.Has("--clear-histograms"))
        flags |= CNodePassFlags::ClearHistograms;
    if (args.Has("--reset-latchup"))
        flags |= CNodePassFlags::ResetLatchUp;

    CLfStdOut log(stderr);
    CNodeMonitor monitor(log);
    if (!ApplyLinkSettings(kNodesCommand, "can", monitor.Link(), settings))
        return kExitUsage;
    if (!monitor.Open())
        return Fail("%s: the CAN link did not open", LinkPlace(monitor.Link()).c_str());
    for (auto flag : {CNodePassFlags::ResetCounters, CNodePassFlags::ClearHistograms, CNodePassFlags::ResetLatchUp})
        if (flags & flag)
            monitor.Flags().Set(flag);
    const NodePassResult result = monitor.ReadPass();
    if (!result.ran)
        return kExitFailed;

    const NodeMonitorData data = monitor.Data();
    std::printf("Connection node %d\n\n", data.connectionNode);
    printGrid(BuildNodeGrid(data), isatty(STDOUT_FILENO) != 0);
    printHistograms(data);
    printTemperatures(data);
    return result.failures == result.refused ? kExitOk : kExitFailed;
}

int runNodeFlash(const CliArgs& args)
{
    std::vector<LinkSetting> settings;
    if (!ParseLinkSettings(args, settings))
        return kExitUsage;
    NodeFlashJob job;
    int64_t node;
    if (!OptionNumber(args, "--node", 0, 255, 0, node))
        return kExitUsage;
    job.node = static_cast<int>(node);
    job.file = *args.Value("--file");
    job.verify = args.Has("--verify");

    CLfStdOut out(stdout);
    CNodeMonitor monitor(out);
    if (!ApplyLinkSettings(kNodeFlashCommand, "can", monitor.Link(), settings))
        return kExitUsage;
    if (!monitor.Open())
        return Fail("%s: the CAN link did not open", LinkPlace(monitor.Link()).c_str());
    return monitor.Update(job) ? kExitOk : kExitFailed;
}

}  // namespace

const CliCommand kNodesCommand{
    .name = "nodes",
    .summary = "Reads the CAN nodes 0 to 9 of a crate once; prints the status grid, histograms, temperatures.",
    .options =
        {
            {"--set", "NAME=VALUE",
             "a CAN-link setting: CANIOType, then that path's settings (telvane-cli settings can)", true},
            {"--reset-counters", nullptr, "reset the error counters after reading them"},
            {"--clear-histograms", nullptr, "clear the histograms after reading them"},
            {"--reset-latchup", nullptr, "reset the latch-up state after reading it"},
        },
    .run = runNodes,
    .details = "The pass's own lines go to standard error. Exit status 0 when every read worked\n"
               "(requests the node rules refuse for the connection node aside), 1 otherwise, 2 for a\n"
               "usage error.\n",
};

const CliCommand kNodeFlashCommand{
    .name = "nodeflash",
    .summary = "Writes an Intel HEX image into one CAN node and prints the update's result lines.",
    .options =
        {
            {"--set", "NAME=VALUE", "a CAN-link setting, as for telvane-cli nodes", true},
            {"--node", "N", "the node to write (0 to 255)", false, true},
            {"--file", "F.hex", "the Intel HEX image", false, true},
            {"--verify", nullptr, "read the image back and compare it"},
        },
    .run = runNodeFlash,
    .details = "Exit status 0 when the image was written (and verified) and the node unlocked, 1\n"
               "otherwise, 2 for a usage error.\n",
};
