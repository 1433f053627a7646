#include "shell/RateMeter.h"

#include <cmath>
#include <cstdio>

int RateBarPosition(uint32_t rate, uint32_t fullScale)
{
    if (fullScale <= 1)
        return 0;
    return static_cast<int>(std::log10(static_cast<double>(rate) + 1.0) * 100.0 /
                            std::log10(static_cast<double>(fullScale)));
}

std::string RateText(uint32_t rate)
{
    char text[32];
    std::snprintf(text, sizeof text, "%u Bps", rate);
    return text;
}

void CRateMeter::Attach(uint32_t fullScaleRx, RateCounter* rx, uint32_t fullScaleTx, RateCounter* tx)
{
    std::lock_guard lock(m_lock);
    m_fullScaleRx = fullScaleRx;
    m_rx = rx;
    m_fullScaleTx = fullScaleTx;
    m_tx = tx;
}

void CRateMeter::Detach()
{
    std::lock_guard lock(m_lock);
    m_rx = nullptr;
    m_tx = nullptr;
}

void CRateMeter::Sample(_RATESAMPLE& rx, _RATESAMPLE& tx)
{
    std::lock_guard lock(m_lock);
    rx.rate = m_rx ? m_rx->exchange(0) : 0;
    tx.rate = m_tx ? m_tx->exchange(0) : 0;
    rx.position = RateBarPosition(rx.rate, m_fullScaleRx);
    tx.position = RateBarPosition(tx.rate, m_fullScaleTx);
}
