#pragma once
// Where settings live and which profile names a tool window may take.
// Pure functions; any thread.

#include <string>
#include <string_view>
#include <vector>

// The state path: every setting of the program lies below it.
constexpr const char* kStatePath = "Workspace/";

// "<state>Profiles/<name>/": the section of one profile.
std::string ProfileSection(const std::string& statePath, const std::string& name);
// "<state>Profiles/": the parent of all profile sections.
std::string ProfilesSection(const std::string& statePath);
// "<state>Command-<id>": the section of one command window.
std::string CommandWindowSection(const std::string& statePath, int id);

enum class ProfileNameCheck {
    Ok,
    Empty,        // nothing left after trimming blanks
    Separator,    // holds '/' or '\', which would nest sections
    InUse,        // an open tool window has it, in any letter case
};

// The name as it is stored: blanks and TABs trimmed at both ends.
std::string TrimProfileName(std::string_view name);
ProfileNameCheck CheckProfileName(std::string_view name, const std::vector<std::string>& openNames);
// The operator's message for a refused name ("Name Already in use" for
// InUse); empty for Ok.
std::string ProfileNameMessage(ProfileNameCheck check);

// Command windows are numbered from 600; a new one takes the smallest
// number no open command window has.
constexpr int kFirstCommandWindowId = 600;
int NextCommandWindowId(const std::vector<int>& usedIds);
