#pragma once
// A connection engine wired to the in-process simulator, with its traffic
// box drained into a captured text and its window messages captured too.

#include "base/Error.h"
#include "console/ConnectionEngine.h"
#include "links/PortMCSim.h"

#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <string>

// Text printed by the traffic box or by the engine's window messages;
// waited for by the tests.
class CapturedText : public CTextSink, public CStdOut {
public:
    void Append(std::string_view text) override
    {
        std::lock_guard lock(m_lock);
        m_text.append(text);
        m_changed.notify_all();
    }

    int PrintV(const char* format, va_list args) override
    {
        char buffer[1024];
        int n = std::vsnprintf(buffer, sizeof buffer, format, args);
        Append(buffer);
        return n;
    }

    std::string Text() const
    {
        std::lock_guard lock(m_lock);
        return m_text;
    }

    // Waits until the text holds `needle` at least `times` times.
    bool WaitFor(const std::string& needle, int times = 1, int timeoutMs = 5000)
    {
        std::unique_lock lock(m_lock);
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [&] { return countLocked(needle) >= times; });
    }

    int Count(const std::string& needle) const
    {
        std::lock_guard lock(m_lock);
        return countLocked(needle);
    }

private:
    int countLocked(const std::string& needle) const
    {
        int n = 0;
        for (size_t at = m_text.find(needle); at != std::string::npos; at = m_text.find(needle, at + needle.size()))
            ++n;
        return n;
    }

    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    std::string m_text;
};

// A requester's reply queue of 3 slots, as the command window has.
struct ReplyQueue {
    CFifo<_MCDATA> fifo{3};
    CFifoWr<_MCDATA> writer{fifo};

    bool Next(_MCDATA& record, int timeoutMs = 5000) { return fifo.Read(record, timeoutMs); }
};

inline _MCDATA Request(std::initializer_list<uint8_t> bytes, bool waitReply, int timeoutMs = 1000)
{
    _MCDATA r;
    r.status = timeoutMs;
    r.waitReply = waitReply;
    for (uint8_t b : bytes)
        r.bytes[r.length++] = b;
    return r;
}

inline Bytes RecordBytes(const _MCDATA& r) { return Bytes(r.bytes, r.bytes + r.length); }

inline const std::string kDecodeFile = std::string(TELVANE_SOURCE_DIR) + "/examples/Cb_v126.dec";

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(sim.Start());
        engine = std::make_unique<CConnectionEngine>(events);
        engine->Box().SetSink(&box);
        CTrafficBox& trafficBox = engine->Box();
        trafficBox.Queue().Notifier().SetCallback([&trafficBox](void*) { trafficBox.Drain(); }, nullptr);
    }

    void TearDown() override { engine.reset(); }

    // Sets the link up for the simulator: 1 primary bus, 3 crate server.
    void Configure(int ioType)
    {
        CPortMC_All& link = engine->Link();
        ASSERT_TRUE(link.SetPropertyById(CPortMC_All::kIOType, CVariant::FromInt(ioType)));
        if (ioType == CPortMC_All::kPrimary) {
            ASSERT_TRUE(link.SetProperty("ComName", CVariant::FromString(sim.PrimaryBusPath())));
        } else {
            ASSERT_TRUE(link.SetProperty("Host", CVariant::FromString("127.0.0.1")));
            ASSERT_TRUE(link.SetProperty("Port", CVariant::FromUInt16(sim.CrateServerPort())));
            ASSERT_TRUE(link.SetProperty("CCB ID", CVariant::FromInt(101)));
            // The reply wait adds this to every request's timeout.
            ASSERT_TRUE(link.SetPropertyById(CPortMC_Tcp::kTimeout, CVariant::FromInt(200)));
        }
    }

    void Connect(int ioType)
    {
        Configure(ioType);
        ASSERT_TRUE(engine->Connect()) << events.Text();
        ASSERT_TRUE(engine->Link().WaitUntilOpen(5000)) << GetLastErr();
    }

    CSimBoard& Board() { return *sim.Board(101); }

    CSimSystem sim{testCrates()};
    CapturedText events;
    CapturedText box;
    // Outlives the engine: a delivery may still be leaving the writer when
    // the test has read its record.
    ReplyQueue replies;
    std::unique_ptr<CConnectionEngine> engine;
};
