#include "base/Message.h"

CMessageQueue::CMessageQueue() = default;

void CMessageQueue::PostMessage(uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    auto entry = std::make_shared<Entry>();
    entry->msg = QueuedMessage{message, wParam, lParam};
    std::lock_guard lock(m_lock);
    m_queue.push_back(std::move(entry));
    m_ready.Set();
}

intptr_t CMessageQueue::SendMessage(uint32_t message, uintptr_t wParam, intptr_t lParam, CEvent& cancel)
{
    auto entry = std::make_shared<Entry>();
    entry->msg = QueuedMessage{message, wParam, lParam};
    entry->sent = true;
    entry->done = std::make_unique<CEvent>(true);
    {
        std::lock_guard lock(m_lock);
        m_queue.push_back(entry);
        m_ready.Set();
    }
    if (WaitForAny({CWaitItem::Of(*entry->done), CWaitItem::Of(cancel)}, kInfinite) != 0) {
        std::lock_guard lock(m_lock);
        if (!entry->done->IsSet()) {
            entry->abandoned = true;
            return 0;
        }
    }
    std::lock_guard lock(m_lock);
    return entry->result;
}

size_t CMessageQueue::Pump(const Handler& handler, int timeoutMs)
{
    if (!m_ready.Wait(timeoutMs))
        return 0;
    size_t handled = 0;
    for (;;) {
        std::shared_ptr<Entry> entry;
        {
            std::lock_guard lock(m_lock);
            if (m_queue.empty()) {
                m_ready.Reset();
                return handled;
            }
            entry = std::move(m_queue.front());
            m_queue.pop_front();
            if (entry->abandoned)
                continue;
        }
        intptr_t result = handler(entry->msg);
        ++handled;
        if (entry->sent) {
            std::lock_guard lock(m_lock);
            entry->result = result;
            entry->done->Set();
        }
    }
}
