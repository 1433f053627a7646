#pragma once
// The blocking descriptor loops of the hand-written references: a whole
// block read or written, with no time-out.

#include <cstddef>
#include <cstdint>
#include <unistd.h>

namespace bench {

inline bool ReadFull(int fd, uint8_t* p, size_t n)
{
    while (n > 0) {
        const ssize_t r = read(fd, p, n);
        if (r <= 0)
            return false;
        p += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

inline bool WriteFull(int fd, const uint8_t* p, size_t n)
{
    while (n > 0) {
        const ssize_t w = write(fd, p, n);
        if (w <= 0)
            return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

}  // namespace bench
