#include "sim/SimServer.h"

#include "base/Error.h"
#include "sim/SimIo.h"
#include "sim/SimWire.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr uint32_t kMaxRequest = 4096;
}

CSimServer::CSimServer(Lookup lookup) : m_lookup(std::move(lookup)) {}

CSimServer::~CSimServer() { Stop(); }

bool CSimServer::Start(uint16_t port, const std::string& address)
{
    Stop();
    m_listen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listen < 0) {
        SetLastErrFromErrno();
        return false;
    }
    int one = 1;
    setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) {
        close(m_listen);
        m_listen = -1;
        SetLastErr(err::BadParam);
        return false;
    }
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
    m_acceptThread = std::thread([this] { acceptLoop(); });
    return true;
}

void CSimServer::Stop()
{
    m_stop.Set();
    if (m_acceptThread.joinable())
        m_acceptThread.join();
    if (m_listen >= 0)
        close(m_listen);
    m_listen = -1;
    std::list<std::unique_ptr<Client>> clients;
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

int CSimServer::ClientCount()
{
    std::lock_guard lock(m_clientsLock);
    reapLocked();
    return static_cast<int>(m_clients.size());
}

void CSimServer::reapLocked()
{
    for (auto it = m_clients.begin(); it != m_clients.end();) {
        Client& c = **it;
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

void CSimServer::acceptLoop()
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
        auto client = std::make_unique<Client>();
        client->fd = fd;
        Client* raw = client.get();
        m_clients.push_back(std::move(client));
        raw->thread = std::thread([this, raw] { serve(*raw); });
    }
}

bool CSimServer::send(Client& client, const std::vector<uint8_t>& bytes)
{
    std::lock_guard lock(client.writeLock);
    return !client.done && simio::WriteAll(client.fd, bytes.data(), bytes.size(), m_stop);
}

int CSimServer::Emit(uint16_t ccbid, std::span<const uint8_t> payload)
{
    auto frame = simwire::TcpFrame(ccbid, 0, payload);
    int sent = 0;
    std::lock_guard lock(m_clientsLock);
    for (auto& c : m_clients) {
        bool mine;
        {
            std::lock_guard w(c->writeLock);
            mine = c->lastCcbid == ccbid;
        }
        if (mine && send(*c, frame))
            ++sent;
    }
    return sent;
}

void CSimServer::serve(Client& client)
{
    auto finish = [&client] {
        std::lock_guard lock(client.writeLock);
        // The descriptor stays open until the client is reaped, so a
        // concurrent Emit never writes to a number reused by another socket.
        shutdown(client.fd, SHUT_RDWR);
        client.done = true;
    };
    for (;;) {
        uint8_t head[simwire::kTcpHead];
        if (!simio::ReadAll(client.fd, head, sizeof head, m_stop))
            return finish();
        simwire::TcpHead h;
        const bool good = simwire::ParseTcpHead(head, h);
        if (!good)
            continue;  // the real servers ignore such heads too
        if (h.length < simwire::kTcpHead || h.length > kMaxRequest)
            return finish();
        std::vector<uint8_t> payload(h.length - simwire::kTcpHead);
        if (!simio::ReadAll(client.fd, payload.data(), payload.size(), m_stop))
            return finish();
        {
            std::lock_guard w(client.writeLock);
            client.lastCcbid = h.ccbid;
        }

        CSimBoard* board = m_lookup(h.ccbid);
        if (board && board->Faults().Take(SimFault::DropConnection))
            return finish();
        auto answer = board ? board->Serve(payload) : std::nullopt;
        const int timeout = h.field > 0 ? h.field : 0;
        std::vector<uint8_t> frame;
        if (!answer || answer->delayMs > timeout) {
            if (m_stop.Wait(timeout))
                return finish();
            const uint8_t noAnswer = 0x02;
            frame = simwire::TcpFrame(h.ccbid, -1, {&noAnswer, 1});
        } else {
            if (answer->delayMs > 0 && m_stop.Wait(answer->delayMs))
                return finish();
            frame = simwire::TcpFrame(h.ccbid, h.field, answer->payload);
            if (board->Faults().Take(SimFault::BadCrc))
                frame[1] ^= 0xFF;
        }
        if (!send(client, frame))
            return finish();
    }
}
