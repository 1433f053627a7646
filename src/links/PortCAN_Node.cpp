#include "links/PortCAN_Node.h"

#include "base/Error.h"
#include "base/Trace.h"

#include <algorithm>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <shared_mutex>
#include <sys/socket.h>
#include <vector>

namespace {

constexpr uint32_t kMagic = 0x5555AAAA;
constexpr uint32_t kKindData = 0;
constexpr uint32_t kKindConfig = 1;
constexpr int kHeadSize = 12;
constexpr int kRecordSize = 13;
constexpr uint8_t kAcknowledge = 0x40;
constexpr uint8_t kAccepted = 1;
constexpr uint8_t kWriteError = 2;

// Bytes 0..2 of the five configuration records.
constexpr uint8_t kSetUpRecords[5][3] = {{0, 0x00, 1}, {0, 0x03, 1}, {0, 0x1F, 1}, {0, 0x1E, 1}, {0, 0x1D, 1}};

bool fail(uint32_t code)
{
    SetLastErr(code);
    return false;
}

void putLe32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t getLe32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

// The gateway's record for a message: the identifier bits of byte B in
// record byte 1, byte A in byte 2.
CanRecord recordOf(const CanMessage& m)
{
    CanRecord r{};
    const uint8_t b = m.idB;
    r.type = static_cast<uint8_t>((((b & 0xFD) | 1) << 3) | (b & 3));
    r.id = m.idA;
    r.length = static_cast<uint8_t>(m.Length());
    std::memcpy(r.data, m.data, sizeof r.data);
    return r;
}

}  // namespace

bool CPortCAN_Node::CGatewaySocket::SetNoDelay()
{
    std::shared_lock lock(m_fdLock);
    int one = 1;
    if (fd() < 0)
        return fail(err::NotOpen);
    if (setsockopt(fd(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) != 0) {
        SetLastErrFromErrno();
        return false;
    }
    return true;
}

CPortCAN_Node::CPortCAN_Node()
{
    m_socket.SetPropertyById(CPortIO_Socket::kSocketType, CVariant::FromInt(CPortIO_Socket::kTcp));
    m_socket.SetPropertyById(CPortIO_Socket::kOpenAsync, CVariant::FromBool(true));
    m_socket.SetOpenCallback(&CPortCAN_Node::SetUpCallback, this);
}

CPortCAN_Node::~CPortCAN_Node() { m_socket.Close(); }

bool CPortCAN_Node::GetNextProperty(_PROPDEF& entry, bool restart)
{
    static CPropertyCursor s_cursor;
    return s_cursor.Next(Properties(), entry, restart);
}

void CPortCAN_Node::ListProperties(PropertyList& out) { m_socket.ListProperties(out); }

bool CPortCAN_Node::GetProperty(int32_t id, CVariant& value) { return m_socket.GetProperty(id, value); }

bool CPortCAN_Node::SetProperty(std::string_view name, const CVariant& value) { return m_socket.SetProperty(name, value); }

bool CPortCAN_Node::SetPropertyById(int32_t id, const CVariant& value) { return m_socket.SetPropertyById(id, value); }

bool CPortCAN_Node::Open()
{
    if (!m_socket.Open())
        return false;
    // With "OpenAsync" turned off the socket connected in the foreground
    // and ran no callback: the gateway is set up here instead.
    CVariant async;
    m_socket.GetProperty(CPortIO_Socket::kOpenAsync, async);
    if (async.number() != 0)
        return true;
    if (SetUp())
        return true;
    const uint32_t code = GetLastErr();
    m_socket.Close();
    return fail(code);
}

void CPortCAN_Node::Close() { m_socket.Close(); }

bool CPortCAN_Node::IsOpen() { return m_socket.IsOpen(); }

void CPortCAN_Node::SetMonitor(void* context, PortMonitor monitor) { m_socket.SetMonitor(context, monitor); }

bool CPortCAN_Node::SetUpCallback(CPortIO*, void* context) { return static_cast<CPortCAN_Node*>(context)->SetUp(); }

bool CPortCAN_Node::SetUp()
{
    if (!m_socket.SetNoDelay())
        return false;
    CanRecord records[5]{};
    for (int i = 0; i < 5; ++i) {
        records[i].status = kSetUpRecords[i][0];
        records[i].type = kSetUpRecords[i][1];
        records[i].id = kSetUpRecords[i][2];
    }
    if (!WriteMessage(kKindConfig, records, 5))
        return false;
    Head head;
    CanRecord answer[kMaxRecords];
    std::lock_guard lock(m_receiveLock);
    if (!ReadMessage(head, answer, kDefaultHeadTimeoutMs))
        return false;
    if (head.kind != kKindConfig)
        return fail(err::BadFrame);
    for (uint32_t i = 0; i < head.count; ++i)
        if (answer[i].status != kAccepted)
            return fail(err::GatewayRefused);
    SetLastErr(err::Success);
    return true;
}

bool CPortCAN_Node::WriteMessage(uint32_t kind, const CanRecord* records, int count)
{
    std::vector<uint8_t> bytes(kHeadSize + size_t(count) * kRecordSize);
    putLe32(&bytes[0], kMagic);
    putLe32(&bytes[4], static_cast<uint32_t>(count));
    putLe32(&bytes[8], kind);
    std::memcpy(&bytes[kHeadSize], records, size_t(count) * kRecordSize);
    if (trace::On(trace::Can))
        trace::Write(trace::Can, this, "write", bytes.data(), bytes.size());
    return m_socket.Write(bytes.data(), static_cast<int>(bytes.size()));
}

bool CPortCAN_Node::ReadMessage(Head& head, CanRecord* records, int headTimeoutMs)
{
    const bool ok = ReadMessageUntraced(head, records, headTimeoutMs);
    if (trace::On(trace::Can)) {
        if (ok)
            trace::Write(trace::Can, this, "read", records, size_t(head.count) * kRecordSize,
                         "kind " + std::to_string(head.kind));
        else
            trace::Write(trace::Can, this, GetLastErr() == err::Timeout ? "time-out" : "error", nullptr, 0,
                         "receive ->" + std::to_string(GetLastErr()));
    }
    return ok;
}

bool CPortCAN_Node::ReadMessageUntraced(Head& head, CanRecord* records, int headTimeoutMs)
{
    uint8_t h[kHeadSize];
    if (!m_socket.ReadExact(h, kHeadSize, headTimeoutMs))
        return false;
    head = Head{getLe32(h), getLe32(h + 4), getLe32(h + 8)};
    // Refused before anything more is read: a head out of step or
    // announcing more than a message may hold.
    if (head.magic != kMagic || head.count > kMaxRecords)
        return fail(err::BadFrame);
    if (head.count == 0)
        return true;
    return m_socket.ReadExact(records, static_cast<int>(head.count) * kRecordSize, kRecordTimeoutMs);
}

void CPortCAN_Node::NoteFailure()
{
    const uint32_t code = GetLastErr();
    if (code == err::BadFrame || code == err::Timeout || code == err::MoreData)
        m_staleInput = true;
}

void CPortCAN_Node::DropStaleInput()
{
    if (!m_staleInput.exchange(false))
        return;
    uint8_t sink[256];
    while (m_socket.WaitForData(0) && GetLastErr() == err::Success)
        if (m_socket.Read(sink, sizeof sink) <= 0)
            break;
}

bool CPortCAN_Node::SendMessages(const CanMessage* messages, int count)
{
    if (!messages || count < 1 || count > kMaxRecords)
        return fail(err::BadParam);
    CanRecord records[kMaxRecords];
    for (int i = 0; i < count; ++i) {
        if (messages[i].Length() > 8)
            return fail(err::BadParam);
        records[i] = recordOf(messages[i]);
    }
    std::lock_guard lock(m_receiveLock);
    DropStaleInput();
    if (!WriteMessage(kKindData, records, count))
        return false;
    Head head;
    CanRecord answer[kMaxRecords];
    if (!ReadMessage(head, answer, m_headTimeoutMs)) {
        NoteFailure();
        return false;
    }
    if (head.kind == kKindData && head.count == 1 && answer[0].length == kAcknowledge) {
        SetLastErr(err::Success);
        return true;
    }
    if (head.kind == kKindConfig && head.count == 1 && answer[0].status == kWriteError)
        return fail(err::WriteFault);
    m_staleInput = true;
    return fail(err::BadFrame);
}

bool CPortCAN_Node::ReceiveMessages(CanRecord* records, int& count)
{
    const int room = count;
    if (!records || room < 1)
        return fail(err::BadParam);
    std::lock_guard lock(m_receiveLock);
    int received = 0;
    CanRecord incoming[kMaxRecords];
    // One time limit for the whole reception: heads that carry no record
    // do not restart it.
    const CDeadline deadline(m_headTimeoutMs);
    while (received < room) {
        Head head;
        if (!ReadMessage(head, incoming, deadline.LeftMs())) {
            NoteFailure();
            count = received;
            return false;
        }
        if (head.kind != kKindData) {
            count = received;
            m_staleInput = true;
            return fail(err::BadFrame);
        }
        const int n = static_cast<int>(head.count);
        const int fits = std::min(n, room - received);
        std::memcpy(records + received, incoming, size_t(fits) * sizeof(CanRecord));
        if (fits < n) {
            count = received + n;
            m_staleInput = true;
            return fail(err::MoreData);
        }
        received += n;
        if (n == 0 && deadline.Passed()) {
            count = received;
            return fail(err::Timeout);
        }
    }
    count = received;
    SetLastErr(err::Success);
    return true;
}

bool CPortCAN_Node::Command(const CanMessage* message, int count, CanRecord* reply, int& replyCount)
{
    if (!message || count < 1)
        return fail(err::BadParam);
    std::lock_guard lock(m_commandLock);
    if (!m_socket.PauseReader())
        return false;
    bool ok = SendMessages(message, count);
    if (ok && message[0].ReplyExpected())
        ok = ReceiveMessages(reply, replyCount);
    else if (ok)
        replyCount = 0;
    const uint32_t code = GetLastErr();
    m_socket.ResumeReader();
    SetLastErr(code);
    return ok;
}

bool CPortCAN_Node::AsyncRead(CanReaderCallback callback, void* context)
{
    SetReaderCallback(callback, context);
    return m_socket.AsyncRead(&CPortCAN_Node::ReaderTrampoline, this);
}

void CPortCAN_Node::ReaderTrampoline(CPortIO*, void* context)
{
    static_cast<CPortCAN_Node*>(context)->CallReaderCallback();
}
