// The simulator's front ends, driven by plain sockets and a plain tty so
// that they are checked independently of the link code.

#include "sim/SimSystem.h"
#include "sim/SimWire.h"

#include <arpa/inet.h>
#include <chrono>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

namespace {

SimConfig twoCrates()
{
    SimConfig c;
    c.crates = {{0, 1, 1, 101, 0, 0x00010019}, {1, 8, 2, 102, 0, 0x00010018}};
    c.timing = {50, 100};
    return c;
}

// Reads up to n bytes, waiting at most ms for each; returns what came.
Bytes readSome(int fd, size_t n, int ms)
{
    Bytes out;
    while (out.size() < n) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, ms) != 1)
            break;
        uint8_t buf[512];
        ssize_t r = read(fd, buf, std::min(sizeof buf, n - out.size()));
        if (r <= 0)
            break;
        out.insert(out.end(), buf, buf + r);
    }
    return out;
}

struct Fd {
    int fd = -1;
    ~Fd()
    {
        if (fd >= 0)
            close(fd);
    }
};

int connectTo(uint16_t port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    return fd;
}

int openTty(const std::string& path)
{
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
    EXPECT_GE(fd, 0) << path;
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    return fd;
}

void writeBytes(int fd, const Bytes& b) { ASSERT_EQ(write(fd, b.data(), b.size()), static_cast<ssize_t>(b.size())); }

Bytes tcpExchange(int fd, uint16_t ccbid, int32_t timeout, const Bytes& payload, size_t expect, int waitMs = 2000)
{
    writeBytes(fd, simwire::TcpFrame(ccbid, timeout, payload));
    return readSome(fd, expect, waitMs);
}

}  // namespace

TEST(SimFront, CrateServerAnswersByCcbidWithTheRequestTimeoutInTheHead)
{
    CSimSystem sim(twoCrates());
    ASSERT_TRUE(sim.Start());
    Fd c{connectTo(sim.CrateServerPort())};
    Bytes r = tcpExchange(c.fd, 102, 1500, {0xEC, 0x05, 0xED, 0x01}, 16);
    EXPECT_EQ(r, (Bytes{0x55, 0x55, 0, 102, 0, 0, 0, 16, 0, 0, 0x05, 0xDC, 0xEC, 0x05, 0xFC, 0xED}));
}

TEST(SimFront, CrateServerReportsASilentBoardWithStatusMinusOneAfterTheTimeout)
{
    CSimSystem sim(twoCrates());
    ASSERT_TRUE(sim.Start());
    Fd c{connectTo(sim.CrateServerPort())};
    const Bytes silent{0x55, 0x55, 0, 99, 0, 0, 0, 13, 0xFF, 0xFF, 0xFF, 0xFF, 0x02};
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(tcpExchange(c.fd, 99, 150, {0xEC, 0x01, 0xEA}, 13), silent) << "no such board";
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 150ms);

    CSimBoard* b = sim.Board(101);
    b->Faults().SetLateMs(400);
    b->Faults().Set(SimFault::LateReply, 1);
    Bytes late = silent;
    late[3] = 101;
    EXPECT_EQ(tcpExchange(c.fd, 101, 100, {0xEC, 0x02, 0xEA}, 13), late) << "answer later than the timeout";

    b->Faults().Set(SimFault::LateReply, 1);
    Bytes r = tcpExchange(c.fd, 101, 1000, {0xEC, 0x03, 0xED, 0x01}, 16);
    EXPECT_EQ(r.size(), 16u) << "answer late but within the timeout";
}

TEST(SimFront, CrateServerFaultsOnTheWire)
{
    CSimSystem sim(twoCrates());
    ASSERT_TRUE(sim.Start());
    Fd c{connectTo(sim.CrateServerPort())};
    sim.Board(101)->Faults().Set(SimFault::BadCrc, 1);
    Bytes r = tcpExchange(c.fd, 101, 500, {0xEC, 0x01, 0xED, 0x01}, 16);
    ASSERT_EQ(r.size(), 16u);
    EXPECT_NE(r[1], 0x55) << "the head's start is corrupted";

    sim.Board(101)->Faults().Set(SimFault::DropConnection, 1);
    writeBytes(c.fd, simwire::TcpFrame(101, 500, Bytes{0xEC, 0x02, 0xEA}));
    char buf[4];
    pollfd p{c.fd, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 2000), 1);
    EXPECT_EQ(read(c.fd, buf, sizeof buf), 0) << "connection closed instead of an answer";
}

TEST(SimFront, SecondaryServerReachesBoardsBySecondaryAddress)
{
    CSimSystem sim(twoCrates());
    ASSERT_TRUE(sim.Start());
    EXPECT_EQ(CSimSystem::SecondaryAddress(1, 101), 20101);
    EXPECT_EQ(CSimSystem::SecondaryAddress(8, 102), 31102);
    Fd c{connectTo(sim.SecondaryServerPort())};
    Bytes r = tcpExchange(c.fd, 31102, 500, {0xEA}, 12 + 201);
    ASSERT_EQ(r.size(), 213u);
    EXPECT_EQ(r[12], 0x13);
    EXPECT_EQ((r[13] << 8) | r[14], 102);
}

TEST(SimFront, PrimaryBusAnswersFramesAndSkipsBadOnes)
{
    CSimSystem sim(twoCrates());
    ASSERT_TRUE(sim.Start());
    Fd t{openTty(sim.PrimaryBusPath())};
    Bytes bad = simwire::SerialFrame(Bytes{0xEC, 0x00, 0xED, 0x01});
    bad[4] ^= 0x40;
    writeBytes(t.fd, bad);
    EXPECT_TRUE(readSome(t.fd, 1, 200).empty()) << "a frame with a bad CRC gets no answer";
    writeBytes(t.fd, simwire::SerialFrame(Bytes{0xEC, 0x01, 0xED, 0x01}));
    EXPECT_EQ(readSome(t.fd, 8, 2000), simwire::SerialFrame(Bytes{0xEC, 0x01, 0xFC, 0xED}));

    // Bridge mode 2 to the second crate.
    writeBytes(t.fd, simwire::SerialFrame(Bytes{0xEC, 0x02, 0xDE, 0x00, 102, 0xEA}));
    Bytes r = readSome(t.fd, 2 + 2 + 201 + 2, 2000);
    ASSERT_EQ(r.size(), 207u);
    EXPECT_EQ((r[5] << 8) | r[6], 102);

    sim.Board(101)->Faults().SetNoiseBytes(2);
    sim.Board(101)->Faults().Set(SimFault::Noise, 1);
    writeBytes(t.fd, simwire::SerialFrame(Bytes{0xEC, 0x03, 0xED, 0x01}));
    Bytes noisy = readSome(t.fd, 10, 2000);
    Bytes expect{0x00, 0xAA};
    Bytes frame = simwire::SerialFrame(Bytes{0xEC, 0x03, 0xFC, 0xED});
    expect.insert(expect.end(), frame.begin(), frame.end());
    EXPECT_EQ(noisy, expect);

    const Bytes e8{0xE8, 0x01, 0x02};
    EXPECT_EQ(sim.EmitUnsolicited(101, e8), 1);
    EXPECT_EQ(readSome(t.fd, 7, 2000), simwire::SerialFrame(e8));
}

TEST(SimFront, SecondaryBusServesTheSelectedBoardOnly)
{
    CSimSystem sim(twoCrates());
    ASSERT_TRUE(sim.Start());
    Fd t{openTty(sim.SecondaryBusPath())};
    writeBytes(t.fd, simwire::SerialFrame(Bytes{0xEC, 0x01, 0xEA}));
    EXPECT_TRUE(readSome(t.fd, 1, 200).empty()) << "nothing selected yet";

    writeBytes(t.fd, simwire::AddressFrame(31102));
    std::this_thread::sleep_for(6ms);
    writeBytes(t.fd, simwire::SerialFrame(Bytes{0xEC, 0x02, 0xEA}));
    Bytes r = readSome(t.fd, 207, 2000);
    ASSERT_EQ(r.size(), 207u);
    EXPECT_EQ((r[5] << 8) | r[6], 102);
    EXPECT_EQ(sim.SecondaryBus()->SelectedAddress(), 31102);
    EXPECT_EQ(sim.SecondaryBus()->Selections(), 1);

    // Address and data frame in one write are told apart too.
    Bytes both = simwire::AddressFrame(20101);
    Bytes data = simwire::SerialFrame(Bytes{0xEC, 0x03, 0xED, 0x00});
    both.insert(both.end(), data.begin(), data.end());
    writeBytes(t.fd, both);
    EXPECT_EQ(readSome(t.fd, 8, 2000), simwire::SerialFrame(Bytes{0xEC, 0x03, 0xFC, 0xED}));
    EXPECT_EQ(sim.SecondaryBus()->SelectedAddress(), 20101);

    writeBytes(t.fd, simwire::AddressFrame(20999));
    writeBytes(t.fd, simwire::SerialFrame(Bytes{0xEC, 0x04, 0xEA}));
    EXPECT_TRUE(readSome(t.fd, 1, 200).empty()) << "an unknown address selects nobody";
}

TEST(SimFront, CatalogueDescribesTheRunningServers)
{
    CSimSystem sim(twoCrates());
    ASSERT_TRUE(sim.Start());
    const std::string xml = sim.CatalogueXml();
    const std::string crate2 = "<Divadiduv wheel=\"YB+1\" sector=\"S8\" type=\"MB2\" pid=\"102\" ccbid=\"102\" "
                               "host=\"127.0.0.1\" pid_port=\"" +
                               std::to_string(sim.CrateServerPort()) + "\" ccbid_port=\"" +
                               std::to_string(sim.SecondaryServerPort()) + "\"/>";
    EXPECT_NE(xml.find(crate2), std::string::npos) << xml;
    EXPECT_EQ(xml.rfind("<Divadiduvs>", 40), xml.find("<Divadiduvs>"));
}

TEST(SimFront, StopsPromptlyWithClientsConnected)
{
    auto sim = std::make_unique<CSimSystem>(twoCrates());
    ASSERT_TRUE(sim->Start());
    Fd c{connectTo(sim->CrateServerPort())};
    Fd t{openTty(sim->PrimaryBusPath())};
    writeBytes(c.fd, simwire::TcpFrame(99, 60000, Bytes{0xEA}));  // the server waits for nobody
    std::this_thread::sleep_for(50ms);
    auto t0 = std::chrono::steady_clock::now();
    sim.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 2s);
}
