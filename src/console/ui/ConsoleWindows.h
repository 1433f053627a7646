#pragma once
// The connection window behind "&New" and the command windows, for the
// desktop program's main to register once at start. GUI thread only.

class CToolWindowRegistry;

void RegisterConsoleWindows(CToolWindowRegistry& registry);
