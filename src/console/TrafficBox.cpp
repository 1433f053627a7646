#include "console/TrafficBox.h"

#include <ctime>
#include <iterator>

CTrafficBox::~CTrafficBox() { m_queue.Notifier().Stop(); }

void CTrafficBox::SetSink(CTextSink* sink)
{
    std::lock_guard lock(m_lock);
    m_sink = sink;
}

size_t CTrafficBox::Drain()
{
    // Whole batches: one pass over the ring's lock and events for all the
    // records waiting. A batch short of the ring's size emptied it; later
    // records announce themselves again.
    _MCDATA batch[kQueueSlots - 1];
    size_t printed = 0;
    size_t taken;
    do {
        taken = m_queue.TryRead(batch, std::size(batch));
        std::lock_guard lock(m_lock);
        for (size_t i = 0; i < taken; ++i)
            printLocked(batch[i]);
        printed += taken;
    } while (taken == std::size(batch));
    return printed;
}

void CTrafficBox::Print(const _MCDATA& record)
{
    std::lock_guard lock(m_lock);
    printLocked(record);
}

void CTrafficBox::printLocked(const _MCDATA& record)
{
    logUpkeepLocked();
    appendLocked(TrafficText(record, &m_decoder, {m_enDecode, m_enTime, std::time(nullptr)}));
}

void CTrafficBox::logUpkeepLocked()
{
    if (m_enLog && !m_log.IsOpen()) {
        if (!m_log.Open(m_logFile))
            appendLocked("Can't open log file\r\n");
    } else if (!m_enLog && m_log.IsOpen()) {
        m_log.Close();
    }
}

void CTrafficBox::appendLocked(std::string_view text)
{
    if (m_log.IsOpen())
        m_log.Write(text);
    if (m_sink)
        m_sink->Append(text);
}

void CTrafficBox::SetEnDecode(bool on)
{
    std::lock_guard lock(m_lock);
    m_enDecode = on;
}

void CTrafficBox::SetEnTime(bool on)
{
    std::lock_guard lock(m_lock);
    m_enTime = on;
}

void CTrafficBox::SetEnLog(bool on)
{
    std::lock_guard lock(m_lock);
    m_enLog = on;
}

void CTrafficBox::SetLogFile(const std::string& path)
{
    std::lock_guard lock(m_lock);
    m_logFile = path;
}

bool CTrafficBox::EnDecode() const
{
    std::lock_guard lock(m_lock);
    return m_enDecode;
}

bool CTrafficBox::EnTime() const
{
    std::lock_guard lock(m_lock);
    return m_enTime;
}

bool CTrafficBox::EnLog() const
{
    std::lock_guard lock(m_lock);
    return m_enLog;
}

std::string CTrafficBox::LogFile() const
{
    std::lock_guard lock(m_lock);
    return m_logFile;
}

bool CTrafficBox::IsLogOpen() const
{
    std::lock_guard lock(m_lock);
    return m_log.IsOpen();
}

bool CTrafficBox::LoadDecodeFile(const std::string& path, std::string& error)
{
    std::lock_guard lock(m_lock);
    m_tables.Clear();
    if (m_tables.Compile(path, false))
        return true;
    error = m_tables.GetErrorText();
    m_tables.Clear();
    return false;
}

void CTrafficBox::ResetDecodeTables()
{
    std::lock_guard lock(m_lock);
    m_tables.Clear();
}

bool CTrafficBox::DecodeFileModified() const
{
    std::lock_guard lock(m_lock);
    return m_tables.IsModified() != 0;
}
