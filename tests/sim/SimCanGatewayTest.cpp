// The CAN gateway front end and the node controllers inside the crate
// simulator, driven by plain sockets so that they are checked
// independently of the link code.

#include "sim/SimCanSystem.h"
#include "sim/SimCanWire.h"
#include "sim/SimWire.h"

#include <arpa/inet.h>
#include <chrono>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using Bytes = std::vector<uint8_t>;
using simcan::Record;
using namespace std::chrono_literals;

namespace {

class Socket {
public:
    explicit Socket(uint16_t port)
    {
        m_fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(port);
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(connect(m_fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    }
    ~Socket() { close(m_fd); }
    void Send(const Bytes& b) { ASSERT_EQ(write(m_fd, b.data(), b.size()), static_cast<ssize_t>(b.size())); }
    // Up to n bytes, waiting at most ms for each read.
    Bytes Read(size_t n, int ms = 2000)
    {
        Bytes out;
        while (out.size() < n) {
            pollfd p{m_fd, POLLIN, 0};
            if (poll(&p, 1, ms) != 1)
                break;
            uint8_t buf[1024];
            ssize_t r = read(m_fd, buf, std::min(sizeof buf, n - out.size()));
            if (r <= 0)
                break;
            out.insert(out.end(), buf, buf + r);
        }
        return out;
    }
    // One gateway message: its head, then its records.
    bool ReadMessage(simcan::Head& head, std::vector<Record>& records, int ms = 2000)
    {
        Bytes h = Read(simcan::kHeadSize, ms);
        if (h.size() != simcan::kHeadSize)
            return false;
        head = simcan::DecodeHead(h.data());
        records.clear();
        for (uint32_t i = 0; i < head.count && i < 64; ++i) {
            Bytes r = Read(simcan::kRecordSize, ms);
            if (r.size() != simcan::kRecordSize)
                return false;
            Record rec;
            std::copy(r.begin(), r.end(), rec.begin());
            records.push_back(rec);
        }
        return true;
    }
    bool PeerClosed(int ms = 2000)
    {
        pollfd p{m_fd, POLLIN, 0};
        uint8_t b;
        return poll(&p, 1, ms) == 1 && read(m_fd, &b, 1) == 0;
    }

private:
    int m_fd = -1;
};

Record record(uint8_t b0, uint8_t b1, uint8_t b2, Bytes data = {})
{
    Record r{};
    r[0] = b0;
    r[1] = b1;
    r[2] = b2;
    r[4] = static_cast<uint8_t>(data.size());
    std::copy(data.begin(), data.end(), r.begin() + 5);
    return r;
}

// The five configuration records the node link sends.
Bytes setUpMessage()
{
    std::vector<Record> r = {record(0, 0, 1), record(0, 3, 1), record(0, 0x1F, 1), record(0, 0x1E, 1), record(0, 0x1D, 1)};
    return simcan::Message(simcan::kKindConfig, r);
}

Bytes dataMessage(uint8_t node, uint8_t b, Bytes data)
{
    Record r = record(0, simcan::EncodeTypeByte(b), node, data);
    return simcan::Message(simcan::kKindData, {&r, 1});
}

struct Gateway : ::testing::Test {
    void SetUp() override
    {
        config.crates = {{0, 1, 1, 101, 0, 0x00010019}, {0, 1, 2, 102, 0, 0x00010019}};
        config.timing = {50, 100};
        crates = std::make_unique<CSimSystem>(config);
        ASSERT_TRUE(crates->Start());
        can = std::make_unique<CSimCanSystem>(*crates, SimCanConfig{{{102, 3}}});
        ASSERT_TRUE(can->Start());
    }
    void configure(Socket& s)
    {
        s.Send(setUpMessage());
        simcan::Head h;
        std::vector<Record> r;
        ASSERT_TRUE(s.ReadMessage(h, r));
        ASSERT_EQ(h.kind, simcan::kKindConfig);
    }
    void expectAck(Socket& s)
    {
        simcan::Head h;
        std::vector<Record> r;
        ASSERT_TRUE(s.ReadMessage(h, r));
        EXPECT_EQ(h.kind, simcan::kKindData);
        ASSERT_EQ(r.size(), 1u);
        EXPECT_EQ(r[0][4], simcan::kAcknowledge);
    }
    SimConfig config;
    std::unique_ptr<CSimSystem> crates;
    std::unique_ptr<CSimCanSystem> can;
};

}  // namespace

TEST(SimCanWire, TypeByteAndHeadLayouts)
{
    struct Case {
        uint8_t b, typeByte;
    } cases[] = {{0x00, 0x08}, {0x03, 0x0B}, {0x1D, 0xE9}, {0x1E, 0xEA}, {0x1F, 0xEB}, {0x02, 0x0A}};
    for (const auto& c : cases) {
        EXPECT_EQ(simcan::EncodeTypeByte(c.b), c.typeByte) << int(c.b);
        EXPECT_EQ(simcan::FrameType(c.typeByte), c.b) << int(c.b);
    }
    auto head = simcan::EncodeHead({simcan::kMagic, 5, 1});
    EXPECT_EQ(Bytes(head.begin(), head.end()), (Bytes{0xAA, 0xAA, 0x55, 0x55, 5, 0, 0, 0, 1, 0, 0, 0}));
    EXPECT_EQ(setUpMessage().size(), 77u);
}

TEST_F(Gateway, SetUpIsAnsweredRecordByRecord)
{
    Socket s(can->GatewayPort());
    s.Send(setUpMessage());
    Bytes answer = s.Read(77);
    ASSERT_EQ(answer.size(), 77u);
    EXPECT_EQ(Bytes(answer.begin(), answer.begin() + 12), (Bytes{0xAA, 0xAA, 0x55, 0x55, 5, 0, 0, 0, 1, 0, 0, 0}));
    const uint8_t codes[] = {0x00, 0x03, 0x1F, 0x1E, 0x1D};
    for (int i = 0; i < 5; ++i) {
        const uint8_t* r = &answer[12 + 13 * i];
        EXPECT_EQ(r[0], 1) << "accepted, record " << i;
        EXPECT_EQ(r[1], codes[i]);
        EXPECT_EQ(r[2], 1);
    }
}

TEST_F(Gateway, DataBeforeSetUpGetsAWriteError)
{
    Socket s(can->GatewayPort());
    s.Send(dataMessage(4, 0, {0x16}));
    simcan::Head h;
    std::vector<Record> r;
    ASSERT_TRUE(s.ReadMessage(h, r));
    EXPECT_EQ(h.kind, simcan::kKindConfig);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0][0], simcan::kWriteError);
}

TEST_F(Gateway, AcknowledgeThenTheNodesReply)
{
    Socket s(can->GatewayPort());
    configure(s);
    s.Send(dataMessage(4, 0, {0x16}));
    Bytes ack = s.Read(25);
    Bytes expectedAck{0xAA, 0xAA, 0x55, 0x55, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x40, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(ack, expectedAck);
    Bytes reply = s.Read(25);
    Bytes expectedReply{0xAA, 0xAA, 0x55, 0x55, 1, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x0B, 4, 1, 2, 2, 12, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(reply, expectedReply);

    s.Send(dataMessage(4, 0, {0x0A}));
    expectAck(s);
    EXPECT_TRUE(s.Read(1, 200).empty()) << "no reply to a message that wants none";
    s.Send(dataMessage(12, 0, {0x16}));
    simcan::Head h;
    std::vector<Record> r;
    ASSERT_TRUE(s.ReadMessage(h, r));
    EXPECT_EQ(h.kind, simcan::kKindConfig) << "no node 12";
    EXPECT_EQ(r[0][0], simcan::kWriteError);
}

TEST_F(Gateway, FirmwareMessagesTravelByTheirTypeBits)
{
    CSimCanNode& node = *can->GatewayNodes().Node(6);
    Socket s(can->GatewayPort());
    configure(s);
    s.Send(dataMessage(6, 0, {0x04}));
    expectAck(s);
    s.Send(dataMessage(6, 0x1E, {0x00, 0x30, 0x00, 0x00}));
    expectAck(s);
    s.Send(dataMessage(6, 0x1F, {1, 2, 3, 4, 5, 6, 7, 8}));
    expectAck(s);
    s.Send(dataMessage(6, 0x1E, {0x00, 0x30, 0x00, 0x00}));
    expectAck(s);
    s.Send(dataMessage(6, 0x1D, {10}));
    expectAck(s);
    simcan::Head h;
    std::vector<Record> r;
    ASSERT_TRUE(s.ReadMessage(h, r));
    ASSERT_EQ(r.size(), 3u) << "address record and two data records in one message";
    EXPECT_EQ(r[0][1], 0xEA);
    EXPECT_EQ(Bytes(r[0].begin() + 4, r[0].begin() + 9), (Bytes{4, 0x00, 0x30, 0x00, 0x00}));
    EXPECT_EQ(r[1][1], 0xEB);
    EXPECT_EQ(Bytes(r[1].begin() + 4, r[1].end()), (Bytes{8, 1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(Bytes(r[2].begin() + 4, r[2].begin() + 7), (Bytes{2, 0xFF, 0xFF}));
    EXPECT_EQ(r[1][3], r[0][3] + 1) << "reception counter";
    EXPECT_EQ(node.Flash(0x3000, 8), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST_F(Gateway, SetUpFaults)
{
    CSimCanFaults& f = can->Gateway()->Faults();
    {
        f.Set(SimCanFault::RefuseConfig, 1);
        Socket s(can->GatewayPort());
        s.Send(setUpMessage());
        simcan::Head h;
        std::vector<Record> r;
        ASSERT_TRUE(s.ReadMessage(h, r));
        ASSERT_EQ(r.size(), 5u);
        EXPECT_EQ(r[2][0], 0);
        EXPECT_EQ(r[4][0], 1);
    }
    {
        f.Set(SimCanFault::ConfigKind, 1);
        Socket s(can->GatewayPort());
        s.Send(setUpMessage());
        simcan::Head h;
        std::vector<Record> r;
        ASSERT_TRUE(s.ReadMessage(h, r));
        EXPECT_EQ(h.kind, simcan::kKindData);
    }
}

TEST_F(Gateway, AnswerFaults)
{
    CSimCanFaults& f = can->Gateway()->Faults();
    Socket s(can->GatewayPort());
    configure(s);
    simcan::Head h;
    std::vector<Record> r;

    f.Set(SimCanFault::EmptyMessage, 1);
    s.Send(dataMessage(4, 0, {0x16}));
    expectAck(s);
    ASSERT_TRUE(s.ReadMessage(h, r));
    EXPECT_EQ(h.count, 0u);
    ASSERT_TRUE(s.ReadMessage(h, r));
    EXPECT_EQ(r.size(), 1u);

    f.Set(SimCanFault::BadMagic, 1);
    s.Send(dataMessage(4, 0, {0x16}));
    expectAck(s);
    ASSERT_TRUE(s.ReadMessage(h, r));
    EXPECT_NE(h.magic, simcan::kMagic);

    f.Set(SimCanFault::TooManyRecords, 1);
    s.Send(dataMessage(4, 0, {0x16}));
    expectAck(s);
    Bytes head = s.Read(12);
    ASSERT_EQ(head.size(), 12u);
    EXPECT_EQ(simcan::DecodeHead(head.data()).count, 65u);
    EXPECT_TRUE(s.Read(1, 200).empty());

    can->GatewayNodes().Node(4)->Faults().Set(SimCanFault::WriteError, 1);
    s.Send(dataMessage(4, 0, {0x16}));
    ASSERT_TRUE(s.ReadMessage(h, r));
    EXPECT_EQ(h.kind, simcan::kKindConfig);
    EXPECT_EQ(r[0][0], simcan::kWriteError);

    f.Set(SimCanFault::CloseMidMessage, 1);
    s.Send(dataMessage(4, 0, {0x16}));
    expectAck(s);
    EXPECT_EQ(s.Read(100).size(), 12u + 5u);
    EXPECT_TRUE(s.PeerClosed());
}

TEST_F(Gateway, LateRepliesComeAfterTheAcknowledge)
{
    CSimCanNode& node = *can->GatewayNodes().Node(2);
    node.Faults().Set(SimCanFault::LateReply, 1);
    node.Faults().SetLateMs(300);
    Socket s(can->GatewayPort());
    configure(s);
    const auto t0 = std::chrono::steady_clock::now();
    s.Send(dataMessage(2, 0, {0x16}));
    expectAck(s);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 250ms);
    EXPECT_TRUE(s.Read(1, 150).empty());
    EXPECT_EQ(s.Read(25).size(), 25u);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 300ms);
}

TEST_F(Gateway, UnsolicitedMessagesReachConfiguredClientsAndTheCrateFrontEnds)
{
    Socket fresh(can->GatewayPort());
    Socket configured(can->GatewayPort());
    configure(configured);
    Socket crate(crates->CrateServerPort());
    // The crate server sends unasked frames to clients that talked to the board.
    crate.Send(simwire::TcpFrame(102, 1000, Bytes{0xEC, 0x01, 0xEA}));
    EXPECT_EQ(crate.Read(12 + 16).size(), 28u);

    const Bytes data{0x51, 0x52};
    EXPECT_EQ(can->EmitUnsolicited(5, data), 2);
    simcan::Head h;
    std::vector<Record> r;
    ASSERT_TRUE(configured.ReadMessage(h, r));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(Bytes(r[0].begin() + 1, r[0].begin() + 7), (Bytes{0x0B, 5, r[0][3], 2, 0x51, 0x52}));
    EXPECT_TRUE(fresh.Read(1, 100).empty());
    EXPECT_EQ(crate.Read(12 + 4), simwire::TcpFrame(102, 0, Bytes{0xC6, 0xC5, 0x51, 0x52}));
}

TEST_F(Gateway, NodeControllersAnswerOnEveryCrateFrontEnd)
{
    // The node controller 102 and the plain control board 101.
    {
        Socket s(crates->CrateServerPort());
        s.Send(simwire::TcpFrame(102, 1000, Bytes{0xEC, 0x07, 0xC5, 0x01, 0x00, 0x04, 0x16}));
        EXPECT_EQ(s.Read(12 + 6), simwire::TcpFrame(102, 1000, Bytes{0xEC, 0x07, 0xC6, 0xC5, 2, 12}));
        s.Send(simwire::TcpFrame(101, 1000, Bytes{0xEC, 0x08, 0xEA}));
        Bytes status = s.Read(12 + 2 + 201);
        ASSERT_GT(status.size(), 14u);
        EXPECT_EQ(status[14], 0x13) << "a control board keeps its own status";
    }
    {
        Socket s(crates->SecondaryServerPort());
        const uint16_t address = CSimSystem::SecondaryAddress(1, 102);
        s.Send(simwire::TcpFrame(address, 1000, Bytes{0xEC, 0x09, 0xEA}));
        Bytes reply = s.Read(12 + 16);
        ASSERT_EQ(reply.size(), 28u);
        EXPECT_EQ(Bytes(reply.begin() + 12, reply.begin() + 16), (Bytes{0xEC, 0x09, 0xC4, 2}));
        EXPECT_EQ(reply[12 + 5], 3) << "connection node";
    }
}

TEST(SimCanSystem, MissingControllerBoardFailsTheStart)
{
    SimConfig config;
    config.crates = {{0, 1, 1, 101, 0, 0x00010019}};
    config.crateServer = config.secondaryServer = config.primaryBus = config.secondaryBus = false;
    CSimSystem crates(config);
    CSimCanSystem can(crates, SimCanConfig{{{555, 3}}});
    EXPECT_FALSE(can.Start());
    EXPECT_EQ(can.GatewayPort(), 0);
}
