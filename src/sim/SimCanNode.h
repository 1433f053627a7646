#pragma once
// The simulated CAN nodes of a crate: ten secondary boards, numbered 0 to
// 9, that answer the monitor sub-commands and the firmware messages. Each
// keeps settable readings and a flash written in 64-byte pages.
//
// A message is (identifier byte B, data); B is 0 for the monitor
// sub-commands (data byte 0 the sub-command, byte 1 its argument), 0x1E
// set address, 0x1F data, 0x1D read request. Answers are frames of type 3
// (monitor replies), 0x1E (the address of a read) and 0x1F (read data).
//
// Firmware model: reset (sub-command 04) puts the node in its loader. The
// loader starts the application by itself after the loader time unless a
// firmware message arrives first; then it stays until the address
// 0xFFFFFFFF unlocks it. Only the loader takes firmware messages, and it
// answers no monitor sub-command. A page is programmed (erased, then
// written) when its last byte is written, on a new address, on a read
// and on unlock, so bytes of a page left unwritten read back as 0xFF.

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

enum class SimCanFault {
    // Node faults, on answers a node sends.
    LostReply,     // the answer never comes
    LateReply,     // the answer comes after the late time
    ForeignReply,  // the answer looks as if another node sent it: wrong node, length and frame type
    WriteError,    // delivering the message fails: the gateway answers a write error, the controller FC C5 07
    FlashWriteError,  // as WriteError, for firmware data messages only
    WrongReadAddress, // a flash read reports an address one page off
    CorruptReadData,  // a flash read hands back its first data byte inverted
    // Gateway faults.
    RefuseConfig,     // the set-up answer refuses its third record
    ConfigKind,       // the set-up answer comes as kind 0
    BadMagic,         // the next answer head carries a wrong magic
    TooManyRecords,   // the next answer head announces 65 records (and nothing follows)
    EmptyMessage,     // a message of 0 records goes ahead of the next answer
    CloseMidMessage,  // the next answer is cut off after its head and 5 bytes, then the connection closes
    Count
};

// How many of the next occasions each fault affects (-1: all, 0: none).
class CSimCanFaults {
public:
    void Set(SimCanFault fault, int count) { m_counts[index(fault)] = count; }
    int Get(SimCanFault fault) const { return m_counts[index(fault)]; }
    // True when this occasion is affected (counts one down).
    bool Take(SimCanFault fault);
    void ClearAll();
    void SetLateMs(int ms) { m_lateMs = ms; }
    int LateMs() const { return m_lateMs; }

private:
    static size_t index(SimCanFault f) { return static_cast<size_t>(f); }
    std::array<std::atomic<int>, static_cast<size_t>(SimCanFault::Count)> m_counts{};
    std::atomic<int> m_lateMs{3000};
};

struct SimCanFrame {
    uint8_t node = 0;
    uint8_t type = 0;
    std::vector<uint8_t> data;  // at most 8 bytes
};

struct SimCanAnswer {
    std::vector<SimCanFrame> frames;
    int delayMs = 0;
    bool lost = false;     // a node fault swallowed the frames
    bool foreign = false;  // a node fault altered them
    bool writeError = false;
};

// The error state as the monitor shows it; the node packs it into the
// 8 bytes of its 01 reply by its kind (nodes 0 and 9 differ from 1 to 8).
struct SimCanErrorState {
    uint8_t txCount = 0;   // "TX Can ErrCnt"
    uint8_t rxCount = 0;   // "RX Can ErrCnt"
    uint8_t canCode = 0;   // "Can Err Code"
    uint8_t rsCode = 0;    // "Rs Err Code"
    uint16_t ackTime = 0;  // "Ack Time", a multiple of 5 (nodes 1 to 8)
    uint16_t ackTime1 = 0; // "Ack Time1", a multiple of 5 (nodes 1 to 8)
    uint8_t flags = 0;     // nodes 0 and 9
};

struct SimCanReadings {
    std::array<uint8_t, 8> error{};      // the raw 01 reply
    std::vector<uint8_t> canCounters;    // 02 blocks
    std::vector<uint8_t> rsCounters;     // 0B blocks
    std::array<uint16_t, 8> adc{};       // 13 by channel
    uint16_t destination = 0;            // 06
    uint8_t threshold = 0;               // 17: byte 0
    uint16_t laser = 0;                  // 17: bytes 1 and 2
    std::array<uint8_t, 3> latchUp{};    // 15
    uint8_t major = 0, minor = 0;        // 16
    std::vector<float> temperatures;     // 10 by sensor
    std::vector<uint8_t> histogram;      // 14: 256 bins, empty for nodes without one
};

class CSimCanNode {
public:
    static constexpr uint32_t kFlashSize = 0x40000;
    static constexpr uint32_t kPageSize = 64;
    static constexpr uint32_t kUnlockAddress = 0xFFFFFFFF;

    // A node with plausible readings for its number.
    explicit CSimCanNode(uint8_t number);

    uint8_t Number() const { return m_number; }
    CSimCanFaults& Faults() { return m_faults; }

    // Handles one message; node faults applied to the answer.
    SimCanAnswer Handle(uint8_t identifierB, std::span<const uint8_t> data);

    SimCanReadings Readings();
    void SetReadings(const SimCanReadings& readings);
    void SetErrorState(const SimCanErrorState& state);
    void SetVersion(uint8_t major, uint8_t minor);
    void SetCounters(std::vector<uint8_t> can, std::vector<uint8_t> rs);
    // The old 02 form answered by nodes 0 and 9 with old firmware.
    bool OldCounterForm();

    // Histogram bins 8 * block onwards (at most 8), cleared after reading
    // when asked; what sub-command 14 answers, without faults.
    std::vector<uint8_t> HistogramBlock(uint8_t block, bool clear);

    bool InLoader();
    void SetLoaderMs(int ms);
    std::vector<uint8_t> Flash(uint32_t address, size_t length);
    // Messages received so far.
    int MessageCount() const { return m_messages; }

private:
    using Clock = std::chrono::steady_clock;
    using Bytes = std::vector<uint8_t>;

    std::vector<SimCanFrame> monitorLocked(std::span<const uint8_t> d);
    std::vector<SimCanFrame> firmwareLocked(uint8_t b, std::span<const uint8_t> d);
    std::vector<SimCanFrame> blocksLocked(const Bytes& source, uint8_t index);
    std::vector<uint8_t> histogramBlockLocked(uint8_t block, bool clear);
    void advanceLocked();
    bool OldCounterFormLocked() const;
    void commitPageLocked();
    SimCanFrame frame(uint8_t type, Bytes data) const { return SimCanFrame{m_number, type, std::move(data)}; }

    const uint8_t m_number;
    CSimCanFaults m_faults;
    std::atomic<int> m_messages{0};

    std::mutex m_lock;
    SimCanReadings m_readings;
    bool m_loader = false;
    bool m_loaderHeld = false;  // a firmware message arrived: no auto-start
    Clock::time_point m_loaderUntil{};
    int m_loaderMs = 1500;
    Bytes m_flash;
    uint32_t m_address = 0;
    Bytes m_page;               // the page being written, empty when none
    uint32_t m_pageBase = 0;
};

// The ten nodes of one crate's CAN bus.
class CSimCanNodes {
public:
    static constexpr int kCount = 10;
    CSimCanNodes();
    // Null for a number without a node.
    CSimCanNode* Node(int number);

private:
    std::array<std::unique_ptr<CSimCanNode>, kCount> m_nodes;
};
