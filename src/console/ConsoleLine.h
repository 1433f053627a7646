#pragma once
// One input line of the terminal console: a command of the command file
// with its arguments ("Power TRB6 ON"), or raw bytes ("raw 2F 13 01"),
// each with the optional words "--wait", "--nowait" and "--timeout MS".
// Text in double quotes is one argument. Blank lines and lines starting
// with "#" send nothing. Arguments are checked before anything is sent
// (CheckArguments): an unknown name, a word where a number belongs or a
// value too wide for its field is refused with the reason, where the
// encoding would quietly send 0. Raw bytes follow ParseByteWords.
//
// Threads: plain functions; the command tables are only read.

#include "console/CommandRequest.h"
#include "links/PortMCData.h"

#include <string>
#include <string_view>
#include <vector>

class CStructList;

struct ConsoleLine {
    bool empty = true;  // nothing to send
    _MCDATA request;
};

// commands may be null: raw bytes only. False with the reason in error.
bool ParseConsoleLine(std::string_view line, const CStructList* commands, const SendProperties& defaults,
                      ConsoleLine& out, std::string& error);
