#pragma once
// What an install of this build holds, relative to the prefix, and helpers
// to run installed programs through the shell. Single-threaded; the
// commands run to their end (the tests give them deadlines with timeout(1)).

#include "support/RunCommand.h"

#include <string>
#include <vector>

// The programs in bin/, the desktop program when this build has it.
inline std::vector<std::string> InstalledPrograms()
{
    std::vector<std::string> programs = {"telvane-cli", "telvane-sim", "brenlock"};
    if (TELVANE_WITH_UI)
        programs.push_back("telvane");
    return programs;
}

// Every file of the installed tree.
inline std::vector<std::string> InstalledFiles()
{
    std::vector<std::string> files = {
        "share/telvane/examples/Cb_v126.dec",
        "share/telvane/examples/Cb_v126_cmd.dec",
        "share/bash-completion/completions/telvane-cli",
    };
    for (const std::string& program : InstalledPrograms()) {
        files.push_back("bin/" + program);
        files.push_back("share/man/man1/" + program + ".1");
    }
    if (TELVANE_WITH_UI) {
        files.push_back("share/applications/telvane.desktop");
        files.push_back("share/icons/hicolor/scalable/apps/telvane.svg");
    }
    return files;
}

// The text in single quotes for sh and bash.
inline std::string ShellQuoted(const std::string& text)
{
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}
