#pragma once
// Register models of the boards in the simulated VME stand. A board answers
// 2- and 4-byte accesses inside its address window; any other access is a
// bus error (the access functions return false). The stand serialises all
// calls.

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

class CSimVmeBoard {
public:
    CSimVmeBoard(uint32_t base, uint32_t size) : m_base(base), m_size(size) {}
    virtual ~CSimVmeBoard() = default;

    bool Contains(uint32_t address) const { return address - m_base < m_size; }

    // address is absolute; false when the board does not answer.
    bool Read(uint32_t address, size_t length, uint32_t& value);
    bool Write(uint32_t address, size_t length, uint32_t value);
    // Back to the power-on state.
    virtual void Reset() = 0;

protected:
    // Offsets are even and inside the window; false is a bus error.
    virtual bool Read16(uint32_t offset, uint16_t& value) = 0;
    virtual bool Write16(uint32_t offset, uint16_t value) = 0;
    // The default splits a 4-byte access into two 16-bit registers, the high
    // half first, as a D16 board answers it.
    virtual bool Read32(uint32_t offset, uint32_t& value);
    virtual bool Write32(uint32_t offset, uint32_t value);

private:
    uint32_t m_base;
    uint32_t m_size;
};

// Plain 16-bit registers (TTCvi, pattern generators).
class CSimVmeMemoryBoard : public CSimVmeBoard {
public:
    CSimVmeMemoryBoard(uint32_t base, uint32_t size) : CSimVmeBoard(base, size), m_regs(size / 2) {}
    void Reset() override;

protected:
    bool Read16(uint32_t offset, uint16_t& value) override;
    bool Write16(uint32_t offset, uint16_t value) override;

private:
    std::vector<uint16_t> m_regs;
};

// The PU: event FIFO of records of eight 16-bit halves, read at 0x02..0x10
// (reading 0x10 moves to the next record), run state at 0x14, clear at 0x28,
// event counter at 0x2C; the other registers hold what was written.
class CSimVmePu : public CSimVmeBoard {
public:
    using Record = std::array<uint16_t, 8>;
    static constexpr size_t kFifoCapacity = 16384;

    explicit CSimVmePu(uint32_t base) : CSimVmeBoard(base, 0x40) {}
    void Reset() override;

    // Adds one event: its records go into the FIFO, the event counter's low
    // 12 bits take the record count minus one, and the run state shows ready.
    void AddEvent(const std::vector<Record>& records);
    void AddRecord(const Record& record);
    size_t FifoDepth() const { return m_fifo.size(); }

protected:
    bool Read16(uint32_t offset, uint16_t& value) override;
    bool Write16(uint32_t offset, uint16_t value) override;

private:
    std::array<uint16_t, 0x20> m_regs{};
    std::deque<Record> m_fifo;
    bool m_eventReady = false;
};

// The ROS: control at 0x00, status/setup at 0x04 and eight channel FIFOs at
// 0x40 + 4 x ch; an empty channel reads with bit 19 set. A D32 board: it
// answers 4-byte accesses only.
class CSimVmeRos : public CSimVmeBoard {
public:
    static constexpr int kChannels = 8;
    static constexpr uint32_t kEmpty = 1u << 19;
    static constexpr size_t kFifoCapacity = 4096;

    explicit CSimVmeRos(uint32_t base) : CSimVmeBoard(base, 0x60) {}
    void Reset() override;

    void AddWord(int channel, uint32_t word);
    bool Initialised() const { return m_initialised; }

protected:
    bool Read16(uint32_t, uint16_t&) override { return false; }
    bool Write16(uint32_t, uint16_t) override { return false; }
    bool Read32(uint32_t offset, uint32_t& value) override;
    bool Write32(uint32_t offset, uint32_t value) override;

private:
    void ClearFifos();

    uint32_t m_control = 0;
    uint32_t m_setup = 0;
    bool m_initialised = false;
    std::array<std::deque<uint32_t>, kChannels> m_fifos;
};

// The delay board: vector at 0x00, delay bits 0-7 at 0x02, control at 0x04
// (bits 0-3 delay bits 8-11, bit 4 busy clear on its rising edge, bit 6 delay
// enable, bit 7 input select) and interrupt enable at 0x06. It powers up
// busy: the trigger is armed only after a busy clear.
class CSimVmeDelayBoard : public CSimVmeBoard {
public:
    static constexpr uint16_t kBusyClear = 1u << 4;

    explicit CSimVmeDelayBoard(uint32_t base) : CSimVmeBoard(base, 0x08) {}
    void Reset() override;

    bool Armed() const { return !m_busy && m_regs[3] != 0; }
    void SetBusy() { m_busy = true; }
    uint8_t Vector() const { return static_cast<uint8_t>(m_regs[0]); }

protected:
    bool Read16(uint32_t offset, uint16_t& value) override;
    bool Write16(uint32_t offset, uint16_t value) override;

private:
    std::array<uint16_t, 4> m_regs{};
    bool m_busy = true;
};
