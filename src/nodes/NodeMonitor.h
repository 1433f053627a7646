#pragma once
// The node monitor without its window: the CAN link of one crate, its node
// channel, the data of the last read pass, the one-shot flags, read passes
// and node firmware updates on worker threads of their own (or on the
// caller's thread), and the printing of unsolicited messages.
//
// Threads: Open, Close and the Start calls from one controlling thread (the
// window's, or the command line's). The done callbacks run on the worker
// thread at the end of its work; they must hand over to their own thread
// rather than start work here. Unsolicited messages are printed from the
// link's reader thread, so `out` must take prints from several threads.
// Close and the destructor wait for running work to end: at most one link
// exchange (a few seconds) after its abort event is set.

#include "base/StdOut.h"
#include "links/PortCAN_All.h"
#include "nodes/NodeChannel.h"
#include "nodes/NodeData.h"
#include "nodes/NodeFlash.h"
#include "nodes/NodeReadPass.h"
#include "nodes/NodeWorker.h"

#include <functional>
#include <mutex>

class CNodeMonitor {
public:
    static constexpr int kOpenWaitMs = 10000;

    explicit CNodeMonitor(CStdOut& out);
    ~CNodeMonitor();
    CNodeMonitor(const CNodeMonitor&) = delete;
    CNodeMonitor& operator=(const CNodeMonitor&) = delete;

    // The link's settings are set here before Open.
    CPortCAN_All& Link() { return m_link; }
    CNodeChannel& Channel() { return m_channel; }
    CNodePassFlags& Flags() { return m_flags; }

    // Opens the link (waiting up to waitMs for a background connect) and
    // starts the reader of unsolicited messages; failures print "Open
    // Error:" or "AsyncRead Error:" with the error text.
    bool Open(int waitMs = kOpenWaitMs);
    // Stops running work, closes the link and prints "Disconnected\r\n".
    void Close();

    NodePassResult ReadPass(CEvent* abort = nullptr);
    bool Update(const NodeFlashJob& job, CEvent* abort = nullptr);

    // False while the previous pass (or update) still runs. A link that is
    // not open yet is opened first, on the worker, so that a window's
    // thread never waits for a connect.
    bool StartReadPass(std::function<void(const NodePassResult&)> done);
    bool StartUpdate(const NodeFlashJob& job, std::function<void(bool ok)> done);
    // Opens the link on the pass worker; done(ok) runs there afterwards.
    bool StartOpen(std::function<void(bool ok)> done);
    bool ReadPassRunning() const { return m_passWorker.Running(); }
    bool UpdateRunning() const { return m_updateWorker.Running(); }

    // A copy of the data of the last read pass.
    NodeMonitorData Data() const;
    void SetResetWaitMs(int ms) { m_resetWaitMs = ms; }

private:
    static void OnUnsolicited(CPortCAN* link, void* context);
    void StopWork();
    // Open, unless the link is open already; one opener at a time.
    bool OpenIfClosed();

    CStdOut& m_out;
    CPortCAN_All m_link;
    CNodeChannel m_channel{m_link};
    CNodePassFlags m_flags;
    mutable std::mutex m_dataLock;
    NodeMonitorData m_data;
    std::atomic<int> m_resetWaitMs{CNodeFlash::kDefaultResetWaitMs};
    std::mutex m_openLock;
    CNodeWorker m_passWorker;
    CNodeWorker m_updateWorker;
};
