#include "nodes/NodeLinkLock.h"

#include "base/Error.h"

bool CNodeLinkLock::TryAcquire(const char* user)
{
    if (!m_free.TryConsume())
        return false;
    std::lock_guard lock(m_holderLock);
    m_holder = user;
    return true;
}

bool CNodeLinkLock::Acquire(const char* user, CEvent* abort)
{
    int got;
    if (abort)
        got = WaitForAny({CWaitItem::Of(m_free), CWaitItem::Of(*abort)}, kInfinite);
    else
        got = WaitForAny({CWaitItem::Of(m_free)}, kInfinite);
    if (got != 0) {
        if (got != kWaitFailed)
            SetLastErr(err::Aborted);
        return false;
    }
    std::lock_guard lock(m_holderLock);
    m_holder = user;
    return true;
}

void CNodeLinkLock::Release()
{
    {
        std::lock_guard lock(m_holderLock);
        m_holder.clear();
    }
    m_free.Set();
}

std::string CNodeLinkLock::Holder() const
{
    std::lock_guard lock(m_holderLock);
    return m_holder;
}
