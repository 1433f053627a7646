#include "firmware/FirmProgress.h"

void CFirmProgress::SetState(const std::string& text, uint32_t low, uint32_t high,
                             const std::atomic<uint32_t>* position, CEvent* abort)
{
    std::lock_guard lock(m_lock);
    m_state = text;
    m_low = low;
    m_high = high;
    m_position = position;
    m_abort = abort;
}

void CFirmProgress::Finish()
{
    std::lock_guard lock(m_lock);
    m_position = nullptr;
    m_abort = nullptr;
    m_finished = true;
}

void CFirmProgress::Abort()
{
    std::lock_guard lock(m_lock);
    if (m_abort)
        m_abort->Set();
}

void CFirmProgress::GetRange(uint32_t& low, uint32_t& high) const
{
    std::lock_guard lock(m_lock);
    low = m_low;
    high = m_high;
}

bool CFirmProgress::GetPosition(uint32_t& position) const
{
    std::lock_guard lock(m_lock);
    if (!m_position)
        return false;
    position = m_position->load(std::memory_order_relaxed);
    return true;
}

std::string CFirmProgress::GetState() const
{
    std::lock_guard lock(m_lock);
    return m_state;
}

bool CFirmProgress::IsFinished() const
{
    std::lock_guard lock(m_lock);
    return m_finished;
}
