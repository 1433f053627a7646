#pragma once
// The simulated VME stand: the boards of a DAQ test stand behind a simulated
// adapter driver. Logical device 5 reaches the 24-bit address space (PU,
// ROS, delay board, TTCvi), logical device 2 the 16-bit one (pattern
// generators). A trigger source raises interrupt type 3 on the stand's
// callback thread once the delay board is armed. Trigger delay, event size,
// ROS data, missed triggers and bus errors are settable for tests.
//
// The driver calls mirror the adapter library's (handles, status codes, a
// text for every status); all of them are thread-safe.

#include "base/Event.h"
#include "sim/SimVmeBoards.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace simvme {
// Status codes of the simulated driver.
enum : int {
    Ok = 0,
    BusError = 1,
    NoDevice = 2,
    BadHandle = 3,
    BadParam = 4,
};

enum : int {
    A16Device = 2,
    A24Device = 5,
};

constexpr uint32_t PuBase = 0xA0000;
constexpr uint32_t RosBase = 0xA00000;
constexpr uint32_t DelayBase = 0xE00000;
constexpr uint32_t TtcviBase = 0xFF1000;
constexpr uint32_t PatGen1Base = 0xF800;
constexpr uint32_t PatGen2Base = 0xF900;

constexpr int InfoDataWidth = 3;
constexpr int InfoSwap = 7;
constexpr int InfoResetDelay = 12;
constexpr int TriggerIrq = 3;
constexpr uint32_t ResetDelayMs = 10;

enum class Access { Read = 1, Write = 2, Both = 3 };
}  // namespace simvme

class CSimVmeStand {
public:
    using Callback = void (*)(void* param, int irqType, uint32_t vector);

    // The stand behind the built-in driver table.
    static CSimVmeStand& Global();

    CSimVmeStand();
    ~CSimVmeStand();
    CSimVmeStand(const CSimVmeStand&) = delete;
    CSimVmeStand& operator=(const CSimVmeStand&) = delete;

    // Driver calls.
    const char* GenName(int unit, int logicalDevice, char* name, size_t size) const;
    int Open(void** handle, const char* name, int access);
    int Close(void* handle);
    int SetInfo(void* handle, int param, uint32_t value);
    int GetInfo(void* handle, int param, uint32_t* value);
    int Read(void* handle, void* data, uint32_t address, size_t length, size_t* done);
    int Write(void* handle, const void* data, uint32_t address, size_t length, size_t* done);
    // Once Remove returns, the callback is not running and will not run
    // again (unless it is the callback thread itself that removes it).
    int InstallIcbr(void* handle, int irqType, Callback callback, void* param);
    int RemoveIcbr(void* handle, int irqType, Callback callback);
    int ResetBus(void* handle);
    int ClearError(void* handle);
    char* StrError(void* handle, int status, const char* message, char* buffer, size_t size);

    // Stand controls. PowerUp puts every board and setting back to its
    // power-on state and clears injected faults (open handles stay).
    void PowerUp();
    void SetTriggerDelay(std::chrono::milliseconds delay);
    // PU FIFO records per event (1 to 4096).
    void SetEventSize(int records);
    // ROS data items (two FIFO words each) per channel and event; 0: none.
    void SetRosData(int itemsPerChannel);
    // Without a ROS every access to its window is a bus error.
    void SetRosPresent(bool present);
    // The next count armings of the trigger never fire.
    void MissTriggers(int count);
    // Every n-th arming from now on never fires (0: none).
    void MissEveryTrigger(int n);
    void InjectBusError(int logicalDevice, uint32_t address, simvme::Access access);
    void ClearBusErrors();

    // Direct loading of board FIFOs, for tests that need exact contents.
    void LoadPuRecord(const CSimVmePu::Record& record);
    void LoadRosWord(int channel, uint32_t word);

    uint64_t TriggerCount() const { return m_triggers.load(); }
    uint64_t AccessCount() const { return m_accesses.load(); }
    size_t PuFifoDepth() const;
    size_t OpenHandles() const;
    size_t InstalledCallbacks() const;

    // The content the stand gives record r of event e: half 0 the event
    // number's low 16 bits, half 1 the record index, half j >= 2
    // 0xA000 | j << 8 | (r & 0xFF).
    static CSimVmePu::Record EventRecord(uint32_t event, int record);
    // ROS item i of channel ch in event e, as its two FIFO words.
    static uint32_t RosWordA(uint32_t event, int channel, int item);
    static uint32_t RosWordB(uint32_t event, int channel, int item);

private:
    struct Device {
        int logicalDevice;
        int access;
        uint32_t dataWidth = 0;
        uint32_t swap = 0;
        std::optional<uint32_t> busErrorAddress;
    };
    struct Icbr {
        Device* device;
        int irqType;
        Callback callback;
        void* param;
    };
    struct Fault {
        int logicalDevice;
        uint32_t address;
        bool operator<(const Fault& o) const
        {
            return logicalDevice != o.logicalDevice ? logicalDevice < o.logicalDevice
                                                    : address < o.address;
        }
    };

    Device* Find(void* handle) const;
    CSimVmeBoard* BoardAt(int logicalDevice, uint32_t address);
    int Transfer(void* handle, uint32_t address, size_t length, simvme::Access kind,
               uint32_t& value);
    void ResetBoards();
    void WaitForDispatch(std::unique_lock<std::mutex>& lock);
    // Notes a change of the delay board's armed state.
    void CheckArmed(bool wasArmed);
    void TriggerLoop();
    void Fire(std::unique_lock<std::mutex>& lock);

    mutable std::mutex m_mutex;
    std::condition_variable m_dispatchDone;
    bool m_dispatching = false;

    CSimVmePu m_pu{simvme::PuBase};
    CSimVmeRos m_ros{simvme::RosBase};
    CSimVmeDelayBoard m_delay{simvme::DelayBase};
    CSimVmeMemoryBoard m_ttcvi{simvme::TtcviBase, 0x100};
    CSimVmeMemoryBoard m_patGen1{simvme::PatGen1Base, 0x100};
    CSimVmeMemoryBoard m_patGen2{simvme::PatGen2Base, 0x100};

    std::map<Device*, std::unique_ptr<Device>> m_devices;
    std::vector<Icbr> m_callbacks;
    std::map<Fault, simvme::Access> m_faults;

    std::chrono::milliseconds m_triggerDelay{1};
    int m_eventSize = 1;
    int m_rosItems = 0;
    bool m_rosPresent = true;
    int m_missTriggers = 0;
    int m_missEvery = 0;
    int m_armingsSinceMiss = 0;
    uint32_t m_eventNumber = 0;
    std::optional<std::chrono::steady_clock::time_point> m_armedAt;
    std::atomic<uint64_t> m_triggers{0};
    std::atomic<uint64_t> m_accesses{0};

    CEvent m_stop{true};
    CEvent m_wake{false};
    std::thread m_worker;
};
