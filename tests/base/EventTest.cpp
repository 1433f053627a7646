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

namespace {
bool descriptorReadable(int fd)
{
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}
}  // namespace

// A manual-reset event writes its descriptor only once someone has taken
// it; from then on a poll on the descriptor (as a socket notifier does)
// must always agree with the event, whatever happened before.
TEST(Event, ManualResetDescriptorAgreesWithTheEventOnceTaken)
{
    struct Case {
        const char* name;
        bool initiallySet;
        std::vector<char> before;  // 's' set, 'r' reset, before the descriptor is taken
        bool expectSet;
    };
    const Case cases[] = {
        {"untouched", false, {}, false},
        {"initially set", true, {}, true},
        {"set", false, {'s'}, true},
        {"set twice", false, {'s', 's'}, true},
        {"set then reset", false, {'s', 'r'}, false},
        {"initially set, reset", true, {'r'}, false},
        {"reset then set", false, {'r', 's'}, true},
    };
    for (const Case& c : cases) {
        CEvent e(true, c.initiallySet);
        for (char op : c.before)
            op == 's' ? e.Set() : e.Reset();
        EXPECT_EQ(e.IsSet(), c.expectSet) << c.name;
        const int fd = e.fd();
        EXPECT_EQ(descriptorReadable(fd), c.expectSet) << c.name;
        e.Set();
        e.Set();
        EXPECT_TRUE(descriptorReadable(fd)) << c.name;
        e.Reset();
        EXPECT_FALSE(descriptorReadable(fd)) << c.name << ": one reset clears any number of sets";
        e.Set();
        EXPECT_TRUE(descriptorReadable(fd)) << c.name;
    }
}

TEST(Event, WaitForAnyAnswersAKnownSetEventOnlyWhenNoDescriptorComesFirst)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], "x", 1), 1);
    CEvent a(true), b(true);
    b.Set();
    EXPECT_EQ(WaitForAny({CWaitItem::Of(a), CWaitItem::Of(b)}, 0), 1);
    EXPECT_EQ(WaitForAny({CWaitItem::Fd(fds[0], POLLIN), CWaitItem::Of(b)}, 0), 0)
        << "a ready descriptor before a set event is the lowest ready index";
    close(fds[0]);
    close(fds[1]);
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
