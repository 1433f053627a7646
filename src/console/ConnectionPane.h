#pragma once
// The rules of the connection window's properties pane, without the pane:
// which link parameters may be edited and which are shown, given the
// values the pane holds, and the "Sector" choices that "Port Type" gives.
//
// Threads: plain functions.

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

struct _PARAMSTATE {
    bool editable = true;
    bool shown = true;
};

// linkFree: the link is closed and the window does not believe it open.
// valueOf: a parameter's value in the pane (a choice gives its number; 0
// when the pane has no such parameter). current: what the parameter has
// now, kept where the rules leave it unchanged.
_PARAMSTATE LinkParameterState(int32_t id, bool linkFree, const std::function<int32_t(int32_t)>& valueOf,
                               _PARAMSTATE current);

// The "Sector" options for a "Port Type"; empty for a type with no list of
// its own (the link's list stays).
std::vector<std::pair<std::string, int32_t>> SectorOptions(int32_t portType);
