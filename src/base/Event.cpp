#include "base/Event.h"

#include "base/Error.h"

#include <cerrno>
#include <chrono>
#include <poll.h>
#include <system_error>
#include <sys/eventfd.h>
#include <unistd.h>
#include <vector>

namespace {
void raise(int fd)
{
    const uint64_t one = 1;
    // The counter only overflows after 2^64-2 sets; EAGAIN means it is set.
    (void)!write(fd, &one, sizeof one);
}

void lower(int fd)
{
    uint64_t value;
    (void)!read(fd, &value, sizeof value);
}
}  // namespace

class CEventGuard {
public:
    explicit CEventGuard(const CEvent& event) : m_busy(event.m_busy)
    {
        while (m_busy.test_and_set(std::memory_order_acquire))
            m_busy.wait(true, std::memory_order_relaxed);
    }
    ~CEventGuard()
    {
        m_busy.clear(std::memory_order_release);
        m_busy.notify_one();
    }
    CEventGuard(const CEventGuard&) = delete;
    CEventGuard& operator=(const CEventGuard&) = delete;

private:
    std::atomic_flag& m_busy;
};

CEvent::CEvent(bool manualReset, bool initiallySet)
    : m_fd(eventfd(!manualReset && initiallySet ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK)),
      m_manualReset(manualReset),
      m_set(initiallySet),
      m_watched(!manualReset)
{
    if (m_fd < 0)
        throw std::system_error(errno, std::generic_category(), "eventfd");
}

CEvent::~CEvent() { close(m_fd); }

int CEvent::fd() const
{
    if (m_manualReset) {
        const CEventGuard guard(*this);
        if (!m_watched && m_set)
            raise(m_fd);
        m_watched = true;
    }
    return m_fd;
}

void CEvent::Set()
{
    if (!m_manualReset)
        return raise(m_fd);
    const CEventGuard guard(*this);
    if (m_set)
        return;
    m_set = true;
    if (m_watched)
        raise(m_fd);
}

void CEvent::Reset()
{
    if (!m_manualReset)
        return lower(m_fd);
    const CEventGuard guard(*this);
    if (!m_set)
        return;
    m_set = false;
    if (m_watched)
        lower(m_fd);
}

bool CEvent::IsSet() const
{
    if (m_manualReset) {
        const CEventGuard guard(*this);
        return m_set;
    }
    pollfd p{m_fd, POLLIN, 0};
    return poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

bool CEvent::TryConsume()
{
    if (m_manualReset)
        return IsSet();
    uint64_t value;
    return read(m_fd, &value, sizeof value) == sizeof value;
}

bool CEvent::Wait(int timeoutMs)
{
    return WaitForAny({CWaitItem::Of(*this)}, timeoutMs) == 0;
}

int WaitForAny(std::span<const CWaitItem> items, int timeoutMs)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);

    pollfd local[8];
    std::vector<pollfd> heap;
    pollfd* fds = local;
    if (items.size() > std::size(local)) {
        heap.resize(items.size());
        fds = heap.data();
    }
    // Manual-reset events at the front that are known to be set answer
    // without a poll; the first item of another kind needs one.
    for (size_t i = 0; i < items.size() && items[i].event && items[i].event->isManualReset(); ++i) {
        if (items[i].event->IsSet())
            return static_cast<int>(i);
    }
    for (size_t i = 0; i < items.size(); ++i)
        fds[i] = pollfd{items[i].fd, static_cast<short>(items[i].event ? POLLIN : items[i].events), 0};

    for (;;) {
        int wait = -1;
        if (timeoutMs >= 0) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            wait = left > 0 ? static_cast<int>(left) : 0;
        }
        int n = poll(fds, items.size(), wait);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            SetLastErrFromErrno();
            return kWaitFailed;
        }
        if (n == 0) {
            if (timeoutMs >= 0)
                return kWaitTimeout;
            continue;
        }
        for (size_t i = 0; i < items.size(); ++i) {
            if (!fds[i].revents)
                continue;
            // Another waiter may have taken an auto-reset event first; a
            // manual-reset one was set when poll looked, which is enough.
            if (items[i].event && !items[i].event->isManualReset() && !items[i].event->TryConsume())
                continue;
            return static_cast<int>(i);
        }
        if (timeoutMs >= 0 && Clock::now() >= deadline)
            return kWaitTimeout;
    }
}

int WaitForAny(std::initializer_list<CWaitItem> items, int timeoutMs)
{
    return WaitForAny(std::span<const CWaitItem>(items.begin(), items.size()), timeoutMs);
}


CDeadline::CDeadline(int timeoutMs)
    : m_unlimited(timeoutMs < 0),
      m_end(std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs))
{
}

int CDeadline::LeftMs() const
{
    if (m_unlimited)
        return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(m_end - std::chrono::steady_clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}
