#include "sim/SimCanGateway.h"

#include "base/Error.h"
#include "sim/SimIo.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using simcan::Record;

namespace {
Record writeErrorRecord()
{
    Record r{};
    r[0] = simcan::kWriteError;
    return r;
}
}  // namespace

CSimCanGateway::CSimCanGateway(std::shared_ptr<CSimCanNodes> nodes) : m_nodes(std::move(nodes)) {}

CSimCanGateway::~CSimCanGateway() { Stop(); }

bool CSimCanGateway::Start(uint16_t port, const std::string& address)
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
    m_acceptThread = std::thread([this] { acceptLoop(); });
    return true;
}

void CSimCanGateway::Stop()
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

int CSimCanGateway::ClientCount()
{
    std::lock_guard lock(m_clientsLock);
    reapLocked();
    return static_cast<int>(m_clients.size());
}

void CSimCanGateway::reapLocked()
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

void CSimCanGateway::acceptLoop()
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

bool CSimCanGateway::send(Client& client, const std::vector<uint8_t>& bytes)
{
    std::lock_guard lock(client.writeLock);
    return !client.done && simio::WriteAll(client.fd, bytes.data(), bytes.size(), m_stop);
}

Record CSimCanGateway::recordOf(Client& client, const SimCanFrame& frame)
{
    Record r{};
    r[1] = simcan::EncodeTypeByte(frame.type);
    r[2] = frame.node;
    {
        std::lock_guard lock(client.writeLock);
        r[3] = ++client.counter;
    }
    r[4] = static_cast<uint8_t>(frame.data.size());
    std::copy(frame.data.begin(), frame.data.end(), r.begin() + 5);
    return r;
}

int CSimCanGateway::Emit(uint8_t node, std::span<const uint8_t> data)
{
    SimCanFrame frame{node, 3, std::vector<uint8_t>(data.begin(), data.begin() + std::min<size_t>(data.size(), 8))};
    int sent = 0;
    std::lock_guard lock(m_clientsLock);
    for (auto& c : m_clients) {
        bool configured;
        {
            std::lock_guard w(c->writeLock);
            configured = c->configured && !c->done;
        }
        if (!configured)
            continue;
        const Record r = recordOf(*c, frame);
        if (send(*c, simcan::Message(simcan::kKindData, {&r, 1})))
            ++sent;
    }
    return sent;
}

void CSimCanGateway::serve(Client& client)
{
    auto finish = [&client] {
        std::lock_guard lock(client.writeLock);
        // The descriptor stays open until the client is reaped, so a
        // concurrent Emit never writes to a number reused by another socket.
        shutdown(client.fd, SHUT_RDWR);
        client.done = true;
    };
    for (;;) {
        uint8_t headBytes[simcan::kHeadSize];
        if (!simio::ReadAll(client.fd, headBytes, sizeof headBytes, m_stop))
            return finish();
        const simcan::Head head = simcan::DecodeHead(headBytes);
        // Out of step: no later head can be found in the stream.
        if (head.magic != simcan::kMagic || head.count > simcan::kMaxRecords)
            return finish();
        std::vector<Record> records(head.count);
        for (Record& r : records)
            if (!simio::ReadAll(client.fd, r.data(), r.size(), m_stop))
                return finish();
        bool ok;
        if (head.kind == simcan::kKindConfig) {
            ok = configure(client, records);
        } else if (head.kind == simcan::kKindData) {
            ok = deliver(client, records);
        } else {
            const Record r = writeErrorRecord();
            ok = send(client, simcan::Message(simcan::kKindConfig, {&r, 1}));
        }
        if (!ok)
            return finish();
    }
}

bool CSimCanGateway::configure(Client& client, std::vector<Record>& records)
{
    for (Record& r : records)
        r[0] = simcan::kConfigAccepted;
    bool refused = false;
    if (!records.empty() && m_faults.Take(SimCanFault::RefuseConfig)) {
        records[std::min<size_t>(2, records.size() - 1)][0] = 0;
        refused = true;
    }
    const uint32_t kind = m_faults.Take(SimCanFault::ConfigKind) ? simcan::kKindData : simcan::kKindConfig;
    {
        std::lock_guard lock(client.writeLock);
        client.configured = !refused && kind == simcan::kKindConfig;
    }
    return send(client, simcan::Message(kind, records));
}

bool CSimCanGateway::deliver(Client& client, const std::vector<Record>& records)
{
    bool configured;
    {
        std::lock_guard lock(client.writeLock);
        configured = client.configured;
    }
    bool failed = !configured;
    std::vector<SimCanAnswer> answers;
    for (const Record& r : records) {
        if (failed)
            break;
        CSimCanNode* node = m_nodes->Node(r[2]);
        if (!node || r[4] > 8) {
            failed = true;
            break;
        }
        answers.push_back(node->Handle(simcan::FrameType(r[1]), {r.data() + 5, r[4]}));
        failed = answers.back().writeError;
    }
    if (failed) {
        const Record r = writeErrorRecord();
        return send(client, simcan::Message(simcan::kKindConfig, {&r, 1}));
    }
    Record ack{};
    ack[4] = simcan::kAcknowledge;
    if (!send(client, simcan::Message(simcan::kKindData, {&ack, 1})))
        return false;
    for (const SimCanAnswer& a : answers) {
        if (a.frames.empty())
            continue;
        if (a.delayMs > 0 && m_stop.Wait(a.delayMs))
            return false;
        if (!sendReply(client, a.frames))
            return false;
    }
    return true;
}

bool CSimCanGateway::sendReply(Client& client, const std::vector<SimCanFrame>& frames)
{
    if (m_faults.Take(SimCanFault::EmptyMessage) && !send(client, simcan::Message(simcan::kKindData, {})))
        return false;
    std::vector<Record> records;
    for (const SimCanFrame& f : frames)
        records.push_back(recordOf(client, f));
    std::vector<uint8_t> message = simcan::Message(simcan::kKindData, records);
    if (m_faults.Take(SimCanFault::BadMagic))
        message[0] ^= 0xFF;
    if (m_faults.Take(SimCanFault::TooManyRecords)) {
        auto head = simcan::EncodeHead({simcan::kMagic, simcan::kMaxRecords + 1, simcan::kKindData});
        return send(client, {head.begin(), head.end()});
    }
    if (m_faults.Take(SimCanFault::CloseMidMessage)) {
        message.resize(simcan::kHeadSize + 5);
        send(client, message);
        return false;
    }
    return send(client, message);
}
