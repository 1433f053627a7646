#include "links/PortCAN.h"

#include "base/Error.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

CPortCAN::~CPortCAN() = default;

bool CPortCAN::WaitUntilOpen(int timeoutMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const bool open = IsOpen();
        if (open || GetLastErr() != err::IoPending)
            return open;
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

_CANMSG MakeCanMessage(uint8_t idA, uint8_t idB, bool replyExpected, const uint8_t* data, int length)
{
    _CANMSG m{};
    m.idA = idA;
    m.idB = idB;
    m.control = static_cast<uint8_t>((length & 0x0F) | (replyExpected ? 0x10 : 0));
    std::memcpy(m.data, data, static_cast<size_t>(std::clamp(length, 0, 8)));
    return m;
}
