#pragma once
// CFifo<T>: a fixed ring of N slots holding at most N-1 elements. Writers
// block while it is full (nothing is ever dropped), readers while it is
// empty. A FIFO reader thread tells the owner that elements are waiting.
//
// Threads: any number of writers and readers. Close releases every blocked
// writer and reader; later writes fail at once. Each element is written
// whole or not at all.
//
// Teardown: a thread that writes into a ring (a link's reader, a monitor
// hook) may be blocked on it while the ring's owner, the only thread that
// would drain it, is the one stopping that writer. The owner therefore
// closes the ring first, then closes the link or stops the writing thread
// (joining it), and destroys the ring last.

#include "base/Event.h"
#include "base/FifoNotifier.h"

#include <algorithm>
#include <cstddef>
#include <mutex>
#include <vector>

template <class T>
class CFifo {
public:
    explicit CFifo(size_t slots) : m_ring(slots < 2 ? 2 : slots) {}
    ~CFifo() { m_notifier.Stop(); }
    CFifo(const CFifo&) = delete;
    CFifo& operator=(const CFifo&) = delete;

    size_t Capacity() const { return m_ring.size() - 1; }

    size_t Count() const
    {
        std::lock_guard lock(m_lock);
        return countLocked();
    }

    bool IsEmpty() const { return Count() == 0; }

    // Blocks while the ring is full; false only once the FIFO is closed.
    bool Write(const T& item) { return Write(&item, 1) == 1; }

    // Writes all items in order, blocking for space as often as needed;
    // returns how many were written (fewer only when closed meanwhile).
    size_t Write(const T* items, size_t count)
    {
        size_t written = 0;
        while (written < count) {
            {
                std::lock_guard lock(m_lock);
                if (m_closed)
                    return written;
                const size_t held = countLocked();
                size_t room = Capacity() - held;
                if (room > 0) {
                    size_t n = std::min(room, count - written);
                    for (size_t i = 0; i < n; ++i) {
                        m_ring[m_write] = items[written + i];
                        m_write = nextIndex(m_write);
                    }
                    written += n;
                    // The events change only when the state they show does:
                    // each change is a system call.
                    if (n == room)
                        m_spaceEvent.Reset();
                    if (held == 0)
                        m_dataEvent.Set();
                    m_notifier.Written();
                    continue;
                }
            }
            WaitForAny({CWaitItem::Of(m_spaceEvent), CWaitItem::Of(m_closedEvent)}, kInfinite);
        }
        return written;
    }

    // Takes the oldest element, waiting up to timeoutMs (< 0: forever)
    // while the ring is empty; false on time-out or when closed and empty.
    bool Read(T& item, int timeoutMs = kInfinite)
    {
        for (;;) {
            {
                std::lock_guard lock(m_lock);
                if (takeLocked(&item, 1) == 1)
                    return true;
                if (m_closed)
                    return false;
            }
            int r = WaitForAny({CWaitItem::Of(m_dataEvent), CWaitItem::Of(m_closedEvent)}, timeoutMs);
            if (r == kWaitTimeout || r == kWaitFailed)
                return false;
        }
    }

    // Takes up to max elements without waiting.
    size_t TryRead(T* items, size_t max)
    {
        std::lock_guard lock(m_lock);
        return takeLocked(items, max);
    }

    bool TryRead(T& item) { return TryRead(&item, 1) == 1; }

    // Drops every waiting element.
    void Clear()
    {
        std::lock_guard lock(m_lock);
        m_read = m_write;
        m_dataEvent.Reset();
        m_spaceEvent.Set();
    }

    // Releases every blocked writer and reader; later writes fail.
    void Close()
    {
        std::lock_guard lock(m_lock);
        m_closed = true;
        m_closedEvent.Set();
    }

    bool IsClosed() const
    {
        std::lock_guard lock(m_lock);
        return m_closed;
    }

    // Set while elements are waiting, and while there is free space.
    CEvent& DataEvent() { return m_dataEvent; }
    CEvent& SpaceEvent() { return m_spaceEvent; }

    // The FIFO reader thread: it starts when the first target is set.
    CFifoNotifier& Notifier() { return m_notifier; }

private:
    size_t nextIndex(size_t i) const { return i + 1 == m_ring.size() ? 0 : i + 1; }

    size_t countLocked() const
    {
        return m_write >= m_read ? m_write - m_read : m_ring.size() - m_read + m_write;
    }

    size_t takeLocked(T* items, size_t max)
    {
        const bool wasFull = countLocked() == Capacity();
        size_t n = 0;
        while (n < max && m_read != m_write) {
            items[n++] = m_ring[m_read];
            m_read = nextIndex(m_read);
        }
        if (n == 0)
            return 0;
        if (wasFull)
            m_spaceEvent.Set();
        if (m_read == m_write)
            m_dataEvent.Reset();
        return n;
    }

    mutable std::mutex m_lock;
    std::vector<T> m_ring;
    size_t m_write = 0;
    size_t m_read = 0;
    bool m_closed = false;
    CEvent m_dataEvent{true, false};
    CEvent m_spaceEvent{true, true};
    CEvent m_closedEvent{true, false};
    CFifoNotifier m_notifier;
};

// The writer side of a CFifo: its mutex keeps each writer's elements
// together and in order when several threads write.
template <class T>
class CFifoWr {
public:
    explicit CFifoWr(CFifo<T>& fifo) : m_fifo(fifo) {}

    bool Write(const T& item)
    {
        std::lock_guard lock(m_mutex);
        return m_fifo.Write(item);
    }

    size_t Write(const T* items, size_t count)
    {
        std::lock_guard lock(m_mutex);
        return m_fifo.Write(items, count);
    }

    CFifo<T>& Fifo() { return m_fifo; }

private:
    CFifo<T>& m_fifo;
    std::mutex m_mutex;
};
