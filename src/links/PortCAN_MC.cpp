#include "links/PortCAN_MC.h"

#include "base/Error.h"
#include "base/Trace.h"

#include <chrono>
#include <cstring>

namespace {
constexpr uint8_t kHeader = 0xEC;
constexpr uint8_t kTunnel = 0xC5;
constexpr uint8_t kDataReply = 0xC6;
constexpr uint8_t kErrorReply = 0xFC;
constexpr int kFrameBuffer = 256;

bool fail(uint32_t code)
{
    SetLastErr(code);
    return false;
}
}  // namespace

CPortCAN_MC::CPortCAN_MC() = default;

CPortCAN_MC::~CPortCAN_MC() { m_link.Close(); }

bool CPortCAN_MC::GetNextProperty(_PROPDEF& entry, bool restart)
{
    static CPropertyCursor s_cursor;
    return s_cursor.Next(Properties(), entry, restart);
}

void CPortCAN_MC::ListProperties(PropertyList& out) { m_link.ListProperties(out); }

bool CPortCAN_MC::GetProperty(int32_t id, CVariant& value) { return m_link.GetProperty(id, value); }

bool CPortCAN_MC::SetProperty(std::string_view name, const CVariant& value) { return m_link.SetProperty(name, value); }

bool CPortCAN_MC::SetPropertyById(int32_t id, const CVariant& value) { return m_link.SetPropertyById(id, value); }

bool CPortCAN_MC::Open() { return m_link.Open(); }

void CPortCAN_MC::Close() { m_link.Close(); }

bool CPortCAN_MC::IsOpen() { return m_link.IsOpen(); }

void CPortCAN_MC::SetMonitor(void* context, PortMonitor monitor) { m_link.SetMonitor(context, monitor); }

bool CPortCAN_MC::Send(const CanMessage& m, uint8_t& sequence)
{
    const int length = m.Length();
    if (length > 8)
        return fail(err::BadParam);
    uint8_t payload[6 + 8];
    {
        std::lock_guard lock(m_stateLock);
        sequence = m_sequence++;
        if (m.ReplyExpected()) {
            m_templateId = m.idA;
            m_templateType = kDataReplyType;
        }
    }
    payload[0] = kHeader;
    payload[1] = sequence;
    payload[2] = kTunnel;
    payload[3] = m.ReplyExpected() ? 1 : 0;
    payload[4] = m.idB;
    payload[5] = m.idA;
    std::memcpy(payload + 6, m.data, static_cast<size_t>(length));
    if (trace::On(trace::Can))
        trace::Write(trace::Can, this, "write", &m, sizeof m);
    return m_link.SendFrame(payload, length + 6, m_timeoutMs);
}

bool CPortCAN_MC::SendMessages(const CanMessage* messages, int count)
{
    if (!messages || count != 1)
        return fail(err::BadParam);
    uint8_t sequence;
    return Send(messages[0], sequence);
}

bool CPortCAN_MC::Receive(CanRecord& record, int expectSequence)
{
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::milliseconds(m_timeoutMs.load());
    uint8_t frame[kFrameBuffer];
    int n;
    const uint8_t* p;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        n = kFrameBuffer;
        if (!m_link.ReceiveFrame(frame, n, static_cast<int>(std::max<long>(left, 0)))) {
            if (trace::On(trace::Can))
                trace::Write(trace::Can, this, GetLastErr() == err::Timeout ? "time-out" : "error", nullptr, 0,
                             "receive ->" + std::to_string(GetLastErr()));
            return false;
        }
        p = frame;
        if (n >= 2 && p[0] == kHeader) {
            if (expectSequence >= 0 && p[1] != expectSequence && Clock::now() < end)
                continue;
            p += 2;
            n -= 2;
        }
        break;
    }
    const bool data = n >= 2 && n <= 10 && p[0] == kDataReply && p[1] == kTunnel;
    const bool error = n == 3 && p[0] == kErrorReply && p[1] == kTunnel;
    if (!data && !error)
        return fail(err::BadFrame);
    std::lock_guard lock(m_stateLock);
    record = CanRecord{};
    record.status = m_templateId;
    record.type = data ? m_templateType : kErrorReplyType;
    record.id = m_nodeByte;
    record.counter = ++m_counter;
    record.length = static_cast<uint8_t>(n - 2);
    std::memcpy(record.data, p + 2, static_cast<size_t>(n - 2));
    if (trace::On(trace::Can))
        trace::Write(trace::Can, this, "read", &record, sizeof record);
    SetLastErr(err::Success);
    return true;
}

bool CPortCAN_MC::ReceiveMessages(CanRecord* records, int& count)
{
    if (!records || count != 1)
        return fail(err::BadParam);
    return Receive(records[0], -1);
}

bool CPortCAN_MC::Command(const CanMessage* message, int count, CanRecord* reply, int& replyCount)
{
    if (!message || !reply || count != 1 || replyCount < 1)
        return fail(err::BadParam);
    std::lock_guard lock(m_commandLock);
    if (!m_link.PauseReader())
        return false;
    uint8_t sequence = 0;
    bool ok = Send(*message, sequence) && Receive(*reply, sequence);
    if (ok) {
        replyCount = 1;
        const uint8_t t = reply->type;
        const bool typed = (((t >> 3) & 0x1C) | (t & 3)) != 0;
        if (!(message->ReplyExpected() && typed) && reply->data[0] != 0)
            ok = fail(err::WriteFault);
    }
    const uint32_t code = GetLastErr();
    m_link.ResumeReader();
    SetLastErr(code);
    return ok;
}

bool CPortCAN_MC::AsyncRead(CanReaderCallback callback, void* context)
{
    SetReaderCallback(callback, context);
    return m_link.AsyncRead(&CPortCAN_MC::ReaderTrampoline, this);
}

void CPortCAN_MC::ReaderTrampoline(CPortMC*, void* context)
{
    static_cast<CPortCAN_MC*>(context)->CallReaderCallback();
}
