#pragma once
// The crate buses on a pseudo-terminal: the link under test opens the
// slave path like a serial device, the simulator serves the master side.
// The primary bus reaches one board (and others through its bridge); the
// secondary bus reaches several boards, each chosen by an address frame.

#include "base/Event.h"
#include "sim/SimCrateBoard.h"

#include <functional>
#include <mutex>
#include <string>
#include <thread>

class CSimBus {
public:
    using Lookup = std::function<CSimBoard*(uint16_t address)>;

    // Primary bus: every data frame goes to `board`.
    explicit CSimBus(CSimBoard* board);
    // Secondary bus: address frames select a board through `lookup`.
    explicit CSimBus(Lookup lookup);
    ~CSimBus();
    CSimBus(const CSimBus&) = delete;
    CSimBus& operator=(const CSimBus&) = delete;

    // Opens the pseudo-terminal and starts serving; false with the last error.
    bool Start();
    void Stop();
    // The device path the link opens.
    const std::string& Path() const { return m_path; }

    // Sends one frame unasked, as a board does with its 0xE8 frames.
    bool Emit(std::span<const uint8_t> payload);
    // The board the last address frame selected (secondary bus).
    uint16_t SelectedAddress() const;
    // Address frames seen so far (secondary bus).
    int Selections() const;

private:
    void run();
    void serve(const std::vector<uint8_t>& payload);
    bool writeFrame(const std::vector<uint8_t>& frame);

    CSimBoard* m_board = nullptr;
    Lookup m_lookup;
    int m_master = -1;
    int m_slave = -1;
    std::string m_path;
    std::thread m_thread;
    CEvent m_stop{true, false};
    std::mutex m_writeLock;
    mutable std::mutex m_stateLock;
    CSimBoard* m_selected = nullptr;
    uint16_t m_selectedAddress = 0;
    int m_selections = 0;
};
