#include "relay/SpyDistribution.h"

#include "links/TrafficText.h"

#include <algorithm>

_MCDATA SpyRecord(int direction, const uint8_t* bytes, int count, uint16_t tag)
{
    _MCDATA r = TrafficRecord(direction, bytes, count);
    r.tag = tag;
    return r;
}

void CSpyDistribution::Toggle(std::vector<CSpyWriter*>& list, CSpyWriter* writer, bool wanted)
{
    const auto it = std::find(list.begin(), list.end(), writer);
    if (wanted && it == list.end())
        list.push_back(writer);
    else if (!wanted && it != list.end())
        list.erase(it);
}

void CSpyDistribution::Register(unsigned flags, CSpyWriter* writer)
{
    ++m_changesWaiting;
    {
        std::lock_guard lock(m_lock);
        Toggle(m_sent, writer, flags & kWantSent);
        Toggle(m_received, writer, flags & kWantReceived);
    }
    {
        std::lock_guard lock(m_changeLock);
        --m_changesWaiting;
    }
    m_changeDone.notify_all();
}

size_t CSpyDistribution::SubscriberCount() const
{
    std::lock_guard lock(m_lock);
    std::vector<CSpyWriter*> all = m_sent;
    for (CSpyWriter* w : m_received)
        if (std::find(all.begin(), all.end(), w) == all.end())
            all.push_back(w);
    return all.size();
}

void CSpyDistribution::DistributeReceived(const uint8_t* bytes, int count)
{
    Distribute(m_received, SpyRecord(_MCDATA::kReceived, bytes, count, 0));
}

void CSpyDistribution::DistributeSent(const uint8_t* bytes, int count, uint16_t tag)
{
    Distribute(m_sent, SpyRecord(_MCDATA::kSent, bytes, count, tag));
}

void CSpyDistribution::DistributeSent(_MCDATA record)
{
    record.direction = _MCDATA::kSent;
    Distribute(m_sent, record);
}

void CSpyDistribution::Distribute(const std::vector<CSpyWriter*>& list, const _MCDATA& record)
{
    std::unique_lock lock(m_lock);
    // Only this distribution writes to its subscribers' rings and only under
    // m_lock, so a ring with a free slot takes the record without blocking.
    std::vector<CSpyWriter*> done;
    for (size_t i = 0; i < list.size();) {
        CSpyWriter* w = list[i];
        if (std::find(done.begin(), done.end(), w) != done.end()) {
            ++i;
            continue;
        }
        CFifo<_MCDATA>& ring = w->Fifo();
        if (ring.IsClosed() || ring.Count() < ring.Capacity()) {
            w->Write(record);
            done.push_back(w);
            ++i;
            continue;
        }
        ring.SpaceEvent().Wait(kFullRingPollMs);
        if (m_changesWaiting > 0) {
            // Let the registration through; the list may have changed, so
            // walk it again, passing over the writers already served.
            lock.unlock();
            {
                std::unique_lock change(m_changeLock);
                m_changeDone.wait(change, [this] { return m_changesWaiting == 0; });
            }
            lock.lock();
            i = 0;
        }
    }
}
