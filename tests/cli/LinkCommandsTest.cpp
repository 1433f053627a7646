// send, can and console against the in-process simulator on 127.0.0.1:
// one byte syntax, "--" and "--opt=value", settings in any order, LF on
// standard output and CR LF in the log file, errors naming host and port,
// the example decode file found from another folder, and a write error on
// standard output.

#include "cli/CliRun.h"

#include "sim/SimSystem.h"
#include "support/ReadFile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

class CliLink : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (TelvaneCli().empty())
            GTEST_SKIP() << "telvane-cli not built";
        SimConfig config;
        config.crates = {{0, 1, 1, 101, 0, 0x00010019}};
        config.secondaryServer = config.primaryBus = config.secondaryBus = false;
        m_sim = std::make_unique<CSimSystem>(config);
        ASSERT_TRUE(m_sim->Start());
    }

    std::vector<std::string> Link(std::vector<std::string> head) const
    {
        for (const std::string& s : {std::string("IOType=TCP/IP Port"), std::string("Host=127.0.0.1"),
                                     "Port=" + std::to_string(m_sim->CrateServerPort()), std::string("CCB ID=101")}) {
            head.push_back("--set");
            head.push_back(s);
        }
        return head;
    }

    static std::vector<std::string> Plus(std::vector<std::string> a, const std::vector<std::string>& b)
    {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    }

    std::unique_ptr<CSimSystem> m_sim;
};

TEST_F(CliLink, SendTakesBytesInOneSyntaxAndPrintsLf)
{
    const std::vector<std::vector<std::string>> forms = {
        {"2F", "13", "01"}, {"2F 13 01"}, {"0x2F", "0x13", "0x01"}, {"2f1301"}, {"--", "2F", "13", "01"},
    };
    for (const auto& bytes : forms) {
        SCOPED_TRACE(bytes[0]);
        const CliResult r = RunCli(Plus(Link({"send", "--raw", "--timeout=3000"}), bytes));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_TRUE(std::regex_match(r.out, std::regex("TX->EC 00 2F 13 01 \nRX->EC 00 FC 2F [0-9A-F ]*\n"))) << r.out;
    }
}

TEST_F(CliLink, SettingsInAnyOrderByNameOrNumber)
{
    const std::string port = std::to_string(m_sim->CrateServerPort());
    const std::vector<std::vector<std::string>> orders = {
        {"--set", "Host=127.0.0.1", "--set", "Port=" + port, "--set", "CCB ID=101", "--set", "IOType=TCP/IP Port"},
        {"--set=ccb id=101", "--set=iotype=3", "--set=PORT=" + port, "--set=host=127.0.0.1"},
    };
    for (const auto& order : orders) {
        SCOPED_TRACE(order[1]);
        const CliResult r = RunCli(Plus(Plus({"send", "--raw"}, order), {"EA"}));
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out.rfind("TX->EC 00 EA \nRX->EC 00 13 ", 0), 0u) << r.out;
    }

    // A setting no link kind has is one message, for send and can alike.
    for (const char* command : {"send", "can"}) {
        SCOPED_TRACE(command);
        std::vector<std::string> args = {command, "--set", "Colour=red", "EA"};
        if (std::string(command) == "can")
            args.insert(args.end(), {"--id", "1,2"});
        const CliResult r = RunCli(args);
        EXPECT_EQ(r.status, 2);
        const std::string kind = std::string(command) == "send" ? "crate" : "can";
        EXPECT_EQ(r.err.substr(0, r.err.find('\n')),
                  "telvane-cli: unknown setting 'Colour' (telvane-cli settings " + kind + " lists them)");
    }
}

TEST_F(CliLink, OpenErrorsNameHostAndPort)
{
    // Settings after the kind choice they need, and the kind choice last.
    struct Case {
        std::vector<std::string> args;
    } cases[] = {
        {{"send", "--set", "Port=1", "--set", "Host=127.0.0.1", "--set", "IOType=3", "EA"}},
        {{"can", "--set", "Port=1", "--set", "Host=127.0.0.1", "--set", "CANIOType=CAN Port Node", "--id", "1,2",
          "01"}},
        {{"console", "--set", "Port=1", "--set", "Host=127.0.0.1", "--set", "IOType=3"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0]);
        const CliResult r = RunCli(c.args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("telvane-cli: 127.0.0.1:1: "), std::string::npos) << r.err;
    }
}

TEST_F(CliLink, ConsolePrintsLfAndLogsCrLf)
{
    CTempDir dir;
    const std::string log = dir.File("traffic.log");
    CliRunOptions options;
    options.input = "raw EA\nraw 2F 13 01\nraw 3\n";
    const CliResult r = RunCli(Link({"console", "--log", log}), options);
    EXPECT_EQ(r.status, 1) << "the refused line fails the run";
    EXPECT_EQ(r.err, "telvane-cli: line 3: raw: '3' is not a hexadecimal byte\n");
    EXPECT_EQ(r.out.find('\r'), std::string::npos);
    EXPECT_EQ(r.out.rfind("TX->EC 00 EA \nRX->EC 00 13 ", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("TX->EC 01 2F 13 01 \nRX->EC 01 FC 2F"), std::string::npos) << r.out;

    // The log is the traffic box's own text: standard output with CR LF.
    std::string expected;
    for (char c : r.out)
        expected += c == '\n' ? std::string("\r\n") : std::string(1, c);
    EXPECT_EQ(ReadFile(log), expected);
}

TEST_F(CliLink, SendFindsTheExampleDecodeFileFromAnotherFolder)
{
    CTempDir elsewhere;
    CliRunOptions options;
    options.folder = elsewhere.Path();
    const CliResult r = RunCli(Link({"send", "EA"}), options);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "") << "the example decode file is found next to the program";
    EXPECT_EQ(r.out.rfind("TX->EC 00 EA \nRX->Data decoded code=0x13\nccb_id=101\n", 0), 0u) << r.out;
}

TEST_F(CliLink, WriteErrorOnStandardOutputFails)
{
    CliRunOptions options;
    options.outputFile = "/dev/full";
    for (const auto& args : {Link({"send", "--raw", "EA"}), std::vector<std::string>{"settings"}}) {
        SCOPED_TRACE(args[0]);
        const CliResult r = RunCli(args, options);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "telvane-cli: standard output: No space left on device\n");
    }
}

}  // namespace
