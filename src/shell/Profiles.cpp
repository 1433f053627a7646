#include "shell/Profiles.h"

#include <algorithm>
#include <cctype>

std::string ProfileSection(const std::string& statePath, const std::string& name)
{
    return statePath + "Profiles/" + name + "/";
}

std::string ProfilesSection(const std::string& statePath)
{
    return statePath + "Profiles/";
}

std::string CommandWindowSection(const std::string& statePath, int id)
{
    return statePath + "Command-" + std::to_string(id);
}

std::string TrimProfileName(std::string_view name)
{
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!name.empty() && blank(name.front()))
        name.remove_prefix(1);
    while (!name.empty() && blank(name.back()))
        name.remove_suffix(1);
    return std::string(name);
}

namespace {

bool EqualIgnoringCase(std::string_view a, std::string_view b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

}  // namespace

ProfileNameCheck CheckProfileName(std::string_view name, const std::vector<std::string>& openNames)
{
    std::string trimmed = TrimProfileName(name);
    if (trimmed.empty())
        return ProfileNameCheck::Empty;
    if (trimmed.find_first_of("/\\") != std::string::npos)
        return ProfileNameCheck::Separator;
    for (const auto& open : openNames)
        if (EqualIgnoringCase(open, trimmed))
            return ProfileNameCheck::InUse;
    return ProfileNameCheck::Ok;
}

std::string ProfileNameMessage(ProfileNameCheck check)
{
    switch (check) {
    case ProfileNameCheck::Ok:
        return {};
    case ProfileNameCheck::Empty:
        return "Profile Name is empty";
    case ProfileNameCheck::Separator:
        return "A profile name cannot contain '/' or '\\'";
    case ProfileNameCheck::InUse:
        return "Name Already in use";
    }
    return {};
}

int NextCommandWindowId(const std::vector<int>& usedIds)
{
    int id = kFirstCommandWindowId;
    while (std::find(usedIds.begin(), usedIds.end(), id) != usedIds.end())
        ++id;
    return id;
}
