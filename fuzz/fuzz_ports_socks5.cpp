// The SOCKS5 client against arbitrary proxy answers. The input is all the
// proxy ever sends; the connection then ends. When the open succeeds, the
// port must have consumed exactly the method reply, the reply head and the
// bound address its type announces, and hand over the rest unchanged.

#include "base/Error.h"
#include "ports/PortIO_Socket.h"

#include <arpa/inet.h>
#include <cstdint>
#include <cerrno>
#include <cstdlib>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

int listener(uint16_t& port)
{
    static int fd = -1;
    static uint16_t bound = 0;
    if (fd < 0) {
        fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof a;
        if (bind(fd, reinterpret_cast<sockaddr*>(&a), size) != 0 || listen(fd, 4) != 0)
            abort();
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
        bound = ntohs(a.sin_port);
    }
    port = bound;
    return fd;
}

// The bytes a correct client consumes before the peer's own, or -1 when
// the answer must fail the open.
long expectedConsumed(const uint8_t* d, size_t n)
{
    if (n < 6 || d[0] != 5 || d[1] != 0 || d[2] != 5 || d[3] != 0)
        return -1;
    size_t need;
    switch (d[5]) {
    case 1: need = 6 + 6; break;
    case 4: need = 6 + 18; break;
    case 3:
        if (n < 7)
            return -1;
        need = 7 + d[6] + 2;
        break;
    default: return -1;
    }
    return need <= n ? static_cast<long>(need) : -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    uint16_t proxyPort;
    int lfd = listener(proxyPort);
    CPortIO_Socket port;
    port.SetPropertyById(CPortIO_Socket::kHost, CVariant::FromString("crate.lab"));
    port.SetPropertyById(CPortIO_Socket::kPort, CVariant::FromInt(18888));
    port.SetPropertyById(CPortIO_Socket::kEnProxy, CVariant::FromBool(true));
    port.SetPropertyById(CPortIO_Socket::kProxy, CVariant::FromString("127.0.0.1"));
    port.SetPropertyById(CPortIO_Socket::kProxyPort, CVariant::FromInt(proxyPort));
    port.SetPropertyById(CPortIO_Socket::kProxyType, CVariant::FromInt(CPortIO_Socket::kSocks5));
    port.SetPropertyById(CPortIO_Socket::kOpenAsync, CVariant::FromBool(true));
    if (!port.Open())
        abort();
    // libFuzzer's timer signal interrupts blocking calls.
    int peer;
    do
        peer = accept4(lfd, nullptr, nullptr, SOCK_CLOEXEC);
    while (peer < 0 && errno == EINTR);
    if (peer < 0)
        abort();
    for (size_t sent = 0; sent < size;) {
        ssize_t n = send(peer, data + sent, size - sent, MSG_NOSIGNAL);
        if (n < 0 && errno != EINTR)
            abort();
        if (n > 0)
            sent += static_cast<size_t>(n);
    }
    shutdown(peer, SHUT_WR);
    while (!port.IsOpen() && GetLastErr() == err::IoPending)
        poll(nullptr, 0, 1);
    const bool opened = port.IsOpen();
    const long consumed = expectedConsumed(data, size);
    if (opened != (consumed >= 0))
        abort();
    if (opened && static_cast<size_t>(consumed) < size) {
        std::vector<uint8_t> rest(size - static_cast<size_t>(consumed));
        if (!port.ReadExact(rest.data(), static_cast<int>(rest.size()), 1000))
            abort();
        for (size_t i = 0; i < rest.size(); ++i)
            if (rest[i] != data[consumed + static_cast<long>(i)])
                abort();
    }
    port.Close();
    close(peer);
    return 0;
}
