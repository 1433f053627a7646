#pragma once
// The FIFO reader thread: after elements were written it notifies the
// owner in any combination of four ways, always in this order: set an
// event, post a thread message, call a callback, send a window message.
//
// Threads: the setters and Stop may be called from any thread, the
// notifier's own callback included. A setter that changes or removes a
// target returns only once no notification to the old targets is running
// (from inside a notification it does not wait for itself), so the owner
// may destroy the old target right after. A window message still waiting
// to be handled is abandoned by such a change, and the new targets are
// notified once more so that no waiting element goes unannounced.

#include "base/Event.h"
#include "base/Message.h"

#include <atomic>
#include <condition_variable>
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
    // is abandoned, so this returns promptly. From the notifier's own
    // thread it only asks the thread to end.
    void Stop();
    bool IsRunning() const;

    // Called by the FIFO after each write. Writes until the thread takes
    // the notice share one system call, and a FIFO nobody watches costs
    // one in all.
    void Written()
    {
        if (!m_writtenNoticed.exchange(true))
            m_written.Set();
    }

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

    template <class Change>
    void changeTargets(Change&& change);
    void startLocked();
    void run();
    void deliver(const Targets& t);

    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    Targets m_targets;
    std::thread m_thread;
    bool m_delivering = false;  // a notification is running
    int m_waitingSetters = 0;   // setters waiting for it to end
    CEvent m_written{false, false};
    // Set with m_written; cleared by the thread when it takes the notice.
    std::atomic<bool> m_writtenNoticed{false};
    CEvent m_stop{true, false};
    CEvent m_cancelSend{true, false};  // abandons a pending window message
};
