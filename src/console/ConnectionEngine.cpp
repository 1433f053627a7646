#include "console/ConnectionEngine.h"

#include "base/Error.h"
#include "language/ExampleFiles.h"
#include "links/PortMCFrame.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>

CConnectionEngine::CConnectionEngine(CStdOut& events) : m_events(events)
{
    m_link.SetPropertyById(CPortMC_All::kIOType, CVariant::FromInt(CPortMC_All::kPrimary));
    SetPrintTX(true);
    SetPrintRX(true);
    m_sendQueue.Notifier().SetCallback([this](void*) { RunSendQueue(); }, nullptr);
}

CConnectionEngine::~CConnectionEngine()
{
    // Whoever drains the box may be the one destroying it: a link thread
    // must not stay blocked on a full box while it is joined.
    m_box.Queue().Close();
    {
        std::lock_guard lock(m_pendingLock);
        m_pending.stopping = true;
    }
    m_pendingChanged.notify_all();
    m_sendQueue.Close();
    m_sendQueue.Notifier().Stop();
    m_link.Close();
    m_link.SetMonitor(nullptr, nullptr);
}

int32_t CConnectionEngine::linkInt(int32_t id)
{
    CVariant value;
    int32_t n = 0;
    if (!m_link.GetProperty(id, value) || !VariantToInt(value, n))
        return 0;
    return n;
}

std::string CConnectionEngine::linkText(int32_t id)
{
    CVariant value;
    std::string text;
    if (m_link.GetProperty(id, value))
        value.ToText(text);
    return text;
}

void CConnectionEngine::printError(const char* prefix, uint32_t code)
{
    m_events.Print("%s\r\n", formatErrorText(prefix, code).c_str());
}

bool CConnectionEngine::Connect()
{
    // A crate-list miss comes as an exception; its text is the error's.
    const bool opened = CatchToLastError([this] { return m_link.Open(); });
    if (!opened)
        printError("Open Error:", GetLastErr());
    m_opened = opened;
    if (!opened)
        return false;
    m_dropCause = err::Success;
    m_link.SetMonitor(this, &CConnectionEngine::TrafficHook);
    if (!m_link.AsyncRead(&CConnectionEngine::ReceiveHook, this))
        printError("AsyncRead Error:", GetLastErr());
    m_txBytes = 0;
    m_rxBytes = 0;
    return true;
}

void CConnectionEngine::Disconnect()
{
    // A link closed on purpose has not dropped.
    m_opened = false;
    m_link.Close();
}

bool CConnectionEngine::Queue(CFifoWr<_MCDATA>* replyWriter, const _MCDATA& request)
{
    {
        std::lock_guard lock(m_sentLock);
        ++m_queued;
    }
    if (m_sendWriter.Write(_TXDATA{replyWriter, request}))
        return true;
    noteSent();
    return false;
}

std::vector<_TXDATA> CConnectionEngine::DropQueued()
{
    std::vector<_TXDATA> dropped;
    _TXDATA request;
    while (m_sendQueue.TryRead(request)) {
        dropped.push_back(request);
        noteSent();
    }
    return dropped;
}

void CConnectionEngine::noteSent()
{
    std::lock_guard lock(m_sentLock);
    ++m_sent;
    m_sentChanged.notify_all();
}

bool CConnectionEngine::WaitUntilSent(int timeoutMs)
{
    std::unique_lock lock(m_sentLock);
    auto allSent = [this] { return m_sent == m_queued; };
    if (timeoutMs < 0) {
        m_sentChanged.wait(lock, allSent);
        return true;
    }
    return m_sentChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), allSent);
}

CConnectionEngine::CommandState CConnectionEngine::QueryCommandState()
{
    std::lock_guard lock(m_stateLock);
    const bool open = m_link.IsOpen();
    const uint32_t seen = GetLastErr();
    if (m_opened && !open && seen != err::IoPending) {
        if (m_link.GetIOType() == CPortMC_All::kTcp && linkInt(CPortMC_Tcp::kCcbIdMode) == CPortMC_Tcp::kMcListMode) {
            m_events.Print("%s:%u ccbid=%u\n", linkText(CPortIO_Socket::kHost).c_str(),
                           static_cast<unsigned>(linkInt(CPortIO_Socket::kPort)),
                           static_cast<unsigned>(linkInt(CPortMC_Tcp::kCcbId)));
        }
        // A closed link reports success; the drop's own error says more.
        uint32_t cause = seen != err::Success ? seen : m_dropCause.load();
        printError("Open", cause != err::Success ? cause : err::NotOpen);
        m_opened = false;
    }
    const bool opened = m_opened;
    CommandState state{!open && !opened, open, open != m_lastQueryOpen || opened != m_lastQueryOpened};
    m_lastQueryOpen = open;
    m_lastQueryOpened = opened;
    return state;
}

void CConnectionEngine::PollLink()
{
    std::lock_guard lock(m_stateLock);
    const bool open = m_link.IsOpen();
    if (!open && m_lastPollOpen)
        m_events.Print("Disconnected\r\n");
    m_lastPollOpen = open;
}

void CConnectionEngine::SetPrintTX(bool on)
{
    if (on)
        m_tap.Add(_MCDATA::kSent, &m_box.Writer());
    else
        m_tap.Remove(_MCDATA::kSent, &m_box.Writer());
}

void CConnectionEngine::SetPrintRX(bool on)
{
    if (on)
        m_tap.Add(_MCDATA::kReceived, &m_box.Writer());
    else
        m_tap.Remove(_MCDATA::kReceived, &m_box.Writer());
}

void CConnectionEngine::ChangeLogFile(const std::string& path)
{
    m_box.SetEnLog(false);
    m_box.SetLogFile(path);
}

std::string CConnectionEngine::DecodeFile() const
{
    std::lock_guard lock(m_stateLock);
    return m_decodeFile;
}

bool CConnectionEngine::LoadDecodeFile(const std::string& path)
{
    m_box.ResetDecodeTables();
    std::string file = FindExampleFile(path);
    m_events.Print("Reading decode file %s\r\n", file.c_str());
    if (char* full = realpath(path.c_str(), nullptr)) {
        file = full;
        std::free(full);
    }
    {
        std::lock_guard lock(m_stateLock);
        m_decodeFile = file;
    }
    std::string error;
    const bool loaded = m_box.LoadDecodeFile(file, error);
    m_watchDecodeFile = loaded;
    if (loaded)
        m_events.Print("Read Success\r\n");
    else
        m_events.Print("Read Fail: %s\r\n", error.c_str());
    return loaded;
}

bool CConnectionEngine::DecodeFileChanged()
{
    if (!m_watchDecodeFile || !m_box.DecodeFileModified())
        return false;
    m_watchDecodeFile = false;
    return true;
}

void CConnectionEngine::TrafficHook(void* context, int direction, const uint8_t* bytes, int count)
{
    auto* self = static_cast<CConnectionEngine*>(context);
    self->postTraffic(TrafficRecord(direction, bytes, count));
    (direction == _MCDATA::kSent ? self->m_txBytes : self->m_rxBytes) += static_cast<uint32_t>(std::max(count, 0));
}

void CConnectionEngine::postTraffic(const _MCDATA& record)
{
    std::lock_guard lock(m_orderLock);
    if (record.direction == _MCDATA::kReceived && m_holdReceived) {
        m_heldReceived.push_back(record);
        return;
    }
    m_tap.Post(record);
    if (record.direction == _MCDATA::kSent)
        releaseReceivedLocked();
}

void CConnectionEngine::holdReceived()
{
    std::lock_guard lock(m_orderLock);
    m_holdReceived = true;
}

void CConnectionEngine::releaseReceivedLocked()
{
    m_holdReceived = false;
    for (const _MCDATA& r : m_heldReceived)
        m_tap.Post(r);
    m_heldReceived.clear();
}

void CConnectionEngine::releaseReceived()
{
    std::lock_guard lock(m_orderLock);
    releaseReceivedLocked();
}

void CConnectionEngine::ReceiveHook(CPortMC*, void* context) { static_cast<CConnectionEngine*>(context)->ReceiveStep(); }

void CConnectionEngine::AbortWait()
{
    {
        std::lock_guard lock(m_pendingLock);
        m_pending.aborted = true;
    }
    m_pendingChanged.notify_all();
}

void CConnectionEngine::clearPendingLocked()
{
    m_pending.writer = nullptr;
    m_pending.expected = kNothingAwaited;
    m_pending.inFlight = false;
    m_pending.deadline = Clock::time_point::max();
}

void CConnectionEngine::deliver(CFifoWr<_MCDATA>* writer, const _MCDATA& record)
{
    if (writer)
        writer->Write(record);
}

int CConnectionEngine::replyWaitMs(int timeoutMs)
{
    if (timeoutMs < 0 || m_link.GetIOType() != CPortMC_All::kTcp)
        return timeoutMs;
    return static_cast<int>(std::min<int64_t>(INT_MAX, int64_t{timeoutMs} + linkInt(CPortMC_Tcp::kTimeout)));
}

void CConnectionEngine::RunSendQueue()
{
    std::unique_lock lock(m_pendingLock);
    for (;;) {
        if (m_pending.stopping) {
            // Going away: the requester is not waited on any more.
            const bool ended = m_pending.inFlight;
            clearPendingLocked();
            lock.unlock();
            if (ended)
                noteSent();
            return;
        }
        if (m_pending.sending || m_pending.inFlight) {
            // A reply that came as the wait was aborted still counts as the
            // reply: the receive step has ended the request then.
            if (!m_pending.sending && m_pending.inFlight &&
                (m_pending.aborted || Clock::now() >= m_pending.deadline)) {
                _MCDATA ended;
                ended.direction = _MCDATA::kReceived;
                ended.status = m_pending.aborted ? _MCDATA::kReplyAborted : _MCDATA::kReplyTimeout;
                CFifoWr<_MCDATA>* writer = m_pending.writer;
                clearPendingLocked();
                lock.unlock();
                deliver(writer, ended);
                noteSent();
                lock.lock();
                continue;
            }
            // Another thread is writing, or the reply is due: sleep until
            // its deadline or a change. The reader thread moving on to the
            // next request does not wake this thread unless that request's
            // deadline comes sooner.
            m_pending.watched = m_pending.sending ? Clock::time_point::max() : m_pending.deadline;
            if (m_pending.watched == Clock::time_point::max())
                m_pendingChanged.wait(lock);
            else
                m_pendingChanged.wait_until(lock, m_pending.watched);
            m_pending.watched = Clock::time_point::min();
            continue;
        }
        _TXDATA request;
        if (!m_sendQueue.TryRead(request))
            return;
        sendLocked(lock, request);
    }
}

void CConnectionEngine::sendLocked(std::unique_lock<std::mutex>& lock, _TXDATA& request)
{
    _MCDATA& r = request.data;
    const bool await = r.waitReply != 0;
    const int timeoutMs = r.status;
    int count = r.length;
    m_pending.sending = true;
    m_pending.aborted = false;
    if (await) {
        const uint8_t sequence = m_pending.sequence++;
        m_pending.writer = request.replyWriter;
        m_pending.expected = sequence;
        m_pending.inFlight = true;
        m_pending.deadline = Clock::time_point::max();
        std::memmove(r.bytes + 2, r.bytes, static_cast<size_t>(std::min(count, 254)));
        r.bytes[0] = mcframe::kHeader;
        r.bytes[1] = sequence;
        // Too long for any link: the link refuses it with 87.
        count = std::min(count + 2, static_cast<int>(sizeof r.bytes));
    } else {
        clearPendingLocked();
    }
    lock.unlock();

    const int waitMs = await ? replyWaitMs(timeoutMs) : -1;
    holdReceived();
    const bool written = m_link.SendFrame(r.bytes, count, timeoutMs);
    const uint32_t writeError = GetLastErr();
    releaseReceived();
    if (!written) {
        m_events.Print("%s", formatErrorText("Write Error:", writeError).c_str());
        m_dropCause = writeError;
        m_link.Close();
    }
    if (!await)
        noteSent();

    lock.lock();
    m_pending.sending = false;
    // Still due unless a quick reply has ended it during the write.
    if (await && m_pending.inFlight && waitMs >= 0)
        m_pending.deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    // The send-queue thread sleeps on an older deadline, or on this write
    // when an abort came during it.
    if (m_pending.deadline < m_pending.watched || (m_pending.aborted && m_pending.inFlight))
        m_pendingChanged.notify_all();
}

void CConnectionEngine::sendQueuedLocked(std::unique_lock<std::mutex>& lock)
{
    _TXDATA request;
    while (!m_pending.stopping && !m_pending.sending && !m_pending.inFlight && m_sendQueue.TryRead(request))
        sendLocked(lock, request);
}

void CConnectionEngine::ReceiveStep()
{
    _MCDATA frame;
    frame.direction = _MCDATA::kReceived;
    int count = sizeof frame.bytes;
    if (m_link.ReceiveFrame(frame.bytes, count, kReceiveTimeoutMs)) {
        frame.length = static_cast<uint8_t>(std::clamp(count, 0, 255));
    } else {
        const uint32_t e = GetLastErr();
        frame = _MCDATA{};
        frame.direction = _MCDATA::kReceived;
        frame.status = e == err::Timeout ? _MCDATA::kReadTimeout : _MCDATA::kReadFailed;
        if (frame.status == _MCDATA::kReadTimeout)
            postTraffic(frame);
        else if (!m_link.IsOpen())
            m_dropCause = e;
    }

    _MCDATA reply = frame;
    CFifoWr<_MCDATA>* writer = nullptr;
    bool ended = false;
    bool idle = false;
    {
        std::unique_lock lock(m_pendingLock);
        bool ends = frame.status != _MCDATA::kGood;
        if (!ends && frame.length >= 2 && frame.bytes[0] == mcframe::kHeader) {
            reply.length = static_cast<uint8_t>(frame.length - 2);
            std::memmove(reply.bytes, frame.bytes + 2, reply.length);
            std::memset(reply.bytes + reply.length, 0, sizeof reply.bytes - reply.length);
            ends = frame.bytes[1] == m_pending.expected;
        }
        if (ends) {
            ended = m_pending.inFlight;
            writer = m_pending.writer;
            clearPendingLocked();
        }
        // The next request goes out before the requester is woken with
        // this reply, so that the crate works on it meanwhile. After a
        // failed read the send-queue thread goes on instead.
        if (ended && frame.status == _MCDATA::kGood)
            sendQueuedLocked(lock);
        idle = ended && !m_pending.sending && !m_pending.inFlight;
    }
    // Nothing is due now: the send-queue thread takes the queue over.
    if (idle)
        m_pendingChanged.notify_all();
    // Delivered outside the lock: a requester slow to read its replies must
    // not hold up the send-queue thread.
    deliver(writer, reply);
    if (ended)
        noteSent();

    if (frame.status == _MCDATA::kGood && frame.length > 0 && frame.bytes[0] == kUnsolicitedCode &&
        m_link.GetIOType() == CPortMC_All::kPrimary)
        m_link.SendFrame(frame.bytes, frame.length, kEchoTimeoutMs);
}
