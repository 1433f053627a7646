#include "nodes/NodeWorker.h"

bool CNodeWorker::Start(std::function<void(CEvent& abort)> work, std::function<void()> done)
{
    std::lock_guard lock(m_lock);
    if (m_running)
        return false;
    if (m_thread.joinable())
        m_thread.join();
    m_abort.Reset();
    m_running = true;
    m_thread = std::thread([this, work = std::move(work), done = std::move(done)] {
        work(m_abort);
        m_running = false;
        if (done)
            done();
    });
    return true;
}

void CNodeWorker::Stop()
{
    std::lock_guard lock(m_lock);
    m_abort.Set();
    if (m_thread.joinable())
        m_thread.join();
}
