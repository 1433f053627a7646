// telvane-cli --version, --help, COMMAND --help and help COMMAND: on
// standard output with exit status 0, for every command, and every option
// the help names is one the parser takes, with as many value words as the
// help shows.

#include "cli/CliRun.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>

namespace {

class CliHelp : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (TelvaneCli().empty())
            GTEST_SKIP() << "telvane-cli not built";
    }
};

// The command names of the command list, in order.
std::vector<std::string> ListedCommands(const std::string& help)
{
    std::vector<std::string> names;
    std::istringstream lines(help.substr(help.find("commands:\n") + 10));
    std::smatch m;
    for (std::string line; std::getline(lines, line);)
        if (std::regex_match(line, m, std::regex("  ([a-z]+) +[A-Z].+")))
            names.push_back(m[1]);
    return names;
}

struct HelpOption {
    std::string name;
    int valueWords;
};

// The options of a command's help, "-h, --help" aside.
std::vector<HelpOption> HelpOptions(const std::string& help)
{
    std::vector<HelpOption> options;
    const size_t start = help.find("\noptions:\n");
    if (start == std::string::npos)
        return options;
    std::istringstream lines(help.substr(start + 10));
    std::smatch m;
    for (std::string line; std::getline(lines, line) && !line.empty();) {
        if (!std::regex_match(line, m, std::regex("  (--[a-z-]+)((?: [^ ]+)*)  +[^ ].*")))
            continue;
        const std::string value = m[2];
        options.push_back({m[1], static_cast<int>(std::count(value.begin(), value.end(), ' '))});
    }
    return options;
}

TEST_F(CliHelp, VersionAndCommandList)
{
    CliResult r = RunCli({"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(std::regex_match(r.out, std::regex("telvane-cli [0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+\n"))) << r.out;
    EXPECT_EQ(r.err, "");

    for (const char* ask : {"--help", "-h", "help"}) {
        SCOPED_TRACE(ask);
        r = RunCli({ask});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        const auto names = ListedCommands(r.out);
        for (const char* expected : {"hex", "decode", "encode", "ports", "catalogue", "findlink", "send", "can",
                                     "settings", "console", "serve", "daq", "nodes", "nodeflash", "flash"})
            EXPECT_NE(std::find(names.begin(), names.end(), expected), names.end()) << expected;
    }

    r = RunCli({});
    EXPECT_EQ(r.status, 2) << "no command is a usage error";
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("commands:\n"), std::string::npos);
    r = RunCli({"bogus"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.rfind("telvane-cli: unknown command 'bogus'\n", 0), 0u) << r.err;
    r = RunCli({"help", "bogus"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.rfind("telvane-cli: help: no command 'bogus'\n", 0), 0u) << r.err;
}

TEST_F(CliHelp, EveryCommandHasHelpAndEveryOptionParses)
{
    const auto names = ListedCommands(RunCli({"--help"}).out);
    ASSERT_GE(names.size(), 15u);
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const CliResult asked = RunCli({name, "--help"});
        EXPECT_EQ(asked.status, 0);
        EXPECT_EQ(asked.err, "");
        EXPECT_EQ(asked.out.rfind("usage: telvane-cli " + name, 0), 0u) << asked.out;
        EXPECT_EQ(asked.out.find('\r'), std::string::npos);
        const CliResult viaHelp = RunCli({"help", name});
        EXPECT_EQ(viaHelp.status, 0);
        EXPECT_EQ(viaHelp.out, asked.out) << "help COMMAND prints the command's own help";
        EXPECT_EQ(RunCli({name, "-h"}).out, asked.out);

        // Each option with the value words its help shows, then an unknown
        // option: the parser must get as far as the unknown one.
        const auto options = HelpOptions(asked.out);
        for (const HelpOption& o : options) {
            SCOPED_TRACE(o.name);
            const std::string usage = asked.out.substr(0, asked.out.find('\n'));
            EXPECT_NE(usage.find(o.name), std::string::npos) << "the usage line names every option";
            std::vector<std::string> words{name, o.name};
            for (int i = 0; i < o.valueWords; ++i)
                words.push_back("1");
            words.push_back("--no-such-option");
            const CliResult r = RunCli(words);
            EXPECT_EQ(r.status, 2);
            EXPECT_EQ(r.err.rfind("telvane-cli: unknown option '--no-such-option'\n", 0), 0u) << r.err;
            EXPECT_TRUE(EndsWithUsage(r.err, name)) << r.err;
        }
    }
}

TEST_F(CliHelp, HelpAfterTheEndOfOptionsIsAnOperand)
{
    // "--" ends the options: "--help" after it is an argument of encode.
    const std::string file = std::string(TELVANE_SOURCE_DIR) + "/examples/Cb_v126_cmd.dec";
    const CliResult r = RunCli({"encode", file, "--command", "Power", "--", "--help", "ON"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("'--help' is neither a number nor a name of"), std::string::npos) << r.err;
}

// The DEFAULT column of `settings` is what a fresh link has; choices named
// by digits (the stop bits "1", "1.5", "2") show their name, not the choice
// their name would be as a number.
TEST_F(CliHelp, SettingsShowsTheDefaultsOfAFreshLink)
{
    const CliResult r = RunCli({"settings", "crate"});
    ASSERT_EQ(r.status, 0) << r.err;
    struct Case {
        const char* section;
        const char* name;
        const char* fallback;
    };
    const Case cases[] = {
        {"with IOType=\"COM Port Primary\":", "Stop", "\"1\""},
        {"with IOType=\"COM Port Primary\":", "Parity", "\"None\""},
        {"with IOType=\"COM Port Primary\":", "Baud", "38400"},
        {"with IOType=\"COM Port Secondary\":", "Stop", "\"1\""},
        {"with IOType=\"COM Port Secondary\":", "Parity", "\"Space\""},
        {"with IOType=\"TCP/IP Port\":", "Sector", "\"S1\""},
        {"with IOType=\"TCP/IP Port\":", "Timeout", "2000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.section) + " " + c.name);
        const size_t section = r.out.find(std::string("\n") + c.section + "\n");
        ASSERT_NE(section, std::string::npos) << r.out;
        const size_t end = r.out.find("\n\n", section + 1);
        std::istringstream rows(r.out.substr(section, end - section));
        std::string fallback;
        std::smatch m;
        for (std::string line; std::getline(rows, line);)
            if (std::regex_match(line, m, std::regex("  (\\S+( \\S+)*)  +(\\S+( \\S+)*)  +(\"[^\"]*\"|\\S+).*")) &&
                m[1] == c.name)
                fallback = m[5];
        EXPECT_EQ(fallback, c.fallback);
    }
}

}  // namespace
