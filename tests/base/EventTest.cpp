#include "base/Event.h"

#include <chrono>
#include <gtest/gtest.h>
#include <atomic>
#include <poll.h>
#include <thread>
#include <vector>
#include <unistd.h>

using namespace std::chrono_literals;

TEST(Event, ManualResetStaysSetUntilReset)
{
    CEvent e(true);
    EXPECT_FALSE(e.Wait(0));
    e.Set();
    EXPECT_TRUE(e.Wait(0));
    EXPECT_TRUE(e.Wait(0));
    e.Reset();
    EXPECT_FALSE(e.Wait(0));
}

TEST(Event, AutoResetReleasesOneWait)
{
    CEvent e(false);
    e.Set();
    e.Set();
    EXPECT_TRUE(e.Wait(0));
    EXPECT_FALSE(e.Wait(0)) << "two sets before a wait release one wait";
}

TEST(Event, WaitTimesOut)
{
    CEvent e(true);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(e.Wait(40));
    auto elapsed = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(elapsed, 40ms);
    EXPECT_LT(elapsed, 2s);
}

TEST(Event, WaitForAnyReportsLowestReadyIndex)
{
    CEvent a(true), b(true), c(false);
    b.Set();
    c.Set();
    EXPECT_EQ(WaitForAny({CWaitItem::Of(a), CWaitItem::Of(b), CWaitItem::Of(c)}, 0), 1);
    b.Reset();
    EXPECT_EQ(WaitForAny({CWaitItem::Of(a), CWaitItem::Of(b), CWaitItem::Of(c)}, 0), 2);
    EXPECT_EQ(WaitForAny({CWaitItem::Of(a), CWaitItem::Of(b), CWaitItem::Of(c)}, 0), kWaitTimeout)
        << "the auto-reset event was consumed";
}

TEST(Event, WaitForAnyMixesEventsAndDescriptors)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    CEvent stop(true);
    std::thread t([&] {
        std::this_thread::sleep_for(20ms);
        ASSERT_EQ(write(fds[1], "x", 1), 1);
    });
    EXPECT_EQ(WaitForAny({CWaitItem::Of(stop), CWaitItem::Fd(fds[0], POLLIN)}, 5000), 1);
    t.join();
    close(fds[0]);
    close(fds[1]);
}

TEST(Event, SetFromAnotherThreadWakesWaiter)
{
    CEvent e(false);
    std::thread t([&] {
        std::this_thread::sleep_for(10ms);
        e.Set();
    });
    EXPECT_TRUE(e.Wait(5000));
    t.join();
}

TEST(Event, OnlyOneOfManyWaitersGetsAnAutoResetSet)
{
    CEvent e(false);
    std::atomic<int> woke{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i)
        waiters.emplace_back([&] {
            if (e.Wait(200))
                ++woke;
        });
    std::this_thread::sleep_for(20ms);
    e.Set();
    for (auto& t : waiters)
        t.join();
    EXPECT_EQ(woke, 1);
}
