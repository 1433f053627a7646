#include "base/Fifo.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

TEST(Fifo, HoldsOneLessThanItsSlots)
{
    CFifo<int> fifo(4);
    EXPECT_EQ(fifo.Capacity(), 3u);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(fifo.Write(i));
    EXPECT_EQ(fifo.Count(), 3u);
    EXPECT_FALSE(fifo.SpaceEvent().IsSet());
    EXPECT_TRUE(fifo.DataEvent().IsSet());
}

TEST(Fifo, WrapsAroundKeepingOrder)
{
    CFifo<int> fifo(5);
    int next = 0, expect = 0;
    for (int round = 0; round < 20; ++round) {
        for (int i = 0; i < 3; ++i)
            ASSERT_TRUE(fifo.Write(next++));
        for (int i = 0; i < 3; ++i) {
            int v = -1;
            ASSERT_TRUE(fifo.Read(v, 0));
            EXPECT_EQ(v, expect++);
        }
    }
    EXPECT_TRUE(fifo.IsEmpty());
    EXPECT_FALSE(fifo.DataEvent().IsSet());
}

// The events change only on the steps that change what they show, so
// each step is checked against the fill level it leaves.
TEST(Fifo, EventsFollowTheFillLevelThroughEveryStep)
{
    CFifo<int> fifo(4);
    const struct {
        const char* step;
        int write;  // elements written, or taken when negative
        size_t count;
    } steps[] = {
        {"first write", 1, 1},   {"second write", 1, 2}, {"fills it", 1, 3},   {"one taken from full", -1, 2},
        {"refilled", 1, 3},      {"two taken", -2, 1},   {"emptied", -1, 0},   {"taken from empty", -1, 0},
        {"two at once", 2, 2},   {"all taken", -3, 0},   {"filled at once", 3, 3}, {"all at once", -3, 0},
    };
    int next = 0;
    for (const auto& s : steps) {
        if (s.write > 0) {
            std::vector<int> items(static_cast<size_t>(s.write));
            for (int& v : items)
                v = next++;
            ASSERT_EQ(fifo.Write(items.data(), items.size()), items.size()) << s.step;
        } else {
            int taken[4];
            fifo.TryRead(taken, static_cast<size_t>(-s.write));
        }
        EXPECT_EQ(fifo.Count(), s.count) << s.step;
        EXPECT_EQ(fifo.DataEvent().IsSet(), s.count > 0) << s.step;
        EXPECT_EQ(fifo.SpaceEvent().IsSet(), s.count < fifo.Capacity()) << s.step;
    }
    fifo.Write(next);
    fifo.Clear();
    EXPECT_FALSE(fifo.DataEvent().IsSet()) << "cleared";
    EXPECT_TRUE(fifo.SpaceEvent().IsSet()) << "cleared";
}

TEST(Fifo, BulkWriteLargerThanRingIsDeliveredWhole)
{
    CFifo<char> fifo(8);
    std::string text(1000, 'x');
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char>('a' + i % 26);
    std::thread writer([&] { EXPECT_EQ(fifo.Write(text.data(), text.size()), text.size()); });
    std::string got;
    char buf[16];
    while (got.size() < text.size()) {
        char c;
        ASSERT_TRUE(fifo.Read(c, 5000));
        got += c;
        got.append(buf, fifo.TryRead(buf, sizeof buf));
    }
    writer.join();
    EXPECT_EQ(got, text);
}

TEST(Fifo, BlockedWriterIsReleasedByReader)
{
    CFifo<int> fifo(3);
    ASSERT_TRUE(fifo.Write(1));
    ASSERT_TRUE(fifo.Write(2));
    std::atomic<bool> done{false};
    std::thread writer([&] {
        fifo.Write(3);
        done = true;
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(done) << "writer must block while the ring is full";
    int v;
    ASSERT_TRUE(fifo.Read(v, 0));
    EXPECT_EQ(v, 1);
    writer.join();
    EXPECT_TRUE(done);
    ASSERT_TRUE(fifo.Read(v, 0));
    EXPECT_EQ(v, 2);
    ASSERT_TRUE(fifo.Read(v, 0));
    EXPECT_EQ(v, 3);
}

TEST(Fifo, ReadTimesOutOnEmptyRing)
{
    CFifo<int> fifo(4);
    int v;
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(fifo.Read(v, 30));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 30ms);
}

TEST(Fifo, CloseReleasesBlockedWriter)
{
    CFifo<int> fifo(2);
    ASSERT_TRUE(fifo.Write(1));
    std::atomic<int> result{-1};
    std::thread writer([&] { result = fifo.Write(2) ? 1 : 0; });
    std::this_thread::sleep_for(20ms);
    fifo.Close();
    writer.join();
    EXPECT_EQ(result, 0);
    int v;
    EXPECT_TRUE(fifo.Read(v, 0)) << "what was written before the close is still readable";
    EXPECT_FALSE(fifo.Read(v, 0));
}

TEST(Fifo, ManyWritersLoseNothingAndKeepEachWritersOrder)
{
    constexpr int kWriters = 6, kPerWriter = 5000;
    CFifo<uint32_t> fifo(10);
    CFifoWr<uint32_t> wr(fifo);
    std::vector<std::thread> writers;
    for (uint32_t w = 0; w < kWriters; ++w)
        writers.emplace_back([&, w] {
            for (uint32_t i = 0; i < kPerWriter; ++i)
                ASSERT_TRUE(wr.Write(w << 24 | i));
        });
    std::vector<uint32_t> next(kWriters, 0);
    for (int n = 0; n < kWriters * kPerWriter; ++n) {
        uint32_t v;
        ASSERT_TRUE(fifo.Read(v, 5000));
        uint32_t w = v >> 24;
        ASSERT_LT(w, static_cast<uint32_t>(kWriters));
        ASSERT_EQ(v & 0xFFFFFF, next[w]) << "writer " << w << " out of order";
        ++next[w];
    }
    for (auto& t : writers)
        t.join();
    EXPECT_TRUE(fifo.IsEmpty());
}

TEST(Fifo, WriterBlocksKeepTextContiguous)
{
    CFifo<char> fifo(7);
    CFifoWr<char> wr(fifo);
    const std::string a(40, 'a'), b(40, 'b');
    std::thread t1([&] { for (int i = 0; i < 50; ++i) wr.Write(a.data(), a.size()); });
    std::thread t2([&] { for (int i = 0; i < 50; ++i) wr.Write(b.data(), b.size()); });
    std::string got;
    while (got.size() < 4000) {
        char c;
        ASSERT_TRUE(fifo.Read(c, 5000));
        got += c;
    }
    t1.join();
    t2.join();
    for (size_t i = 0; i < got.size(); i += 40)
        EXPECT_EQ(got.substr(i, 40).find_first_not_of(got[i]), std::string::npos) << "block at " << i;
}

namespace {
class RecordingTarget : public CMessageTarget {
public:
    explicit RecordingTarget(std::vector<std::string>& log, std::mutex& lock) : m_log(log), m_lock(lock) {}
    void PostMessage(uint32_t message, uintptr_t, intptr_t) override
    {
        std::lock_guard l(m_lock);
        m_log.push_back("post " + std::to_string(message));
    }
    intptr_t SendMessage(uint32_t message, uintptr_t wParam, intptr_t lParam, CEvent&) override
    {
        std::lock_guard l(m_lock);
        m_log.push_back("send " + std::to_string(message) + " " + std::to_string(wParam) + " " +
                        std::to_string(lParam));
        return 0;
    }

private:
    std::vector<std::string>& m_log;
    std::mutex& m_lock;
};
}  // namespace

TEST(FifoNotifier, NotifiesInTheFourWaysInOrder)
{
    std::vector<std::string> log;
    std::mutex lock;
    RecordingTarget thread(log, lock), window(log, lock);
    CEvent event(true);
    CEvent delivered(true);

    CFifo<int> fifo(4);
    EXPECT_FALSE(fifo.Notifier().IsRunning());
    fifo.Notifier().SetWindowMessage(&window, 1026, 7, 9);
    EXPECT_TRUE(fifo.Notifier().IsRunning()) << "starts with the first target";
    fifo.Notifier().SetCallback(
        [&](void* arg) {
            std::lock_guard l(lock);
            log.push_back(std::string("callback ") + static_cast<const char*>(arg) +
                          (event.IsSet() ? " after event" : " before event"));
        },
        const_cast<char*>("arg"));
    fifo.Notifier().SetThreadMessage(&thread, 1025);
    fifo.Notifier().SetEvent(&event);
    fifo.Write(1);
    for (int i = 0; i < 500; ++i) {
        {
            std::lock_guard l(lock);
            if (log.size() >= 3)
                break;
        }
        std::this_thread::sleep_for(2ms);
    }
    std::lock_guard l(lock);
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0], "post 1025");
    EXPECT_EQ(log[1], "callback arg after event");
    EXPECT_EQ(log[2], "send 1026 7 9");
}

TEST(FifoNotifier, StopIsPromptEvenWhileWindowIsNotAnswering)
{
    CMessageQueue unpumped;  // nobody handles its messages
    CFifo<int> fifo(4);
    fifo.Notifier().SetWindowMessage(&unpumped, 1025);
    fifo.Write(1);
    std::this_thread::sleep_for(20ms);
    auto t0 = std::chrono::steady_clock::now();
    fifo.Notifier().Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 1s);
    EXPECT_FALSE(fifo.Notifier().IsRunning());
}

TEST(FifoNotifier, SentMessageReturnsHandlersResult)
{
    CMessageQueue queue;
    CEvent never(true);
    std::thread pump([&] { queue.Pump([](const QueuedMessage& m) { return static_cast<intptr_t>(m.wParam * 2); }, 5000); });
    EXPECT_EQ(queue.SendMessage(1047, 21, 0, never), 42);
    pump.join();
}

// Writes that come while the notifier is busy share one wake-up; none may
// be left unannounced, neither those before the notifier started nor those
// that race with a delivery: a lost notice leaves elements in the ring.
TEST(FifoNotifier, EveryWriteIsAnnouncedThoughNoticesAreShared)
{
    CFifo<int> fifo(64);
    fifo.Write(-1);
    std::mutex lock;
    std::condition_variable changed;
    int taken = 0;
    fifo.Notifier().SetCallback(
        [&](void*) {
            int value;
            while (fifo.TryRead(value)) {
                std::lock_guard g(lock);
                ++taken;
                changed.notify_all();
            }
            // Writes landing here race with the end of the delivery.
            std::this_thread::sleep_for(20us);
        },
        nullptr);
    constexpr int kWrites = 5000;
    std::thread writer([&] {
        for (int i = 0; i < kWrites; ++i)
            ASSERT_TRUE(fifo.Write(i));
    });
    writer.join();
    std::unique_lock g(lock);
    EXPECT_TRUE(changed.wait_for(g, 5s, [&] { return taken == kWrites + 1; })) << taken << " taken";
    g.unlock();
    fifo.Notifier().Stop();
}
