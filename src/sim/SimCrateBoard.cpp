#include "sim/SimCrateBoard.h"

#include "sim/SimReplies.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// What a healthy board measures: its supplies (volts) and currents (amperes).
constexpr double kSupplies[8] = {5.02, 3.31, 2.51, 1.81, 1.20, 12.04, -12.03, 3.30};
constexpr double kCurrents[8] = {1.25, 2.10, 0.85, 0.40, 0.95, 0.12, 0.11, 0.30};
// board_state[] of the long status: slot i is powered as device
// kFirstBoardDevice + i (TRB6, TRB7); the other slots are empty.
constexpr int kBoardSlots = 4;
constexpr int kBoardsPresent = 2;
constexpr uint8_t kFirstBoardDevice = 0x13;

uint32_t be24(const uint8_t* p) { return (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2]; }

// Code 2 answers carry a zero-terminated text.
std::vector<uint8_t> textReply(const std::string& text)
{
    std::vector<uint8_t> r(text.size() + 2, 0);
    r[0] = 0x02;
    std::copy(text.begin(), text.end(), r.begin() + 1);
    return r;
}

std::vector<uint8_t> refused(const char* what, uint8_t code)
{
    char buf[80];
    std::snprintf(buf, sizeof buf, "%s 0x%02X", what, code);
    return textReply(buf);
}

// Array values as the encoding reads them: "a,b,c".
template <class Values, class Text>
std::string joined(const Values& values, Text text)
{
    std::string out;
    for (const auto& v : values) {
        if (!out.empty())
            out += ',';
        out += text(v);
    }
    return out;
}

std::string fixed(double value, int decimals)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
    return buf;
}

// A reading that wanders a little from second to second, as real ones do.
double wander(double nominal, uint32_t seconds, int channel, double step)
{
    const int offset = static_cast<int>((seconds * 7u + static_cast<uint32_t>(channel) * 3u) % 5u) - 2;
    return nominal + offset * step;
}

}  // namespace

void CSimFaults::Set(SimFault fault, int count) { m_counts[static_cast<size_t>(fault)] = count; }

int CSimFaults::Get(SimFault fault) const { return m_counts[static_cast<size_t>(fault)]; }

bool CSimFaults::Take(SimFault fault)
{
    auto& c = m_counts[static_cast<size_t>(fault)];
    int v = c.load();
    while (v != 0) {
        if (v < 0)
            return true;
        if (c.compare_exchange_weak(v, v - 1))
            return true;
    }
    return false;
}

void CSimFaults::ClearAll()
{
    for (auto& c : m_counts)
        c = 0;
}

CSimBoard::CSimBoard(uint16_t ccbid, uint32_t flashVersion, SimTiming timing)
    : m_ccbid(ccbid), m_timing(timing), m_bootedAt(Clock::now()), m_ram(kRamEnd, 0x00),
      m_flash(kFlashEnd - kFlashBase, 0xFF)
{
    if (flashVersion != 0) {
        uint8_t* entry = &m_flash[kFirmwareEntry];
        entry[0] = 0x4E;  // any non-erased opcode marks an image
        for (int i = 0; i < 4; ++i)
            m_flash[kVersionOffset + i] = static_cast<uint8_t>(flashVersion >> (24 - 8 * i));
        m_state = State::FlashFirmware;
    }
}

void CSimBoard::SetBridge(BridgeLookup lookup)
{
    std::lock_guard lock(m_lock);
    m_bridge = std::move(lookup);
}

void CSimBoard::AddCommand(uint8_t code, CommandHandler handler)
{
    std::lock_guard lock(m_lock);
    m_extensions[code] = std::move(handler);
}

void CSimBoard::ReplaceAnswer(std::vector<uint8_t> prefix, std::vector<uint8_t> reply, int count)
{
    std::lock_guard lock(m_lock);
    m_replacements.push_back({std::move(prefix), std::move(reply), count});
}

void CSimBoard::SetTiming(SimTiming timing)
{
    std::lock_guard lock(m_lock);
    m_timing = timing;
}

CSimBoard::State CSimBoard::GetState()
{
    std::lock_guard lock(m_lock);
    advanceLocked();
    return m_state;
}

uint32_t CSimBoard::RunningVersion()
{
    std::lock_guard lock(m_lock);
    advanceLocked();
    if (m_state == State::BootLoader)
        return 0;
    return imageVersion(m_state == State::RamFirmware ? 0 : kFlashBase);
}

bool CSimBoard::FlashProtected()
{
    std::lock_guard lock(m_lock);
    return m_flashProtected;
}

std::vector<uint8_t> CSimBoard::Peek(uint32_t address, size_t length)
{
    std::lock_guard lock(m_lock);
    const uint8_t* p = memory(address, length);
    return p ? std::vector<uint8_t>(p, p + length) : std::vector<uint8_t>{};
}

std::optional<CSimBoard::Answer> CSimBoard::Serve(std::span<const uint8_t> payload)
{
    // Frames starting 0xE8 are the host echoing an unsolicited frame back.
    if (payload.empty() || payload[0] == 0xE8)
        return std::nullopt;
    const bool header = payload.size() >= 2 && payload[0] == 0xEC;
    if (m_faults.Take(SimFault::LostReply))
        return std::nullopt;

    std::optional<Bytes> reply;
    if (m_faults.Take(SimFault::Busy))
        reply = Bytes{'?'};
    else
        reply = Execute(header ? payload.subspan(2) : payload);
    if (!reply)
        return std::nullopt;

    Answer a;
    if (header) {
        uint8_t seq = payload[1];
        if (m_faults.Take(SimFault::StaleSequence))
            seq = static_cast<uint8_t>(seq - 1);
        a.payload = {0xEC, seq};
    }
    a.payload.insert(a.payload.end(), reply->begin(), reply->end());
    {
        std::lock_guard lock(m_lock);
        a.delayMs = m_timing.answerMs;
    }
    if (m_faults.Take(SimFault::LateReply))
        a.delayMs += m_faults.LateMs();
    return a;
}

std::optional<std::vector<uint8_t>> CSimBoard::Execute(std::span<const uint8_t> command)
{
    if (command.empty())
        return textReply("Empty command");
    if (command[0] == 0xDE)
        return bridge(command);

    std::unique_lock lock(m_lock);
    advanceLocked();
    if (Clock::now() < m_busyUntil)
        return Bytes{'?'};
    for (auto& r : m_replacements) {
        if (r.count != 0 && command.size() >= r.prefix.size() &&
            std::equal(r.prefix.begin(), r.prefix.end(), command.begin())) {
            if (r.count > 0)
                --r.count;
            return r.reply;
        }
    }
    auto ext = m_extensions.find(command[0]);
    if (ext != m_extensions.end()) {
        CommandHandler handler = ext->second;
        lock.unlock();
        return handler(*this, command);
    }
    return executeLocked(command);
}

// The other board is served without this board's lock held, so two boards
// bridging to each other cannot deadlock.
std::optional<std::vector<uint8_t>> CSimBoard::bridge(std::span<const uint8_t> c)
{
    if (c.size() < 4)
        return refused("Bad length", c[0]);
    CSimBoard* target = nullptr;
    {
        std::lock_guard lock(m_lock);
        advanceLocked();
        if (Clock::now() < m_busyUntil)
            return Bytes{'?'};
        uint16_t dest = static_cast<uint16_t>((c[1] << 8) | c[2]);
        if (dest == 0)
            dest = m_bridgeDest;
        if (m_bridge && dest != m_ccbid)
            target = m_bridge(dest);
    }
    if (!target)
        return std::nullopt;
    return target->Execute(c.subspan(3));
}

void CSimBoard::advanceLocked()
{
    if (m_state == State::BootLoader && m_autoStart && Clock::now() >= m_autoStartAt) {
        m_autoStart = false;
        if (imagePresent(kFlashBase))
            m_state = State::FlashFirmware;
    }
}

uint8_t* CSimBoard::memory(uint32_t address, size_t length)
{
    const uint64_t end = uint64_t(address) + length;
    if (end <= kRamEnd)
        return &m_ram[address];
    if (address >= kFlashBase && end <= kFlashEnd)
        return &m_flash[address - kFlashBase];
    if (address >= kFpgaBase && end <= kFpgaEnd && m_fpgaSelected >= 0) {
        auto& f = m_fpgaFlash[static_cast<size_t>(m_fpgaSelected)];
        if (f.empty())
            f.assign(kFpgaEnd - kFpgaBase, 0xFF);
        return &f[address - kFpgaBase];
    }
    return nullptr;
}

bool CSimBoard::imagePresent(uint32_t base)
{
    uint8_t op = *memory(base + kFirmwareEntry, 1);
    return op != 0xFF && !(base == 0 && op == 0x00);
}

uint32_t CSimBoard::imageVersion(uint32_t base)
{
    const uint8_t* p = memory(base + kVersionOffset, 4);
    uint32_t v = (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
    return v == 0xFFFFFFFF || v == 0 ? 1 : v;
}

std::vector<uint8_t> CSimBoard::executeLocked(std::span<const uint8_t> c)
{
    const bool firmware = m_state != State::BootLoader;
    switch (c[0]) {
    case 0xEA:
        return status();
    case 0xF5:
        return readMem(c);
    case 0xFE:
        return writeMem(c);
    case 0xF3:
        return writeFlash(c);
    case 0xEE:
        return script(c);
    case 0xF8:
        m_busyUntil = Clock::now() + std::chrono::milliseconds(m_timing.resetBusyMs);
        m_bootedAt = m_busyUntil;
        ++m_bootCount;
        m_autoStartAt = m_busyUntil + std::chrono::milliseconds(m_timing.autoStartMs);
        m_autoStart = true;
        m_state = State::BootLoader;
        m_fpgaOn = {};
        m_fpgaSelected = -1;
        m_power.clear();
        m_offLine = false;
        m_flashProtected = true;
        return {0xFC, 0xF8};
    case 0xED:
        if (c.size() != 2)
            return refused("Bad length", c[0]);
        m_flashProtected = c[1] != 0;
        return {0xFC, 0xED};
    case 0xDF:
        if (c.size() != 3)
            return refused("Bad length", c[0]);
        m_bridgeDest = static_cast<uint16_t>((c[1] << 8) | c[2]);
        return {0xFC, 0xDF};
    case 0x2F: {
        if (!firmware)
            return refused("Not in boot loader", c[0]);
        if (c.size() != 3)
            return refused("Bad length", c[0]);
        bool& on = m_power[c[1]];
        uint8_t r = c[2] ? (on ? 3 : 1) : 0;
        on = c[2] != 0;
        return {0xFC, 0x2F, r};
    }
    case 0x0E:
        if (!firmware)
            return refused("Not in boot loader", c[0]);
        if (c.size() != 3 || c[1] != 0x04)
            return refused("Bad command", c[0]);
        m_offLine = c[2] != 0;
        return {0x0F, 0x04, 0x01};
    case 0xBF:
        if (!firmware)
            return refused("Not in boot loader", c[0]);
        return fpga(c);
    default:
        return refused("Unknown command", c[0]);
    }
}

std::vector<uint8_t> CSimBoard::readMem(std::span<const uint8_t> c)
{
    if (c.size() != 7)
        return refused("Bad length", c[0]);
    const uint32_t address = be24(&c[1]);
    const uint32_t length = be24(&c[4]);
    if (length == 0 || length > 240)
        return refused("Bad length", c[0]);
    const uint8_t* p = memory(address, length);
    if (!p)
        return refused("Bad address", c[0]);
    m_autoStart = false;  // any memory access stops the boot loader's auto-start
    Bytes r{0xF4, c[1], c[2], c[3]};
    r.insert(r.end(), p, p + length);
    return r;
}

std::vector<uint8_t> CSimBoard::writeMem(std::span<const uint8_t> c)
{
    if (c.size() < 5)
        return refused("Bad length", c[0]);
    const uint32_t address = be24(&c[1]);
    const size_t length = c.size() - 4;
    if (uint64_t(address) + length > kRamEnd)
        return refused("Bad address", c[0]);
    std::memcpy(&m_ram[address], &c[4], length);
    if (m_faults.Take(SimFault::CorruptWrite))
        m_ram[address] ^= 0xFF;
    m_autoStart = false;
    return {0xFC, 0xFE};
}

std::vector<uint8_t> CSimBoard::writeFlash(std::span<const uint8_t> c)
{
    if (c.size() < 4)
        return refused("Bad length", c[0]);
    const uint32_t address = be24(&c[1]);
    const size_t length = c.size() - 4;
    const uint64_t end = uint64_t(address) + length;
    uint8_t fault = 0;
    if (address >= kFlashBase && end <= kFlashEnd) {
        if (m_flashProtected)
            fault = 1;
    } else if (address >= kFpgaBase && end <= kFpgaEnd) {
        if (m_fpgaSelected < 0 || !m_fpgaOn[static_cast<size_t>(m_fpgaSelected)])
            fault = 3;
    } else {
        fault = 2;
    }
    if (fault == 0 && length > 0) {
        uint8_t* target = memory(address, length);
        std::memcpy(target, &c[4], length);
        if (m_faults.Take(SimFault::CorruptWrite))
            target[0] ^= 0xFF;
    }
    return {0xF2, fault};
}

std::vector<uint8_t> CSimBoard::script(std::span<const uint8_t> c)
{
    if (c.size() < 5 || c.back() != 0)
        return refused("Bad length", c[0]);
    const uint32_t value = be24(&c[1]);
    const std::string text(reinterpret_cast<const char*>(&c[4]), c.size() - 5);
    bool started = false;
    if (text == "sb" && value == kFlashBase + kFirmwareEntry && imagePresent(kFlashBase)) {
        m_state = State::FlashFirmware;
        started = true;
    } else if (text.empty() && value == kFirmwareEntry && imagePresent(0)) {
        m_state = State::RamFirmware;
        started = true;
    }
    if (started)
        m_autoStart = false;
    return {0xEE, static_cast<uint8_t>(started ? 1 : 0)};
}

std::vector<uint8_t> CSimBoard::status()
{
    const auto now = Clock::now();
    const auto up = now > m_bootedAt ? std::chrono::duration_cast<std::chrono::seconds>(now - m_bootedAt).count() : 0;
    const auto seconds = static_cast<uint32_t>(up);
    int channel = 0;
    const std::string supplies = joined(kSupplies, [&](double v) { return fixed(wander(v, seconds, channel++, 0.01), 3); });
    char serial[16];
    std::snprintf(serial, sizeof serial, "CB-%04u", m_ccbid);
    const std::string serialBytes = joined(std::string(serial, 8), [](char c) { return std::to_string(uint8_t(c)); });
    if (m_state == State::BootLoader) {
        return CSimReplies::Build(0xE9, {{"run_mode", "BOOT"},
                                         {"ccb_id", std::to_string(m_ccbid)},
                                         {"fw_major", "1"},
                                         {"boot_state", "PRESENT"},
                                         {"uptime", std::to_string(seconds)},
                                         {"flash_id", "0x373016"},
                                         {"supply", supplies}});
    }
    const uint32_t v = imageVersion(m_state == State::RamFirmware ? 0 : kFlashBase);
    bool anyPower = false;
    for (const auto& [device, on] : m_power)
        anyPower = anyPower || on;
    std::string states;
    for (int slot = 0; slot < kBoardSlots; ++slot) {
        const auto power = m_power.find(static_cast<uint8_t>(kFirstBoardDevice + slot));
        const bool powered = power != m_power.end() && power->second;
        states += std::string(slot ? "," : "") + (powered ? "POWERED" : slot < kBoardsPresent ? "PRESENT" : "ABSENT");
    }
    std::string boardTemperatures;
    for (int sensor = 0; sensor < 8; ++sensor)
        boardTemperatures += std::string(sensor ? "," : "") + fixed(wander(34.0 + sensor * 0.5, seconds, sensor, 0.1), 1);
    channel = 0;
    const std::string currents = joined(kCurrents, [&](double a) { return fixed(wander(a, seconds, channel++, 0.01), 3); });
    std::string temperatures;
    for (int sensor = 0; sensor < 7; ++sensor)
        temperatures += std::string(sensor ? "," : "") + fixed(wander(31.5 + sensor, seconds, sensor, 0.1), 1);
    ++m_statusCount;
    // The run mode says where the firmware runs from: flash or RAM.
    return CSimReplies::Build(0x13, {{"ccb_id", std::to_string(m_ccbid)},
                                     {"fw_major", std::to_string(v >> 16)},
                                     {"fw_minor", std::to_string(v & 0xFFFF)},
                                     {"fw_flags", "0x0001"},
                                     {"run_mode", m_state == State::RamFirmware ? "MAINTENANCE" : "APPLICATION"},
                                     {"power_on", anyPower ? "1" : "0"},
                                     {"jtag_on", m_fpgaOn[0] || m_fpgaOn[1] ? "1" : "0"},
                                     {"offline", m_offLine ? "1" : "0"},
                                     {"serial", serialBytes},
                                     {"uptime", std::to_string(seconds)},
                                     {"flash_id", "0x373016"},
                                     {"boot_count", std::to_string(m_bootCount)},
                                     {"counters", std::to_string(m_statusCount)},
                                     {"supply", supplies},
                                     {"current", currents},
                                     {"temperature", temperatures},
                                     {"dac", "2048,2048,1024,1024,512,512"},
                                     {"reference", "2.5"},
                                     {"board_state", states},
                                     {"board_temperature", boardTemperatures},
                                     {"sequence", std::to_string(m_statusCount & 0xFFFF)}});
}

std::vector<uint8_t> CSimBoard::fpga(std::span<const uint8_t> c)
{
    if (c.size() < 3)
        return refused("Bad length", c[0]);
    const uint8_t op = c[1];
    const uint8_t board = c[2];
    const bool known = board < m_fpgaOn.size();
    auto st = [&](uint16_t s) { return Bytes{0xBE, op, static_cast<uint8_t>(s >> 8), static_cast<uint8_t>(s)}; };
    switch (op) {
    case 0x0A:
        if (c.size() != 4)
            return refused("Bad length", c[0]);
        if (!known)
            return st(1);
        m_fpgaOn[board] = c[3] != 0;
        return st(0);
    case 0x61: {
        if (c.size() != 3)
            return refused("Bad length", c[0]);
        const bool on = known && m_fpgaOn[board];
        Bytes r = st(on ? 0 : 2);
        const uint32_t id = on ? kFpgaFlashId : 0;
        for (int shift = 24; shift >= 0; shift -= 8)
            r.push_back(static_cast<uint8_t>(id >> shift));
        return r;
    }
    case 0x63:
        if (c.size() != 3)
            return refused("Bad length", c[0]);
        if (!known)
            return st(1);
        m_fpgaSelected = board;
        return st(0);
    case 0x65:
        if (c.size() != 4)
            return refused("Bad length", c[0]);
        return st(known ? 0 : 1);
    default:
        return refused("Unknown command", c[0]);
    }
}
