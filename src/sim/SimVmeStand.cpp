#include "sim/SimVmeStand.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

namespace {
constexpr int kAccessRead = 1;
constexpr int kAccessWrite = 2;
}  // namespace

CSimVmeStand& CSimVmeStand::Global()
{
    static CSimVmeStand stand;
    return stand;
}

CSimVmeStand::CSimVmeStand() : m_worker([this] { TriggerLoop(); }) {}

CSimVmeStand::~CSimVmeStand()
{
    m_stop.Set();
    m_worker.join();
}

const char* CSimVmeStand::GenName(int unit, int logicalDevice, char* name, size_t size) const
{
    if (!name || unit < 0 || logicalDevice < 0)
        return nullptr;
    const int n = std::snprintf(name, size, "simvme%d.%d", unit, logicalDevice);
    return n > 0 && static_cast<size_t>(n) < size ? name : nullptr;
}

int CSimVmeStand::Open(void** handle, const char* name, int access)
{
    if (!handle || !name)
        return simvme::BadParam;
    *handle = nullptr;
    int unit = -1, logical = -1;
    char tail = 0;
    if (std::sscanf(name, "simvme%d.%d%c", &unit, &logical, &tail) != 2 || unit != 0 ||
        (logical != simvme::A16Device && logical != simvme::A24Device))
        return simvme::NoDevice;
    if (access < kAccessRead || access > (kAccessRead | kAccessWrite))
        return simvme::BadParam;
    auto device = std::make_unique<Device>(Device{logical, access, 0, 0, std::nullopt});
    std::lock_guard lock(m_mutex);
    *handle = device.get();
    m_devices.emplace(device.get(), std::move(device));
    return simvme::Ok;
}

CSimVmeStand::Device* CSimVmeStand::Find(void* handle) const
{
    auto it = m_devices.find(static_cast<Device*>(handle));
    return it == m_devices.end() ? nullptr : it->second.get();
}

void CSimVmeStand::WaitForDispatch(std::unique_lock<std::mutex>& lock)
{
    if (std::this_thread::get_id() != m_worker.get_id())
        m_dispatchDone.wait(lock, [this] { return !m_dispatching; });
}

int CSimVmeStand::Close(void* handle)
{
    std::unique_lock lock(m_mutex);
    Device* device = Find(handle);
    if (!device)
        return simvme::BadHandle;
    std::erase_if(m_callbacks, [device](const Icbr& c) { return c.device == device; });
    WaitForDispatch(lock);
    m_devices.erase(device);
    return simvme::Ok;
}

int CSimVmeStand::SetInfo(void* handle, int param, uint32_t value)
{
    std::lock_guard lock(m_mutex);
    Device* device = Find(handle);
    if (!device)
        return simvme::BadHandle;
    if (param == simvme::InfoDataWidth)
        device->dataWidth = value;
    else if (param == simvme::InfoSwap)
        device->swap = value;
    else
        return simvme::BadParam;
    return simvme::Ok;
}

int CSimVmeStand::GetInfo(void* handle, int param, uint32_t* value)
{
    std::lock_guard lock(m_mutex);
    Device* device = Find(handle);
    if (!device)
        return simvme::BadHandle;
    if (!value)
        return simvme::BadParam;
    if (param == simvme::InfoDataWidth)
        *value = device->dataWidth;
    else if (param == simvme::InfoSwap)
        *value = device->swap;
    else if (param == simvme::InfoResetDelay)
        *value = simvme::ResetDelayMs;
    else
        return simvme::BadParam;
    return simvme::Ok;
}

CSimVmeBoard* CSimVmeStand::BoardAt(int logicalDevice, uint32_t address)
{
    if (logicalDevice == simvme::A16Device) {
        for (CSimVmeBoard* b : {&m_patGen1, &m_patGen2})
            if (b->Contains(address))
                return b;
        return nullptr;
    }
    for (CSimVmeBoard* b : std::initializer_list<CSimVmeBoard*>{&m_pu, &m_delay, &m_ttcvi})
        if (b->Contains(address))
            return b;
    return m_rosPresent && m_ros.Contains(address) ? &m_ros : nullptr;
}

int CSimVmeStand::Transfer(void* handle, uint32_t address, size_t length, simvme::Access kind,
                         uint32_t& value)
{
    Device* device = Find(handle);
    if (!device)
        return simvme::BadHandle;
    const bool write = kind == simvme::Access::Write;
    if ((length != 2 && length != 4) || !(device->access & (write ? kAccessWrite : kAccessRead)))
        return simvme::BadParam;
    ++m_accesses;

    bool answered = false;
    auto fault = m_faults.find(Fault{device->logicalDevice, address});
    const bool injected =
        fault != m_faults.end() && (static_cast<int>(fault->second) & static_cast<int>(kind));
    if (!injected) {
        if (CSimVmeBoard* board = BoardAt(device->logicalDevice, address)) {
            if (write) {
                const bool wasArmed = m_delay.Armed();
                answered = board->Write(address, length, value);
                CheckArmed(wasArmed);
            } else {
                answered = board->Read(address, length, value);
            }
        }
    }
    if (!answered) {
        device->busErrorAddress = address;
        return simvme::BusError;
    }
    return simvme::Ok;
}

int CSimVmeStand::Read(void* handle, void* data, uint32_t address, size_t length, size_t* done)
{
    if (done)
        *done = 0;
    if (!data)
        return simvme::BadParam;
    std::lock_guard lock(m_mutex);
    uint32_t value = 0;
    const int status = Transfer(handle, address, length, simvme::Access::Read, value);
    if (status != simvme::Ok)
        return status;
    if (length == 2) {
        const uint16_t half = static_cast<uint16_t>(value);
        std::memcpy(data, &half, 2);
    } else {
        std::memcpy(data, &value, 4);
    }
    if (done)
        *done = length;
    return simvme::Ok;
}

int CSimVmeStand::Write(void* handle, const void* data, uint32_t address, size_t length,
                        size_t* done)
{
    if (done)
        *done = 0;
    if (!data)
        return simvme::BadParam;
    uint32_t value = 0;
    if (length == 2) {
        uint16_t half = 0;
        std::memcpy(&half, data, 2);
        value = half;
    } else if (length == 4) {
        std::memcpy(&value, data, 4);
    }
    std::lock_guard lock(m_mutex);
    const int status = Transfer(handle, address, length, simvme::Access::Write, value);
    if (status == simvme::Ok && done)
        *done = length;
    return status;
}

int CSimVmeStand::InstallIcbr(void* handle, int irqType, Callback callback, void* param)
{
    std::lock_guard lock(m_mutex);
    Device* device = Find(handle);
    if (!device)
        return simvme::BadHandle;
    if (!callback)
        return simvme::BadParam;
    m_callbacks.push_back(Icbr{device, irqType, callback, param});
    return simvme::Ok;
}

int CSimVmeStand::RemoveIcbr(void* handle, int irqType, Callback callback)
{
    std::unique_lock lock(m_mutex);
    Device* device = Find(handle);
    if (!device)
        return simvme::BadHandle;
    const auto removed = std::erase_if(m_callbacks, [&](const Icbr& c) {
        return c.device == device && c.irqType == irqType && c.callback == callback;
    });
    if (removed == 0)
        return simvme::BadParam;
    WaitForDispatch(lock);
    return simvme::Ok;
}

int CSimVmeStand::ResetBus(void* handle)
{
    std::lock_guard lock(m_mutex);
    if (!Find(handle))
        return simvme::BadHandle;
    ResetBoards();
    return simvme::Ok;
}

int CSimVmeStand::ClearError(void* handle)
{
    std::lock_guard lock(m_mutex);
    Device* device = Find(handle);
    if (!device)
        return simvme::BadHandle;
    device->busErrorAddress.reset();
    return simvme::Ok;
}

char* CSimVmeStand::StrError(void* handle, int status, const char* message, char* buffer,
                             size_t size)
{
    if (!buffer || size == 0)
        return nullptr;
    std::string text;
    switch (status) {
    case simvme::Ok:
        text = "Success";
        break;
    case simvme::BusError: {
        text = "VME bus error: no board answered";
        std::lock_guard lock(m_mutex);
        const Device* device = Find(handle);
        if (device && device->busErrorAddress) {
            char where[32];
            std::snprintf(where, sizeof where, " at address 0x%X", *device->busErrorAddress);
            text += where;
        }
        break;
    }
    case simvme::NoDevice:
        text = "No such VME adapter device";
        break;
    case simvme::BadHandle:
        text = "Invalid VME adapter handle";
        break;
    case simvme::BadParam:
        text = "Invalid parameter";
        break;
    default:
        text = "Unknown VME adapter status " + std::to_string(status);
        break;
    }
    if (message && *message)
        text = std::string(message) + ": " + text;
    std::snprintf(buffer, size, "%s", text.c_str());
    return buffer;
}

void CSimVmeStand::ResetBoards()
{
    for (CSimVmeBoard* b : std::initializer_list<CSimVmeBoard*>{&m_pu, &m_ros, &m_delay, &m_ttcvi,
                                                                &m_patGen1, &m_patGen2})
        b->Reset();
    m_armedAt.reset();
}

void CSimVmeStand::PowerUp()
{
    std::lock_guard lock(m_mutex);
    ResetBoards();
    m_triggerDelay = std::chrono::milliseconds(1);
    m_eventSize = 1;
    m_rosItems = 0;
    m_rosPresent = true;
    m_missTriggers = 0;
    m_missEvery = 0;
    m_armingsSinceMiss = 0;
    m_eventNumber = 0;
    m_faults.clear();
    m_triggers = 0;
    m_accesses = 0;
    m_wake.Set();
}

void CSimVmeStand::SetTriggerDelay(std::chrono::milliseconds delay)
{
    std::lock_guard lock(m_mutex);
    m_triggerDelay = std::max(delay, std::chrono::milliseconds(0));
    m_wake.Set();
}

void CSimVmeStand::SetEventSize(int records)
{
    std::lock_guard lock(m_mutex);
    m_eventSize = std::clamp(records, 1, 4096);
}

void CSimVmeStand::SetRosData(int itemsPerChannel)
{
    std::lock_guard lock(m_mutex);
    m_rosItems = std::max(itemsPerChannel, 0);
}

void CSimVmeStand::SetRosPresent(bool present)
{
    std::lock_guard lock(m_mutex);
    m_rosPresent = present;
}

void CSimVmeStand::MissTriggers(int count)
{
    std::lock_guard lock(m_mutex);
    m_missTriggers = std::max(count, 0);
}

void CSimVmeStand::MissEveryTrigger(int n)
{
    std::lock_guard lock(m_mutex);
    m_missEvery = std::max(n, 0);
    m_armingsSinceMiss = 0;
}

void CSimVmeStand::InjectBusError(int logicalDevice, uint32_t address, simvme::Access access)
{
    std::lock_guard lock(m_mutex);
    m_faults[Fault{logicalDevice, address}] = access;
}

void CSimVmeStand::ClearBusErrors()
{
    std::lock_guard lock(m_mutex);
    m_faults.clear();
}

void CSimVmeStand::LoadPuRecord(const CSimVmePu::Record& record)
{
    std::lock_guard lock(m_mutex);
    m_pu.AddRecord(record);
}

void CSimVmeStand::LoadRosWord(int channel, uint32_t word)
{
    std::lock_guard lock(m_mutex);
    m_ros.AddWord(channel, word);
}

size_t CSimVmeStand::PuFifoDepth() const
{
    std::lock_guard lock(m_mutex);
    return m_pu.FifoDepth();
}

size_t CSimVmeStand::OpenHandles() const
{
    std::lock_guard lock(m_mutex);
    return m_devices.size();
}

size_t CSimVmeStand::InstalledCallbacks() const
{
    std::lock_guard lock(m_mutex);
    return m_callbacks.size();
}

CSimVmePu::Record CSimVmeStand::EventRecord(uint32_t event, int record)
{
    CSimVmePu::Record r{};
    r[0] = static_cast<uint16_t>(event);
    r[1] = static_cast<uint16_t>(record);
    for (int j = 2; j < 8; ++j)
        r[j] = static_cast<uint16_t>(0xA000 | j << 8 | (record & 0xFF));
    return r;
}

uint32_t CSimVmeStand::RosWordA(uint32_t, int channel, int item)
{
    return static_cast<uint32_t>(channel) << 12 | (static_cast<uint32_t>(item) & 0xFFF);
}

uint32_t CSimVmeStand::RosWordB(uint32_t event, int, int) { return event & 0xFFFF; }

void CSimVmeStand::CheckArmed(bool wasArmed)
{
    const bool armed = m_delay.Armed();
    if (armed == wasArmed)
        return;
    if (armed)
        m_armedAt = std::chrono::steady_clock::now();
    else
        m_armedAt.reset();
    m_wake.Set();
}

void CSimVmeStand::TriggerLoop()
{
    std::unique_lock lock(m_mutex);
    while (!m_stop.IsSet()) {
        int timeoutMs = kInfinite;
        if (m_armedAt) {
            const auto due = *m_armedAt + m_triggerDelay;
            const auto now = std::chrono::steady_clock::now();
            if (now >= due) {
                Fire(lock);
                continue;
            }
            timeoutMs = static_cast<int>(
                std::chrono::ceil<std::chrono::milliseconds>(due - now).count());
        }
        lock.unlock();
        WaitForAny({CWaitItem::Of(m_stop), CWaitItem::Of(m_wake)}, timeoutMs);
        lock.lock();
    }
}

void CSimVmeStand::Fire(std::unique_lock<std::mutex>& lock)
{
    m_armedAt.reset();
    m_delay.SetBusy();
    if (m_missTriggers > 0) {
        --m_missTriggers;
        return;
    }
    if (m_missEvery > 0 && ++m_armingsSinceMiss == m_missEvery) {
        m_armingsSinceMiss = 0;
        return;
    }
    const uint32_t event = ++m_eventNumber;
    std::vector<CSimVmePu::Record> records;
    records.reserve(static_cast<size_t>(m_eventSize));
    for (int r = 0; r < m_eventSize; ++r)
        records.push_back(EventRecord(event, r));
    m_pu.AddEvent(records);
    if (m_rosPresent && m_ros.Initialised()) {
        for (int ch = 0; ch < CSimVmeRos::kChannels; ++ch)
            for (int i = 0; i < m_rosItems; ++i) {
                m_ros.AddWord(ch, RosWordA(event, ch, i));
                m_ros.AddWord(ch, RosWordB(event, ch, i));
            }
    }
    ++m_triggers;

    std::vector<Icbr> targets;
    for (const Icbr& c : m_callbacks)
        if (c.irqType == simvme::TriggerIrq)
            targets.push_back(c);
    const uint32_t vector = m_delay.Vector();
    m_dispatching = true;
    lock.unlock();
    for (const Icbr& c : targets)
        c.callback(c.param, simvme::TriggerIrq, vector);
    lock.lock();
    m_dispatching = false;
    m_dispatchDone.notify_all();
}
