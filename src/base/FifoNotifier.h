#pragma once
// The FIFO reader thread: after elements were written it notifies the
// owner in any combination of four ways, always in this order: set an
// event, post a thread message, call a callback, send a window message.

#include "base/Event.h"
#include "base/Message.h"

#include <functional>
#include <mutex>
#include <thread>

class CFifoNotifier {
public:
    using Callback = std::function<void(void* arg)>;

    CFifoNotifier() = default;
    ~CFifoNotifier() { Stop(); }
    CFifoNotifier(const CFifoNotifier&) = delete;
    CFifoNotifier& operator=(const CFifoNotifier&) = delete;

    // Each setter starts the thread when it is not running; a null target
    // removes that way of notifying.
    void SetEvent(CEvent* event);
    void SetThreadMessage(CMessageTarget* thread, uint32_t message, uintptr_t wParam = 0, intptr_t lParam = 0);
    void SetCallback(Callback callback, void* arg);
    void SetWindowMessage(CMessageTarget* window, uint32_t message, uintptr_t wParam = 0, intptr_t lParam = 0);

    // Sets the stop event and joins the thread; a pending window message
    // is abandoned, so this returns promptly.
    void Stop();
    bool IsRunning() const;

    // Called by the FIFO after each write.
    void Written() { m_written.Set(); }

private:
    struct Targets {
        CEvent* event = nullptr;
        CMessageTarget* thread = nullptr;
        QueuedMessage threadMsg;
        Callback callback;
        void* callbackArg = nullptr;
        CMessageTarget* window = nullptr;
        QueuedMessage windowMsg;
    };

    void startLocked();
    void run();

    mutable std::mutex m_lock;
    Targets m_targets;
    std::thread m_thread;
    CEvent m_written{false, false};
    CEvent m_stop{true, false};
};
