#pragma once
// Crate-link settings given on the command line as NAME=VALUE, by the
// names the properties pane shows.

#include "links/PortMC_All.h"

#include <string>
#include <utility>
#include <vector>

using LinkSetting = std::pair<std::string, std::string>;

// "NAME=VALUE" with a non-empty name; false otherwise.
bool parseLinkSetting(const std::string& text, LinkSetting& out);

// Sets a property by its shown name (any case); choices take their option
// name or number, numbers "0x" hexadecimal too. False with 2 for an
// unknown name, else the link's error.
bool setLinkSetting(CPortMC_All& link, const std::string& name, const std::string& text);

// Applies them in order; prints the first refused one to standard error
// as "telvane-cli COMMAND: setting ... refused ..." and returns false.
bool applyLinkSettings(CPortMC_All& link, const std::vector<LinkSetting>& settings, const char* command);
