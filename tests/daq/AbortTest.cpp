// Settling and reset waits of the VME code end at once when the worker
// that runs them is being stopped.

#include "VmeStandFixture.h"
#include "daq/Ros.h"

#include <chrono>
#include <future>
#include <thread>

using namespace std::chrono_literals;

class VmeAbortTest : public VmeStandTest {};

TEST_F(VmeAbortTest, AnAbortEndsTheBoardSettlingWaitWithStatus995)
{
    CRos ros{vme, simvme::RosBase};
    const auto t0 = std::chrono::steady_clock::now();
    auto init = std::async(std::launch::async, [&] { return ros.Init(); });
    std::this_thread::sleep_for(50ms);
    vme.Abort();
    ASSERT_EQ(init.wait_for(300ms), std::future_status::ready) << "Init sat through its settling time";
    EXPECT_FALSE(init.get());
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 500ms);
    EXPECT_EQ(ros.Status(), 995);
    EXPECT_EQ(ros.ErrorText().rfind("CRos::Init():", 0), 0u) << ros.ErrorText();

    vme.ClearAbort();
    EXPECT_TRUE(ros.Init()) << "after ClearAbort the full sequence runs: " << ros.ErrorText();
}

TEST_F(VmeAbortTest, APauseWithoutAbortWaitsItsTime)
{
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_TRUE(vme.Pause("label", 30));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 30ms);
}
