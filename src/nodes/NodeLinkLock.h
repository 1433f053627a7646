#pragma once
// Gives one user of a node link (a read pass or a node firmware update) the
// link for the whole of its work, so that the messages of two users never
// interleave: a node in its loader answers no monitor request, and a
// monitor request between two firmware messages could move the node's
// address. Any thread; Acquire waits without a time-out until the lock is
// free or the abort event is set.

#include "base/Event.h"

#include <mutex>
#include <string>

class CNodeLinkLock {
public:
    CNodeLinkLock() = default;
    CNodeLinkLock(const CNodeLinkLock&) = delete;
    CNodeLinkLock& operator=(const CNodeLinkLock&) = delete;

    // `user` names the holder for those who wait ("read pass", ...).
    bool TryAcquire(const char* user);
    // False with 995 when `abort` (may be null) was set first.
    bool Acquire(const char* user, CEvent* abort);
    void Release();
    // The current holder's name; empty when the lock is free.
    std::string Holder() const;

private:
    CEvent m_free{false, true};
    mutable std::mutex m_holderLock;
    std::string m_holder;
};

// Holds a lock acquired by the caller until it goes out of scope.
class CNodeLinkHold {
public:
    explicit CNodeLinkHold(CNodeLinkLock& lock) : m_lock(lock) {}
    ~CNodeLinkHold() { m_lock.Release(); }
    CNodeLinkHold(const CNodeLinkHold&) = delete;
    CNodeLinkHold& operator=(const CNodeLinkHold&) = delete;

private:
    CNodeLinkLock& m_lock;
};
