#pragma once
// The sub-commands of telvane-cli, each described by its table (options,
// operands, help) next to its run function. Each run returns the process
// exit status: 0 success, 1 failure of the work, 2 a usage error.

#include "cli/CommandLine.h"

extern const CliCommand kHexCommand;
extern const CliCommand kDecodeCommand;
extern const CliCommand kEncodeCommand;
extern const CliCommand kPortsCommand;
extern const CliCommand kCatalogueCommand;
extern const CliCommand kFindLinkCommand;
extern const CliCommand kSendCommand;
extern const CliCommand kCanCommand;
extern const CliCommand kSettingsCommand;
extern const CliCommand kConsoleCommand;
extern const CliCommand kServeCommand;
extern const CliCommand kDaqCommand;
extern const CliCommand kNodesCommand;
extern const CliCommand kNodeFlashCommand;
extern const CliCommand kFlashCommand;

// In the order the command list shows them.
inline const CliCommand* const kCliCommands[] = {
    &kHexCommand,      &kDecodeCommand, &kEncodeCommand,  &kPortsCommand,    &kCatalogueCommand,
    &kFindLinkCommand, &kSendCommand,   &kCanCommand,     &kSettingsCommand, &kConsoleCommand,
    &kServeCommand,    &kDaqCommand,    &kNodesCommand,   &kNodeFlashCommand, &kFlashCommand,
};
