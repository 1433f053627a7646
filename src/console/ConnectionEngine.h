#pragma once
// The connection to one crate without its window: the crate link, the send
// queue and its send step, the receive step, the pending reply, the
// traffic tap with the traffic box, the byte counters, drop detection and
// the decode file. The connection window and the terminal console drive it.
//
// Threads: the send step runs on the send queue's reader thread, or on
// the link's reader thread right after a reply while requests are waiting,
// so that a busy queue needs no hand-over between threads; the send-queue
// thread then only watches the reply's timeout and the abort. The receive
// step runs on the link's reader thread, the traffic hook on whichever
// thread moves a frame. Every public operation may be called from any
// thread. Queue blocks while the send queue is full; a requester with
// Wait Reply gets exactly one record on its writer per request: the reply
// (status 0), or status -1 or -4 from a failed read, -2 when nothing came
// within the request's timeout (plus the link's "Timeout" on TCP), -3 when
// the wait was aborted. Messages of the window ("Open Error:",
// "Disconnected", decode-file loading) go to the events output.

#include "base/Event.h"
#include "base/Fifo.h"
#include "base/StdOut.h"
#include "console/FifoWrList.h"
#include "console/TrafficBox.h"
#include "links/PortMC_All.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// One queued send request: the writer that gets the reply (or none) and
// the request, whose status field holds the timeout in milliseconds.
struct _TXDATA {
    CFifoWr<_MCDATA>* replyWriter = nullptr;
    _MCDATA data;
};

class CConnectionEngine {
public:
    static constexpr size_t kSendQueueSlots = 10;
    static constexpr int kReceiveTimeoutMs = 500;
    static constexpr int kEchoTimeoutMs = 1000;
    static constexpr uint8_t kUnsolicitedCode = 0xE8;

    explicit CConnectionEngine(CStdOut& events);
    ~CConnectionEngine();
    CConnectionEngine(const CConnectionEngine&) = delete;
    CConnectionEngine& operator=(const CConnectionEngine&) = delete;

    // Starts as a primary-bus link; set it up before Connect.
    CPortMC_All& Link() { return m_link; }
    CTrafficBox& Box() { return m_box; }
    CFifoWrList& Tap() { return m_tap; }

    // Opens the link, hooks the traffic tap and starts the receive step;
    // failures are printed. Returns the opened flag.
    bool Connect();
    void Disconnect();
    bool IsOpen() { return m_link.IsOpen(); }
    // The engine's own belief that the link is open.
    bool Opened() const { return m_opened; }

    // Copies the request into the send queue, blocking while it is full;
    // false only while the engine is being destroyed.
    bool Queue(CFifoWr<_MCDATA>* replyWriter, const _MCDATA& request);
    // Ends the reply wait in progress with status -3.
    void AbortWait();
    // Takes the requests still waiting in the send queue out unsent, oldest
    // first; nothing is delivered for them.
    std::vector<_TXDATA> DropQueued();
    bool IsQueueFull() const { return m_sendQueue.Count() == m_sendQueue.Capacity(); }
    // Set while the send queue has room, for requesters that must not block.
    CEvent& QueueSpaceEvent() { return m_sendQueue.SpaceEvent(); }
    // Blocks until every queued request has been sent and its reply wait
    // has ended; false at the deadline (timeoutMs < 0: none).
    bool WaitUntilSent(int timeoutMs);

    // The command-state query: detects a dropped link (printed once, the
    // opened flag cleared) and tells which of Connect and Disconnect apply.
    struct CommandState {
        bool connectEnabled;
        bool disconnectEnabled;
        // The open state or the opened flag differs from the previous query.
        bool changed;
    };
    CommandState QueryCommandState();
    // The one-second poll: "Disconnected\r\n" once when the link was open
    // at the previous poll and is not now.
    void PollLink();

    // Subscribe or unsubscribe the traffic box.
    void SetPrintTX(bool on);
    void SetPrintRX(bool on);
    bool PrintTX() { return m_tap.Contains(_MCDATA::kSent, &m_box.Writer()); }
    bool PrintRX() { return m_tap.Contains(_MCDATA::kReceived, &m_box.Writer()); }
    // "Log File" changed: logging stops until "EnLog" is turned on again.
    void ChangeLogFile(const std::string& path);

    // Loads the decode file into the box's tables, printing the progress; a
    // missing relative one is looked for among the example files
    // (FindExampleFile); a file that is found is remembered by its full path.
    bool LoadDecodeFile(const std::string& path);
    std::string DecodeFile() const;
    // The decode-file watch: true once when the loaded file changed on
    // disk; the watch then rests until the next load.
    bool DecodeFileChanged();

    // Bytes of frames sent and received; the rate meter reads and clears
    // them once per second. Reset at Connect.
    std::atomic<uint32_t>& TxCounter() { return m_txBytes; }
    std::atomic<uint32_t>& RxCounter() { return m_rxBytes; }

private:
    using Clock = std::chrono::steady_clock;
    // One request at a time is being sent or has its reply due. The reply,
    // the abort and the timeout are flags and a deadline under the
    // pending-reply mutex with one condition variable: a hand-over costs
    // no system call unless a thread actually sleeps.
    struct Pending {
        CFifoWr<_MCDATA>* writer = nullptr;
        int expected = kNothingAwaited;
        uint8_t sequence = 0;
        bool sending = false;   // a thread is in the send step
        bool inFlight = false;  // an awaited request's reply is due
        // When the due reply times out; none until its request is written.
        Clock::time_point deadline = Clock::time_point::max();
        // Until when the send-queue thread sleeps; min while it is awake.
        Clock::time_point watched = Clock::time_point::min();
        bool aborted = false;
        bool stopping = false;
    };
    static constexpr int kNothingAwaited = -1;

    static void TrafficHook(void* context, int direction, const uint8_t* bytes, int count);
    // Posts to the tap. While the send step writes, received records wait
    // for its sent record, which the link reports only after the write: a
    // quick reply must not show before its request.
    void postTraffic(const _MCDATA& record);
    void holdReceived();
    void releaseReceivedLocked();
    void releaseReceived();
    static void ReceiveHook(CPortMC* link, void* context);
    // The send-queue thread: sends queued requests and ends replies that
    // time out or are aborted, until nothing is queued or due.
    void RunSendQueue();
    // The send step; entered and left with the pending-reply lock held,
    // which it releases while the frame is written.
    void sendLocked(std::unique_lock<std::mutex>& lock, _TXDATA& request);
    // On the link's reader thread after a reply: sends the waiting requests
    // up to the next awaited one.
    void sendQueuedLocked(std::unique_lock<std::mutex>& lock);
    void ReceiveStep();
    void clearPendingLocked();
    // The reply wait of an awaited request in milliseconds (< 0: none).
    int replyWaitMs(int timeoutMs);
    void deliver(CFifoWr<_MCDATA>* writer, const _MCDATA& record);
    int32_t linkInt(int32_t id);
    std::string linkText(int32_t id);
    void printError(const char* prefix, uint32_t code);
    void noteSent();

    CStdOut& m_events;
    CPortMC_All m_link;
    CTrafficBox m_box;
    CFifoWrList m_tap;
    std::mutex m_orderLock;
    bool m_holdReceived = false;           // guarded by m_orderLock
    std::vector<_MCDATA> m_heldReceived;   // guarded by m_orderLock
    std::atomic<uint32_t> m_txBytes{0};
    std::atomic<uint32_t> m_rxBytes{0};

    std::mutex m_pendingLock;
    Pending m_pending;
    std::condition_variable m_pendingChanged;

    std::atomic<bool> m_opened{false};
    bool m_lastPollOpen = false;
    mutable std::mutex m_stateLock;
    std::string m_decodeFile = "Cb_v126.dec";
    bool m_lastQueryOpen = false;
    bool m_lastQueryOpened = false;
    // Why the link went down, for the drop report: the link's own state
    // no longer tells once it is closed.
    std::atomic<uint32_t> m_dropCause{0};

    std::mutex m_sentLock;
    std::condition_variable m_sentChanged;
    uint64_t m_queued = 0;
    uint64_t m_sent = 0;

    std::atomic<bool> m_watchDecodeFile{false};

    // Last: its reader thread runs the send step on the members above.
    CFifo<_TXDATA> m_sendQueue{kSendQueueSlots};
    CFifoWr<_TXDATA> m_sendWriter{m_sendQueue};
};
