#pragma once
// One worker thread at a time for a piece of node work (a read pass, an
// update). Start refuses while the previous work still runs and joins a
// finished one; Stop sets the abort event and joins. Start and Stop from
// one controlling thread; the work must not start work on its own worker.

#include "base/Event.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

class CNodeWorker {
public:
    CNodeWorker() = default;
    ~CNodeWorker() { Stop(); }
    CNodeWorker(const CNodeWorker&) = delete;
    CNodeWorker& operator=(const CNodeWorker&) = delete;

    // work gets the abort event; then, with the worker already free, done.
    bool Start(std::function<void(CEvent& abort)> work, std::function<void()> done);
    bool Running() const { return m_running; }
    void Stop();

private:
    std::mutex m_lock;
    std::thread m_thread;
    std::atomic<bool> m_running{false};
    CEvent m_abort{true, false};
};
