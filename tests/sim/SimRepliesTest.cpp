// The simulator and the example decode file agree: every reply the
// simulated boards send has the size the file gives its code, and every
// structure of the file is a reply the simulator sends.

#include "language/VaCompiler.h"
#include "links/CanNodeController.h"
#include "sim/SimCanController.h"
#include "sim/SimCanNode.h"
#include "sim/SimCrateBoard.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <thread>

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

namespace {

const std::string kReplyFile = std::string(TELVANE_SOURCE_DIR) + "/examples/Cb_v126.dec";

// The code as the traffic text reads it: 0xBE and 0x0F take the next byte too.
int32_t ReplyCode(const Bytes& reply, size_t& codeBytes)
{
    codeBytes = (reply[0] == 0xBE || reply[0] == 0x0F) && reply.size() > 1 ? 2 : 1;
    return codeBytes == 2 ? (reply[0] << 8) | reply[1] : reply[0];
}

class SimReplies : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(m_file.Compile(kReplyFile, false), 1) << m_file.GetErrorText();
        m_controller = std::make_shared<CSimCanController>(m_nodes, 8);
        m_controller->Attach(m_nodeCrate);
    }

    Bytes Run(CSimBoard& board, const Bytes& request)
    {
        auto reply = board.Execute(request);
        return reply ? *reply : Bytes{};
    }

    const CStructList& Structs() const { return m_file.Structs(); }

    CVa_Compiler m_file;
    CSimBoard m_firmware{101, 0x00010019, SimTiming{50, 100}};
    CSimBoard m_bootLoader{103, 0, SimTiming{50, 100}};
    CSimBoard m_nodeCrate{108, 0x00010019, SimTiming{50, 100}};
    std::shared_ptr<CSimCanNodes> m_nodes = std::make_shared<CSimCanNodes>();
    std::shared_ptr<CSimCanController> m_controller;
};

}  // namespace

TEST_F(SimReplies, EveryReplyHasTheSizeOfItsStructure)
{
    Bytes write{0xF3, 0x08, 0x00, 0x00};
    write.resize(4 + 32, 0x4E);
    Bytes nodeMessage{0xC5, 1, 0, 6, 0x16};  // node 6 answers with its version
    const struct {
        const char* what;
        CSimBoard& board;
        Bytes request;
    } exact[] = {
        {"status, firmware running", m_firmware, {0xEA}},
        {"status, boot loader", m_bootLoader, {0xEA}},
        {"read of one sector", m_firmware, {0xF5, 0x08, 0x00, 0x00, 0x00, 0x00, 0x40}},
        {"write flash", m_firmware, write},
        {"script", m_bootLoader, {0xEE, 0x08, 0x02, 0x00, 's', 'b', 0}},
        {"power", m_firmware, {0x2F, 0x13, 1}},
        {"off line", m_firmware, {0x0E, 0x04, 1}},
        {"FPGA flash power", m_firmware, {0xBF, 0x0A, 0, 1}},
        {"FPGA flash identifier", m_firmware, {0xBF, 0x61, 0}},
        {"FPGA flash select", m_firmware, {0xBF, 0x63, 0}},
        {"JTAG bus", m_firmware, {0xBF, 0x65, 0, 2}},
        {"node controller status", m_nodeCrate, {0xEA}},
        {"CAN message not answered", m_nodeCrate, {0xC5, 1, 0, 12, 0x16}},
        {"histogram block", m_nodeCrate, {0xC8, 0}},
        {"busy after a reset", m_bootLoader, {0xEA}},
    };
    std::set<int32_t> sent;
    bool reset = false;
    for (const auto& c : exact) {
        SCOPED_TRACE(c.what);
        if (std::string(c.what) == "busy after a reset") {
            ASSERT_FALSE(Run(c.board, {0xF8}).empty());
            reset = true;
        }
        const Bytes reply = Run(c.board, c.request);
        ASSERT_FALSE(reply.empty());
        size_t codeBytes = 0;
        const int32_t code = ReplyCode(reply, codeBytes);
        ASSERT_TRUE(Structs().Exists(code)) << "code 0x" << std::hex << code;
        EXPECT_EQ(static_cast<int>(reply.size() - codeBytes), Structs().SizeOf(code)) << "code 0x" << std::hex << code;
        sent.insert(code);
    }
    EXPECT_TRUE(reset);

    // Replies whose length the protocol sets per request: shorter than the
    // structure, which describes their longest form.
    const struct {
        const char* what;
        CSimBoard& board;
        Bytes request;
    } shorter[] = {
        {"acknowledge without result", m_firmware, {0xED, 0}},
        {"read of four bytes", m_firmware, {0xF5, 0x08, 0x00, 0x00, 0x00, 0x00, 0x04}},
        {"CAN reply of two bytes", m_nodeCrate, nodeMessage},
    };
    for (const auto& c : shorter) {
        SCOPED_TRACE(c.what);
        const Bytes reply = Run(c.board, c.request);
        ASSERT_FALSE(reply.empty());
        size_t codeBytes = 0;
        const int32_t code = ReplyCode(reply, codeBytes);
        ASSERT_TRUE(Structs().Exists(code));
        EXPECT_LT(static_cast<int>(reply.size() - codeBytes), Structs().SizeOf(code));
        sent.insert(code);
    }
    // Refusals carry a text under code 2, which no structure may take.
    EXPECT_EQ(Run(m_firmware, {0x99})[0], 0x02);
    EXPECT_FALSE(Structs().Exists(0x02));

    std::set<int32_t> described;
    for (const auto& s : Structs())
        described.insert(s.Code());
    EXPECT_EQ(sent, described) << "every structure of the file is a reply of the simulator";
}

TEST_F(SimReplies, NodeControllerStatusReadsTheSameInTheFileAndTheMonitor)
{
    SimCanReadings r = m_nodes->Node(8)->Readings();
    r.major = 3;
    r.minor = 1;
    r.destination = 0x1234;
    r.adc = {0x0101, 0x0202, 0x0303, 0x0404, 0x0505, 0, 0, 0};
    m_nodes->Node(8)->SetReadings(r);
    const Bytes reply = Run(m_nodeCrate, {0xEA});
    ASSERT_EQ(reply.size(), 1u + static_cast<size_t>(Structs().SizeOf(0xC4)));
    nodectl::ControllerStatus s;
    ASSERT_TRUE(nodectl::DecodeStatus(reply, s));
    EXPECT_EQ(s.connectionNode, 8);
    EXPECT_EQ(s.destination, 0x1234);
    EXPECT_EQ(s.analog, (std::array<uint16_t, 4>{0x0101, 0x0202, 0x0303, 0x0505}));
    EXPECT_EQ(Structs().DecodeText(0xC4, reply.data() + 1, reply.size() - 1),
              "version_major=3\r\nversion_minor=1\r\nnode=8\r\ndestination=0x1234\r\nadc=257,514,771,1285\r\n");
}

// What an operator reads in a status reply: the board's own values, an
// uptime that counts, supplies near their nominal volts, board states that
// follow the power commands.
TEST_F(SimReplies, StatusCarriesLiveValues)
{
    auto field = [](const std::string& text, const std::string& name) {
        const size_t at = text.find("\r\n" + name + "=");
        if (at == std::string::npos)
            return std::string();
        const size_t start = at + name.size() + 3;
        return text.substr(start, text.find("\r\n", start) - start);
    };
    auto status = [&] {
        const Bytes reply = Run(m_firmware, {0xEA});
        return "\r\n" + Structs().DecodeText(0x13, reply.data() + 1, reply.size() - 1);
    };
    ASSERT_FALSE(Run(m_firmware, {0x2F, 0x13, 1}).empty());
    const std::string first = status();
    EXPECT_EQ(field(first, "ccb_id"), "101");
    EXPECT_EQ(field(first, "run_mode"), "APPLICATION");
    EXPECT_EQ(field(first, "power_on"), "1");
    EXPECT_EQ(field(first, "board_state"), "POWERED,PRESENT,ABSENT,ABSENT");
    EXPECT_EQ(field(first, "reference"), "2.5000");
    const std::string supply = field(first, "supply");
    double volts[8];
    ASSERT_EQ(std::sscanf(supply.c_str(), "%lf,%lf,%lf,%lf,%lf,%lf,%lf,%lf", &volts[0], &volts[1], &volts[2],
                          &volts[3], &volts[4], &volts[5], &volts[6], &volts[7]),
              8)
        << supply;
    const double nominal[8] = {5.0, 3.3, 2.5, 1.8, 1.2, 12.0, -12.0, 3.3};
    for (int i = 0; i < 8; ++i)
        EXPECT_NEAR(volts[i], nominal[i], 0.1) << i;
    const double temperature = std::stod(field(first, "temperature[0]"));
    EXPECT_GT(temperature, 20.0);
    EXPECT_LT(temperature, 50.0);

    const unsigned long before = std::stoul(field(first, "uptime"));
    std::this_thread::sleep_for(1100ms);
    const std::string later = status();
    EXPECT_GE(std::stoul(field(later, "uptime")), before + 1) << "the uptime counts seconds";

    ASSERT_FALSE(Run(m_firmware, {0x2F, 0x13, 0}).empty());
    ASSERT_FALSE(Run(m_firmware, {0x2F, 0x14, 1}).empty());
    EXPECT_EQ(field(status(), "board_state"), "PRESENT,POWERED,ABSENT,ABSENT");
}
