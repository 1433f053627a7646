#pragma once
// The sub-commands of telvane-cli. Each returns the process exit status:
// 0 success, 1 failure of the work, 2 a usage error.

#include <string>
#include <vector>

using Args = std::vector<std::string>;

struct CliCommand {
    const char* name;
    const char* usage;
    int (*run)(const Args& args);
};

// Prints "usage: telvane-cli <usage>" of the command run by `run` to
// standard error; returns 2.
int usageError(int (*run)(const Args& args));

int runHex(const Args& args);
int runDecode(const Args& args);
int runEncode(const Args& args);
int runPorts(const Args& args);
int runCatalogue(const Args& args);
int runFindLink(const Args& args);
int runSend(const Args& args);
int runCan(const Args& args);
int runDaq(const Args& args);
int runNodes(const Args& args);
int runNodeFlash(const Args& args);

// One line per sub-command, in the order the help lists them.
inline const std::vector<CliCommand> kCliCommands = {
    {"hex", "hex FILE [--intel] [--align] [--walk G] [--bin OUT]", runHex},
    {"decode", "decode FILE [--shared-codes] [--dump] [--code CODE --bytes \"HEX ...\"]", runDecode},
    {"encode", "encode FILE --command NAME [ARG ...]", runEncode},
    {"ports", "ports", runPorts},
    {"catalogue", "catalogue LOCATION [--find WHEEL SECTOR TYPE]", runCatalogue},
    {"findlink", "findlink URL PATTERN", runFindLink},
    {"send", "send [--set NAME=VALUE ...] [--decode FILE] [--timeout MS] [--repeat N] [--raw] BYTES...", runSend},
    {"can", "can [--set NAME=VALUE ...] --id A,B [--reply] DATA...", runCan},
    {"daq", "daq [--port N] [--bind ADDR] [--allow CIDR ...] [--max-clients N] [--set NAME=VALUE ...]", runDaq},
    {"nodes", "nodes [--set NAME=VALUE ...] [--reset-counters] [--clear-histograms] [--reset-latchup]", runNodes},
    {"nodeflash", "nodeflash [--set NAME=VALUE ...] --node N --file F.hex [--verify]", runNodeFlash},
};
