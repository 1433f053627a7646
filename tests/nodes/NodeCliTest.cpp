// telvane-cli nodes and nodeflash, run as the program itself against the
// in-process simulated nodes.

#include "NodeTestSupport.h"
#include "support/RunCommand.h"
#include "support/TempDir.h"

#include <sstream>

namespace {

class NodeCliTest : public NodeSim {
protected:
    void SetUp() override
    {
        if (TelvaneCli().empty())
            GTEST_SKIP() << "telvane-cli not built";
        NodeSim::SetUp();
    }
    std::string Settings() const
    {
        if (GetParam() == CanPath::Crate)
            return "--set CANIOType=1 --set IOType=3 --set Host=127.0.0.1 --set Port=" +
                   std::to_string(crates->CrateServerPort()) + " --set 'CCB ID=102'";
        return "--set CANIOType=2 --set Host=127.0.0.1 --set Port=" + std::to_string(can->GatewayPort());
    }
    CommandResult Run(const std::string& arguments) { return RunCommand(TelvaneCli() + " " + arguments); }

    // The cells of a grid row as printed, the label first; the columns are
    // right-aligned under the node numbers of the "Node" line.
    static std::vector<std::string> Row(const std::string& text, const std::string& label)
    {
        std::istringstream lines(text);
        std::vector<size_t> ends;
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("Node ", 0) == 0)
                for (size_t i = 0; i < line.size(); ++i)
                    if (line[i] != ' ' && (i + 1 == line.size() || line[i + 1] == ' '))
                        ends.push_back(i + 1);
            if (line.rfind(label + " ", 0) != 0 || ends.size() != kNodeCount + 1)
                continue;
            std::vector<std::string> cells{label};
            for (size_t c = 1; c < ends.size(); ++c) {
                std::string cell = line.substr(ends[c - 1], ends[c] - ends[c - 1]);
                // Columns are two blanks apart; a cell may hold single blanks.
                const size_t gap = cell.rfind("  ");
                cell = gap == std::string::npos ? cell : cell.substr(gap + 2);
                cells.push_back(cell);
            }
            return cells;
        }
        return {};
    }
};

}  // namespace

TEST_P(NodeCliTest, NodesPrintsTheGridHistogramsAndTemperatures)
{
    const CommandResult r = Run("nodes " + Settings() + " 2>/dev/null");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.rfind("Connection node " + std::to_string(ExpectedConnection()) + "\n\nNode ", 0), 0u) << r.out;
    EXPECT_EQ(Row(r.out, "Node"), (std::vector<std::string>{"Node", "0", "1", "2", "3", "4", "5", "6", "7", "8", "9"}));
    EXPECT_EQ(Row(r.out, "Firmware Version"),
              (std::vector<std::string>{"Firmware Version", "2.7", "2.12", "2.12", "2.12", "2.12", "2.12", "2.12", "2.12",
                                        "2.12", "2.6"}));
    EXPECT_EQ(Row(r.out, "RS_OERR")[6], "200") << "node 5's counter";
    EXPECT_TRUE(r.out.find("\033[") == std::string::npos) << "no colours into a pipe";
    EXPECT_NE(r.out.find("\nHistogram node 8: 256 bins\n   0:   0"), std::string::npos);
    EXPECT_NE(r.out.find("\nHistogram node 9: 256 bins\n"), std::string::npos);
    EXPECT_NE(r.out.find("\nTemperature 0: 24.5\nTemperature 1: 31.0\nTemperature 2: 28.5\n"), std::string::npos);
}

TEST_P(NodeCliTest, NodesFlagsAndPassLines)
{
    const CommandResult r = Run("nodes " + Settings() + " --clear-histograms --reset-counters 2>&1 >/dev/null");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("Reading node 0\n"), std::string::npos) << "the pass's lines on standard error";
    EXPECT_EQ(node(8).Readings().histogram, Bytes(256, 0));
    EXPECT_EQ(node(5).Readings().rsCounters[0], 0);
}

TEST_P(NodeCliTest, NodeFlashPrintsTheResultLines)
{
    CTempDir dir;
    const std::string file = dir.File("node.hex");
    const Bytes page = Pattern(64, 0x77);
    WriteIntelHex(file, {{0x1000, page}});
    CommandResult r = Run("nodeflash " + Settings() + " --node 5 --file " + file + " --verify");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("Resetting node 5\nSend ADDR 00001000\nSend Data 00001000\n-------- VERIFY -------\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Result=OK\nUnlock=OK\n"), std::string::npos) << r.out;
    EXPECT_EQ(node(5).Flash(0x1000, 64), page);

    r = Run("nodeflash " + Settings() + " --node " + std::to_string(ExpectedConnection()) + " --file " + file);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Can't update connected node\n"), std::string::npos) << r.out;
}

INSTANTIATE_TEST_SUITE_P(BothPaths, NodeCliTest, ::testing::Values(CanPath::Crate, CanPath::Gateway), PathName);

TEST(NodeCliUsage, HelpAndBadArguments)
{
    if (TelvaneCli().empty())
        GTEST_SKIP() << "telvane-cli not built";
    struct Case {
        const char* arguments;
        int status;
        const char* out;
    } cases[] = {
        {"nodes --help", 0, "usage: telvane-cli nodes [--set NAME=VALUE]... [--reset-counters]"},
        {"nodeflash --help", 0, "usage: telvane-cli nodeflash [--set NAME=VALUE]... --node N --file F.hex [--verify]"},
        {"nodes --frobnicate 2>/dev/null", 2, ""},
        {"nodeflash --file x.hex 2>/dev/null", 2, ""},
        {"nodeflash --node x --file x.hex 2>/dev/null", 2, ""},
        {"nodes --set NoSuchSetting=1 2>/dev/null", 2, ""},
        {"nodes 2>/dev/null", 1, ""},
    };
    for (const Case& c : cases) {
        const CommandResult r = RunCommand(TelvaneCli() + " " + c.arguments);
        EXPECT_EQ(r.status, c.status) << c.arguments;
        EXPECT_EQ(r.out.rfind(c.out, 0), 0u) << c.arguments << "\n" << r.out;
    }
}
