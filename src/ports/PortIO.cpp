#include "ports/PortIO.h"

#include "base/Error.h"
#include "base/Trace.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>

CPortIO::~CPortIO() = default;

void CPortIO::SetMonitor(void* context, PortMonitor monitor) { m_monitor.Set(monitor, context); }

bool CPortIO::SetOpenCallback(PortOpenCallback, void*)
{
    SetLastErr(err::NotSupported);
    return false;
}

void CPortIO::Monitor(int direction, const void* bytes, int count)
{
    if (trace::On(trace::Ports))
        trace::Write(trace::Ports, this, direction ? "read" : "write", bytes, static_cast<size_t>(count));
    m_monitor.Call([&](PortMonitor monitor, void* context) {
        monitor(context, direction, static_cast<const uint8_t*>(bytes), count);
    });
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


bool WaitWhileOpening(const std::function<bool()>& isOpen, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::chrono::microseconds pause(100);
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
        // this free of the ports' callback plumbing. It starts finely, as a
        // connection to a nearby host takes well under a millisecond and a
        // command-line tool waits for it before anything else.
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::microseconds(5000));
    }
}
