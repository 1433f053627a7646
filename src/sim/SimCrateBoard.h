#pragma once
// A simulated crate control board: memory, flash, FPGA flash, boot loader
// and firmware states, and the byte-coded command set the real boards
// answer. Front ends (crate server, primary and secondary bus) hand it the
// payloads they receive and send back what it answers.
//
// Firmware model: an image at base B (RAM 0, flash 0x80000) is present when
// the byte at B+0x200 is not erased (0xFF; in RAM 0x00 too), and its version
// is the big-endian word at B+0x204 (major << 16 | minor), or 1 when that
// word is erased. Script "sb" with 0x80200 starts the flash image, an empty
// text with 0x200 the RAM image; Reset makes the board answer "?" for the
// reset time, then the boot loader runs and starts the flash image by
// itself after the auto-start time unless a memory command stopped it.

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

enum class SimFault {
    LostReply,       // no answer at all
    LateReply,       // the answer comes after the late time
    BadCrc,          // serial: CRC bytes flipped; TCP: head start bytes corrupted
    Noise,           // serial: noise bytes before the frame
    StaleSequence,   // the answer carries another sequence number
    Busy,            // "?" instead of the answer
    DropConnection,  // TCP: the connection is closed instead of answering
    CorruptWrite,    // a memory or flash write stores its first byte inverted, and says it went well
    Count
};

// Fault counters: each names how many of the next answers are affected
// (-1: all of them, 0: none). Settable from any thread while running.
class CSimFaults {
public:
    void Set(SimFault fault, int count);
    int Get(SimFault fault) const;
    // True when this answer is affected (counts one down).
    bool Take(SimFault fault);
    void ClearAll();

    void SetLateMs(int ms) { m_lateMs = ms; }
    int LateMs() const { return m_lateMs; }
    void SetNoiseBytes(int n) { m_noiseBytes = n; }
    int NoiseBytes() const { return m_noiseBytes; }

private:
    std::array<std::atomic<int>, static_cast<size_t>(SimFault::Count)> m_counts{};
    std::atomic<int> m_lateMs{3000};
    std::atomic<int> m_noiseBytes{3};
};

struct SimTiming {
    int resetBusyMs = 2000;  // "?" answers after Reset
    int autoStartMs = 1000;  // boot loader's wait before starting the flash image
    int answerMs = 0;        // the board's time to carry out any command
};

class CSimBoard {
public:
    enum class State { BootLoader, FlashFirmware, RamFirmware };

    static constexpr uint32_t kRamEnd = 0x80000;
    static constexpr uint32_t kFlashBase = 0x80000;
    static constexpr uint32_t kFlashEnd = 0xC0000;
    static constexpr uint32_t kFpgaBase = 0xC00000;
    static constexpr uint32_t kFpgaEnd = 0x1000000;
    static constexpr uint32_t kFpgaFlashId = 0x373016;
    static constexpr uint32_t kFirmwareEntry = 0x200;
    static constexpr uint32_t kVersionOffset = 0x204;

    // A board whose flash holds an image of flashVersion (0: erased flash,
    // the board starts in the boot loader).
    CSimBoard(uint16_t ccbid, uint32_t flashVersion, SimTiming timing = {});

    using BridgeLookup = std::function<CSimBoard*(uint16_t ccbid)>;
    // Reaches the boards behind the bridge commands 0xDF and 0xDE.
    void SetBridge(BridgeLookup lookup);

    // Handles one command code before the built-in set (boards with more
    // duties, such as node controllers, add theirs). nullopt: no answer.
    using CommandHandler = std::function<std::optional<std::vector<uint8_t>>(CSimBoard&, std::span<const uint8_t>)>;
    void AddCommand(uint8_t code, CommandHandler handler);

    // The next `count` commands that begin with `prefix` get `reply`
    // instead of their own answer (-1: all of them), so that a test can
    // make one step of a sequence fail.
    void ReplaceAnswer(std::vector<uint8_t> prefix, std::vector<uint8_t> reply, int count = -1);

    struct Answer {
        std::vector<uint8_t> payload;
        int delayMs = 0;
    };
    // One payload from the wire (0xEC and sequence kept in the answer when
    // present); faults applied. nullopt: the board stays silent.
    std::optional<Answer> Serve(std::span<const uint8_t> payload);

    // One command without header, no faults. nullopt: no answer.
    std::optional<std::vector<uint8_t>> Execute(std::span<const uint8_t> command);

    uint16_t Ccbid() const { return m_ccbid; }
    CSimFaults& Faults() { return m_faults; }
    State GetState();
    uint32_t RunningVersion();
    bool FlashProtected();
    std::vector<uint8_t> Peek(uint32_t address, size_t length);
    void SetTiming(SimTiming timing);

private:
    using Clock = std::chrono::steady_clock;
    using Bytes = std::vector<uint8_t>;

    std::optional<Bytes> bridge(std::span<const uint8_t> command);
    Bytes executeLocked(std::span<const uint8_t> c);
    void advanceLocked();
    Bytes readMem(std::span<const uint8_t> c);
    Bytes writeMem(std::span<const uint8_t> c);
    Bytes writeFlash(std::span<const uint8_t> c);
    Bytes script(std::span<const uint8_t> c);
    Bytes status();
    Bytes fpga(std::span<const uint8_t> c);
    uint8_t* memory(uint32_t address, size_t length);
    bool imagePresent(uint32_t base);
    uint32_t imageVersion(uint32_t base);

    const uint16_t m_ccbid;
    CSimFaults m_faults;

    std::mutex m_lock;
    SimTiming m_timing;
    State m_state = State::BootLoader;
    // The status reply's uptime counts from here; a reset starts it again.
    Clock::time_point m_bootedAt;
    uint32_t m_bootCount = 1;
    uint32_t m_statusCount = 0;
    Clock::time_point m_busyUntil{};
    Clock::time_point m_autoStartAt{};
    bool m_autoStart = false;
    bool m_flashProtected = true;
    std::vector<uint8_t> m_ram;
    std::vector<uint8_t> m_flash;
    std::array<std::vector<uint8_t>, 2> m_fpgaFlash;
    std::array<bool, 2> m_fpgaOn{};
    int m_fpgaSelected = -1;
    std::map<uint8_t, bool> m_power;
    bool m_offLine = false;
    uint16_t m_bridgeDest = 0;
    BridgeLookup m_bridge;
    std::map<uint8_t, CommandHandler> m_extensions;
    struct Replacement {
        std::vector<uint8_t> prefix;
        std::vector<uint8_t> reply;
        int count;
    };
    std::vector<Replacement> m_replacements;
};
