#pragma once
// Reads a descriptor (a pipe, standard input, a file) to its end. Blocks
// the calling thread until end of file; no time-out.

#include "base/Error.h"

#include <cerrno>
#include <unistd.h>

// Appends everything `fd` still holds to `out` (std::string or a byte
// vector); false with the last error set when a read fails.
template <class Container>
bool ReadToEnd(int fd, Container& out)
{
    char chunk[16 * 1024];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            SetLastErrFromErrno();
            return false;
        }
        if (n == 0)
            return true;
        out.insert(out.end(), chunk, chunk + n);
    }
}
