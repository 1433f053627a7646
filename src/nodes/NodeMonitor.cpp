#include "nodes/NodeMonitor.h"

#include "base/Error.h"

#include <exception>
#include <memory>

CNodeMonitor::CNodeMonitor(CStdOut& out) : m_out(out) {}

CNodeMonitor::~CNodeMonitor()
{
    StopWork();
    m_link.Close();
}

bool CNodeMonitor::Open(int waitMs)
{
    m_channel.ForgetConnectionNode();
    if (!m_link.Open() || !m_link.WaitUntilOpen(waitMs)) {
        m_out.Print("%s", formatErrorText("Open Error:", GetLastErr()).c_str());
        return false;
    }
    if (!m_link.AsyncRead(&CNodeMonitor::OnUnsolicited, this)) {
        m_out.Print("%s", formatErrorText("AsyncRead Error:", GetLastErr()).c_str());
        return false;
    }
    return true;
}

bool CNodeMonitor::OpenIfClosed()
{
    std::lock_guard lock(m_openLock);
    return m_link.IsOpen() || Open();
}

bool CNodeMonitor::StartOpen(std::function<void(bool ok)> done)
{
    auto ok = std::make_shared<bool>(false);
    return m_passWorker.Start(
        [this, ok](CEvent&) {
            m_link.Close();
            std::lock_guard lock(m_openLock);
            *ok = Open();
        },
        [ok, done = std::move(done)] {
            if (done)
                done(*ok);
        });
}

void CNodeMonitor::StopWork()
{
    m_passWorker.Stop();
    m_updateWorker.Stop();
}

void CNodeMonitor::Close()
{
    StopWork();
    m_link.Close();
    m_out.Print("Disconnected\r\n");
}

void CNodeMonitor::OnUnsolicited(CPortCAN* link, void* context)
{
    auto* self = static_cast<CNodeMonitor*>(context);
    CanRecord r{};
    int count = 1;
    if (!link->ReceiveMessages(&r, count)) {
        self->m_out.Print("Read Unexpected Data error:%d\r\n", static_cast<int>(GetLastErr()));
        return;
    }
    self->m_out.Print("Unexpected Data: dlc=%d %02X %02X %02X %02X %02X %02X %02X %02X\r\n", r.length, r.data[0],
                      r.data[1], r.data[2], r.data[3], r.data[4], r.data[5], r.data[6], r.data[7]);
}

NodePassResult CNodeMonitor::ReadPass(CEvent* abort)
{
    NodeMonitorData data = Data();
    const NodePassResult result = RunNodeReadPass(m_channel, data, m_flags, m_out, abort);
    std::lock_guard lock(m_dataLock);
    m_data = std::move(data);
    return result;
}

bool CNodeMonitor::Update(const NodeFlashJob& job, CEvent* abort)
{
    CNodeFlash flash(m_channel, m_out, abort);
    flash.SetResetWaitMs(m_resetWaitMs);
    return flash.Run(job);
}

bool CNodeMonitor::StartReadPass(std::function<void(const NodePassResult&)> done)
{
    auto result = std::make_shared<NodePassResult>();
    return m_passWorker.Start(
        [this, result](CEvent& abort) {
            try {
                if (!OpenIfClosed())
                    return;
                *result = ReadPass(&abort);
            } catch (const std::exception& e) {
                m_out.Print("Read pass error: %s\r\n", e.what());
            }
        },
        [result, done = std::move(done)] {
            if (done)
                done(*result);
        });
}

bool CNodeMonitor::StartUpdate(const NodeFlashJob& job, std::function<void(bool ok)> done)
{
    auto ok = std::make_shared<bool>(false);
    return m_updateWorker.Start(
        [this, job, ok](CEvent& abort) {
            try {
                if (!OpenIfClosed())
                    return;
                *ok = Update(job, &abort);
            } catch (const std::exception& e) {
                m_out.Print("Node firmware update error: %s\r\n", e.what());
            }
        },
        [ok, done = std::move(done)] {
            if (done)
                done(*ok);
        });
}

NodeMonitorData CNodeMonitor::Data() const
{
    std::lock_guard lock(m_dataLock);
    return m_data;
}
