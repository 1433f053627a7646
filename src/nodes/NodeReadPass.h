#pragma once
// One read pass over the nodes of a crate: the connection node, then every
// node's error state, counters, analog values, destination, DAC, latch-up
// state and version, the histograms of nodes 8 and 9 and the temperatures.
// A failed call is reported and the pass goes on; only a failure to learn
// the connection node ends it.
//
// Threads: runs on the caller's thread and holds the channel's link lock
// for the whole pass (waiting, abortably, while another user holds it).
// The flags may be set from any thread.

#include "base/Event.h"
#include "base/StdOut.h"
#include "nodes/NodeChannel.h"
#include "nodes/NodeData.h"

#include <atomic>

// The one-shot requests that the next pass applies and clears.
class CNodePassFlags {
public:
    enum Flag : unsigned { ResetCounters = 1, ClearHistograms = 2, ResetLatchUp = 4 };

    void Set(Flag flag) { m_bits |= flag; }
    unsigned Pending() const { return m_bits; }
    // The pending flags, cleared; flags set afterwards wait for the next pass.
    unsigned Take() { return m_bits.exchange(0); }

private:
    std::atomic<unsigned> m_bits{0};
};

struct NodePassResult {
    bool ran = false;      // the connection node was learnt and the nodes were read
    bool aborted = false;  // the abort event ended the pass early
    int failures = 0;      // node calls that failed
    int refused = 0;       // of them, requests the node rules refused (87)
};

// Updates `data` in place: items read are overwritten, items that failed
// are marked not valid, and histograms that fail to read keep their bins.
// abort may be null.
NodePassResult RunNodeReadPass(CNodeChannel& channel, NodeMonitorData& data, CNodePassFlags& flags, CStdOut& out,
                               CEvent* abort);

// Waits for the channel's link lock as `user`, saying so when another user
// holds it; false with 995 when aborted.
bool AcquireNodeLink(CNodeChannel& channel, const char* user, CStdOut& out, CEvent* abort);
