#include "base/FifoNotifier.h"

#include "base/Error.h"

template <class Change>
void CFifoNotifier::changeTargets(Change&& change)
{
    std::unique_lock lock(m_lock);
    change(m_targets);
    startLocked();
    if (!m_delivering || m_thread.get_id() == std::this_thread::get_id())
        return;
    ++m_waitingSetters;
    m_cancelSend.Set();
    m_changed.wait(lock, [this] { return !m_delivering; });
    if (--m_waitingSetters == 0) {
        m_cancelSend.Reset();
        m_changed.notify_all();
    }
    // The abandoned notification is given again to the new targets.
    m_written.Set();
}

void CFifoNotifier::SetEvent(CEvent* event)
{
    changeTargets([&](Targets& t) { t.event = event; });
}

void CFifoNotifier::SetThreadMessage(CMessageTarget* thread, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    changeTargets([&](Targets& t) {
        t.thread = thread;
        t.threadMsg = QueuedMessage{message, wParam, lParam};
    });
}

void CFifoNotifier::SetCallback(Callback callback, void* arg)
{
    changeTargets([&](Targets& t) {
        t.callback = std::move(callback);
        t.callbackArg = arg;
    });
}

void CFifoNotifier::SetWindowMessage(CMessageTarget* window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    changeTargets([&](Targets& t) {
        t.window = window;
        t.windowMsg = QueuedMessage{message, wParam, lParam};
    });
}

void CFifoNotifier::startLocked()
{
    if (m_thread.joinable())
        return;
    m_stop.Reset();
    m_cancelSend.Reset();
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
        m_cancelSend.Set();
        if (m_thread.get_id() == std::this_thread::get_id())
            return;
        thread = std::move(m_thread);
    }
    thread.join();
}

void CFifoNotifier::run()
{
    CatchToLastError([this] {
        for (;;) {
            if (WaitForAny({CWaitItem::Of(m_written), CWaitItem::Of(m_stop)}, kInfinite) != 0)
                return true;
            // Writes from here on are announced again; this delivery still
            // covers those that came before.
            m_writtenNoticed = false;
            Targets t;
            {
                std::unique_lock lock(m_lock);
                m_changed.wait(lock, [this] { return m_waitingSetters == 0; });
                t = m_targets;
                m_delivering = true;
            }
            const bool delivered = CatchToLastError([&] {
                deliver(t);
                return true;
            });
            {
                std::lock_guard lock(m_lock);
                m_delivering = false;
            }
            m_changed.notify_all();
            if (!delivered)
                return false;
        }
    });
}

void CFifoNotifier::deliver(const Targets& t)
{
    if (t.event)
        t.event->Set();
    if (t.thread)
        t.thread->PostMessage(t.threadMsg.message, t.threadMsg.wParam, t.threadMsg.lParam);
    if (t.callback)
        t.callback(t.callbackArg);
    if (t.window)
        t.window->SendMessage(t.windowMsg.message, t.windowMsg.wParam, t.windowMsg.lParam, m_cancelSend);
}
