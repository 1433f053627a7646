// telvane-cli ports: the machine's serial ports, one a line: the name to
// open, a TAB, the friendly name.

#include "cli/Commands.h"
#include "ports/SerialPorts.h"

#include <cstdio>

namespace {

int runPorts(const CliArgs&)
{
    std::vector<std::string> names, friendly;
    EnumSerialPorts(names, friendly);
    for (size_t i = 0; i < names.size(); ++i)
        std::printf("%s\t%s\n", names[i].c_str(), friendly[i].c_str());
    return kExitOk;
}

}  // namespace

const CliCommand kPortsCommand{
    .name = "ports",
    .summary = "Lists the machine's serial ports: the name to give as ComName, a TAB, the friendly name.",
    .run = runPorts,
};
