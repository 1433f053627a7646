#include "ports/PortIO.h"

#include "base/Error.h"

#include <chrono>
#include <mutex>
#include <thread>

CPortIO::~CPortIO() = default;

void CPortIO::SetMonitor(void* context, PortMonitor monitor)
{
    std::unique_lock lock(m_monitorLock);
    m_monitor = monitor;
    m_monitorContext = context;
}

bool CPortIO::SetOpenCallback(PortOpenCallback, void*)
{
    SetLastErr(err::NotSupported);
    return false;
}

void CPortIO::Monitor(int direction, const void* bytes, int count)
{
    // Shared, so that a read and a write may report at once, while
    // SetMonitor waits until no call of the old hook is running.
    std::shared_lock lock(m_monitorLock);
    if (m_monitor)
        m_monitor(m_monitorContext, direction, static_cast<const uint8_t*>(bytes), count);
}

bool CPortIO::SetPropertyByName(const _PROPDEF* table, std::string_view name, const CVariant& value)
{
    const _PROPDEF* entry = FindProperty(table, name, value.type());
    if (!entry) {
        SetLastErr(err::BadParam);
        return false;
    }
    return SetPropertyById(entry->id, value);
}

bool CPropertyCursor::Next(_PROPDEF& entry, bool restart)
{
    // The cursor never moves past the end marker.
    size_t index = restart ? 0 : m_next.load();
    if (!m_table[index].name)
        return false;
    entry = m_table[index];
    m_next.store(index + 1);
    return true;
}

bool WaitWhileOpening(const std::function<bool()>& isOpen, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (isOpen())
            return true;
        if (GetLastErr() != err::IoPending)
            return false;
        if (std::chrono::steady_clock::now() >= deadline) {
            SetLastErr(err::Timeout);
            return false;
        }
        // The open completes on the port's own thread; a short poll keeps
        // this free of the ports' callback plumbing.
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}
