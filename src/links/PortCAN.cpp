#include "links/PortCAN.h"

#include "base/Error.h"

#include <algorithm>
#include <cstring>

CPortCAN::~CPortCAN() = default;

void CPortCAN::SetReaderCallback(CanReaderCallback callback, void* context)
{
    std::lock_guard lock(m_readerLock);
    m_reader = callback;
    m_readerContext = context;
}

void CPortCAN::CallReaderCallback()
{
    CanReaderCallback callback;
    void* context;
    {
        std::lock_guard lock(m_readerLock);
        callback = m_reader;
        context = m_readerContext;
    }
    if (callback)
        callback(this, context);
}

bool CPortCAN::WaitUntilOpen(int timeoutMs)
{
    return WaitWhileOpening([this] { return IsOpen(); }, timeoutMs);
}

CanMessage MakeCanMessage(uint8_t idA, uint8_t idB, bool replyExpected, const uint8_t* data, int length)
{
    CanMessage m{};
    m.idA = idA;
    m.idB = idB;
    m.control = static_cast<uint8_t>((length & 0x0F) | (replyExpected ? 0x10 : 0));
    const size_t n = static_cast<size_t>(std::clamp(length, 0, 8));
    if (n > 0)
        std::memcpy(m.data, data, n);
    return m;
}
