#pragma once
// One row of the firmware update list: a progress range, a counter that
// the row reads for its position, a state text, the abort event of the work
// shown in the row and whether that work has ended.
//
// Threads: the worker writes a row, the window (or the command line) reads
// it; every member takes the row's mutex. The position counter itself is
// read without the mutex while the worker advances it. No time-outs.

#include "base/Event.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

class CFirmProgress {
public:
    CFirmProgress() = default;
    virtual ~CFirmProgress() = default;
    CFirmProgress(const CFirmProgress&) = delete;
    CFirmProgress& operator=(const CFirmProgress&) = delete;

    // Replaces all five under the mutex; position and abort may be null.
    virtual void SetState(const std::string& text, uint32_t low, uint32_t high,
                          const std::atomic<uint32_t>* position, CEvent* abort);
    // Drops the position counter and the abort event, and marks the row finished.
    virtual void Finish();

    // Signals the abort event, if one is set.
    void Abort();
    void GetRange(uint32_t& low, uint32_t& high) const;
    // False when the row has no position counter.
    bool GetPosition(uint32_t& position) const;
    std::string GetState() const;
    bool IsFinished() const;

private:
    mutable std::mutex m_lock;
    uint32_t m_low = 0;
    uint32_t m_high = 0;
    const std::atomic<uint32_t>* m_position = nullptr;
    std::string m_state;
    CEvent* m_abort = nullptr;
    bool m_finished = false;
};
