#pragma once
// What the CAN link tests share: a monitor tap of the bytes a link writes,
// and message and record conversions.

#include "links/PortCAN.h"

#include <cstdint>
#include <mutex>
#include <vector>

using Bytes = std::vector<uint8_t>;

// Every write a link makes, as its monitor sees it.
struct CWriteTap {
    std::mutex lock;
    std::vector<Bytes> written;
    static void Hook(void* context, int direction, const uint8_t* bytes, int count)
    {
        auto* tap = static_cast<CWriteTap*>(context);
        std::lock_guard l(tap->lock);
        if (direction == 0)
            tap->written.emplace_back(bytes, bytes + count);
    }
    Bytes Last()
    {
        std::lock_guard l(lock);
        return written.empty() ? Bytes{} : written.back();
    }
};

inline Bytes bytesOf(const CanRecord& r)
{
    return Bytes(reinterpret_cast<const uint8_t*>(&r), reinterpret_cast<const uint8_t*>(&r) + sizeof r);
}

inline CanMessage message(uint8_t node, uint8_t b, bool reply, Bytes data)
{
    return MakeCanMessage(node, b, reply, data.data(), static_cast<int>(data.size()));
}
