#include "relay/SpyDistribution.h"

#include "links/TrafficText.h"

#include <algorithm>

_MCDATA SpyRecord(int direction, const uint8_t* bytes, int count, uint16_t tag)
{
    _MCDATA r = TrafficRecord(direction, bytes, count);
    r.tag = tag;
    return r;
}

void CSpyDistribution::Register(unsigned flags, CSpyWriter* writer)
{
    m_sent.Set(writer, flags & kWantSent);
    m_received.Set(writer, flags & kWantReceived);
}

size_t CSpyDistribution::SubscriberCount() const
{
    std::vector<CSpyWriter*> all = m_sent.Writers();
    for (CSpyWriter* w : m_received.Writers())
        if (std::find(all.begin(), all.end(), w) == all.end())
            all.push_back(w);
    return all.size();
}

void CSpyDistribution::DistributeReceived(const uint8_t* bytes, int count)
{
    m_received.Post(SpyRecord(_MCDATA::kReceived, bytes, count, 0));
}

void CSpyDistribution::DistributeSent(const uint8_t* bytes, int count, uint16_t tag)
{
    m_sent.Post(SpyRecord(_MCDATA::kSent, bytes, count, tag));
}

void CSpyDistribution::DistributeSent(_MCDATA record)
{
    record.direction = _MCDATA::kSent;
    m_sent.Post(record);
}
