#pragma once
// The commands and options that telvane-cli's help shows: the command list
// of `telvane-cli --help`, and for each command the options of its usage
// line and of its own help's option table. Runs the program; single-threaded.

#include "install/InstallLayout.h"

#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

using OptionSet = std::set<std::string>;

// The "--name" words of a text.
inline OptionSet OptionWordsOf(const std::string& text)
{
    OptionSet words;
    static const std::regex option("--[a-z][a-z-]*");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), option); it != std::sregex_iterator(); ++it)
        words.insert(it->str());
    return words;
}

// The options a command's own help lists: its usage line, and the option
// table (the lines after "options:", or else the lines that start with an
// option). Prose of the help is left out: it may name options of other
// things, such as the input lines of `console`.
inline OptionSet OptionsOfCommandHelp(const std::string& help)
{
    OptionSet options;
    std::istringstream in(help);
    std::string line;
    if (std::getline(in, line) && line.rfind("usage:", 0) == 0)
        options = OptionWordsOf(line);
    const bool table = help.find("\noptions:\n") != std::string::npos;
    bool inTable = false;
    while (std::getline(in, line)) {
        if (table) {
            if (line == "options:") {
                inTable = true;
                continue;
            }
            if (line.empty())
                inTable = false;
            if (!inTable)
                continue;
        }
        if (line.rfind("  -", 0) != 0)
            continue;
        // "  --set NAME=VALUE  what it does": the option's own part ends at two blanks.
        const size_t end = line.find("  ", 2);
        const OptionSet words = OptionWordsOf(line.substr(0, end));
        options.insert(words.begin(), words.end());
    }
    return options;
}

// Command name -> its options, for every command of `telvane-cli --help`.
inline std::map<std::string, OptionSet> CliHelpCommands(const std::string& cli)
{
    std::map<std::string, OptionSet> commands;
    const CommandResult list = RunCommand(cli + " --help 2>/dev/null");
    static const std::regex entry("\n  ([a-z]+)([^\n]*)");
    for (auto it = std::sregex_iterator(list.out.begin(), list.out.end(), entry); it != std::sregex_iterator(); ++it) {
        const std::string name = (*it)[1];
        // The command's own help where it has one; else the list's line,
        // when that is a usage line.
        const CommandResult own = RunCommand(cli + " " + name + " --help 2>/dev/null");
        commands[name] = own.status == 0 ? OptionsOfCommandHelp(own.out) : OptionWordsOf((*it)[2]);
    }
    return commands;
}
