#include "nodes/NodeReadPass.h"

#include "base/Error.h"

#include <cstdio>
#include <string>

namespace {

class CPassReport {
public:
    CPassReport(CStdOut& out, NodePassResult& result) : m_out(out), m_result(result) {}

    // Counts and prints a failed call: "node=%d: Error ...()" with the error text.
    bool Check(bool ok, int node, const char* what)
    {
        if (ok)
            return true;
        const uint32_t code = GetLastErr();
        ++m_result.failures;
        if (code == err::BadParam)
            ++m_result.refused;
        char prefix[64];
        std::snprintf(prefix, sizeof prefix, "node=%d: %s", node, what);
        m_out.Print("%s", formatErrorText(prefix, code).c_str());
        return false;
    }

    bool Check(bool ok, const char* what)
    {
        if (ok)
            return true;
        const uint32_t code = GetLastErr();
        ++m_result.failures;
        if (code == err::BadParam)
            ++m_result.refused;
        m_out.Print("%s", formatErrorText(what, code).c_str());
        return false;
    }

private:
    CStdOut& m_out;
    NodePassResult& m_result;
};

bool aborted(CEvent* abort) { return abort && abort->IsSet(); }

}  // namespace

bool AcquireNodeLink(CNodeChannel& channel, const char* user, CStdOut& out, CEvent* abort)
{
    CNodeLinkLock& lock = channel.Lock();
    if (lock.TryAcquire(user))
        return true;
    const std::string holder = lock.Holder();
    out.Print("Waiting for the %s to end\r\n", holder.empty() ? "other user of the link" : holder.c_str());
    return lock.Acquire(user, abort);
}

NodePassResult RunNodeReadPass(CNodeChannel& channel, NodeMonitorData& data, CNodePassFlags& flags, CStdOut& out,
                               CEvent* abort)
{
    NodePassResult result;
    if (!AcquireNodeLink(channel, "read pass", out, abort)) {
        result.aborted = true;
        return result;
    }
    CNodeLinkHold hold(channel.Lock());
    CPassReport report(out, result);

    if (!channel.GetNode()) {
        out.Print("%s", formatErrorText("Error GetNode()", GetLastErr()).c_str());
        return result;
    }
    const uint8_t connection = channel.ConnectionNode();
    data.connectionNode = connection;
    const unsigned pending = flags.Take();
    const bool resetCounters = pending & CNodePassFlags::ResetCounters;
    const bool clearHistograms = pending & CNodePassFlags::ClearHistograms;
    const uint8_t latchReset = (pending & CNodePassFlags::ResetLatchUp) ? 0xFF : 0;

    for (int n = 0; n < kNodeCount; ++n) {
        if (aborted(abort)) {
            result.aborted = true;
            return result;
        }
        const auto node = static_cast<uint8_t>(n);
        NodeData& d = data.nodes[static_cast<size_t>(n)];
        out.Print("Reading node %d\r\n", n);
        if (node != connection || node == 0 || node == 9) {
            report.Check(channel.GetError(node, d.error), n, "Error GetError()");
            report.Check(channel.GetErrorCnt(node, d.counters), n, "Error GetErrorCnt()");
            if (resetCounters)
                report.Check(channel.ResetErrorCnt(node), n, "Error ResetErrorCnt()");
        } else {
            d.error.valid = false;
            d.counters.valid = false;
        }
        report.Check(channel.RdAdcIntAll(node, d.analog), n, "Error RdAdcIntAll()");
        report.Check(channel.GetDest(node, d.destination), n, "Error GetDest()");
        report.Check(channel.RdDac(node, d.dac), n, "Error RdDac()");
        report.Check(channel.LatchUp(node, latchReset, d.latchUp), n, "Error LatchUp()");
        report.Check(channel.RdVersion(node, d.version), n, "Error RdVersion()");
    }

    out.Print("Reading Histograms\r\n");
    for (NodeHistogram& h : data.histograms) {
        std::vector<uint8_t> bins;
        char what[32];
        std::snprintf(what, sizeof what, "Error ReadHistog(%d)", h.node);
        // A failed read keeps the bins shown before; a cleared histogram starts empty.
        if (report.Check(channel.ReadHistog(h.node, clearHistograms, bins), what))
            h.bins = std::move(bins);
        if (clearHistograms)
            h.bins.clear();
    }

    if (aborted(abort)) {
        result.aborted = true;
        return result;
    }
    out.Print("Reading Temperatures\r\n");
    data.temperaturesValid = report.Check(channel.ReadTemperature(data.temperatures), "Error ReadTemperature()");
    result.ran = true;
    return result;
}
