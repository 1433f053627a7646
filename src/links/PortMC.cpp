#include "links/PortMC.h"

#include "base/Error.h"
#include "base/Trace.h"
#include "links/PortMCFrame.h"

#include <algorithm>
#include <string>


CPortMC::~CPortMC() = default;

bool VariantToInt(const CVariant& value, int32_t& out)
{
    int64_t n;
    if (!value.ToNumber(n) || n < INT32_MIN || n > INT32_MAX) {
        SetLastErr(err::BadParam);
        return false;
    }
    out = static_cast<int32_t>(n);
    return true;
}


bool CPortMC::SetOwnProperty(const _PROPDEF* table, std::string_view name, const CVariant& value)
{
    if (const _PROPDEF* p = FindProperty(table, name, value.type()))
        return SetPropertyById(p->id, value);
    return m_port->SetProperty(name, value);
}

bool CPortMC::GetProperty(int32_t id, CVariant& value) { return m_port->GetProperty(id, value); }

bool CPortMC::SetProperty(std::string_view name, const CVariant& value) { return m_port->SetProperty(name, value); }

bool CPortMC::SetPropertyById(int32_t id, const CVariant& value) { return m_port->SetPropertyById(id, value); }

bool CPortMC::Open() { return m_port->Open(); }

void CPortMC::Close() { m_port->Close(); }

bool CPortMC::IsOpen() { return m_port->IsOpen(); }

bool CPortMC::WaitUntilOpen(int timeoutMs)
{
    return WaitWhileOpening([this] { return IsOpen(); }, timeoutMs);
}

void CPortMC::SetMonitor(void* context, PortMonitor monitor) { m_monitor.Set(monitor, context); }

void CPortMC::Monitor(int direction, const uint8_t* bytes, int count)
{
    if (trace::On(trace::Links))
        trace::Write(trace::Links, this, direction ? "read" : "write", bytes, static_cast<size_t>(count));
    m_monitor.Call([&](PortMonitor monitor, void* context) { monitor(context, direction, bytes, count); });
}

// Frames are read with ReadExactAhead; the port counts the bytes it keeps
// as waiting, so a frame that came in one read with the one before (or with
// a reply that a Command took while the reader was paused) still wakes the
// reader.
void CPortMC::ReaderTrampoline(CPortIO*, void* context)
{
    auto* link = static_cast<CPortMC*>(context);
    link->m_reader.Call([link](LinkReaderCallback reader, void* readerContext) { reader(link, readerContext); });
}

bool CPortMC::AsyncRead(LinkReaderCallback callback, void* context)
{
    m_reader.Set(callback, context);
    return m_port->AsyncRead(&CPortMC::ReaderTrampoline, this);
}

void CPortMC::TakeCommandCcbid(int) {}

bool CPortMC::WriteBytes(const void* bytes, int count) { return m_port->Write(bytes, count); }

bool CPortMC::ReceiveSerialFrame(uint8_t* buffer, int& count, int timeoutMs)
{
    std::lock_guard lock(m_receiveLock);
    uint8_t frame[2 + 255 + 2];
    // The caller's time-out bounds the whole search for the start byte, so
    // that a noisy line cannot hold the caller by sending anything else.
    const CDeadline deadline(timeoutMs);
    // Each read takes what else is waiting too: the rest of the frame then
    // comes from the port's kept bytes without another wait.
    for (;;) {
        if (!m_port->ReadExactAhead(frame, 1, deadline.LeftMs()))
            return false;
        if (frame[0] == mcframe::kStart)
            break;
        if (deadline.Passed()) {
            SetLastErr(err::Timeout);
            return false;
        }
    }
    if (!m_port->ReadExactAhead(frame + 1, 1, kFrameByteTimeoutMs))
        return false;
    const int n = frame[1];
    if (n < 2) {
        SetLastErr(err::BadFrame);
        return false;
    }
    if (!m_port->ReadExactAhead(frame + 2, n, kFrameByteTimeoutMs))
        return false;
    if (!mcframe::SerialCrcOk(frame, static_cast<size_t>(n) + 2)) {
        SetLastErr(err::BadFrame);
        return false;
    }
    const int length = n - 2;
    if (length > count) {
        count = length;
        SetLastErr(err::MoreData);
        return false;
    }
    std::copy(frame + 2, frame + 2 + length, buffer);
    count = length;
    Monitor(1, buffer, length);
    SetLastErr(err::Success);
    return true;
}

void CPortMC::DropStaleInput()
{
    uint8_t scrap[512];
    while (m_port->WaitForData(0) && GetLastErr() == err::Success) {
        if (m_port->Read(scrap, sizeof scrap) <= 0)
            break;
    }
}

bool CPortMC::Command(const uint8_t* command, int count, uint8_t* reply, int& replyCount, int timeoutMs, int ccbid)
{
    std::lock_guard lock(m_commandLock);
    if (ccbid != -1)
        TakeCommandCcbid(ccbid);
    const bool paused = m_port->PauseReader();

    if (m_staleInput) {
        DropStaleInput();
        m_staleInput = false;
    }
    const uint8_t sequence = m_sequence++;
    uint32_t result = err::Success;
    if (count < 0 || count > mcframe::kMaxPayload - 2) {
        result = err::BadParam;
    } else {
        uint8_t payload[mcframe::kMaxPayload];
        payload[0] = mcframe::kHeader;
        payload[1] = sequence;
        std::copy(command, command + count, payload + 2);
        uint8_t answer[kReplyBufferSize];
        int answerCount = sizeof answer;
        if (!SendFrame(payload, count + 2, timeoutMs) || !ReceiveFrame(answer, answerCount, timeoutMs)) {
            result = GetLastErr();
            if (result == err::MoreData)
                replyCount = answerCount;
        } else if (answerCount < 2 || answer[0] != mcframe::kHeader || answer[1] != sequence) {
            result = err::BadFrame;
            replyCount = answerCount;
        } else if (answerCount - 2 > replyCount) {
            result = err::MoreData;
            replyCount = answerCount - 2;
        } else {
            std::copy(answer + 2, answer + answerCount, reply);
            replyCount = answerCount - 2;
        }
    }
    if (result == err::Timeout || result == err::BadFrame)
        m_staleInput = true;
    if (result != err::Success && trace::On(trace::Links))
        trace::Write(trace::Links, this, result == err::Timeout ? "time-out" : "error", command,
                     static_cast<size_t>(std::max(count, 0)), "command ->" + std::to_string(result));

    if (paused)
        m_port->ResumeReader();
    SetLastErr(result);
    return result == err::Success;
}

void CopySettings(CPortMC& source, CPortMC& target)
{
    for (const _PROPDEF& entry : source.Properties()) {
        CVariant value;
        if (source.GetProperty(entry.id, value))
            target.SetPropertyById(entry.id, value);
    }
}
