// The DAQ server in a process of its own: telvane-cli daq, and telvane-sim
// with its trigger options, reached by a TCP client on 127.0.0.1.
#include "ChildProcess.h"
#include "DaqClient.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace {

std::string Program(const char* relative)
{
    const std::string path = std::string(TELVANE_BINARY_DIR) + relative;
    return access(path.c_str(), X_OK) == 0 ? path : std::string();
}

// The port at the end of a line "... ADDRESS:PORT".
uint16_t PortOf(const std::string& line)
{
    const size_t colon = line.rfind(':');
    return colon == std::string::npos ? 0 : static_cast<uint16_t>(std::stoi(line.substr(colon + 1)));
}

class DaqCliTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        cli = Program("/src/cli/telvane-cli");
        if (cli.empty())
            GTEST_SKIP() << "telvane-cli is not built";
        unsetenv("TELVANE_VME_LIBRARY");
    }
    std::string cli;
};

TEST_F(DaqCliTest, ServesRunsAndRegistersAndEndsOnSigterm)
{
    CChildProcess daq({cli, "daq", "--port", "0", "--bind", "127.0.0.1", "--set", "PU_RunMode=0x17"});
    const uint16_t port = PortOf(daq.WaitLine("Listening on 127.0.0.1:"));
    ASSERT_NE(port, 0) << daq.Output();
    EXPECT_NE(daq.Output().find("VME adapter: simulated stand\n"), std::string::npos) << daq.Output();
    EXPECT_NE(daq.Output().find("DAQ server opened\n"), std::string::npos) << daq.Output();

    CDaqTestClient client;
    ASSERT_TRUE(client.Connect(port));
    EXPECT_EQ(client.Request(1, ReadRegPayload(1, 0x2E, 0x10)).Value(), 0x17u) << "the --set value reached the PU";
    EXPECT_EQ(client.Request(2, StartRunPayload(2)).status, 1000u);
    const Reply run = client.Request(3, {0xC0});
    EXPECT_EQ(run.status, 1000u);
    // The stand's ROS answers with its status word and eight channel markers.
    EXPECT_EQ(run.Words().size(), 2u * (13 + 9 + 4));
    EXPECT_EQ(client.Request(4, {0xC5}).status, 0xFFFFFFFFu);
    EXPECT_NE(daq.WaitLine("ExeCmd: Invalid Command 0xC5"), "") << daq.Output();

    EXPECT_EQ(daq.Stop(SIGTERM), 0) << daq.Output();
    const std::string out = daq.Output();
    EXPECT_NE(out.find("SIGTERM received\n"), std::string::npos) << out;
    EXPECT_NE(out.find("DAQ server closed\n"), std::string::npos) << out;
    EXPECT_EQ(out.find('\r'), std::string::npos) << "terminal lines end in LF";
}

TEST_F(DaqCliTest, AllowlistRefusesOtherNetworksAndSigintCloses)
{
    CChildProcess daq({cli, "daq", "--port", "0", "--allow", "10.0.0.0/8,192.168.0.0/16", "--set", "ROS_BaseAddr=0x100000"});
    const uint16_t port = PortOf(daq.WaitLine("Listening on 0.0.0.0:"));
    ASSERT_NE(port, 0) << daq.Output();
    CDaqTestClient client;
    ASSERT_TRUE(client.Connect(port));
    EXPECT_TRUE(client.ClosedByPeer(3000));
    EXPECT_NE(daq.WaitLine("refused: address not in the allowlist"), "") << daq.Output();
    EXPECT_EQ(daq.Output().find("Warning"), std::string::npos);
    EXPECT_EQ(daq.Stop(SIGINT), 0) << daq.Output();
    EXPECT_NE(daq.Output().find("SIGINT received\n"), std::string::npos);
}

TEST_F(DaqCliTest, OpenAccessIsWarnedAbout)
{
    CChildProcess daq({cli, "daq", "--port", "0", "--set", "ROS_BaseAddr=0x100000"});
    const std::string warning = daq.WaitLine("Warning:");
    EXPECT_NE(warning.find("every client may connect; use --bind or --allow to limit access"), std::string::npos)
        << daq.Output();
    EXPECT_EQ(daq.Stop(SIGTERM), 0);
}

TEST_F(DaqCliTest, BadArgumentsAreUsageErrors)
{
    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"--set", "Nothing=1"}, "unknown setting 'Nothing=1'"},
        {{"--set", "PU_ConfIO=0x100"}, "bad value in 'PU_ConfIO=0x100'"},
        {{"--allow", "10.0.0.1/8"}, "--allow: '10.0.0.1/8' is not a network"},
        {{"--port", "65536"}, "--port: '65536' is not a TCP port"},
        {{"--set", "ZOraPort=70000"}, "ZOraPort 70000 is no TCP port"},
        {{"--port"}, "usage: telvane-cli daq"},
        {{"--frobnicate", "1"}, "usage: telvane-cli daq"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> argv = {cli, "daq"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        CChildProcess daq(argv);
        EXPECT_EQ(daq.Wait(), 2) << c.message;
        EXPECT_NE(daq.Output().find(c.message), std::string::npos) << daq.Output();
    }
    CChildProcess help({cli, "daq", "--help"});
    EXPECT_EQ(help.Wait(), 0);
    EXPECT_NE(help.Output().find("PU_EventCounter   16 bits, default 0x80\n"), std::string::npos) << help.Output();
    EXPECT_NE(help.Output().find("ZOraPort          32 bits, default 38888\n"), std::string::npos);
}

class DaqSimTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim = Program("/src/telvane-sim");
        if (sim.empty())
            GTEST_SKIP() << "telvane-sim is not built";
    }
    // Starts telvane-sim with the DAQ server and the given options.
    uint16_t Start(std::vector<std::string> options)
    {
        options.insert(options.begin(), {sim, "--daq-port", "0", "--no-tcp", "--no-secondary-tcp", "--no-gateway"});
        process = std::make_unique<CChildProcess>(options);
        const uint16_t port = PortOf(process->WaitLine("daq-server 127.0.0.1:"));
        EXPECT_NE(process->WaitLine("ready"), "") << process->Output();
        return port;
    }
    // Runs of one event each: true for a complete run, false for a lost one.
    std::vector<bool> Runs(uint16_t port, int count)
    {
        CDaqTestClient client;
        EXPECT_TRUE(client.Connect(port));
        std::vector<bool> outcome;
        for (int i = 0; i < count; ++i) {
            EXPECT_EQ(client.Request(1, StartRunPayload(1)).status, 1000u);
            outcome.push_back(client.Request(2, {0xC0}).status == 1000u);
        }
        return outcome;
    }
    void TearDown() override
    {
        if (process) {
            EXPECT_EQ(process->Stop(SIGTERM), 0) << process->Output();
        }
    }

    std::string sim;
    std::unique_ptr<CChildProcess> process;
};

TEST_F(DaqSimTest, MissEveryLosesEveryOtherRun)
{
    const uint16_t port = Start({"--trigger-rate", "0", "--miss-every", "2", "--no-ros"});
    ASSERT_NE(port, 0);
    EXPECT_EQ(Runs(port, 4), (std::vector<bool>{true, false, true, false}));
    EXPECT_NE(process->WaitLine("Lose Trigger"), "");
}

TEST_F(DaqSimTest, MissTriggersLosesTheFirstRunsOnly)
{
    const uint16_t port = Start({"--miss-triggers", "1", "--no-ros", "--event-records", "3"});
    ASSERT_NE(port, 0);
    EXPECT_EQ(Runs(port, 3), (std::vector<bool>{false, true, true}));
    CDaqTestClient client;
    ASSERT_TRUE(client.Connect(port));
    client.Request(1, StartRunPayload(1));
    EXPECT_EQ(client.Request(2, {0xC0}).Words().size(), 13u + 12u) << "three PU records per event";
}

TEST_F(DaqSimTest, RateAndRosItemsShapeTheRun)
{
    const uint16_t port = Start({"--trigger-rate", "50", "--ros-items", "2"});
    ASSERT_NE(port, 0);
    CDaqTestClient client;
    ASSERT_TRUE(client.Connect(port));
    client.Request(1, StartRunPayload(10));
    const auto start = std::chrono::steady_clock::now();
    const Reply run = client.Request(2, {0xC0});
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(run.status, 1000u);
    EXPECT_EQ(run.Words().size(), 10u * (13 + 1 + 8 + 16 + 4));
    // Ten triggers 20 ms apart: about 200 ms, well inside the 1000 ms wait.
    EXPECT_GE(took, std::chrono::milliseconds(150));
}

TEST_F(DaqSimTest, BadOptionValuesAreUsageErrors)
{
    for (const char* bad : {"--event-records=0", "--trigger-rate=-1", "--daq-port=70000", "--miss-every=x"}) {
        const std::string option(bad);
        const size_t eq = option.find('=');
        CChildProcess p({sim, option.substr(0, eq), option.substr(eq + 1)});
        EXPECT_EQ(p.Wait(), 2) << bad;
        EXPECT_NE(p.Output().find("--trigger-rate HZ"), std::string::npos) << "the usage names the VME options";
    }
}
}  // namespace
