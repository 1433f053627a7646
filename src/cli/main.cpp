// telvane-cli: Telvane's engines without the desktop, for scripts and servers.

#include "base/OpenFiles.h"
#include "base/TempFiles.h"
#include "cli/Commands.h"

#include <cstdio>
#include <cstring>

int usageError(int (*run)(const Args& args))
{
    for (const auto& c : kCliCommands)
        if (c.run == run)
            std::fprintf(stderr, "usage: telvane-cli %s\n", c.usage);
    return 2;
}

static int printUsage(FILE* out)
{
    std::fprintf(out, "usage: telvane-cli COMMAND [ARGS...]\n\ncommands:\n");
    for (const auto& c : kCliCommands)
        std::fprintf(out, "  %s\n", c.usage);
    return 2;
}

int main(int argc, char** argv)
{
    RaiseOpenFileLimit();
    RemoveTempFilesOnTermination();
    if (argc < 2)
        return printUsage(stderr);
    if (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "help")) {
        printUsage(stdout);
        return 0;
    }
    for (const auto& c : kCliCommands) {
        if (std::strcmp(argv[1], c.name) == 0)
            return c.run(Args(argv + 2, argv + argc));
    }
    std::fprintf(stderr, "telvane-cli: unknown command '%s'\n", argv[1]);
    return printUsage(stderr);
}
