#pragma once
// The DAQ engine: sets the stand's boards up through two VME devices, reads
// every triggered event on the adapter's interrupt callback into the event
// store, and executes the DAQ server's requests.
//
// Threads: every operation may be called from any thread. Operations are
// serialised by the request lock; WaitEvents holds it for at most 1000 ms.
// Every board access holds the bus lock, which is also the only lock the
// interrupt callback takes, so a run's start and the event read never
// interleave. Devices are closed without the bus lock, so that a running
// callback can end.

#include "daq/DaqData.h"
#include "daq/DaqSettings.h"
#include "daq/DelayBrd.h"
#include "daq/Pu.h"
#include "daq/Ros.h"
#include "daq/Vme.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

class CDaqEngine {
public:
    static constexpr int kA24Device = 5;
    static constexpr int kA16Device = 2;
    static constexpr uint32_t kLoseTrigger = 0x42A;
    static constexpr uint32_t kInvalidParam = 22;
    static constexpr int kWaitEventsMs = 1000;
    // An interrupt whose event is not ready by then is not a trigger.
    static constexpr int kReadyPollMs = 100;
    // The store's bound in words keeps a run's reply length within 32 bits.
    static constexpr size_t kMaxStoreWords = size_t{64} << 20;

    enum Board : uint32_t {
        kTTCvi = 0,
        kPu = 1,
        kDelayFunctions = 2,
        kPatGen1 = 10,
        kPatGen2 = 11,
        kDelayRegisters = 20,
        kRos = 30,
    };
    // Width value selecting a 4-byte access where a board allows it.
    static constexpr uint16_t kWidth32 = 0x20;

    // Called with (context, 1, payload, length) for each request and
    // (context, 0, payload, length) for each reply, on the caller's thread.
    using Notify = void (*)(void* context, int direction, const uint8_t* payload, size_t length);

    explicit CDaqEngine(const CDaqSettings& settings = CDaqSettings());
    ~CDaqEngine();
    CDaqEngine(const CDaqEngine&) = delete;
    CDaqEngine& operator=(const CDaqEngine&) = delete;

    // Base addresses and register values take effect at the next Init, the
    // run limit at the next StartRun.
    void SetSettings(const CDaqSettings& settings);
    CDaqSettings Settings() const;
    void SetNotify(Notify notify, void* context);

    // Opens both devices, resets the bus, sets up the boards and the
    // trigger interrupt. A ROS that fails its set-up only leaves R = 0.
    bool Init();
    // Disables the trigger interrupts and closes both devices.
    bool Stop();
    // Resets the VME bus through logical device 5.
    bool Reset();
    // Gives the store `events` empty slots and arms the trigger.
    bool StartRun(uint32_t events);
    // Waits up to 1000 ms for the run to complete, then serialises it.
    bool WaitEvents(std::vector<uint32_t>& words);
    bool ReadReg(uint32_t board, uint32_t offset, uint16_t width, uint32_t& value);
    bool WriteReg(uint32_t board, uint32_t offset, uint16_t width, uint32_t value);
    // Executes one request payload and builds the reply frame echoing id.
    // On failure the reply is the byte 0x02 with status 0xFFFFFFFF, the
    // request's error text goes to errorText and the last error is 0x42A.
    bool ExeCmd(const uint8_t* payload, size_t length, uint16_t id, std::vector<uint8_t>& reply,
                std::string* errorText = nullptr);

    bool IsOpen() const;
    bool RosAnswered() const { return m_rosAnswered.load(); }
    uint32_t EventCount() const { return m_eventCount.load(); }
    std::string ErrorText() const;
    int Status() const;

private:
    struct Registers {
        CVme* vme;
        uint32_t base;
    };
    enum class Dir { Read, Write };

    static void Interrupt(void* context, int irqType, uint32_t vector);
    void ReadEvents();
    bool ReadOneEvent();

    bool DoInit();
    void DoStop();
    bool DoStartRun(uint32_t events);
    bool DoWaitEvents(std::vector<uint32_t>& words);
    bool RegisterAccess(Dir dir, uint32_t board, uint32_t offset, uint16_t width, uint32_t& value);
    bool DelayFunction(Dir dir, uint32_t offset, uint32_t& value);
    // Appends the reply payload to `payload`.
    bool Execute(uint8_t command, const uint8_t* params, size_t length, std::vector<uint8_t>& payload);

    bool Succeed();
    bool Fail(int status, const std::string& text);
    bool FailModule(const std::string& label, const CVmeModule& module);
    bool FailVme(const std::string& label, const CVme& vme);

    std::mutex m_requestLock;
    // Guards the devices, the modules, the store and the run below.
    mutable std::mutex m_busLock;
    std::condition_variable m_eventStored;

    CVme m_vme5;
    CVme m_vme2;
    Registers m_patGen1{&m_vme2, 0};
    Registers m_patGen2{&m_vme2, 0};
    Registers m_ttcvi{&m_vme5, 0};
    CPu m_pu{m_vme5};
    CRos m_ros{m_vme5};
    CDelayBrd m_delay{m_vme5};
    CDaqSettings m_settings;
    uint32_t m_runEvents = 0;
    std::atomic<uint32_t> m_eventCount{0};
    CDaqData m_data;
    size_t m_storeWords = 0;
    std::atomic<bool> m_rosAnswered{false};
    // The event read's failure during the current run.
    bool m_readFailed = false;
    int m_readStatus = 0;
    std::string m_readError;

    mutable std::mutex m_errorLock;
    std::string m_errorText;
    int m_status = 0;

    mutable std::mutex m_notifyLock;
    Notify m_notify = nullptr;
    void* m_notifyContext = nullptr;
};
