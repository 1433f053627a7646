#pragma once
// The option of the commands that fetch over HTTP. Read on the command's
// thread before any fetch starts; it sets the deadlines of every fetcher
// made afterwards.

#include "cli/Commands.h"

// Takes "--deadline SECONDS" out of args, when given, and makes it the
// deadline of every fetch, page or download. False for a value that is not
// a whole number from 1 to 86400.
bool takeDeadlineOption(Args& args);
