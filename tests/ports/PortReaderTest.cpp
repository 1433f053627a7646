// The background reader with counted pauses, over a serial port on a
// pseudo-terminal.

#include "PortTestUtil.h"
#include "base/Error.h"
#include "ports/PortIO_Com.h"

#include <condition_variable>
#include <future>
#include <gtest/gtest.h>
#include <mutex>

using namespace porttest;
using namespace std::chrono_literals;

namespace {

// What the reader's data callback saw, with hooks to hold it inside.
struct Sink {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<uint8_t> bytes;
    int calls = 0;
    bool holdInside = false;  // the callback waits until released
    bool inside = false;
    std::atomic<bool> running{false};
    bool closeFromCallback = false;
    bool pauseFromCallback = false;
    bool pauseResult = false;

    static void OnData(CPortIO* port, void* context)
    {
        auto* self = static_cast<Sink*>(context);
        self->running = true;
        uint8_t buf[64];
        int n = port->Read(buf, sizeof buf);
        std::unique_lock l(self->lock);
        self->bytes.insert(self->bytes.end(), buf, buf + n);
        ++self->calls;
        self->inside = true;
        self->changed.notify_all();
        self->changed.wait(l, [self] { return !self->holdInside; });
        self->inside = false;
        bool close = self->closeFromCallback, pause = self->pauseFromCallback;
        l.unlock();
        if (pause) {
            bool paused = port->PauseReader();
            std::lock_guard again(self->lock);
            self->pauseResult = paused;
        }
        self->running = false;
        if (close)
            port->Close();
    }

    bool WaitBytes(size_t n, std::chrono::milliseconds limit = 2000ms)
    {
        std::unique_lock l(lock);
        return changed.wait_for(l, limit, [&] { return bytes.size() >= n; });
    }
    bool WaitInside(std::chrono::milliseconds limit = 2000ms)
    {
        std::unique_lock l(lock);
        return changed.wait_for(l, limit, [&] { return inside; });
    }
    void Release()
    {
        std::lock_guard l(lock);
        holdInside = false;
        changed.notify_all();
    }
    size_t Count()
    {
        std::lock_guard l(lock);
        return bytes.size();
    }
};

class Reader : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(port.SetPropertyById(CPortIO_Com::kComName, CVariant::FromString(pty.path())));
        ASSERT_TRUE(port.Open());
    }
    bool Start() { return port.AsyncRead(Sink::OnData, &sink); }

    PtyPair pty;
    CPortIO_Com port;
    Sink sink;
};

TEST_F(Reader, CallbackReadsWhatArrives)
{
    ASSERT_TRUE(Start());
    pty.Send({1, 2, 3});
    ASSERT_TRUE(sink.WaitBytes(3));
    pty.Send({4, 5});
    ASSERT_TRUE(sink.WaitBytes(5));
    std::lock_guard l(sink.lock);
    EXPECT_EQ(sink.bytes, (std::vector<uint8_t>{1, 2, 3, 4, 5}));
}

TEST_F(Reader, PauseDuringTheCallbackIsAcknowledgedWhenItReturns)
{
    sink.holdInside = true;
    ASSERT_TRUE(Start());
    pty.Send({0x10});
    ASSERT_TRUE(sink.WaitInside());
    auto pause = std::async(std::launch::async, [this] { return port.PauseReader(); });
    EXPECT_EQ(pause.wait_for(300ms), std::future_status::timeout) << "acknowledged while the callback still runs";
    sink.Release();
    ASSERT_EQ(pause.wait_for(2000ms), std::future_status::ready);
    EXPECT_TRUE(pause.get());

    // Paused: the reply is the command's to read.
    pty.Send({0x20, 0x21});
    uint8_t reply[2];
    ASSERT_TRUE(port.ReadExact(reply, 2, 2000));
    EXPECT_EQ(reply[0], 0x20);
    EXPECT_EQ(reply[1], 0x21);
    EXPECT_EQ(sink.Count(), 1u);

    ASSERT_TRUE(port.ResumeReader());
    pty.Send({0x30});
    ASSERT_TRUE(sink.WaitBytes(2));
}

TEST_F(Reader, SecondPauseDoesNotWaitAndTwoResumesRelease)
{
    ASSERT_TRUE(Start());
    ASSERT_TRUE(port.PauseReader());
    auto second = std::async(std::launch::async, [this] { return port.PauseReader(); });
    ASSERT_EQ(second.wait_for(1000ms), std::future_status::ready);
    EXPECT_TRUE(second.get());

    ASSERT_TRUE(port.ResumeReader());
    pty.Send({7});
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(sink.Count(), 0u) << "one resume of two leaves the reader paused";
    ASSERT_TRUE(port.ResumeReader());
    EXPECT_TRUE(sink.WaitBytes(1));
    EXPECT_TRUE(port.ResumeReader()) << "a resume with no pause counts nothing";
    ASSERT_TRUE(port.PauseReader());
    pty.Send({8});
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(sink.Count(), 1u) << "a surplus resume did not cancel the next pause";
}

TEST_F(Reader, PausedBeforeStartStartsOnTheLastResume)
{
    ASSERT_TRUE(port.PauseReader());
    ASSERT_TRUE(Start());
    pty.Send({5, 6});
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(sink.Count(), 0u);
    ASSERT_TRUE(port.ResumeReader());
    EXPECT_TRUE(sink.WaitBytes(2));
}

TEST_F(Reader, PauseFromTheCallbackItselfDoesNotDeadlock)
{
    sink.pauseFromCallback = true;
    ASSERT_TRUE(Start());
    pty.Send({1});
    ASSERT_TRUE(sink.WaitBytes(1));
    std::this_thread::sleep_for(50ms);
    {
        std::lock_guard l(sink.lock);
        EXPECT_TRUE(sink.pauseResult);
        sink.pauseFromCallback = false;
    }
    pty.Send({2});
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(sink.Count(), 1u) << "paused by its own callback";
    ASSERT_TRUE(port.ResumeReader());
    EXPECT_TRUE(sink.WaitBytes(2));
}

TEST_F(Reader, CloseFromTheCallbackEndsTheReaderAndThePortReopens)
{
    {
        std::lock_guard l(sink.lock);
        sink.closeFromCallback = true;
    }
    ASSERT_TRUE(Start());
    pty.Send({1});
    ASSERT_TRUE(sink.WaitBytes(1));
    auto t0 = Clock::now();
    while (port.IsOpen() && msSince(t0) < 2000)
        std::this_thread::sleep_for(5ms);
    EXPECT_FALSE(port.IsOpen());

    {
        std::lock_guard l(sink.lock);
        sink.closeFromCallback = false;
    }
    ASSERT_TRUE(port.Open());
    ASSERT_TRUE(Start());
    pty.Send({2});
    EXPECT_TRUE(sink.WaitBytes(2));
}

TEST_F(Reader, ErrorCallbackGetsTheErrorAndEndsTheReader)
{
    struct Errors {
        std::mutex lock;
        std::vector<uint32_t> codes;
        static void OnData(CPortIO*, void*) { ADD_FAILURE() << "no data was sent"; }
        static bool OnError(CPortIO*, void* context, uint32_t code)
        {
            auto* self = static_cast<Errors*>(context);
            std::lock_guard l(self->lock);
            self->codes.push_back(code);
            return false;
        }
    } errors;
    ASSERT_TRUE(port.AsyncRead(Errors::OnData, &errors, Errors::OnError));
    pty.HangUp();
    auto t0 = Clock::now();
    for (;;) {
        {
            std::lock_guard l(errors.lock);
            if (!errors.codes.empty() || msSince(t0) > 2000)
                break;
        }
        std::this_thread::sleep_for(5ms);
    }
    std::lock_guard l(errors.lock);
    EXPECT_EQ(errors.codes, std::vector<uint32_t>{err::Aborted});
}

TEST_F(Reader, PausesFromManyThreadsNeverOverlapTheCallback)
{
    ASSERT_TRUE(Start());
    std::atomic<bool> stop{false};
    std::atomic<int> overlaps{0}, pauses{0}, failures{0};
    std::thread feeder([&] {
        while (!stop) {
            pty.Send({0x42});
            std::this_thread::sleep_for(1ms);
        }
    });
    std::vector<std::thread> pausers;
    for (int t = 0; t < 4; ++t) {
        pausers.emplace_back([&] {
            for (int i = 0; i < 150; ++i) {
                if (!port.PauseReader()) {
                    ++failures;
                    continue;
                }
                ++pauses;
                if (sink.running)
                    ++overlaps;
                std::this_thread::sleep_for(200us);
                if (sink.running)
                    ++overlaps;
                port.ResumeReader();
            }
        });
    }
    for (auto& t : pausers)
        t.join();
    stop = true;
    feeder.join();
    EXPECT_EQ(overlaps.load(), 0) << "a granted pause must mean the callback is not running";
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(pauses.load(), 600);
    size_t before = sink.Count();
    pty.Send({0x43});
    EXPECT_TRUE(sink.WaitBytes(before + 1)) << "all pauses resumed: the reader reads again";
}

TEST_F(Reader, CloseWhilePausersWaitAndReaderRunsThenReopen)
{
    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE(round);
        {
            std::lock_guard l(sink.lock);
            sink.holdInside = true;
        }
        ASSERT_TRUE(Start());
        pty.Send({static_cast<uint8_t>(round)});
        ASSERT_TRUE(sink.WaitInside());
        auto pause = std::async(std::launch::async, [this] {
            bool ok = port.PauseReader();
            return std::make_pair(ok, GetLastErr());
        });
        std::this_thread::sleep_for(20ms);
        auto closer = std::async(std::launch::async, [this] { port.Close(); });
        std::this_thread::sleep_for(20ms);
        sink.Release();
        ASSERT_EQ(closer.wait_for(2000ms), std::future_status::ready);
        ASSERT_EQ(pause.wait_for(2000ms), std::future_status::ready);
        auto [ok, code] = pause.get();
        if (!ok) {
            EXPECT_EQ(code, err::Aborted);
        }
        EXPECT_FALSE(port.IsOpen());
        ASSERT_TRUE(port.Open());
    }
}

}  // namespace
