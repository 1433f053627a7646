// telvane-cli: Telvane's engines without the desktop, for scripts and servers.

#include "base/OpenFiles.h"
#include "base/TempFiles.h"
#include "cli/Commands.h"
#include "shell/SelfUpdate.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

void printCommandList(FILE* out)
{
    std::fputs("usage: telvane-cli COMMAND [OPTIONS] [ARGS...]\n"
               "       telvane-cli help COMMAND | COMMAND --help | --version\n\ncommands:\n",
               out);
    size_t width = 0;
    for (const CliCommand* c : kCliCommands)
        width = std::max(width, std::strlen(c->name));
    for (const CliCommand* c : kCliCommands)
        std::fprintf(out, "  %-*s  %s\n", static_cast<int>(width), c->name, c->summary);
}

const CliCommand* findCommand(const char* name)
{
    for (const CliCommand* c : kCliCommands)
        if (std::strcmp(name, c->name) == 0)
            return c;
    return nullptr;
}

bool asksHelp(const Args& words)
{
    for (const auto& w : words) {
        if (w == "--")
            return false;
        if (w == "--help" || w == "-h")
            return true;
    }
    return false;
}

int runCommand(const CliCommand& command, const Args& words)
{
    if (asksHelp(words)) {
        PrintHelp(command, stdout);
        return kExitOk;
    }
    CliArgs args(command);
    std::string error;
    if (!args.Parse(words, error))
        return UsageFail(command, "%s", error.c_str());
    return command.run(args);
}

int dispatch(int argc, char** argv)
{
    if (argc < 2) {
        printCommandList(stderr);
        return kExitUsage;
    }
    const std::string first = argv[1];
    if (first == "--help" || first == "-h" || (first == "help" && argc == 2)) {
        printCommandList(stdout);
        return kExitOk;
    }
    if (first == "--version") {
        const ProgramVersion v = ThisProgramVersion();
        std::printf("telvane-cli %d.%d.%d.%d\n", v[0], v[1], v[2], v[3]);
        return kExitOk;
    }
    if (first == "help") {
        const CliCommand* command = argc == 3 ? findCommand(argv[2]) : nullptr;
        if (!command) {
            if (argc == 3)
                Fail("help: no command '%s'", argv[2]);
            else
                Fail("help: name one command");
            printCommandList(stderr);
            return kExitUsage;
        }
        PrintHelp(*command, stdout);
        return kExitOk;
    }
    if (const CliCommand* command = findCommand(argv[1]))
        return runCommand(*command, Args(argv + 2, argv + argc));
    Fail("unknown command '%s'", argv[1]);
    printCommandList(stderr);
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv)
{
    RaiseOpenFileLimit();
    RemoveTempFilesOnTermination();
    const int status = dispatch(argc, argv);
    // Output that did not reach its file is a failure, whatever the work did.
    std::string reason;
    if (!OutputWritten(reason)) {
        std::fprintf(stderr, "telvane-cli: standard output: %s\n", reason.c_str());
        return status == kExitOk ? kExitFailed : status;
    }
    return status;
}
