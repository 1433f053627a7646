#pragma once
// Settings of a CAN link given on the command line as NAME=VALUE.

#include "links/PortCAN.h"

#include <string>

// Sets one setting found by name (any case) in the link's list as it
// stands, so "CANIOType" must come before the settings of the path it
// chooses. Prints why to standard error as "telvane-cli COMMAND: ..." and
// returns false when the text is no assignment, the name unknown or the
// value refused.
bool applyCanSetting(CPortCAN& link, const std::string& assignment, const char* command);
