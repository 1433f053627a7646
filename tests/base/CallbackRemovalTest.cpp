// Callbacks replaced or removed while they run: the remover waits for the
// running call, except from inside it; an exception of a callback never
// ends the program.

#include "base/Error.h"
#include "base/Fifo.h"
#include "base/Hook.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <system_error>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

using namespace std::chrono_literals;

namespace {
using Fn = void (*)(void* context);

struct SlowCall {
    CEvent entered{true, false};
    CEvent release{true, false};
    std::atomic<bool> finished{false};

    static void Run(void* context)
    {
        auto* s = static_cast<SlowCall*>(context);
        s->entered.Set();
        s->release.Wait(5000);
        s->finished = true;
    }
};
}  // namespace

TEST(Hook, RemovalWaitsForTheRunningCall)
{
    auto hook = std::make_unique<CHook<Fn>>();
    auto slow = std::make_unique<SlowCall>();
    hook->Set(&SlowCall::Run, slow.get());
    std::thread caller([&] { hook->Call([](Fn fn, void* context) { fn(context); }); });
    ASSERT_TRUE(slow->entered.Wait(5000));

    std::atomic<bool> removed{false};
    std::thread remover([&] {
        hook->Set(nullptr, nullptr);
        removed = true;
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(removed) << "returned while the old callback still ran";
    slow->release.Set();
    remover.join();
    EXPECT_TRUE(slow->finished) << "the call had finished when removal returned";
    caller.join();
    EXPECT_FALSE(hook->Call([](Fn fn, void* context) { fn(context); })) << "nothing is called after removal";
}

TEST(Hook, RemovalFromInsideTheCallDoesNotWaitForItself)
{
    struct Self {
        CHook<Fn>* hook;
        static void Run(void* context) { static_cast<Self*>(context)->hook->Set(nullptr, nullptr); }
    };
    auto hook = std::make_unique<CHook<Fn>>();
    Self self{hook.get()};
    hook->Set(&Self::Run, &self);
    std::thread caller([&] { hook->Call([](Fn fn, void* context) { fn(context); }); });
    caller.join();  // hangs here if removal waited for its own call
    EXPECT_FALSE(hook->Call([](Fn fn, void* context) { fn(context); }));
}

TEST(FifoNotifier, RemovingTheCallbackWaitsForTheRunningCall)
{
    auto fifo = std::make_unique<CFifo<int>>(4);
    auto slow = std::make_unique<SlowCall>();
    fifo->Notifier().SetCallback(&SlowCall::Run, slow.get());
    fifo->Write(1);
    ASSERT_TRUE(slow->entered.Wait(5000));

    std::atomic<bool> removed{false};
    std::thread remover([&] {
        fifo->Notifier().SetCallback(nullptr, nullptr);
        removed = true;
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(removed) << "returned while the callback still ran";
    slow->release.Set();
    remover.join();
    EXPECT_TRUE(slow->finished);
    slow.reset();  // the owner may destroy the old target right away
    fifo->Write(2);
    std::this_thread::sleep_for(20ms);
}

TEST(FifoNotifier, RemovalFromInsideTheCallbackReturns)
{
    CEvent done(true, false);  // outlives the notifier thread that sets it
    auto fifo = std::make_unique<CFifo<int>>(4);
    struct Context {
        CFifo<int>* fifo;
        CEvent* done;
    } context{fifo.get(), &done};
    fifo->Notifier().SetCallback(
        [](void* arg) {
            auto* c = static_cast<Context*>(arg);
            c->fifo->Notifier().SetCallback(nullptr, nullptr);
            c->done->Set();
        },
        &context);
    fifo->Write(1);
    EXPECT_TRUE(done.Wait(5000)) << "the callback deadlocked on its own removal";
}

TEST(FifoNotifier, RemovingTheWindowWhileItDoesNotAnswerReturns)
{
    // The GUI thread removes its own window target while the notifier waits
    // for that very thread to handle a sent message.
    CMessageQueue unpumped;
    auto fifo = std::make_unique<CFifo<int>>(4);
    fifo->Notifier().SetWindowMessage(&unpumped, 1025);
    fifo->Write(1);
    std::this_thread::sleep_for(20ms);
    const auto t0 = std::chrono::steady_clock::now();
    fifo->Notifier().SetWindowMessage(nullptr, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 2s);
}

TEST(FifoNotifier, ACallbackThatThrowsEndsOnlyTheNotifier)
{
    auto fifo = std::make_unique<CFifo<int>>(4);
    fifo->Notifier().SetCallback([](void*) { throw std::runtime_error("from a callback"); }, nullptr);
    fifo->Write(1);
    std::this_thread::sleep_for(50ms);
    int value = 0;
    EXPECT_TRUE(fifo->Read(value, 0)) << "the process lives and the element is still there";
    EXPECT_EQ(value, 1);
}

TEST(Error, AnExceptionBecomesTheLastErrorWithItsText)
{
    struct Case {
        std::function<void()> body;
        uint32_t code;
        std::string text;
    };
    const Case cases[] = {
        {[] { throw CCodedError(err::NotFound, "No crate YB0 S5 MB1 in the crate list"); }, err::NotFound,
         "No crate YB0 S5 MB1 in the crate list"},
        {[] { throw std::system_error(EMFILE, std::generic_category(), "eventfd"); }, ErrnoToCode(EMFILE),
         std::system_error(EMFILE, std::generic_category(), "eventfd").what()},
        {[] { throw std::bad_alloc(); }, err::NoMemory, std::bad_alloc().what()},
        {[] { throw std::logic_error("odd"); }, err::Internal, "odd"},
    };
    for (const Case& c : cases) {
        std::thread worker([&] {
            EXPECT_FALSE(CatchToLastError([&] {
                c.body();
                return true;
            }));
            EXPECT_EQ(GetLastErr(), c.code);
            EXPECT_EQ(LastErrText(), c.text);
            EXPECT_EQ(formatErrorText("Open Error:", c.code),
                      "Open Error: ->" + std::to_string(static_cast<int32_t>(c.code)) + "\n" + c.text + "\n");
            SetLastErr(c.code);
            EXPECT_EQ(LastErrText(), errorText(c.code)) << "a plain code forgets the old text";
        });
        worker.join();
    }
}
