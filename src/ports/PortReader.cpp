#include "ports/PortReader.h"

#include "base/Error.h"

#include <algorithm>
#include <chrono>

CPortReader::CPortReader(CPortIO& port, CEvent& pauseRequest, Policy policy)
    : m_port(port), m_pauseRequest(pauseRequest), m_policy(policy)
{
}

CPortReader::~CPortReader()
{
    Stop();
    std::lock_guard lock(m_lock);
    // Only left joinable when the port is destroyed by its own reader.
    if (m_thread.joinable())
        m_thread.detach();
}

bool CPortReader::Start(PortDataCallback callback, void* context, PortErrorCallback onError, bool portReady)
{
    std::unique_lock lock(m_lock);
    if (!portReady) {
        SetLastErr(err::NotOpen);
        return false;
    }
    m_callback = callback;
    m_context = context;
    m_onError = onError;
    StartIfWantedLocked(portReady);
    SetLastErr(err::Success);
    return true;
}

bool CPortReader::Pause(bool portReady)
{
    std::unique_lock lock(m_lock);
    const bool ok = PauseLocked(lock);
    StartIfWantedLocked(portReady);
    if (ok)
        SetLastErr(err::Success);
    return ok;
}

bool CPortReader::Resume(bool portReady)
{
    std::unique_lock lock(m_lock);
    if (m_pauseCount > 0 && --m_pauseCount == 0)
        m_changed.notify_all();
    StartIfWantedLocked(portReady);
    SetLastErr(err::Success);
    return true;
}

bool CPortReader::PauseLocked(std::unique_lock<std::mutex>& lock)
{
    if (!m_running) {
        ++m_pauseCount;
        return true;
    }
    ++m_pauseCount;
    if (m_parked)
        return true;
    if (m_pauseCount == 1)
        m_pauseRequest.Set();
    // The reader cannot be reading while it runs this very callback.
    if (m_threadId == std::this_thread::get_id())
        return true;
    // Every pauser waits until the reader has really stopped reading, not
    // only the first one: a second pauser must not read alongside it either.
    m_changed.wait(lock, [this] { return m_parked || !m_running || m_stop; });
    if (m_parked)
        return true;
    m_pauseCount = 0;
    m_pauseRequest.Reset();
    SetLastErr(err::Aborted);
    return false;
}

void CPortReader::StartIfWantedLocked(bool portReady)
{
    if (m_running || !m_callback || m_pauseCount != 0 || m_stop || !portReady)
        return;
    // A reader that ended by itself has left its loop; joining is brief.
    if (m_thread.joinable())
        m_thread.join();
    m_pauseRequest.Reset();
    m_running = true;
    m_parked = false;
    m_thread = std::thread([this] { Run(); });
    m_threadId = m_thread.get_id();
}

void CPortReader::Stop()
{
    std::thread finished;
    {
        std::lock_guard lock(m_lock);
        m_stop = true;
        m_pauseCount = 0;
        m_changed.notify_all();
        if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id())
            finished = std::move(m_thread);
    }
    if (finished.joinable())
        finished.join();
}

void CPortReader::Rearm()
{
    std::lock_guard lock(m_lock);
    m_stop = false;
}

void CPortReader::WaitUntilOpened()
{
    // The pause grows from 0.1 ms as in WaitWhileOpening: a nearby crate
    // server connects in well under a millisecond, and the first reply
    // waits for this reader.
    std::chrono::microseconds pause(100);
    std::unique_lock lock(m_lock);
    while (!m_stop) {
        lock.unlock();
        bool pending = !m_port.IsOpen() && GetLastErr() == err::IoPending;
        lock.lock();
        if (!pending)
            return;
        m_changed.wait_for(lock, pause, [this] { return m_stop; });
        pause = std::min(pause * 2, std::chrono::microseconds(5000));
    }
}

void CPortReader::Run()
{
    // A callback that throws ends the reader like a failed wait, with the
    // exception as the error, instead of ending the program.
    uint32_t lastError = err::Success;
    if (!CatchToLastError([&] {
            lastError = ReadLoop();
            return true;
        }))
        lastError = GetLastErr();
    std::lock_guard lock(m_lock);
    m_running = false;
    m_parked = false;
    m_changed.notify_all();
    SetLastErr(lastError);
}

uint32_t CPortReader::ReadLoop()
{
    if (m_policy.waitForOpen)
        WaitUntilOpened();
    uint32_t lastError = err::Success;
    for (;;) {
        bool ok = m_port.WaitForData(kInfinite);
        lastError = GetLastErr();
        std::unique_lock lock(m_lock);
        if (m_stop)
            break;
        if (ok && m_pauseRequest.IsSet()) {
            m_pauseRequest.Reset();
            m_parked = true;
            m_changed.notify_all();
            m_changed.wait(lock, [this] { return m_pauseCount == 0 || m_stop; });
            m_parked = false;
            if (m_stop)
                break;
            continue;
        }
        if (ok && lastError == err::Aborted)
            continue;  // a pause request withdrawn before it was seen
        if (!ok) {
            if (m_policy.errorCallback && m_onError) {
                PortErrorCallback onError = m_onError;
                void* context = m_context;
                lock.unlock();
                if (!onError(&m_port, context, lastError))
                    break;
                continue;
            }
            if (m_policy.errorCallback && lastError == err::BadFrame)
                continue;
            break;
        }
        PortDataCallback callback = m_callback;
        void* context = m_context;
        lock.unlock();
        if (!callback)
            break;
        callback(&m_port, context);
    }
    return lastError;
}
