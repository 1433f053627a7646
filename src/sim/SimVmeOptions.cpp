#include "sim/SimVmeOptions.h"

#include <charconv>
#include <string>

const char kSimVmeUsage[] =
    "  --daq-port N         DAQ server on the simulated VME stand (0: any free port)\n"
    "  --trigger-rate HZ    triggers per second once armed, in 1 ms steps (0: at once;\n"
    "                       default 1000)\n"
    "  --miss-triggers N    the first N armings of the trigger never fire\n"
    "  --miss-every N       every N-th arming of the trigger never fires\n"
    "  --event-records N    PU FIFO records per event, 1 to 4096 (default 1)\n"
    "  --ros-items N        ROS data items per channel and event (default 0)\n"
    "  --no-ros             the stand has no ROS board\n";

namespace {
bool ParseInt(const char* text, int min, int max, int& out)
{
    const std::string s = text;
    int value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc() || end != s.data() + s.size() || value < min || value > max)
        return false;
    out = value;
    return true;
}
}  // namespace

int ParseSimVmeOption(int argc, char** argv, int& i, SimVmeConfig& config)
{
    const std::string a = argv[i];
    if (a == "--no-ros") {
        config.ros = false;
        return 1;
    }
    struct Option {
        const char* name;
        int* target;
        int min, max;
    };
    const Option options[] = {
        {"--daq-port", &config.daqPort, 0, 0xFFFF},
        {"--trigger-rate", &config.triggerRateHz, 0, 1000000},
        {"--miss-triggers", &config.missTriggers, 0, 1 << 30},
        {"--miss-every", &config.missEvery, 0, 1 << 30},
        {"--event-records", &config.eventRecords, 1, 4096},
        {"--ros-items", &config.rosItems, 0, 1000},
    };
    for (const Option& o : options) {
        if (a != o.name)
            continue;
        if (i + 1 >= argc)
            return -1;
        return ParseInt(argv[++i], o.min, o.max, *o.target) ? 1 : -1;
    }
    return 0;
}

void ApplySimVmeConfig(const SimVmeConfig& config, CSimVmeStand& stand)
{
    if (config.triggerRateHz == 0)
        stand.SetTriggerDelay(std::chrono::milliseconds(0));
    else if (config.triggerRateHz > 0)
        stand.SetTriggerDelay(std::chrono::milliseconds((1000 + config.triggerRateHz / 2) / config.triggerRateHz));
    stand.MissTriggers(config.missTriggers);
    stand.MissEveryTrigger(config.missEvery);
    stand.SetEventSize(config.eventRecords);
    stand.SetRosData(config.rosItems);
    stand.SetRosPresent(config.ros);
}
