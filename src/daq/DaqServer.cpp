#include "daq/DaqServer.h"

#include "base/Error.h"
#include "daq/DaqProtocol.h"

#include <algorithm>

ListenSettings CDaqServer::DefaultSettings(uint16_t port)
{
    ListenSettings s;
    s.port = port;
    s.readDeadlineMs = kReadDeadlineMs;
    s.maxBodyLength = daqproto::kMaxPayload;
    // One reply at a time: a whole run is the most a client can have queued.
    s.maxQueuedBytes = daqproto::kHeadSize + 1 + 4 * CDaqEngine::kMaxStoreWords;
    return s;
}

CDaqServer::CDaqServer(CDaqEngine& engine, CStdOut& out) : m_engine(engine), m_out(out) {}

CDaqServer::~CDaqServer() { Close(); }

bool CDaqServer::Open(const ListenSettings& settings)
{
    Close();
    const ListenSettings limits = DefaultSettings(settings.port);
    ListenSettings s = settings;
    s.readDeadlineMs = limits.readDeadlineMs;
    s.maxBodyLength = limits.maxBodyLength;
    s.maxQueuedBytes = limits.maxQueuedBytes;
    if (!m_listen.Start(s, *this)) {
        m_out.Print("%s", formatErrorText("Open Error:", GetLastErr()).c_str());
        return false;
    }
    m_totalReceived = 0;
    m_totalSent = 0;
    m_out.Print("DAQ server opened\r\n");
    m_engine.SetNotify(&CDaqServer::OnNotify, this);
    if (m_engine.Init())
        return true;
    const std::string text = m_engine.ErrorText();
    m_listen.Stop();
    m_engine.SetNotify(nullptr, nullptr);
    {
        std::lock_guard lock(m_clientsLock);
        m_clients.clear();
    }
    m_out.Print("%s\r\nDAQ server closed\r\n", text.c_str());
    return false;
}

void CDaqServer::Close()
{
    if (!m_listen.IsRunning())
        return;
    // Client threads may be inside ExeCmd; they end before the engine stops.
    m_listen.Stop();
    {
        std::lock_guard lock(m_clientsLock);
        m_clients.clear();
    }
    m_engine.Stop();
    m_engine.SetNotify(nullptr, nullptr);
    m_out.Print("DAQ server closed\r\n");
}

std::vector<_DAQCLIENTINFO> CDaqServer::Clients() const
{
    std::lock_guard lock(m_clientsLock);
    std::vector<_DAQCLIENTINFO> list;
    list.reserve(m_clients.size());
    for (const auto& c : m_clients)
        list.push_back(_DAQCLIENTINFO{c->client->Id(), c->client->Address(), c->received.load(), c->sent.load(),
                                      c->client->IsOpen()});
    return list;
}

bool CDaqServer::CloseClient(uint64_t id)
{
    std::lock_guard lock(m_clientsLock);
    for (const auto& c : m_clients)
        if (c->client->Id() == id) {
            c->client->Close();
            return true;
        }
    return false;
}

size_t CDaqServer::RemoveClosedClients()
{
    std::lock_guard lock(m_clientsLock);
    return RemoveClosedLocked();
}

size_t CDaqServer::RemoveClosedLocked()
{
    return std::erase_if(m_clients, [](const auto& c) { return c->client->IsFinished(); });
}

size_t CDaqServer::HeadSize() const { return daqproto::kHeadSize; }

ListenHeadCheck CDaqServer::CheckHead(const uint8_t* head)
{
    const daqproto::_DAQHEAD h = daqproto::ParseHead(head);
    if (!h.magic)
        return ListenHeadCheck::Ignore();
    if (h.length < daqproto::kHeadSize)
        return ListenHeadCheck::Refuse();
    return ListenHeadCheck::Frame(h.length - daqproto::kHeadSize);
}

void CDaqServer::OnFrame(CListenClient& client, const uint8_t* head, std::vector<uint8_t>& body)
{
    auto* record = static_cast<_CLIENTDT*>(client.Context());
    record->received += body.size();
    std::vector<uint8_t> reply;
    std::string errorText;
    const bool ok = m_engine.ExeCmd(body.data(), body.size(), daqproto::ParseHead(head).id, reply, &errorText);
    // Counted before the client can see the reply, so a count read after
    // the reply arrived includes it.
    if (client.IsOpen())
        record->sent += reply.size() - daqproto::kHeadSize;
    client.Send(reply.data(), reply.size());
    if (!ok) {
        m_out.Print("%s\r\n", errorText.c_str());
        SetLastErr(CDaqEngine::kLoseTrigger);
    }
}

bool CDaqServer::OnConnect(CListenClient& client)
{
    auto record = std::make_shared<_CLIENTDT>();
    record->client = client.shared_from_this();
    client.SetContext(record.get());
    {
        std::lock_guard lock(m_clientsLock);
        // Without a window sweeping the list, connecting clients keep it short.
        RemoveClosedLocked();
        m_clients.push_back(std::move(record));
    }
    m_out.Print("Client %s connected\r\n", client.Address().c_str());
    return true;
}

void CDaqServer::OnClose(CListenClient& client, ListenCloseReason reason, uint32_t error)
{
    if (reason == ListenCloseReason::Failed)
        m_out.Print("Client %s closed: %s ->%u\r\n", client.Address().c_str(), ListenCloseText(reason), error);
    else
        m_out.Print("Client %s closed: %s\r\n", client.Address().c_str(), ListenCloseText(reason));
}

void CDaqServer::OnRefuse(const std::string& address, ListenRefuseReason reason)
{
    m_out.Print("Client %s refused: %s\r\n", address.c_str(), ListenRefuseText(reason));
}

void CDaqServer::OnWarning(const std::string& line) { m_out.Print("%s\r\n", line.c_str()); }

void CDaqServer::OnNotify(void* context, int direction, const uint8_t*, size_t length)
{
    auto* self = static_cast<CDaqServer*>(context);
    (direction == 1 ? self->m_totalReceived : self->m_totalSent) += length;
}
