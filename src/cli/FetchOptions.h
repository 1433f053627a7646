#pragma once
// The option of the commands that fetch over HTTP. Read on the command's
// thread before any fetch starts; it sets the deadlines of every fetcher
// made afterwards.

#include "cli/CommandLine.h"

inline const CliOption kDeadlineOption{"--deadline", "SECONDS",
                                       "give up a page or download after this many seconds (1 to 86400)"};

// Makes "--deadline SECONDS", when given, the deadline of every fetch, page
// or download. False with the usage error printed for a value that is not
// a whole number from 1 to 86400.
bool TakeDeadlineOption(const CliArgs& args);
