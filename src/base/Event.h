#pragma once
// Kernel-style events on eventfd, so that one poll can wait on events,
// sockets and serial devices together. A manual-reset event keeps its state
// in memory and brings its descriptor up to date only once someone has
// asked for the descriptor (to wait on it): until then setting and
// resetting cost no system call, and after it only real changes do.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <initializer_list>
#include <span>

// The constructor throws std::system_error when no descriptor is left.
class CEvent {
public:
    explicit CEvent(bool manualReset = true, bool initiallySet = false);
    ~CEvent();
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;

    void Set();
    void Reset();
    // Whether the event is set, without consuming an auto-reset event.
    bool IsSet() const;
    // Waits until set (timeoutMs < 0: forever); consumes an auto-reset event.
    bool Wait(int timeoutMs = -1);

    // The descriptor to wait on; from the first call on it follows the state.
    int fd() const;
    bool isManualReset() const { return m_manualReset; }
    // Consumes an auto-reset event when set; true when this caller got it.
    bool TryConsume();

private:
    int m_fd;
    bool m_manualReset;
    friend class CEventGuard;
    // For a manual-reset event, under m_busy: its state, and whether the
    // descriptor has been handed out and so follows it. Waits never
    // consume such an event. m_busy is a flag rather than a mutex: it is
    // held around one eventfd call at most and callers hold their own
    // locks while setting events, so a mutex here would join every lock
    // order in the program (and ThreadSanitizer's graph of them).
    mutable std::atomic_flag m_busy;
    bool m_set;
    mutable bool m_watched;
};

// One thing to wait for: an event, or a file descriptor with poll events.
struct CWaitItem {
    CEvent* event = nullptr;
    int fd = -1;
    short events = 0;

    static CWaitItem Of(CEvent& e) { return CWaitItem{&e, e.fd(), 0}; }
    static CWaitItem Fd(int fd, short pollEvents) { return CWaitItem{nullptr, fd, pollEvents}; }
};

// A time limit that several waits share: each wait is given what is left.
class CDeadline {
public:
    // timeoutMs < 0: no limit.
    explicit CDeadline(int timeoutMs);
    // Milliseconds left for the next wait: 0 once passed, -1 with no limit.
    int LeftMs() const;
    bool Passed() const { return LeftMs() == 0; }

private:
    bool m_unlimited;
    std::chrono::steady_clock::time_point m_end;
};

constexpr int kWaitTimeout = -1;
constexpr int kWaitFailed = -2;
constexpr int kInfinite = -1;

// Waits until one item is ready; returns the lowest index of a ready item,
// kWaitTimeout after timeoutMs (< 0: forever), or kWaitFailed (last error set).
// An auto-reset event is consumed by the wait that reports it.
int WaitForAny(std::span<const CWaitItem> items, int timeoutMs);
int WaitForAny(std::initializer_list<CWaitItem> items, int timeoutMs);

