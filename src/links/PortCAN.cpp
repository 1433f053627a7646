#include "links/PortCAN.h"

#include "base/Error.h"

#include <algorithm>
#include <cstring>

CPortCAN::~CPortCAN() = default;

void CPortCAN::SetReaderCallback(CanReaderCallback callback, void* context) { m_reader.Set(callback, context); }

void CPortCAN::CallReaderCallback()
{
    m_reader.Call([this](CanReaderCallback callback, void* context) { callback(this, context); });
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
