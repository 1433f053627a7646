#pragma once
// Crate-link settings given on the command line by their shown names.

#include "links/PortMC_All.h"

#include <string>

// Sets the setting shown as `name` (any case); a choice takes its option
// name or number, a number "0x" hexadecimal. False (last error 2 for an
// unknown name) when the link refuses it.
bool SetLinkSettingByName(CPortMC_All& link, const std::string& name, const std::string& text);
