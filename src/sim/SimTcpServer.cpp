#include "sim/SimTcpServer.h"

#include "base/Error.h"
#include "sim/SimIo.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

CSimTcpServer::CSimTcpServer(NewClient newClient, Serve serve)
    : m_newClient(std::move(newClient)), m_serve(std::move(serve))
{
}

CSimTcpServer::~CSimTcpServer() { Stop(); }

bool CSimTcpServer::Start(uint16_t port, const std::string& address)
{
    Stop();
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) {
        SetLastErr(err::BadParam);
        return false;
    }
    m_listen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listen < 0) {
        SetLastErrFromErrno();
        return false;
    }
    int one = 1;
    setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    socklen_t len = sizeof sa;
    if (bind(m_listen, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || listen(m_listen, 16) != 0 ||
        getsockname(m_listen, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
        int e = errno;
        close(m_listen);
        m_listen = -1;
        SetLastErrFromErrno(e);
        return false;
    }
    m_port = ntohs(sa.sin_port);
    m_stop.Reset();
    m_acceptThread = std::thread([this] {
        CatchToLastError([this] {
            acceptLoop();
            return true;
        });
    });
    return true;
}

void CSimTcpServer::Stop()
{
    m_stop.Set();
    if (m_acceptThread.joinable())
        m_acceptThread.join();
    if (m_listen >= 0)
        close(m_listen);
    m_listen = -1;
    std::list<std::unique_ptr<CSimTcpClient>> clients;
    {
        std::lock_guard lock(m_clientsLock);
        clients.swap(m_clients);
    }
    for (auto& c : clients) {
        if (c->thread.joinable())
            c->thread.join();
        close(c->fd);
    }
}

int CSimTcpServer::ClientCount()
{
    std::lock_guard lock(m_clientsLock);
    reapLocked();
    return static_cast<int>(m_clients.size());
}

bool CSimTcpServer::Send(CSimTcpClient& client, const std::vector<uint8_t>& bytes)
{
    std::lock_guard lock(client.writeLock);
    return !client.done && simio::WriteAll(client.fd, bytes.data(), bytes.size(), m_stop);
}

void CSimTcpServer::ForEachClient(const std::function<void(CSimTcpClient&)>& f)
{
    std::lock_guard lock(m_clientsLock);
    for (auto& c : m_clients)
        f(*c);
}

void CSimTcpServer::reapLocked()
{
    for (auto it = m_clients.begin(); it != m_clients.end();) {
        CSimTcpClient& c = **it;
        bool done;
        {
            std::lock_guard w(c.writeLock);
            done = c.done;
        }
        if (done) {
            c.thread.join();
            close(c.fd);
            it = m_clients.erase(it);
        } else {
            ++it;
        }
    }
}

void CSimTcpServer::acceptLoop()
{
    for (;;) {
        int r = WaitForAny({CWaitItem::Of(m_stop), CWaitItem::Fd(m_listen, POLLIN)}, kInfinite);
        if (r != 1)
            return;
        int fd = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0)
            continue;
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::lock_guard lock(m_clientsLock);
        reapLocked();
        std::unique_ptr<CSimTcpClient> client = m_newClient();
        client->fd = fd;
        CSimTcpClient* raw = client.get();
        m_clients.push_back(std::move(client));
        raw->thread = std::thread([this, raw] {
            CatchToLastError([&] {
                m_serve(*raw);
                return true;
            });
            std::lock_guard w(raw->writeLock);
            shutdown(raw->fd, SHUT_RDWR);
            raw->done = true;
        });
    }
}
