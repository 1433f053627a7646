#pragma once
// Registers the server and spy windows with the main frame's tool-window
// kinds, and their property texts with the string table. GUI thread, once
// before the main frame is made.

class CToolWindowRegistry;

void RegisterRelayWindows(CToolWindowRegistry& registry);
