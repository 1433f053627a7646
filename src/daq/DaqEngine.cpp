#include "daq/DaqEngine.h"

#include "base/Error.h"
#include "daq/DaqProtocol.h"

#include <chrono>
#include <cstdio>

namespace {
constexpr int kTriggerIrq = 3;
constexpr int kIrqSources[] = {1, 0};
constexpr uint32_t kDelayOffset = 0x08;
constexpr uint32_t kInputOffset = 0x0C;
constexpr uint32_t kInputOffBit = 0x200;

std::string Text(const char* format, unsigned value)
{
    char text[96];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

void PutBE32(std::vector<uint8_t>& out, uint32_t v)
{
    uint8_t b[4];
    daqproto::PutBE32(b, v);
    out.insert(out.end(), b, b + 4);
}
}  // namespace

CDaqEngine::CDaqEngine(const CDaqSettings& settings) : m_settings(settings) {}

CDaqEngine::~CDaqEngine() { Stop(); }

void CDaqEngine::SetSettings(const CDaqSettings& settings)
{
    std::lock_guard bus(m_busLock);
    m_settings = settings;
}

CDaqSettings CDaqEngine::Settings() const
{
    std::lock_guard bus(m_busLock);
    return m_settings;
}

void CDaqEngine::SetNotify(Notify notify, void* context)
{
    std::lock_guard lock(m_notifyLock);
    m_notify = notify;
    m_notifyContext = context;
}

bool CDaqEngine::IsOpen() const
{
    std::lock_guard bus(m_busLock);
    return m_vme5.IsOpen();
}

std::string CDaqEngine::ErrorText() const
{
    std::lock_guard lock(m_errorLock);
    return m_errorText;
}

int CDaqEngine::Status() const
{
    std::lock_guard lock(m_errorLock);
    return m_status;
}

bool CDaqEngine::Succeed()
{
    std::lock_guard lock(m_errorLock);
    m_status = 0;
    m_errorText.clear();
    return true;
}

bool CDaqEngine::Fail(int status, const std::string& text)
{
    std::lock_guard lock(m_errorLock);
    m_status = status;
    m_errorText = text;
    return false;
}

bool CDaqEngine::FailModule(const std::string& label, const CVmeModule& module)
{
    return Fail(module.Status(), label + module.ErrorText());
}

bool CDaqEngine::FailVme(const std::string& label, const CVme& vme)
{
    return Fail(vme.Status(), label + vme.ErrorText());
}

bool CDaqEngine::Init()
{
    std::lock_guard request(m_requestLock);
    if (DoInit())
        return true;
    // A half set-up stand gets no interrupts into the engine.
    const std::string text = ErrorText();
    const int status = Status();
    DoStop();
    return Fail(status, text);
}

bool CDaqEngine::DoInit()
{
    // Closing waits for a running callback, so it runs without the bus lock.
    DoStop();
    if (!m_vme5.Init(kA24Device))
        return FailVme("", m_vme5);
    if (!m_vme2.Init(kA16Device))
        return FailVme("", m_vme2);
    {
        std::lock_guard bus(m_busLock);
        if (!m_vme5.Reset())
            return FailVme("", m_vme5);
        const _PUCONFIG config = m_settings.PuConfig();
        m_ros.SetBaseAddress(m_settings.Get(CDaqSettings::ROS_BaseAddr));
        m_delay.SetBaseAddress(m_settings.Get(CDaqSettings::VMEDLY_BaseAddr));
        m_ttcvi.base = m_settings.Get(CDaqSettings::TTCvi_BaseAddr);
        m_patGen1.base = m_settings.Get(CDaqSettings::PatGen1_BaseAddr);
        m_patGen2.base = m_settings.Get(CDaqSettings::PatGen2_BaseAddr);
        if (!m_pu.Configure(config) || !m_pu.Clear())
            return FailModule("", m_pu);
        if (!m_delay.EnableDelay())
            return FailModule("", m_delay);
        m_rosAnswered = m_ros.Init();
        m_runEvents = 0;
        m_eventCount = 0;
        m_readFailed = false;
    }
    if (!m_vme5.Install_ICBR(&CDaqEngine::Interrupt, this))
        return FailVme("", m_vme5);
    std::lock_guard bus(m_busLock);
    if (!m_delay.WrVector() || !m_delay.EnableIRQ(kIrqSources[0], true) ||
        !m_delay.EnableIRQ(kIrqSources[1], true))
        return FailModule("", m_delay);
    return Succeed();
}

bool CDaqEngine::Stop()
{
    std::lock_guard request(m_requestLock);
    DoStop();
    return Succeed();
}

void CDaqEngine::DoStop()
{
    {
        std::lock_guard bus(m_busLock);
        // Closing follows whatever the boards answer.
        if (m_vme5.IsOpen())
            for (int source : kIrqSources)
                m_delay.EnableIRQ(source, false);
    }
    m_vme5.Close();
    m_vme2.Close();
}

bool CDaqEngine::Reset()
{
    std::lock_guard request(m_requestLock);
    std::lock_guard bus(m_busLock);
    if (!m_vme5.Reset())
        return FailVme("", m_vme5);
    return Succeed();
}

bool CDaqEngine::StartRun(uint32_t events)
{
    std::lock_guard request(m_requestLock);
    return DoStartRun(events);
}

bool CDaqEngine::DoStartRun(uint32_t events)
{
    // With a trigger delay of 0 the event read can start before ClearBusy
    // returns; the bus lock keeps it waiting until the run is set up.
    std::lock_guard bus(m_busLock);
    const uint32_t limit = m_settings.Get(CDaqSettings::MaxRunEvents);
    if (events > limit) {
        char text[128];
        std::snprintf(text, sizeof text, "StartRun:\r\n%u events exceed the limit of %u (MaxRunEvents)",
                      events, limit);
        return Fail(static_cast<int>(err::BadParam), text);
    }
    m_data.Reset(events);
    m_storeWords = 0;
    m_runEvents = events;
    m_eventCount = 0;
    m_readFailed = false;
    if (!m_pu.Clear())
        return FailModule("", m_pu);
    if (!m_delay.ClearBusy())
        return FailModule("", m_delay);
    return Succeed();
}

void CDaqEngine::Interrupt(void* context, int irqType, uint32_t)
{
    if (irqType == kTriggerIrq)
        static_cast<CDaqEngine*>(context)->ReadEvents();
}

void CDaqEngine::ReadEvents()
{
    std::lock_guard bus(m_busLock);
    if (m_eventCount >= m_runEvents || m_readFailed)
        return;
    if (!ReadOneEvent())
        m_readFailed = true;
    // WaitEvents wakes only when there is an outcome, not for every event.
    if (m_readFailed || m_eventCount >= m_runEvents)
        m_eventStored.notify_all();
}

// One event per interrupt: the next trigger comes with its own interrupt.
bool CDaqEngine::ReadOneEvent()
{
    auto fail = [this](const CVmeModule& module) {
        m_readStatus = module.Status();
        m_readError = module.ErrorText();
        return false;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReadyPollMs);
    bool ready = false;
    while (!ready) {
        if (!m_pu.RdRunState(ready))
            return fail(m_pu);
        if (!ready && std::chrono::steady_clock::now() >= deadline)
            return true;
    }
    uint16_t n = 0;
    if (!m_pu.RdEvCnt(n) || !m_pu.ReadAllFifo(n + 1u))
        return fail(m_pu);
    std::span<const uint32_t> ros;
    if (m_rosAnswered) {
        if (!m_ros.ReadFifo() || !m_ros.PartialReset())
            return fail(m_ros);
        ros = m_ros.Words();
    }
    const size_t words = 13 + ros.size() + m_pu.FifoWords().size();
    if (m_storeWords + words > kMaxStoreWords) {
        m_readStatus = static_cast<int>(err::NoMemory);
        m_readError = "ReadEvents:\r\nEvent store full";
        return false;
    }
    m_data.Store(ros, m_pu.FifoWords());
    m_storeWords += words;
    if (!m_pu.Clear())
        return fail(m_pu);
    if (++m_eventCount < m_runEvents && !m_delay.ClearBusy())
        return fail(m_delay);
    return true;
}

bool CDaqEngine::WaitEvents(std::vector<uint32_t>& words)
{
    std::lock_guard request(m_requestLock);
    return DoWaitEvents(words);
}

bool CDaqEngine::DoWaitEvents(std::vector<uint32_t>& words)
{
    std::unique_lock bus(m_busLock);
    const bool complete = m_eventStored.wait_for(bus, std::chrono::milliseconds(kWaitEventsMs), [this] {
        return m_eventCount >= m_runEvents || m_readFailed;
    });
    if (m_readFailed)
        return Fail(m_readStatus, m_readError);
    if (!complete)
        return Fail(kLoseTrigger, "Lose Trigger");
    words.clear();
    m_data.Serialise(words);
    return Succeed();
}

bool CDaqEngine::ReadReg(uint32_t board, uint32_t offset, uint16_t width, uint32_t& value)
{
    std::lock_guard request(m_requestLock);
    return RegisterAccess(Dir::Read, board, offset, width, value);
}

bool CDaqEngine::WriteReg(uint32_t board, uint32_t offset, uint16_t width, uint32_t value)
{
    std::lock_guard request(m_requestLock);
    return RegisterAccess(Dir::Write, board, offset, width, value);
}

bool CDaqEngine::RegisterAccess(Dir dir, uint32_t board, uint32_t offset, uint16_t width, uint32_t& value)
{
    const bool read = dir == Dir::Read;
    std::lock_guard bus(m_busLock);
    const bool wide = width == kWidth32;
    Registers target{};
    bool widthAllowed = true;
    switch (board) {
    case kTTCvi:
        target = m_ttcvi;
        break;
    case kPu:
        target = Registers{&m_vme5, m_pu.BaseAddress()};
        break;
    case kDelayFunctions:
        return DelayFunction(dir, offset, value);
    case kPatGen1:
        target = m_patGen1;
        widthAllowed = false;
        break;
    case kPatGen2:
        target = m_patGen2;
        widthAllowed = false;
        break;
    case kDelayRegisters:
        target = Registers{&m_vme5, m_delay.BaseAddress()};
        widthAllowed = false;
        break;
    case kRos:
        target = Registers{&m_vme5, m_ros.BaseAddress()};
        break;
    default:
        return Fail(kInvalidParam, read ? "ReadReg:\r\nInvalid Param" : "WriteReg:\r\nInvalid Param");
    }
    CVme& vme = *target.vme;
    const uint32_t address = target.base + offset;
    bool ok = false;
    if (wide && widthAllowed) {
        ok = read ? vme.Read32(address, value) : vme.Write32(address, value);
    } else {
        uint16_t half = static_cast<uint16_t>(value);
        ok = read ? vme.Read16(address, half) : vme.Write16(address, half);
        if (ok && read)
            value = half;
    }
    if (!ok)
        return FailVme(read ? "ReadReg():" : "WriteReg():", vme);
    return Succeed();
}

bool CDaqEngine::DelayFunction(Dir dir, uint32_t offset, uint32_t& value)
{
    const bool read = dir == Dir::Read;
    const char* label = read ? "ReadReg():" : "WriteReg():";
    if (offset == 0 || (read && offset == kInputOffset)) {
        if (read)
            value = 0;
        return Succeed();
    }
    bool ok = false;
    if (offset == kDelayOffset) {
        uint16_t delay = static_cast<uint16_t>(value);
        ok = read ? m_delay.RdDelay(delay) : m_delay.WrDelay(delay);
        if (ok && read)
            value = delay;
    } else if (offset == kInputOffset) {
        ok = m_delay.SelInput((value & kInputOffBit) == 0);
    } else {
        return Fail(kInvalidParam, read ? "ReadReg:\r\nInvalid Param" : "WriteReg:\r\nInvalid Param");
    }
    if (!ok)
        return FailModule(label, m_delay);
    return Succeed();
}

bool CDaqEngine::ExeCmd(const uint8_t* payload, size_t length, uint16_t id, std::vector<uint8_t>& reply,
                        std::string* errorText)
{
    std::lock_guard request(m_requestLock);
    Notify notify;
    void* context;
    {
        std::lock_guard lock(m_notifyLock);
        notify = m_notify;
        context = m_notifyContext;
    }
    if (notify)
        notify(context, 1, payload, length);

    const uint8_t* p = payload;
    size_t n = length;
    if (n >= 2 && p[0] == daqproto::kSequenceHeader) {
        p += 2;
        n -= 2;
    }
    // The payload goes in after a head that is filled in once its length is known.
    reply.assign(daqproto::kHeadSize, 0);
    bool ok = false;
    if (n == 0)
        ok = Fail(static_cast<int>(err::BadParam), "ExeCmd: Empty Command");
    else
        ok = Execute(p[0], p + 1, n - 1, reply);
    if (!ok) {
        reply.resize(daqproto::kHeadSize);
        reply.push_back(daqproto::kFailure);
    }
    daqproto::PutHead(reply.data(), id, static_cast<uint32_t>(reply.size()),
                      ok ? daqproto::kStatusOk : daqproto::kStatusFailed);
    if (notify)
        notify(context, 0, reply.data() + daqproto::kHeadSize, reply.size() - daqproto::kHeadSize);
    if (!ok) {
        if (errorText)
            *errorText = ErrorText();
        SetLastErr(kLoseTrigger);
    }
    return ok;
}

bool CDaqEngine::Execute(uint8_t command, const uint8_t* params, size_t length, std::vector<uint8_t>& payload)
{
    using namespace daqproto;
    static constexpr size_t kParamBytes[] = {0, 4, 10, 14};
    if (command < kWaitEvents || command > kWriteReg)
        return Fail(kInvalidParam, Text("ExeCmd: Invalid Command 0x%02X", command));
    if (length < kParamBytes[command - kWaitEvents])
        return Fail(static_cast<int>(err::BadParam), Text("ExeCmd: Short Command 0x%02X", command));

    payload.push_back(command);
    switch (command) {
    case kWaitEvents: {
        std::vector<uint32_t> words;
        if (!DoWaitEvents(words))
            return false;
        const size_t at = payload.size();
        payload.resize(at + 4 * words.size());
        uint8_t* out = payload.data() + at;
        for (uint32_t w : words) {
            *out++ = static_cast<uint8_t>(w);
            *out++ = static_cast<uint8_t>(w >> 8);
            *out++ = static_cast<uint8_t>(w >> 16);
            *out++ = static_cast<uint8_t>(w >> 24);
        }
        return true;
    }
    case kStartRun:
        if (!DoStartRun(GetBE32(params)))
            return false;
        payload.push_back(0);
        return true;
    case kReadReg: {
        uint32_t value = 0;
        if (!RegisterAccess(Dir::Read, GetBE32(params), GetBE32(params + 4), GetBE16(params + 8), value))
            return false;
        PutBE32(payload, value);
        return true;
    }
    default: {
        uint32_t value = GetBE32(params + 10);
        if (!RegisterAccess(Dir::Write, GetBE32(params), GetBE32(params + 4), GetBE16(params + 8), value))
            return false;
        PutBE32(payload, value);
        return true;
    }
    }
}
