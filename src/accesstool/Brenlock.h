#pragma once
// The whole program behind main(), so that tests can run it in-process.

#include "accesstool/ToolOutput.h"

namespace brenlock {
enum ExitStatus : int {
    Done = 0,
    Usage = 1,
    Failed = 3, // stopped at a check, or some object was left unchanged
};
} // namespace brenlock

int RunBrenlock(int argc, const char* const argv[], CToolOutput& out);
