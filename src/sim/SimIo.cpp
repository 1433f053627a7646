#include "sim/SimIo.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace simio {

bool WriteAll(int fd, const void* data, size_t size, CEvent& stop)
{
    auto p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        ssize_t n = write(fd, p, size);
        if (n > 0) {
            p += n;
            size -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return false;
        if (WaitForAny({CWaitItem::Of(stop), CWaitItem::Fd(fd, POLLOUT)}, kInfinite) != 1)
            return false;
    }
    return true;
}

bool ReadAll(int fd, void* data, size_t size, CEvent& stop)
{
    auto p = static_cast<uint8_t*>(data);
    while (size > 0) {
        if (WaitForAny({CWaitItem::Of(stop), CWaitItem::Fd(fd, POLLIN)}, kInfinite) != 1)
            return false;
        ssize_t n = read(fd, p, size);
        if (n > 0) {
            p += n;
            size -= static_cast<size_t>(n);
        } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
            return false;
        }
    }
    return true;
}

void SetNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

}  // namespace simio
