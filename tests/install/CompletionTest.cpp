// The bash completion of telvane-cli against the program and the settings
// tables: every command and option of the help, every "--set" name and
// choice, file names. Run by bash on the completion file of the sources.

#include "daq/DaqSettings.h"
#include "install/CliHelp.h"
#include "links/PortCAN_All.h"
#include "links/PortMC_All.h"
#include "relay/RelaySettings.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

namespace {

using Names = std::set<std::string>;

const std::string kCompletion = std::string(TELVANE_SOURCE_DIR) + "/data/telvane-cli.bash-completion";

// The candidates the completion offers with the cursor at the end of the
// last word, one per line; words as bash splits the line ("=" apart).
std::vector<std::string> Complete(const std::vector<std::string>& words, const std::string& folder = ".")
{
    const CTempDir script;
    {
        std::ofstream out(script.File("complete.bash"));
        out << "source " << ShellQuoted(kCompletion) << "\ncd " << ShellQuoted(folder) << "\nCOMP_WORDS=(";
        for (const std::string& word : words)
            out << ShellQuoted(word) << " ";
        out << ")\nCOMP_CWORD=" << words.size() - 1 << "\n_telvane_cli\nprintf '%s\\n' \"${COMPREPLY[@]}\"\n";
    }
    const CommandResult r = RunCommand("bash " + script.File("complete.bash") + " 2>&1");
    std::vector<std::string> lines;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            lines.push_back(line);
    return lines;
}

Names AsSet(const std::vector<std::string>& lines) { return Names(lines.begin(), lines.end()); }

// "--set" names offered for a command, without their "=".
Names SetNames(const std::string& command)
{
    Names names;
    for (std::string candidate : Complete({"telvane-cli", command, "--set", ""})) {
        EXPECT_EQ(candidate.back(), '=') << candidate;
        candidate.pop_back();
        names.insert(candidate);
    }
    return names;
}

void AddNames(Names& names, const PropertyList& list)
{
    for (const _PROPDEF& e : list)
        names.insert(e.name);
}

// The crate link's settings under every link type.
Names CrateLinkNames()
{
    Names names;
    for (int type : {CPortMC_All::kPrimary, CPortMC_All::kSecondary, CPortMC_All::kTcp}) {
        CPortMC_All link;
        EXPECT_TRUE(link.SetPropertyById(CPortMC_All::kIOType, CVariant::FromInt(type)));
        AddNames(names, link.Properties());
    }
    return names;
}

// The CAN link's settings: through a crate (with each crate link type) and through a gateway.
Names CanLinkNames()
{
    Names names;
    for (int type : {CPortMC_All::kPrimary, CPortMC_All::kSecondary, CPortMC_All::kTcp}) {
        CPortCAN_All link;
        EXPECT_TRUE(link.SetPropertyById(CPortCAN_All::kCANIOType, CVariant::FromInt(CPortCAN_All::kCompatible)));
        EXPECT_TRUE(link.SetPropertyById(CPortMC_All::kIOType, CVariant::FromInt(type)));
        AddNames(names, link.Properties());
    }
    CPortCAN_All gateway;
    EXPECT_TRUE(gateway.SetPropertyById(CPortCAN_All::kCANIOType, CVariant::FromInt(CPortCAN_All::kNode)));
    AddNames(names, gateway.Properties());
    return names;
}

// Every setting with choices, by name, from all link types.
std::map<std::string, Names> Choices()
{
    std::map<std::string, Names> choices;
    auto add = [&choices](const PropertyList& list) {
        for (const _PROPDEF& e : list)
            for (const _PROPOPT* o = e.options; o && o->name; ++o)
                choices[e.name].insert(o->name);
    };
    for (int type : {CPortMC_All::kPrimary, CPortMC_All::kSecondary, CPortMC_All::kTcp}) {
        CPortCAN_All link;
        link.SetPropertyById(CPortCAN_All::kCANIOType, CVariant::FromInt(CPortCAN_All::kCompatible));
        link.SetPropertyById(CPortMC_All::kIOType, CVariant::FromInt(type));
        add(link.Properties());
    }
    CPortCAN_All gateway;
    gateway.SetPropertyById(CPortCAN_All::kCANIOType, CVariant::FromInt(CPortCAN_All::kNode));
    add(gateway.Properties());
    return choices;
}

TEST(Completion, SetNamesAreTheSettingsOfEachCommandsLink)
{
    const Names crate = CrateLinkNames();
    Names can = CanLinkNames();
    Names serve = crate;
    AddNames(serve, CRelaySettings::Properties());
    Names daq;
    for (const _DAQSETTING& s : CDaqSettings::Table())
        daq.insert(s.key);

    for (const char* command : {"send", "console", "flash"})
        EXPECT_EQ(SetNames(command), crate) << command;
    for (const char* command : {"can", "nodes", "nodeflash"})
        EXPECT_EQ(SetNames(command), can) << command;
    EXPECT_EQ(SetNames("serve"), serve);
    EXPECT_EQ(SetNames("daq"), daq);
}

TEST(Completion, ChoicesAreTheOptionsOfEachSetting)
{
    const std::map<std::string, Names> choices = Choices();
    ASSERT_FALSE(choices.empty());
    for (const auto& [name, options] : choices) {
        // Right after "=", and with the first letter typed (any case).
        EXPECT_EQ(AsSet(Complete({"telvane-cli", "send", "--set", name, "="})), options) << name;
        const std::string first = *options.begin();
        const std::vector<std::string> typed =
            Complete({"telvane-cli", "send", "--set", name, "=", std::string(1, static_cast<char>(std::tolower(first[0])))});
        EXPECT_NE(std::find(typed.begin(), typed.end(), first), typed.end()) << name << " " << first;
    }
    // A name with a blank, typed with a backslash as the shell keeps it.
    EXPECT_EQ(AsSet(Complete({"telvane-cli", "send", "--set", "CCB\\ ID\\ Mode", "=", "M"})),
              (Names{"Manual", "McList"}));
}

// Commands and options, as the program's help shows them.
TEST(Completion, CoversEveryCommandAndOptionOfTheHelp)
{
    const std::string cli = TelvaneCli();
    ASSERT_FALSE(cli.empty());
    const std::map<std::string, OptionSet> help = CliHelpCommands(cli);
    EXPECT_GE(help.size(), 14u);
    const Names commands = AsSet(Complete({"telvane-cli", ""}));
    for (const auto& [command, options] : help) {
        EXPECT_TRUE(commands.count(command)) << command;
        const Names offered = AsSet(Complete({"telvane-cli", command, "--"}));
        for (const std::string& option : options)
            EXPECT_TRUE(offered.count(option)) << command << " " << option;
    }
    EXPECT_TRUE(commands.count("--help"));
    // "help" completes the commands.
    EXPECT_EQ(AsSet(Complete({"telvane-cli", "help", "node"})), (Names{"nodes", "nodeflash"}));
}

TEST(Completion, FileNamesWhereTheCommandTakesAFile)
{
    const CTempDir folder;
    for (const char* name : {"reply.dec", "notes.txt", "fw.hex"})
        std::ofstream(folder.File(name)) << "// " << name << "\n";
    std::filesystem::create_directory(folder.File("sub"));
    struct Case {
        std::vector<std::string> words;
        Names expected;
    };
    const Case cases[] = {
        {{"telvane-cli", "decode", ""}, {"reply.dec", "sub"}},
        {{"telvane-cli", "send", "--decode", ""}, {"reply.dec", "sub"}},
        {{"telvane-cli", "hex", ""}, {"reply.dec", "notes.txt", "fw.hex", "sub"}},
        {{"telvane-cli", "nodeflash", "--file", ""}, {"fw.hex", "sub"}},
        {{"telvane-cli", "console", "--log", "n"}, {"notes.txt"}},
        {{"telvane-cli", "flash", "--install-dir", ""}, {"sub"}},
        {{"telvane-cli", "send", ""}, {}},
        // The file operand after options; none once it is given.
        {{"telvane-cli", "decode", "--dump", ""}, {"reply.dec", "sub"}},
        {{"telvane-cli", "decode", "reply.dec", "--code", "0x13", ""}, {}},
        // "--opt=value" comes as "--opt", "=", value.
        {{"telvane-cli", "send", "--decode", "=", "r"}, {"reply.dec"}},
        {{"telvane-cli", "send", "--decode", "="}, {"reply.dec", "sub"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(AsSet(Complete(c.words, folder.Path())), c.expected) << c.words[1] << " " << c.words[2];
}

TEST(Completion, CommandNamesOfTheCommandFile)
{
    const std::string examples = std::string(TELVANE_SOURCE_DIR) + "/examples/Cb_v126_cmd.dec";
    EXPECT_EQ(AsSet(Complete({"telvane-cli", "encode", examples, "--command", "P"})), (Names{"ProtectFlash", "Power"}));
    // The usage line's order: the file after the command's name.
    const std::vector<std::string> before = {"telvane-cli", "encode", "--command", "P"};
    const CTempDir script;
    {
        std::ofstream out(script.File("complete.bash"));
        out << "source " << ShellQuoted(kCompletion) << "\nCOMP_WORDS=(";
        for (const std::string& word : before)
            out << ShellQuoted(word) << " ";
        out << ShellQuoted(examples) << ")\nCOMP_CWORD=3\n_telvane_cli\nprintf '%s\\n' \"${COMPREPLY[@]}\"\n";
    }
    const CommandResult r = RunCommand("bash " + script.File("complete.bash") + " 2>&1");
    EXPECT_EQ(r.out, "ProtectFlash\nPower\n");
}

}  // namespace
