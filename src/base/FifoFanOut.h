#pragma once
// CFifoFanOut<T>: a list of ring writers that each posted element is
// copied to, in the order they joined. A full ring holds the poster until
// its reader frees a slot, so nothing is lost; a closed ring is passed
// over.
//
// Threads: any. One mutex guards the list and is held while the rings are
// written, so once Set(writer, false) returns the writer is no longer
// touched. A poster waiting on a full ring lets changes of the list
// through, so the thread that drains that ring may join or leave any list
// meanwhile without a deadlock.

#include "base/Fifo.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

template <class T>
class CFifoFanOut {
public:
    using Writer = CFifoWr<T>;

    // Joins (wanted) or leaves the list; joining twice or leaving when
    // absent does nothing.
    void Set(Writer* writer, bool wanted)
    {
        if (!writer)
            return;
        ++m_changesWaiting;
        {
            std::lock_guard lock(m_lock);
            const auto it = std::find(m_writers.begin(), m_writers.end(), writer);
            if (wanted && it == m_writers.end())
                m_writers.push_back(writer);
            else if (!wanted && it != m_writers.end())
                m_writers.erase(it);
        }
        {
            std::lock_guard lock(m_changeLock);
            --m_changesWaiting;
        }
        m_changeDone.notify_all();
    }

    bool Contains(Writer* writer) const
    {
        std::lock_guard lock(m_lock);
        return std::find(m_writers.begin(), m_writers.end(), writer) != m_writers.end();
    }

    std::vector<Writer*> Writers() const
    {
        std::lock_guard lock(m_lock);
        return m_writers;
    }

    void Post(const T& item)
    {
        std::unique_lock lock(m_lock);
        // Only posts write to these rings and only under m_lock, so a ring
        // with a free slot takes the element without blocking.
        std::vector<Writer*> done;
        for (size_t i = 0; i < m_writers.size();) {
            Writer* w = m_writers[i];
            if (std::find(done.begin(), done.end(), w) != done.end()) {
                ++i;
                continue;
            }
            CFifo<T>& ring = w->Fifo();
            if (ring.IsClosed() || ring.Count() < ring.Capacity()) {
                w->Write(item);
                done.push_back(w);
                ++i;
                continue;
            }
            ring.SpaceEvent().Wait(kFullRingPollMs);
            if (m_changesWaiting > 0) {
                // The list may change meanwhile: walk it again, passing
                // over the writers already served.
                lock.unlock();
                {
                    std::unique_lock change(m_changeLock);
                    m_changeDone.wait(change, [this] { return m_changesWaiting == 0; });
                }
                lock.lock();
                i = 0;
            }
        }
    }

private:
    // While a ring is full the poster looks this often for list changes.
    static constexpr int kFullRingPollMs = 20;

    mutable std::mutex m_lock;
    std::vector<Writer*> m_writers;  // guarded by m_lock

    std::mutex m_changeLock;
    std::condition_variable m_changeDone;
    std::atomic<int> m_changesWaiting{0};
};
