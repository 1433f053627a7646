#include "base/FifoNotifier.h"

void CFifoNotifier::SetEvent(CEvent* event)
{
    std::lock_guard lock(m_lock);
    m_targets.event = event;
    startLocked();
}

void CFifoNotifier::SetThreadMessage(CMessageTarget* thread, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    std::lock_guard lock(m_lock);
    m_targets.thread = thread;
    m_targets.threadMsg = QueuedMessage{message, wParam, lParam};
    startLocked();
}

void CFifoNotifier::SetCallback(Callback callback, void* arg)
{
    std::lock_guard lock(m_lock);
    m_targets.callback = std::move(callback);
    m_targets.callbackArg = arg;
    startLocked();
}

void CFifoNotifier::SetWindowMessage(CMessageTarget* window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    std::lock_guard lock(m_lock);
    m_targets.window = window;
    m_targets.windowMsg = QueuedMessage{message, wParam, lParam};
    startLocked();
}

void CFifoNotifier::startLocked()
{
    if (m_thread.joinable())
        return;
    m_stop.Reset();
    m_thread = std::thread(&CFifoNotifier::run, this);
}

bool CFifoNotifier::IsRunning() const
{
    std::lock_guard lock(m_lock);
    return m_thread.joinable();
}

void CFifoNotifier::Stop()
{
    std::thread thread;
    {
        std::lock_guard lock(m_lock);
        if (!m_thread.joinable())
            return;
        m_stop.Set();
        thread = std::move(m_thread);
    }
    thread.join();
}

void CFifoNotifier::run()
{
    for (;;) {
        if (WaitForAny({CWaitItem::Of(m_written), CWaitItem::Of(m_stop)}, kInfinite) != 0)
            return;
        Targets t;
        {
            std::lock_guard lock(m_lock);
            t = m_targets;
        }
        if (t.event)
            t.event->Set();
        if (t.thread)
            t.thread->PostMessage(t.threadMsg.message, t.threadMsg.wParam, t.threadMsg.lParam);
        if (t.callback)
            t.callback(t.callbackArg);
        if (t.window)
            t.window->SendMessage(t.windowMsg.message, t.windowMsg.wParam, t.windowMsg.lParam, m_stop);
    }
}
