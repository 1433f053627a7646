#include "shell/RateMeter.h"

#include <gtest/gtest.h>
#include <thread>
#include <vector>

TEST(RateMeter, BarPositionsOnTheLogarithmicScale)
{
    struct Case {
        uint32_t rate, fullScale;
        int position;
    } cases[] = {
        {0, 3840, 0},     {1, 3840, 8},       {9, 3840, 27},      {99, 3840, 55},
        {3838, 3840, 99}, {3839, 3840, 100},  {38400, 3840, 127}, {100, 1, 0},
        {998, 1000, 99},  {4294967295u, 3840, 268},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RateBarPosition(c.rate, c.fullScale), c.position) << c.rate << "/" << c.fullScale;
}

TEST(RateMeter, SampleDrainsBothCountersAndFormatsTheRate)
{
    RateCounter rx{0}, tx{0};
    CRateMeter meter;
    meter.Attach(kRateFullScale, &rx, kRateFullScale, &tx);
    rx += 5000;
    tx += 12;
    _RATESAMPLE r, t;
    meter.Sample(r, t);
    EXPECT_EQ(r.rate, 5000u);
    EXPECT_GT(r.position, 100);
    EXPECT_EQ(t.rate, 12u);
    EXPECT_EQ(RateText(t.rate), "12 Bps");
    EXPECT_EQ(rx.load(), 0u);
    EXPECT_EQ(tx.load(), 0u);

    meter.Sample(r, t);  // a silent second
    EXPECT_EQ(RateText(r.rate), "0 Bps");
    EXPECT_EQ(r.position, 0);
}

TEST(RateMeter, DetachedAndAbsentCountersAreNeverTouched)
{
    RateCounter rx{0};
    CRateMeter meter;
    meter.Attach(kRateFullScale, &rx, kRateFullScale, nullptr);
    meter.Detach();
    rx = 77;
    _RATESAMPLE r, t;
    meter.Sample(r, t);
    EXPECT_EQ(r.rate, 0u);
    EXPECT_EQ(t.rate, 0u);
    EXPECT_EQ(rx.load(), 77u);
}

TEST(RateMeter, NoByteIsLostBetweenCountingThreadsAndSampling)
{
    RateCounter rx{0}, tx{0};
    CRateMeter meter;
    meter.Attach(kRateFullScale, &rx, kRateFullScale, &tx);
    constexpr int kThreads = 4, kAdds = 100000;
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&] {
            for (int n = 0; n < kAdds; ++n) {
                rx += 1;
                tx += 2;
            }
        });
    uint64_t totalRx = 0, totalTx = 0;
    _RATESAMPLE r, t;
    for (int i = 0; i < 1000; ++i) {
        meter.Sample(r, t);
        totalRx += r.rate;
        totalTx += t.rate;
    }
    for (auto& th : threads)
        th.join();
    meter.Sample(r, t);
    totalRx += r.rate;
    totalTx += t.rate;
    EXPECT_EQ(totalRx, uint64_t{kThreads} * kAdds);
    EXPECT_EQ(totalTx, uint64_t{kThreads} * kAdds * 2);
}
