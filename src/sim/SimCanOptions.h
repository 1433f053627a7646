#pragma once
// telvane-sim's options for the CAN side: node controller crates and the
// CAN gateway front end.

#include "sim/SimCanSystem.h"

#include <cstdio>

extern const char kSimCanUsage[];

// Takes argv[i] (and its value, moving i on) when it is a CAN option.
// 1: taken; 0: not a CAN option; -1: a CAN option with a bad or missing value.
int ParseSimCanOption(int argc, char** argv, int& i, SimCanConfig& config);

// "can-gateway HOST:PORT" and one "node-controller" line per controller.
void PrintSimCanListening(CSimCanSystem& can, FILE* out);
