// The serial port over real pseudo-terminals.

#include "PortTestUtil.h"
#include "base/Error.h"
#include "ports/PortIO_Com.h"

#include <gtest/gtest.h>
#include <memory>
#include <mutex>

using namespace porttest;

namespace {

bool OpenOn(CPortIO_Com& port, const PtyPair& pty)
{
    return port.SetPropertyById(CPortIO_Com::kComName, CVariant::FromString(pty.path())) && port.Open();
}

struct Traffic {
    std::mutex lock;
    std::vector<std::pair<int, std::vector<uint8_t>>> records;
    static void Hook(void* context, int direction, const uint8_t* bytes, int count)
    {
        auto* self = static_cast<Traffic*>(context);
        std::lock_guard l(self->lock);
        self->records.emplace_back(direction, std::vector<uint8_t>(bytes, bytes + count));
    }
};

TEST(ComPort, LineSettingsForEveryChoice)
{
    struct Case {
        int32_t baud, size, parity, stop;
        bool ok;
        speed_t speed;
        tcflag_t sizeBits, parityBits;
        bool twoStops;
    } cases[] = {
        {9600, 8, 0, 0, true, B9600, CS8, 0, false},
        {38400, 8, 4, 0, true, B38400, CS8, PARENB | CMSPAR, false},
        {115200, 7, 2, 2, true, B115200, CS7, PARENB, true},
        {1200, 8, 1, 0, true, B1200, CS8, PARENB | PARODD, false},
        {19200, 8, 3, 0, true, B19200, CS8, PARENB | PARODD | CMSPAR, false},
        {4800, 5, 0, 1, true, B4800, CS5, 0, true},
        {921600, 6, 0, 0, true, B921600, CS6, 0, false},
        {12345, 8, 0, 0, false, 0, 0, 0, false},
        {9600, 9, 0, 0, false, 0, 0, 0, false},
        {9600, 8, 5, 0, false, 0, 0, 0, false},
        {9600, 8, 0, 3, false, 0, 0, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.baud) + "/" + std::to_string(c.size) + "/" + std::to_string(c.parity) + "/" +
                     std::to_string(c.stop));
        termios t{};
        t.c_cflag = CRTSCTS | PARENB | CSTOPB;
        t.c_iflag = IXON | IXOFF | INPCK | ICRNL | ISTRIP;
        t.c_lflag = ICANON | ECHO | ISIG;
        t.c_oflag = OPOST;
        ASSERT_EQ(CPortIO_Com::MakeLineSettings(t, c.baud, c.size, c.parity, c.stop), c.ok);
        if (!c.ok) {
            EXPECT_EQ(GetLastErr(), err::BadParam);
            continue;
        }
        EXPECT_EQ(cfgetospeed(&t), c.speed);
        EXPECT_EQ(cfgetispeed(&t), c.speed);
        EXPECT_EQ(t.c_cflag & CSIZE, c.sizeBits);
        EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), c.parityBits);
        EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.twoStops);
        EXPECT_EQ(t.c_cflag & CRTSCTS, 0u) << "no hardware flow control";
        EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
        EXPECT_EQ(t.c_iflag & (IXON | IXOFF | INPCK | ICRNL | ISTRIP), 0u) << "no XON/XOFF, no parity check";
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u) << "raw mode";
        EXPECT_EQ(t.c_oflag & OPOST, 0u);
        EXPECT_EQ(t.c_cc[VMIN], 1);
        EXPECT_EQ(t.c_cc[VTIME], 0);
    }
}

// A pseudo-terminal keeps speed, stop bits and the odd and stick parity
// flags, but always reports 8 bits with no parity enable.
constexpr tcflag_t kPtyParityBits = PARODD | CMSPAR;

TEST(ComPort, OpenSpecSettingsReachTheDevice)
{
    PtyPair pty;
    struct Case {
        const char* openText;  // after the device name
        speed_t speed;
        tcflag_t parityBits;
        bool twoStops;
    } cases[] = {
        {"", B9600, 0, false},
        {":38400:8:Space:1", B38400, CMSPAR, false},
        {":115200:7:Even:2", B115200, 0, true},
        {":1200:8:Odd", B1200, PARODD, false},
        {":19200:8:Mark:1", B19200, PARODD | CMSPAR, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.openText);
        CPortIO_Com port;
        ASSERT_TRUE(port.OpenSpec(pty.path() + c.openText)) << GetLastErr();
        termios t = pty.Settings();
        EXPECT_EQ(cfgetospeed(&t), c.speed);
        EXPECT_EQ(t.c_cflag & kPtyParityBits, c.parityBits);
        EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.twoStops);
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u) << "raw mode";
        EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
        port.Close();
    }
}

TEST(ComPort, OpenSpecKeepsSettingsOfMissingPartsAndStopsAtARefusal)
{
    PtyPair pty;
    CPortIO_Com port;
    ASSERT_TRUE(port.SetPropertyById(CPortIO_Com::kRxBuff, CVariant::FromInt(777)));
    ASSERT_TRUE(port.OpenSpec(pty.path() + ":38400:8:Space:1"));
    CVariant v;
    ASSERT_TRUE(port.GetProperty(CPortIO_Com::kRxBuff, v));
    EXPECT_EQ(v.number(), 777);
    ASSERT_TRUE(port.GetProperty(CPortIO_Com::kBaud, v));
    EXPECT_EQ(v.number(), 38400);
    ASSERT_TRUE(port.GetProperty(CPortIO_Com::kParity, v));
    EXPECT_EQ(v.number(), 4);

    EXPECT_FALSE(port.OpenSpec(pty.path() + ":57600:8:Xtra:2"));
    EXPECT_EQ(GetLastErr(), err::BadParam);
    ASSERT_TRUE(port.GetProperty(CPortIO_Com::kBaud, v));
    EXPECT_EQ(v.number(), 57600) << "settings before the refused one are taken";
    ASSERT_TRUE(port.GetProperty(CPortIO_Com::kStop, v));
    EXPECT_EQ(v.number(), 0) << "settings after it are not";
}

TEST(ComPort, OpenFailures)
{
    PtyPair pty;
    struct Case {
        std::string openText;
        uint32_t error;
    } cases[] = {
        {"/dev/telvane-no-such-tty", err::NotFound},
        {"telvane-no-such-tty", err::NotFound},
        {pty.path() + ":12345", err::BadParam},
        {pty.path() + ":9600:9", err::BadParam},
        {pty.path() + ":9600:4", err::BadParam},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.openText);
        CPortIO_Com port;
        EXPECT_FALSE(port.OpenSpec(c.openText));
        EXPECT_EQ(GetLastErr(), c.error);
        EXPECT_FALSE(port.IsOpen());
        EXPECT_EQ(GetLastErr(), err::Success) << "IsOpen clears the last error";
    }
    CPortIO_Com first, second;
    ASSERT_TRUE(OpenOn(first, pty));
    EXPECT_FALSE(OpenOn(second, pty)) << "the device is not shared";
    EXPECT_EQ(GetLastErr(), err::AccessDenied);
    first.Close();
    EXPECT_TRUE(OpenOn(second, pty)) << "free again after Close";
}

TEST(ComPort, ParityIdEightChangesAnOpenPortAtOnce)
{
    PtyPair pty;
    CPortIO_Com port;
    ASSERT_TRUE(OpenOn(port, pty));
    EXPECT_EQ(pty.Settings().c_cflag & kPtyParityBits, 0u);
    ASSERT_TRUE(port.SetPropertyById(CPortIO_Com::kParityNow, CVariant::FromString("Mark")));
    EXPECT_EQ(pty.Settings().c_cflag & kPtyParityBits, kPtyParityBits);
    ASSERT_TRUE(port.SetPropertyById(CPortIO_Com::kParityNow, CVariant::FromInt(CPortIO_Com::kParitySpace)));
    EXPECT_EQ(pty.Settings().c_cflag & kPtyParityBits, tcflag_t(CMSPAR));
    EXPECT_FALSE(port.SetPropertyById(CPortIO_Com::kParityNow, CVariant::FromString("Q")));
    EXPECT_EQ(GetLastErr(), err::BadParam);
    EXPECT_EQ(pty.Settings().c_cflag & kPtyParityBits, tcflag_t(CMSPAR));
    CVariant stored;
    ASSERT_TRUE(port.GetProperty(CPortIO_Com::kParity, stored));
    EXPECT_EQ(stored.number(), CPortIO_Com::kParitySpace) << "id 8 also keeps the setting";
    // Id 4 on an open port waits for the next Open.
    ASSERT_TRUE(port.SetPropertyById(CPortIO_Com::kParity, CVariant::FromString("Odd")));
    EXPECT_EQ(pty.Settings().c_cflag & kPtyParityBits, tcflag_t(CMSPAR));
    ASSERT_TRUE(port.Open());
    EXPECT_EQ(pty.Settings().c_cflag & kPtyParityBits, tcflag_t(PARODD));
}

TEST(ComPort, EachOpenOfASecondaryBusLineStartsFromTheLineItFound)
{
    // As the secondary bus uses its line: space parity, mark for each
    // address byte. A pseudo-terminal refuses the next opener's parity when
    // an earlier opener left mark or space parity behind.
    PtyPair pty;
    const tcflag_t found = pty.Settings().c_cflag;
    for (int run = 0; run < 3; ++run) {
        SCOPED_TRACE(run);
        auto port = std::make_unique<CPortIO_Com>();
        ASSERT_TRUE(port->SetPropertyById(CPortIO_Com::kParity, CVariant::FromInt(CPortIO_Com::kParitySpace)));
        ASSERT_TRUE(OpenOn(*port, pty)) << GetLastErr();
        ASSERT_TRUE(port->SetPropertyById(CPortIO_Com::kParityNow, CVariant::FromString("Mark"))) << GetLastErr();
        port->Close();
        EXPECT_EQ(pty.Settings().c_cflag, found) << "the line is left as it was found";
    }
}

TEST(ComPort, BytesBothWaysWithTheMonitorSeeingThem)
{
    PtyPair pty;
    CPortIO_Com port;
    Traffic traffic;
    port.SetMonitor(&traffic, Traffic::Hook);
    ASSERT_TRUE(OpenOn(port, pty));
    const std::vector<uint8_t> request = {0x55, 0x03, 0x00, 0xFF, 0x0D, 0x0A, 0x11, 0x13};
    ASSERT_TRUE(port.Write(request.data(), static_cast<int>(request.size())));
    EXPECT_EQ(pty.Receive(request.size()), request) << "bytes pass unchanged: no CR/LF or XON/XOFF handling";

    const std::vector<uint8_t> reply = {0x00, 0x11, 0x13, 0x0D, 0x7F, 0x03, 0x1C};
    pty.Send(reply);
    std::vector<uint8_t> got(reply.size());
    ASSERT_TRUE(port.ReadExact(got.data(), static_cast<int>(got.size()), 2000)) << GetLastErr();
    EXPECT_EQ(got, reply);

    pty.Send({1, 2, 3});
    ASSERT_TRUE(port.WaitForData(2000));
    EXPECT_EQ(GetLastErr(), err::Success);
    EXPECT_TRUE(port.GetDataEvent().IsSet());
    uint8_t small[16];
    int n = 0;
    auto t0 = Clock::now();
    while (n < 3 && msSince(t0) < 2000)
        n += port.Read(small + n, 16 - n);
    EXPECT_EQ(n, 3);

    port.SetMonitor(nullptr, nullptr);
    ASSERT_TRUE(port.Write(request.data(), 2));
    std::lock_guard l(traffic.lock);
    ASSERT_GE(traffic.records.size(), 3u);
    EXPECT_EQ(traffic.records[0], (std::pair<int, std::vector<uint8_t>>(0, request)));
    std::vector<uint8_t> received;
    for (size_t i = 1; i < traffic.records.size(); ++i) {
        EXPECT_EQ(traffic.records[i].first, 1);
        received.insert(received.end(), traffic.records[i].second.begin(), traffic.records[i].second.end());
    }
    std::vector<uint8_t> expected = reply;
    expected.insert(expected.end(), {1, 2, 3});
    EXPECT_EQ(received, expected) << "after SetMonitor(nullptr) nothing more is reported";
}

TEST(ComPort, OpenFlushesWhatWasQueuedBefore)
{
    PtyPair pty;
    pty.Send({9, 9, 9});
    CPortIO_Com port;
    ASSERT_TRUE(OpenOn(port, pty));
    EXPECT_FALSE(port.WaitForData(100));
    EXPECT_EQ(GetLastErr(), err::Timeout);
}

TEST(ComPort, ReadExactOnASilentLineTimesOut)
{
    PtyPair pty;
    CPortIO_Com port;
    ASSERT_TRUE(OpenOn(port, pty));
    pty.Send({0xAA});
    uint8_t buf[4];
    auto t0 = Clock::now();
    EXPECT_FALSE(port.ReadExact(buf, 4, 500));
    long elapsed = msSince(t0);
    EXPECT_EQ(GetLastErr(), err::Timeout);
    EXPECT_GE(elapsed, 490);
    EXPECT_LT(elapsed, 1500);
    EXPECT_FALSE(port.WaitForData(50));
    EXPECT_EQ(GetLastErr(), err::Timeout);
}

// After a wait that found data, a read goes ahead without waiting again.
// Once that data has been taken, the same start must not turn into a read
// that waits without limit: each kind of read still times out.
TEST(ComPort, ReadsAfterAWaitThatFoundDataStillTimeOut)
{
    PtyPair pty;
    CPortIO_Com port;
    ASSERT_TRUE(OpenOn(port, pty));
    pty.Send({0xAA, 0xBB});
    ASSERT_TRUE(port.WaitForData(2000));
    ASSERT_TRUE(port.GetDataEvent().IsSet());
    uint8_t buf[4];
    ASSERT_TRUE(port.ReadExactAhead(buf, 2, 500));
    EXPECT_EQ(buf[0], 0xAA);
    EXPECT_EQ(buf[1], 0xBB);
    for (bool ahead : {false, true}) {
        auto t0 = Clock::now();
        EXPECT_FALSE(ahead ? port.ReadExactAhead(buf, 1, 200) : port.ReadExact(buf, 1, 200));
        EXPECT_EQ(GetLastErr(), err::Timeout) << "ahead " << ahead;
        EXPECT_LT(msSince(t0), 1500) << "ahead " << ahead;
    }
}

TEST(ComPort, CloseFromAnotherThreadEndsPendingWaitsAtOnce)
{
    PtyPair pty;
    CPortIO_Com port;
    ASSERT_TRUE(OpenOn(port, pty));
    struct Result {
        bool ok = true;
        uint32_t error = 0;
        long ms = 0;
    } exact, wait, read;
    int readCount = -1;
    std::thread a([&] {
        uint8_t buf[8];
        auto t0 = Clock::now();
        exact.ok = port.ReadExact(buf, 8, 10000);
        exact.error = GetLastErr();
        exact.ms = msSince(t0);
    });
    std::thread b([&] {
        auto t0 = Clock::now();
        wait.ok = port.WaitForData(kInfinite);
        wait.error = GetLastErr();
        wait.ms = msSince(t0);
    });
    std::thread c([&] {
        uint8_t buf[8];
        auto t0 = Clock::now();
        readCount = port.Read(buf, 8);
        read.error = GetLastErr();
        read.ms = msSince(t0);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    auto t0 = Clock::now();
    port.Close();
    EXPECT_LT(msSince(t0), 500);
    a.join();
    b.join();
    c.join();
    for (const Result* r : {&exact, &wait}) {
        EXPECT_FALSE(r->ok);
        EXPECT_EQ(r->error, err::Aborted);
        EXPECT_LT(r->ms, 1000);
    }
    EXPECT_EQ(readCount, 0);
    EXPECT_EQ(read.error, err::Aborted);
    EXPECT_FALSE(port.IsOpen());
}

TEST(ComPort, OperationsOnAClosedPortFailWithNotOpen)
{
    CPortIO_Com port;
    uint8_t buf[4] = {};
    EXPECT_FALSE(port.ReadExact(buf, 4, 100));
    EXPECT_EQ(GetLastErr(), err::NotOpen);
    EXPECT_FALSE(port.Write(buf, 4));
    EXPECT_EQ(GetLastErr(), err::NotOpen);
    EXPECT_EQ(port.Read(buf, 4), 0);
    EXPECT_EQ(GetLastErr(), err::NotOpen);
    EXPECT_FALSE(port.WaitForData(10));
    EXPECT_EQ(GetLastErr(), err::NotOpen);
    EXPECT_FALSE(port.AsyncRead([](CPortIO*, void*) {}, nullptr));
    EXPECT_EQ(GetLastErr(), err::NotOpen);
    EXPECT_FALSE(port.SetOpenCallback([](CPortIO*, void*) { return true; }, nullptr));
    EXPECT_EQ(GetLastErr(), err::NotSupported);
}

TEST(ComPort, HungUpLineEndsWaitsAsAborted)
{
    PtyPair pty;
    CPortIO_Com port;
    ASSERT_TRUE(OpenOn(port, pty));
    pty.HangUp();
    auto t0 = Clock::now();
    EXPECT_FALSE(port.WaitForData(2000));
    EXPECT_EQ(GetLastErr(), err::Aborted);
    uint8_t buf[4];
    EXPECT_FALSE(port.ReadExact(buf, 4, 2000));
    EXPECT_EQ(GetLastErr(), err::Aborted);
    EXPECT_LT(msSince(t0), 1000) << "a hang-up is not a time-out";
}

}  // namespace
