#pragma once
// The node firmware update: an Intel HEX image, filled to whole 64-byte
// pages, written to one CAN node page by page (each announced by its
// address where it does not follow the previous one), optionally read back
// and compared, then the node unlocked. Every step prints its line.
//
// Threads: runs on the caller's thread; holds the channel's link lock from
// learning the connection node to the unlock, so that no read pass talks
// to the node while it sits in its loader. The abort event (may be null)
// ends the wait after the reset and the run at the next chunk.

#include "base/Event.h"
#include "base/StdOut.h"
#include "nodes/NodeChannel.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>

class CHexImage;

struct NodeFlashJob {
    std::string file;
    int node = -1;  // -1: none chosen
    bool verify = false;
};

class CNodeFlash {
public:
    static constexpr int kDefaultResetWaitMs = 1000;
    static constexpr int kMaxFailedTries = 5;
    static constexpr uint32_t kChunkSize = 64;
    static constexpr int kMessageSize = 8;

    CNodeFlash(CNodeChannel& channel, CStdOut& out, CEvent* abort) : m_channel(channel), m_out(out), m_abort(abort) {}

    // The wait for the node's loader after the reset.
    void SetResetWaitMs(int ms) { m_resetWaitMs = ms; }

    // True when the image was written (and verified when asked) and the
    // node unlocked.
    bool Run(const NodeFlashJob& job);

private:
    enum class Try { Done, Failed, Fatal };
    using ChunkStep = std::function<Try(uint32_t address, std::span<const uint8_t> chunk)>;

    // Walks the image chunk by chunk, announcing addresses where needed and
    // repeating a failed chunk up to kMaxFailedTries tries in a row.
    bool Walk(const CHexImage& image, const char* addressErrorFormat, const ChunkStep& step);
    Try WriteChunk(uint32_t address, std::span<const uint8_t> chunk);
    Try VerifyChunk(uint32_t address, std::span<const uint8_t> chunk);
    bool Aborted() const { return m_abort && m_abort->IsSet(); }

    CNodeChannel& m_channel;
    CStdOut& m_out;
    CEvent* m_abort;
    int m_resetWaitMs = kDefaultResetWaitMs;
    uint8_t m_node = 0;
};
