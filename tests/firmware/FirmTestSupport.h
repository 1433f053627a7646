#pragma once
// What the update engine tests share: a captured log, a host with fixed
// answers, flash images for the simulated boards, short waits.

#include "HexFileTestUtil.h"
#include "firmware/FirmSettings.h"
#include "links/PortMC_All.h"
#include "sim/SimSystem.h"
#include "support/CapturedOut.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

// Application values from a map; the folder question answered by `folder`
// (empty: Cancel), counted.
class CFixedHost : public CFirmHost {
public:
    std::string AppValue(const char* key, const std::string& fallback) override
    {
        std::lock_guard lock(m_lock);
        auto it = values.find(key);
        return it == values.end() ? fallback : it->second;
    }
    void SetAppValue(const char* key, const std::string& value) override
    {
        std::lock_guard lock(m_lock);
        values[key] = value;
    }
    bool AskFolder(const std::string& message, const std::string&, CEvent&, std::string& chosen) override
    {
        std::lock_guard lock(m_lock);
        questions.push_back(message);
        chosen = folder;
        return !folder.empty();
    }
    std::string Value(const char* key)
    {
        std::lock_guard lock(m_lock);
        return values[key];
    }

    std::map<std::string, std::string> values;
    std::string folder;
    std::vector<std::string> questions;

private:
    std::mutex m_lock;
};

// Waits so short that a whole test takes well under a second.
inline FirmTiming QuickTiming()
{
    FirmTiming t;
    t.busyWaitMs = 100;
    t.statusBudgetMs = 300;
    t.scriptWaitMs = 100;
    t.resetWaitMs = 100;
    t.lingerMs = 10;
    t.openWaitMs = 5000;
    t.replies = {1000, 1000};
    return t;
}

// Boards leave the busy time after a reset quickly but stay in the boot
// loader longer than any wait of QuickTiming.
inline SimTiming QuickBoards() { return SimTiming{30, 1000, 0}; }

// A flash image of `size` bytes at 0x80000 carrying `version` the way the
// simulated boards read it (entry opcode at +0x200, version at +0x204).
inline Bytes FlashBytes(size_t size, uint32_t version, uint8_t seed = 0)
{
    Bytes b(size);
    for (size_t i = 0; i < size; ++i)
        b[i] = static_cast<uint8_t>((i * 7 + seed) % 251);  // never the erased 0xFF
    if (size >= 0x208) {
        b[0x200] = 0x4E;
        for (int i = 0; i < 4; ++i)
            b[0x204 + i] = static_cast<uint8_t>(version >> (24 - 8 * i));
    }
    return b;
}

// S2 records of bytes placed at address, 32 data bytes a record.
inline std::string SRecordText(uint32_t address, const Bytes& bytes)
{
    std::string text = SRecord('0', 0, {'t', 'e', 's', 't'}, 2);
    for (size_t at = 0; at < bytes.size(); at += 32) {
        const size_t n = std::min<size_t>(32, bytes.size() - at);
        text += S2(address + static_cast<uint32_t>(at), Bytes(bytes.begin() + at, bytes.begin() + at + n));
    }
    return text + SRecord('9', 0, {}, 2);
}

inline void WriteFile(const std::string& path, const std::string& content)
{
    std::ofstream(path, std::ios::binary) << content;
}

// The RAM mini firmware of the simulated boards: an entry at 0x200 and no
// version word (it reports version 1).
inline std::string MiniFirmwareText()
{
    Bytes ram(0x300, 0x00);
    ram[0x200] = 0x4E;
    ram[0x201] = 0x71;
    return SRecordText(0, ram);
}

// A link template reaching the simulator's crate server.
inline void TcpTemplate(CPortMC_All& link, uint16_t port)
{
    link.SetPropertyById(CPortMC_All::kIOType, CVariant::FromInt(CPortMC_All::kTcp));
    link.SetProperty("Host", CVariant::FromString("127.0.0.1"));
    link.SetProperty("Port", CVariant::FromUInt16(port));
}

// Polls until done() holds or ms have passed.
inline bool WaitFor(const std::function<bool()>& done, int ms)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}
