#include "relay/RelayServer.h"

#include "base/Error.h"
#include "links/PortMCFrame.h"

#include <algorithm>

namespace {

constexpr int kReplyBuffer = 256;
constexpr int kUnsolicitedReadMs = 10;
constexpr int kEchoTimeoutMs = 1000;
constexpr uint8_t kNoAnswer = 0x02;
constexpr uint8_t kCommandFailed = 0x03;
constexpr uint8_t kUnsolicitedCode = 0xE8;

uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

}  // namespace

bool IsRequestError(uint32_t error)
{
    return error == err::BadParam || error == err::MoreData || error == err::BadFrame;
}

void CRelayObserver::ClientAdded(const std::shared_ptr<_CLIENTDATA>&) {}
void CRelayObserver::ClientRemoved(const std::shared_ptr<_CLIENTDATA>&) {}
void CRelayObserver::ClientRefused(const std::string&, const char*) {}
void CRelayObserver::ClientClosed(const _CLIENTDATA&, const char*) {}
void CRelayObserver::StopRequested() {}

CRelayServer::CRelayServer(CStdOut& out, CRelayObserver* observer) : m_out(out), m_observer(observer) {}

CRelayServer::~CRelayServer()
{
    if (m_connected) {
        m_link.Close();
        m_listener.Stop();
        StopIdleWatch();
        m_link.SetMonitor(nullptr, nullptr);
    }
}

bool CRelayServer::Connect()
{
    if (m_connected)
        return true;
    m_linkFailed = false;
    m_stopRequested.Reset();
    m_maxCmdTimeOut = m_settings.Get().maxCmdTimeOut;
    try {
        if (!m_link.Open()) {
            m_out.Print("%s", formatErrorText("Open Error:", GetLastErr()).c_str());
            return false;
        }
    } catch (const CMcListError& e) {
        m_out.Print("Open Error: %s\n", e.what());
        return false;
    }
    m_openPending = true;
    m_link.SetMonitor(this, &CRelayServer::OnLinkMonitor);
    if (!m_link.AsyncRead(&CRelayServer::OnLinkFrame, this)) {
        m_out.Print("%s", formatErrorText("AsyncRead Error:", GetLastErr()).c_str());
        m_link.Close();
        m_link.SetMonitor(nullptr, nullptr);
        m_openPending = false;
        return false;
    }
    ListenSettings listen = m_settings.ToListenSettings();
    if (!m_openAccessHint.empty())
        listen.openAccessHint = m_openAccessHint;
    StartIdleWatch();
    if (!m_listener.Start(listen, *this)) {
        m_out.Print("%s", formatErrorText("Open Error:", GetLastErr()).c_str());
        m_link.Close();
        StopIdleWatch();
        m_link.SetMonitor(nullptr, nullptr);
        m_openPending = false;
        return false;
    }
    m_connected = true;
    return true;
}

void CRelayServer::Disconnect()
{
    if (!m_connected)
        return;
    // The link closes first: it ends the commands that clients' threads
    // wait on, so that the listener's stop joins them at once.
    m_link.Close();
    m_listener.Stop();
    StopIdleWatch();
    RemoveAll();
    m_link.SetMonitor(nullptr, nullptr);
    m_connected = false;
    m_out.Print("Disconnected\r\n");
}

void CRelayServer::RemoveAll()
{
    std::vector<std::shared_ptr<_CLIENTDATA>> gone;
    {
        std::lock_guard lock(m_clientsLock);
        gone.swap(m_clients);
    }
    if (m_observer)
        for (const auto& c : gone)
            m_observer->ClientRemoved(c);
}

void CRelayServer::Tick()
{
    std::vector<std::shared_ptr<_CLIENTDATA>> gone;
    {
        std::lock_guard lock(m_clientsLock);
        for (auto it = m_clients.begin(); it != m_clients.end();) {
            // A closed client leaves once its thread is done with the record.
            if ((*it)->socket->IsFinished()) {
                gone.push_back(*it);
                it = m_clients.erase(it);
            } else {
                if (!(*it)->socket->IsOpen())
                    (*it)->socket->Close();
                ++it;
            }
        }
    }
    if (m_observer)
        for (const auto& c : gone)
            m_observer->ClientRemoved(c);
}

bool CRelayServer::CloseClient(uint64_t id)
{
    std::lock_guard lock(m_clientsLock);
    for (const auto& c : m_clients) {
        if (c->socket->Id() == id) {
            c->socket->Close();
            return true;
        }
    }
    return false;
}

std::vector<std::shared_ptr<_CLIENTDATA>> CRelayServer::Clients() const
{
    std::lock_guard lock(m_clientsLock);
    return m_clients;
}

CRelayServer::LinkState CRelayServer::UpdateLinkState()
{
    LinkState s;
    s.open = m_link.IsOpen();
    const uint32_t code = s.open ? err::Success : GetLastErr();
    s.pending = !s.open && code == err::IoPending;
    if (m_openPending && !s.pending) {
        m_out.Print("%s", formatErrorText("Open", code).c_str());
        m_openPending = false;
    }
    return s;
}

// ---- listener callbacks ----

size_t CRelayServer::HeadSize() const { return mcframe::kTcpHeadSize; }

ListenHeadCheck CRelayServer::CheckHead(const uint8_t* head)
{
    if (head[0] != mcframe::kStart || head[1] != mcframe::kStart)
        return ListenHeadCheck::Ignore();
    const uint32_t length = be32(head + 4);
    if (length < mcframe::kTcpHeadSize)
        return ListenHeadCheck::Refuse();
    return ListenHeadCheck::Frame(length - mcframe::kTcpHeadSize);
}

bool CRelayServer::OnConnect(CListenClient& client)
{
    auto data = std::make_shared<_CLIENTDATA>();
    data->socket = client.shared_from_this();
    data->title = client.Address();
    data->owner = this;
    client.SetContext(data.get());
    {
        std::lock_guard lock(m_clientsLock);
        m_clients.push_back(data);
    }
    if (m_observer)
        m_observer->ClientAdded(data);
    return true;
}

void CRelayServer::OnClose(CListenClient& client, ListenCloseReason reason, uint32_t)
{
    if (m_observer)
        m_observer->ClientClosed(*static_cast<_CLIENTDATA*>(client.Context()), ListenCloseText(reason));
}

void CRelayServer::OnRefuse(const std::string& address, ListenRefuseReason reason)
{
    if (m_observer)
        m_observer->ClientRefused(address, ListenRefuseText(reason));
}

void CRelayServer::OnWarning(const std::string& line) { m_out.Print("%s\r\n", line.c_str()); }

void CRelayServer::SendFailure(CListenClient& client, _CLIENTDATA& data, uint16_t ccbid, uint8_t code)
{
    const auto head = mcframe::BuildTcpHead(ccbid, 1, -1);
    uint8_t frame[mcframe::kTcpHeadSize + 1];
    std::copy(head.begin(), head.end(), frame);
    frame[mcframe::kTcpHeadSize] = code;
    client.Send(frame, sizeof frame);
    data.sentBytes += 1;
}

void CRelayServer::OnFrame(CListenClient& client, const uint8_t* head, std::vector<uint8_t>& body)
{
    _CLIENTDATA& data = *static_cast<_CLIENTDATA*>(client.Context());
    mcframe::TcpHead h;
    mcframe::ParseTcpHead(head, h);
    data.receivedBytes += static_cast<uint32_t>(body.size());

    const bool sequenced = body.size() >= 2 && body[0] == mcframe::kHeader;
    const uint8_t sequence = sequenced ? body[1] : 0;
    const size_t skip = sequenced ? 2 : 0;
    // A negative timeout would mean no limit to the ports; none may exceed the ceiling.
    const int timeoutMs = std::clamp(h.field, 0, m_maxCmdTimeOut);

    uint8_t reply[2 + kReplyBuffer];
    int replyCount = kReplyBuffer;
    const bool ok =
        RunCommand(body.data() + skip, static_cast<int>(body.size() - skip), reply + 2, replyCount, timeoutMs, h.ccbid);
    const uint32_t error = ok ? err::Success : GetLastErr();

    if (ok) {
        const uint8_t* payload = reply + 2;
        if (sequenced) {
            reply[0] = mcframe::kHeader;
            reply[1] = sequence;
            payload = reply;
            replyCount += 2;
        }
        const auto answerHead = mcframe::BuildTcpHead(h.ccbid, static_cast<uint32_t>(replyCount), h.field);
        uint8_t frame[mcframe::kTcpHeadSize + 2 + kReplyBuffer];
        std::copy(answerHead.begin(), answerHead.end(), frame);
        std::copy(payload, payload + replyCount, frame + mcframe::kTcpHeadSize);
        client.Send(frame, mcframe::kTcpHeadSize + static_cast<size_t>(replyCount));
        data.sentBytes += static_cast<uint32_t>(replyCount);
    } else if (error == err::Timeout) {
        m_out.Print("Command Timeout. val=%d\n", h.field);
        SendFailure(client, data, h.ccbid, kNoAnswer);
    } else if (IsRequestError(error) && !m_linkFailed) {
        m_out.Print("%s", formatErrorText("Command Error:", error).c_str());
        SendFailure(client, data, h.ccbid, kCommandFailed);
    } else {
        SendFailure(client, data, h.ccbid, kCommandFailed);
        LinkFailed(error);
    }
}

bool CRelayServer::RunCommand(const uint8_t* command, int count, uint8_t* reply, int& replyCount, int timeoutMs,
                              uint16_t ccbid)
{
    {
        std::lock_guard lock(m_pauseLock);
        ++m_inFlight;
    }
    bool ok;
    {
        std::lock_guard use(m_linkUse);
        bool pause;
        {
            std::lock_guard lock(m_pauseLock);
            pause = !m_readerPaused;
            m_readerPaused = true;
        }
        if (pause)
            m_link.PauseReader();
        // A TCP link may still be connecting in the background.
        ok = m_link.WaitUntilOpen(timeoutMs);
        if (ok) {
            // What is waiting before the command was sent cannot be its reply.
            CPortIO* port = ActivePort();
            while (port && port->WaitForData(0) && GetLastErr() == err::Success && TakeUnsolicited(*m_link.Active())) {
            }
            ok = m_link.Command(command, count, reply, replyCount, timeoutMs, ccbid);
        }
    }
    const uint32_t error = GetLastErr();
    {
        std::lock_guard lock(m_pauseLock);
        --m_inFlight;
    }
    m_pauseChanged.notify_all();
    SetLastErr(error);
    return ok;
}

CPortIO* CRelayServer::ActivePort()
{
    CPortMC* link = m_link.Active();
    if (auto* primary = dynamic_cast<CPortMC_Pri*>(link))
        return &primary->Port();
    if (auto* secondary = dynamic_cast<CPortMC_Sec*>(link))
        return &secondary->Port();
    if (auto* tcp = dynamic_cast<CPortMC_Tcp*>(link))
        return &tcp->Port();
    return nullptr;
}

void CRelayServer::StartIdleWatch()
{
    {
        std::lock_guard lock(m_pauseLock);
        m_stopIdle = false;
        m_readerPaused = false;
        m_inFlight = 0;
    }
    m_idleThread = std::thread([this] { IdleLoop(); });
}

void CRelayServer::StopIdleWatch()
{
    {
        std::lock_guard lock(m_pauseLock);
        m_stopIdle = true;
    }
    m_pauseChanged.notify_all();
    if (m_idleThread.joinable())
        m_idleThread.join();
}

void CRelayServer::IdleLoop()
{
    std::unique_lock lock(m_pauseLock);
    for (;;) {
        m_pauseChanged.wait(lock, [this] { return m_stopIdle || (m_readerPaused && m_inFlight == 0); });
        if (m_stopIdle)
            return;
        const bool busyAgain = m_pauseChanged.wait_for(lock, std::chrono::milliseconds(kIdleResumeMs),
                                                       [this] { return m_stopIdle || m_inFlight > 0; });
        if (busyAgain)
            continue;
        m_readerPaused = false;
        lock.unlock();
        m_link.ResumeReader();
        lock.lock();
    }
}

void CRelayServer::LinkFailed(uint32_t error)
{
    // Commands of other clients fail too once the link is closed; the
    // failure is told and the stop asked for only once.
    if (m_linkFailed.exchange(true))
        return;
    m_out.Print("%s", formatErrorText("Command Error:", error).c_str());
    m_link.Close();
    m_stopRequested.Set();
    if (m_observer)
        m_observer->StopRequested();
}

// ---- link callbacks ----

void CRelayServer::OnLinkMonitor(void* context, int direction, const uint8_t* bytes, int count)
{
    auto* self = static_cast<CRelayServer*>(context);
    if (direction == _MCDATA::kReceived) {
        self->m_linkReceived += static_cast<uint32_t>(count);
        self->m_spies.DistributeReceived(bytes, count);
        return;
    }
    int32_t tagId = 0;
    switch (self->m_link.GetIOType()) {
    case CPortMC_All::kSecondary: tagId = CPortMC_Sec::kCcbId; break;
    case CPortMC_All::kTcp: tagId = CPortMC_Tcp::kCcbId; break;
    default: break;
    }
    CVariant ccbid;
    const uint16_t tag =
        tagId && self->m_link.GetProperty(tagId, ccbid) ? static_cast<uint16_t>(ccbid.number()) : uint16_t{0};
    self->m_spies.DistributeSent(bytes, count, tag);
    self->m_linkSent += static_cast<uint32_t>(count);
}

void CRelayServer::OnLinkFrame(CPortMC* link, void* context)
{
    static_cast<CRelayServer*>(context)->TakeUnsolicited(*link);
}

bool CRelayServer::TakeUnsolicited(CPortMC& link)
{
    uint8_t frame[kReplyBuffer];
    int count = sizeof frame;
    if (!link.ReceiveFrame(frame, count, kUnsolicitedReadMs))
        return false;
    if (m_link.GetIOType() == CPortMC_All::kPrimary && count > 0 && frame[0] == kUnsolicitedCode)
        link.SendFrame(frame, count, kEchoTimeoutMs);
    return true;
}
