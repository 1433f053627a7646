#pragma once
// Transfer-rate meters: byte counters owned by a link or socket, drained
// once per second into a rate and a bar position on a logarithmic scale.
// Counting threads only add to the counters; Attach, Detach and Sample
// take the meter's lock and never wait for anything else.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

using RateCounter = std::atomic<uint32_t>;

// The bytes per second of one direction and its bar position (0 to 100
// for rates up to the full scale, above 100 beyond it; the bar clamps).
struct _RATESAMPLE {
    uint32_t rate = 0;
    int position = 0;
};

// The bar position of a rate: log10(rate + 1) * 100 / log10(fullScale),
// truncated; 0 for a full scale of 1 or less.
int RateBarPosition(uint32_t rate, uint32_t fullScale);
// "%u Bps"
std::string RateText(uint32_t rate);

// Full scale used for both directions by the program's windows.
constexpr uint32_t kRateFullScale = 3840;

class CRateMeter {
public:
    CRateMeter() = default;
    virtual ~CRateMeter() = default;
    CRateMeter(const CRateMeter&) = delete;
    CRateMeter& operator=(const CRateMeter&) = delete;

    // Counters stay the caller's; they must outlive the attachment. Either
    // may be null (it then reads 0).
    virtual void Attach(uint32_t fullScaleRx, RateCounter* rx, uint32_t fullScaleTx, RateCounter* tx);
    // Forgets both counters; they are not touched again.
    virtual void Detach();

    // Reads and clears both counters; called once per second, so the
    // counts are bytes per second.
    void Sample(_RATESAMPLE& rx, _RATESAMPLE& tx);

private:
    std::mutex m_lock;
    RateCounter* m_rx = nullptr;
    RateCounter* m_tx = nullptr;
    uint32_t m_fullScaleRx = kRateFullScale;
    uint32_t m_fullScaleTx = kRateFullScale;
};
