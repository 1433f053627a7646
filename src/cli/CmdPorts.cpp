// telvane-cli ports: the machine's serial ports, one a line: the name to
// open, a TAB, the friendly name.

#include "cli/Commands.h"
#include "ports/SerialPorts.h"

#include <cstdio>

int runPorts(const Args& args)
{
    if (!args.empty()) {
        return usageError(runPorts);
    }
    std::vector<std::string> names, friendly;
    EnumSerialPorts(names, friendly);
    for (size_t i = 0; i < names.size(); ++i)
        std::printf("%s\t%s\n", names[i].c_str(), friendly[i].c_str());
    return 0;
}
