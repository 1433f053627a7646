#pragma once
// Messages between threads and windows: a target that takes posted
// messages (returning at once) and sent messages (returning when handled).

#include "base/Event.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

struct QueuedMessage {
    uint32_t message = 0;
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
};

class CMessageTarget {
public:
    virtual ~CMessageTarget() = default;
    virtual void PostMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
    // Returns the handler's result when handled; gives up and returns 0
    // when `cancel` is set first, so a sender can always be stopped.
    virtual intptr_t SendMessage(uint32_t message, uintptr_t wParam, intptr_t lParam, CEvent& cancel) = 0;
};

// A thread's message queue: other threads post or send, the owning thread
// pumps the messages through its handler.
class CMessageQueue : public CMessageTarget {
public:
    using Handler = std::function<intptr_t(const QueuedMessage&)>;

    CMessageQueue();
    void PostMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
    intptr_t SendMessage(uint32_t message, uintptr_t wParam, intptr_t lParam, CEvent& cancel) override;

    // Handles every queued message, waiting up to timeoutMs for the first;
    // returns the number handled.
    size_t Pump(const Handler& handler, int timeoutMs);
    // Set while messages are queued; lets the owner poll it with other waits.
    CEvent& ReadyEvent() { return m_ready; }

private:
    struct Entry {
        QueuedMessage msg;
        bool sent = false;
        bool abandoned = false;
        intptr_t result = 0;
        std::unique_ptr<CEvent> done;
    };
    std::mutex m_lock;
    std::deque<std::shared_ptr<Entry>> m_queue;
    CEvent m_ready{true};
};
