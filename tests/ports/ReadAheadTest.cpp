// Reads ahead on a pseudo-terminal and over TCP: bytes taken beyond what
// the caller asked for serve the next reads and waits, wake the background
// reader, and go with Close, Open and a parity change.

#include "PortTestUtil.h"
#include "base/Error.h"
#include "ports/PortIO_Com.h"
#include "ports/PortIO_Socket.h"

#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <string>

using namespace porttest;
using namespace std::chrono_literals;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes B(const std::string& text) { return Bytes(text.begin(), text.end()); }

// A port and the far end of its line, written to by the test.
class Wire {
public:
    virtual ~Wire() = default;
    virtual CPortIO& port() = 0;
    virtual bool Open() = 0;
    void Send(const Bytes& bytes, bool settle = true) const { SendToNearEnd(peer(), bytes, settle); }

protected:
    virtual int peer() const = 0;
};

class PtyWire : public Wire {
public:
    CPortIO& port() override { return m_port; }
    bool Open() override
    {
        return m_port.SetPropertyById(CPortIO_Com::kComName, CVariant::FromString(m_pty.path())) && m_port.Open();
    }
    CPortIO_Com& com() { return m_port; }

protected:
    int peer() const override { return m_pty.master(); }

private:
    PtyPair m_pty;
    CPortIO_Com m_port;
};

class TcpWire : public Wire {
public:
    CPortIO& port() override { return m_port; }
    bool Open() override { return m_port.OpenSpec("127.0.0.1:" + std::to_string(m_farEnd.port())) && m_farEnd.Accept(); }

protected:
    int peer() const override { return m_farEnd.fd(); }

private:
    TcpFarEnd m_farEnd;
    CPortIO_Socket m_port;
};

class ReadAhead : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override
    {
        if (std::string(GetParam()) == "pty")
            wire = std::make_unique<PtyWire>();
        else
            wire = std::make_unique<TcpWire>();
        ASSERT_TRUE(wire->Open()) << GetLastErr();
    }
    void TearDown() override { wire->port().Close(); }

    Bytes ReadAheadOf(int count, int timeoutMs = 1000)
    {
        Bytes out(static_cast<size_t>(count));
        if (!wire->port().ReadExactAhead(out.data(), count, timeoutMs))
            out.clear();
        return out;
    }
    Bytes ReadSome(int max)
    {
        Bytes out(static_cast<size_t>(max));
        const int n = wire->port().Read(out.data(), max);
        out.resize(static_cast<size_t>(std::max(n, 0)));
        return out;
    }

    std::unique_ptr<Wire> wire;
};

// Frames of two bytes, collected by the background reader.
struct FrameReader {
    Collected<Bytes> frames;
    std::atomic<int> calls{0};

    static void OnData(CPortIO* port, void* context)
    {
        auto* self = static_cast<FrameReader*>(context);
        ++self->calls;
        Bytes frame(2);
        if (port->ReadExactAhead(frame.data(), 2, 500))
            self->frames.Add(frame);
    }
};

}  // namespace

TEST_P(ReadAhead, KeptBytesServeTheNextReadsAndWaits)
{
    wire->Send(B("0123456789"));
    EXPECT_EQ(ReadAheadOf(2), B("01"));
    // The line is empty now; the rest waits in the port.
    EXPECT_TRUE(wire->port().WaitForData(0));
    EXPECT_EQ(GetLastErr(), err::Success);
    EXPECT_EQ(ReadAheadOf(3), B("234"));
    EXPECT_EQ(ReadSome(100), B("56789"));
    EXPECT_FALSE(wire->port().WaitForData(50));
    EXPECT_EQ(GetLastErr(), err::Timeout);
}

TEST_P(ReadAhead, PlainReadExactTakesKeptBytesFirstThenTheLine)
{
    wire->Send(B("ABCD"));
    EXPECT_EQ(ReadAheadOf(1), B("A"));
    std::thread later([&] {
        std::this_thread::sleep_for(50ms);
        wire->Send(B("EF"));
    });
    Bytes got(5);
    EXPECT_TRUE(wire->port().ReadExact(got.data(), 5, 1000)) << GetLastErr();
    later.join();
    EXPECT_EQ(got, B("BCDEF"));
}

TEST_P(ReadAhead, ABlockSplitOverManyReadsArrivesWhole)
{
    const Bytes block = B("frame split into many pieces");
    std::thread peer([&] {
        for (uint8_t byte : block) {
            wire->Send({byte}, false);
            std::this_thread::sleep_for(1ms);
        }
    });
    EXPECT_EQ(ReadAheadOf(static_cast<int>(block.size()), 2000), block);
    peer.join();
    EXPECT_FALSE(wire->port().WaitForData(0));
}

TEST_P(ReadAhead, BlocksLongerThanWhatIsKeptStayInOrder)
{
    Bytes big(3 * CPortIO::kReadAheadSize);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<uint8_t>(i * 7 + i / 256);
    std::thread peer([&] {
        // A pseudo-terminal takes at most 4 KiB at once.
        for (size_t at = 0; at < big.size(); at += 512)
            wire->Send(Bytes(big.begin() + static_cast<long>(at), big.begin() + static_cast<long>(at + 512)));
    });
    Bytes got;
    for (int want : {5, CPortIO::kReadAheadSize + 3, 1, 2 * CPortIO::kReadAheadSize - 9}) {
        const Bytes part = ReadAheadOf(want, 2000);
        ASSERT_EQ(part.size(), static_cast<size_t>(want)) << GetLastErr();
        got.insert(got.end(), part.begin(), part.end());
    }
    peer.join();
    EXPECT_EQ(got, big);
}

TEST_P(ReadAhead, CloseAndOpenDropKeptBytes)
{
    wire->Send(B("old bytes"));
    EXPECT_EQ(ReadAheadOf(1), B("o"));
    wire->port().Close();
    EXPECT_FALSE(wire->port().WaitForData(0));
    EXPECT_EQ(GetLastErr(), err::NotOpen);
    ASSERT_TRUE(wire->Open()) << GetLastErr();
    EXPECT_FALSE(wire->port().WaitForData(50)) << "kept bytes outlived the Close";
    wire->Send(B("new"));
    EXPECT_EQ(ReadSome(100), B("new"));
}

TEST_P(ReadAhead, KeptFramesWakeTheBackgroundReader)
{
    FrameReader reader;
    ASSERT_TRUE(wire->port().AsyncRead(&FrameReader::OnData, &reader)) << GetLastErr();
    // Three frames in one write: the first read takes them all.
    wire->Send(B("a1b2c3"));
    EXPECT_EQ(reader.frames.WaitFor(3), (std::vector<Bytes>{B("a1"), B("b2"), B("c3")}));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(reader.calls, 3) << "a call without data";
}

TEST_P(ReadAhead, TheReaderGetsWhatAReadDuringItsPauseKept)
{
    FrameReader reader;
    ASSERT_TRUE(wire->port().AsyncRead(&FrameReader::OnData, &reader)) << GetLastErr();
    ASSERT_TRUE(wire->port().PauseReader());
    // A reply and, right behind it, a frame nobody asked for.
    wire->Send(B("R1U1"));
    EXPECT_EQ(ReadAheadOf(2), B("R1"));
    EXPECT_EQ(reader.calls, 0);
    ASSERT_TRUE(wire->port().ResumeReader());
    EXPECT_EQ(reader.frames.WaitFor(1), std::vector<Bytes>{B("U1")});
}

INSTANTIATE_TEST_SUITE_P(Lines, ReadAhead, ::testing::Values("pty", "tcp"),
                         [](const auto& info) { return std::string(info.param); });

TEST(ReadAheadParity, AParityChangeDropsKeptBytes)
{
    PtyWire wire;
    ASSERT_TRUE(wire.Open()) << GetLastErr();
    wire.Send(B("stale reply"));
    Bytes first(1);
    ASSERT_TRUE(wire.port().ReadExactAhead(first.data(), 1, 1000));
    ASSERT_TRUE(wire.com().SetPropertyById(CPortIO_Com::kParityNow, CVariant::FromString("m")));
    EXPECT_FALSE(wire.port().WaitForData(50));
    EXPECT_EQ(GetLastErr(), err::Timeout);
    wire.Send(B("X"));
    Bytes next(1);
    EXPECT_TRUE(wire.port().ReadExactAhead(next.data(), 1, 1000));
    EXPECT_EQ(next, B("X"));
    wire.port().Close();
}
