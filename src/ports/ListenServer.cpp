#include "ports/ListenServer.h"

#include "base/Error.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kBacklog = 64;

std::string addressText(uint32_t address, uint16_t port) { return Ipv4Text(address) + ":" + std::to_string(port); }

bool peerGone(int errnum) { return errnum == EPIPE || errnum == ECONNRESET || errnum == ENOTCONN; }

ListenCloseReason writeFailure(uint32_t code)
{
    const bool gone = code == err::BrokenPipe || code == err::ConnReset || code == err::NotConnected;
    return gone ? ListenCloseReason::PeerClosed : ListenCloseReason::Failed;
}

}  // namespace

const char* ListenCloseText(ListenCloseReason reason)
{
    switch (reason) {
    case ListenCloseReason::PeerClosed: return "closed by the client";
    case ListenCloseReason::ReadDeadline: return "frame not completed in time";
    case ListenCloseReason::TooLong: return "frame longer than allowed";
    case ListenCloseReason::BadHead: return "bad frame head";
    case ListenCloseReason::Stalled: return "client stopped reading";
    case ListenCloseReason::OutputLimit: return "too much output waiting for the client";
    case ListenCloseReason::ClosedByOwner: return "closed by the server";
    case ListenCloseReason::Stopping: return "server stopping";
    case ListenCloseReason::Failed: return "socket failure";
    }
    return "closed";
}

const char* ListenRefuseText(ListenRefuseReason reason)
{
    return reason == ListenRefuseReason::NotAllowed ? "address not in the allowlist" : "client limit reached";
}

bool CListenHandler::OnConnect(CListenClient&) { return true; }
void CListenHandler::OnClose(CListenClient&, ListenCloseReason, uint32_t) {}
void CListenHandler::OnRefuse(const std::string&, ListenRefuseReason) {}
void CListenHandler::OnWarning(const std::string&) {}

// ---- CListenClient ----

CListenClient::CListenClient(CListenServer& server, int fd, uint32_t peerAddress, uint16_t peerPort, uint64_t id)
    : m_server(server),
      m_fd(fd),
      m_peerAddress(peerAddress),
      m_peerPort(peerPort),
      m_id(id),
      m_addressText(addressText(peerAddress, peerPort))
{
}

CListenClient::~CListenClient()
{
    if (!m_fdClosed)
        close(m_fd);
}

bool CListenClient::Send(const void* bytes, size_t count)
{
    std::unique_lock lock(m_outLock);
    if (m_fdClosed || m_closing) {
        SetLastErr(err::NotOpen);
        return false;
    }
    const size_t waiting = m_out.size() - m_outSent;
    if (waiting + count > m_server.m_settings.maxQueuedBytes) {
        lock.unlock();
        RequestClose(ListenCloseReason::OutputLimit);
        SetLastErr(err::Aborted);
        return false;
    }
    if (waiting == 0) {
        m_out.clear();
        m_outSent = 0;
        m_lastProgress = Clock::now();
    }
    const auto* p = static_cast<const uint8_t*>(bytes);
    m_out.insert(m_out.end(), p, p + count);
    if (!FlushLocked()) {
        const uint32_t e = m_error;
        lock.unlock();
        RequestClose(writeFailure(e));
        SetLastErr(e);
        return false;
    }
    if (m_outSent < m_out.size())
        m_outputQueued.Set();
    return true;
}

bool CListenClient::FlushLocked()
{
    while (m_outSent < m_out.size()) {
        const ssize_t n =
            send(m_fd, m_out.data() + m_outSent, m_out.size() - m_outSent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            m_outSent += static_cast<size_t>(n);
            m_lastProgress = Clock::now();
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
        m_error = ErrnoToCode(errno);
        return false;
    }
    m_out.clear();
    m_outSent = 0;
    return true;
}

void CListenClient::Close() { RequestClose(ListenCloseReason::ClosedByOwner); }

void CListenClient::RequestClose(ListenCloseReason reason)
{
    std::lock_guard lock(m_outLock);
    if (m_closing.exchange(true))
        return;
    m_closeReason = reason;
    if (!m_fdClosed)
        shutdown(m_fd, SHUT_RDWR);
    m_closeRequest.Set();
}

CListenClient::ReadResult CListenClient::ReadWithin(uint8_t* buffer, size_t count, Clock::time_point deadline,
                                                    uint32_t& error)
{
    size_t got = 0;
    while (got < count) {
        const ssize_t n = recv(m_fd, buffer + got, count - got, MSG_DONTWAIT);
        if (n > 0) {
            got += static_cast<size_t>(n);
            continue;
        }
        if (n == 0)
            return ReadResult::PeerClosed;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            error = ErrnoToCode(errno);
            return peerGone(errno) ? ReadResult::PeerClosed : ReadResult::Failed;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return ReadResult::Deadline;
        const int r = WaitForAny({CWaitItem::Of(m_server.m_stop), CWaitItem::Of(m_closeRequest),
                                  CWaitItem::Fd(m_fd, POLLIN)},
                                 static_cast<int>(left));
        if (r == 0)
            return ReadResult::Stopped;
        if (r == 1)
            return ReadResult::Closed;
        if (r == kWaitFailed) {
            error = GetLastErr();
            return ReadResult::Failed;
        }
    }
    return ReadResult::Done;
}

bool CListenClient::ServeFrame(std::vector<uint8_t>& head, ListenCloseReason& reason, uint32_t& error)
{
    const ListenSettings& s = m_server.m_settings;
    CListenHandler& handler = *m_server.m_handler;
    auto fail = [&](ReadResult r, ListenCloseReason deadline) {
        switch (r) {
        case ReadResult::Deadline: reason = deadline; break;
        case ReadResult::PeerClosed: reason = ListenCloseReason::PeerClosed; break;
        case ReadResult::Closed: reason = ListenCloseReason::ClosedByOwner; break;
        case ReadResult::Stopped: reason = ListenCloseReason::Stopping; break;
        default: reason = ListenCloseReason::Failed; break;
        }
        return false;
    };

    ReadResult r = ReadWithin(head.data(), head.size(), Clock::now() + std::chrono::milliseconds(s.readDeadlineMs), error);
    if (r != ReadResult::Done)
        return fail(r, ListenCloseReason::ReadDeadline);
    const ListenHeadCheck check = handler.CheckHead(head.data());
    if (check.action == ListenHeadCheck::Skip)
        return true;
    if (check.action == ListenHeadCheck::Close) {
        reason = ListenCloseReason::BadHead;
        return false;
    }
    if (check.bodyLength > s.maxBodyLength) {
        reason = ListenCloseReason::TooLong;
        return false;
    }
    std::vector<uint8_t> body(static_cast<size_t>(check.bodyLength));
    if (!body.empty()) {
        r = ReadWithin(body.data(), body.size(), Clock::now() + std::chrono::milliseconds(s.readDeadlineMs), error);
        if (r != ReadResult::Done)
            return fail(r, ListenCloseReason::ReadDeadline);
    }
    handler.OnFrame(*this, head.data(), body);
    return true;
}

void CListenClient::Run()
{
    const ListenSettings& s = m_server.m_settings;
    std::vector<uint8_t> head(m_server.m_handler->HeadSize());
    ListenCloseReason reason = ListenCloseReason::Failed;
    uint32_t error = 0;
    for (;;) {
        bool pending;
        Clock::time_point lastProgress;
        {
            std::lock_guard lock(m_outLock);
            pending = m_outSent < m_out.size();
            lastProgress = m_lastProgress;
        }
        int timeoutMs = kInfinite;
        if (pending) {
            const auto quiet = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - lastProgress);
            const auto left = s.writeDeadlineMs - quiet.count();
            if (left <= 0) {
                reason = ListenCloseReason::Stalled;
                break;
            }
            timeoutMs = static_cast<int>(left);
        }
        const int r = WaitForAny({CWaitItem::Of(m_server.m_stop), CWaitItem::Of(m_closeRequest),
                                  CWaitItem::Of(m_outputQueued),
                                  CWaitItem::Fd(m_fd, pending ? POLLOUT : POLLIN)},
                                 timeoutMs);
        if (r == 0) {
            reason = ListenCloseReason::Stopping;
            break;
        }
        if (r == 1) {
            reason = ListenCloseReason::ClosedByOwner;  // replaced by the asked reason below
            break;
        }
        if (r == 2 || r == kWaitTimeout)
            continue;
        if (r == kWaitFailed) {
            error = GetLastErr();
            break;
        }
        if (pending) {
            std::lock_guard lock(m_outLock);
            if (!FlushLocked()) {
                error = m_error;
                reason = writeFailure(error);
                break;
            }
            continue;
        }
        if (!ServeFrame(head, reason, error))
            break;
    }
    Finish(reason, error);
}

void CListenClient::Finish(ListenCloseReason reason, uint32_t error)
{
    {
        std::lock_guard lock(m_outLock);
        // A close asked for by the owner or by Send names the reason, unless
        // the server is stopping anyway.
        if (m_closing.exchange(true) && reason != ListenCloseReason::Stopping) {
            reason = m_closeReason;
            error = m_error;
        }
        m_fdClosed = true;
        close(m_fd);
        if (reason != ListenCloseReason::Failed)
            error = 0;
    }
    m_server.m_handler->OnClose(*this, reason, error);
    m_finished = true;
}

// ---- CListenServer ----

CListenServer::~CListenServer() { Stop(); }

std::string CListenServer::OpenAccessWarning(const ListenSettings& settings, uint16_t port)
{
    uint32_t bind = 0;
    if (!settings.bindAddress.empty() && ParseIpv4(settings.bindAddress, bind) && bind != 0)
        return {};
    if (!settings.allowed.empty())
        return {};
    return "Warning: listening on all addresses, port " + std::to_string(port) +
           ", and every client may connect; " + settings.openAccessHint;
}

bool CListenServer::Start(const ListenSettings& settings, CListenHandler& handler)
{
    Stop();
    uint32_t bind = 0;
    if ((!settings.bindAddress.empty() && !ParseIpv4(settings.bindAddress, bind)) || settings.maxClients < 0 ||
        settings.readDeadlineMs <= 0 || settings.writeDeadlineMs <= 0 || settings.sendBufferBytes < 0 ||
        handler.HeadSize() == 0) {
        SetLastErr(err::BadParam);
        return false;
    }
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        SetLastErrFromErrno();
        return false;
    }
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(settings.port);
    local.sin_addr.s_addr = htonl(bind);
    socklen_t size = sizeof local;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 || listen(fd, kBacklog) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) != 0) {
        const int e = errno;
        close(fd);
        SetLastErrFromErrno(e);
        return false;
    }
    m_settings = settings;
    m_handler = &handler;
    m_listenFd = fd;
    m_port = ntohs(local.sin_port);
    if (const std::string warning = OpenAccessWarning(settings, m_port); !warning.empty())
        handler.OnWarning(warning);
    m_stop.Reset();
    m_running = true;
    m_acceptThread = std::thread([this] { AcceptLoop(); });
    return true;
}

void CListenServer::Stop()
{
    if (!m_running)
        return;
    m_stop.Set();
    if (m_acceptThread.joinable())
        m_acceptThread.join();
    close(m_listenFd);
    m_listenFd = -1;
    std::list<Entry> clients;
    {
        std::lock_guard lock(m_clientsLock);
        clients.swap(m_clients);
    }
    for (Entry& e : clients)
        e.thread.join();
    m_running = false;
    m_port = 0;
}

void CListenServer::AcceptLoop()
{
    for (;;) {
        const int r = WaitForAny({CWaitItem::Of(m_stop), CWaitItem::Fd(m_listenFd, POLLIN)}, kInfinite);
        if (r != 1)
            return;
        AcceptOne();
    }
}

void CListenServer::AcceptOne()
{
    sockaddr_in peer{};
    socklen_t size = sizeof peer;
    const int fd = accept4(m_listenFd, reinterpret_cast<sockaddr*>(&peer), &size, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0)
        return;
    const uint32_t address = ntohl(peer.sin_addr.s_addr);
    const uint16_t port = ntohs(peer.sin_port);

    bool allowed = m_settings.allowed.empty();
    for (const CIpv4Network& n : m_settings.allowed)
        allowed = allowed || n.Contains(address);
    if (!allowed) {
        close(fd);
        m_handler->OnRefuse(addressText(address, port), ListenRefuseReason::NotAllowed);
        return;
    }
    if (m_settings.maxClients > 0 && ClientCount() >= m_settings.maxClients) {
        close(fd);
        m_handler->OnRefuse(addressText(address, port), ListenRefuseReason::TooManyClients);
        return;
    }
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (m_settings.sendBufferBytes > 0)
        setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &m_settings.sendBufferBytes, sizeof m_settings.sendBufferBytes);

    std::shared_ptr<CListenClient> client(new CListenClient(*this, fd, address, port, m_nextId++));
    if (!m_handler->OnConnect(*client))
        return;
    std::lock_guard lock(m_clientsLock);
    Entry& e = m_clients.emplace_back(Entry{client, {}});
    e.thread = std::thread([c = client.get()] { c->Run(); });
}

void CListenServer::ReapLocked()
{
    for (auto it = m_clients.begin(); it != m_clients.end();) {
        if (it->client->IsFinished()) {
            it->thread.join();
            it = m_clients.erase(it);
        } else {
            ++it;
        }
    }
}

int CListenServer::ClientCount()
{
    std::lock_guard lock(m_clientsLock);
    ReapLocked();
    return static_cast<int>(
        std::count_if(m_clients.begin(), m_clients.end(), [](const Entry& e) { return e.client->IsOpen(); }));
}

std::vector<std::shared_ptr<CListenClient>> CListenServer::Clients()
{
    std::lock_guard lock(m_clientsLock);
    ReapLocked();
    std::vector<std::shared_ptr<CListenClient>> list;
    for (const Entry& e : m_clients)
        list.push_back(e.client);
    return list;
}

void CListenServer::CloseAll()
{
    for (const auto& c : Clients())
        c->Close();
}
