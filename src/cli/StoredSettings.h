#pragma once
// Reads application values that the desktop program stored in its settings
// file ($XDG_CONFIG_HOME/Belmora/Telvane.ini, group "Workspace"), so that
// headless commands find the same values. Read only; any thread; each
// call reads the file anew.

#include <optional>
#include <string>

// The settings file's path.
std::string StoredSettingsPath();

// The value of key in the group "Workspace"; nullopt when the file or the
// key is missing.
std::optional<std::string> StoredAppValue(const std::string& key);

// One value as the settings file writes it: quoted parts, backslash escapes
// (\\ \" \t \n \r \0 \xHHHH) and a leading "@@" for "@".
std::string UnescapeStoredValue(const std::string& raw);
