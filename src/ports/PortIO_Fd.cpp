#include "ports/PortIO_Fd.h"

#include <string>
#include <system_error>

#include "base/Error.h"
#include "base/Trace.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <chrono>
#include <poll.h>
#include <stdexcept>
#include <sys/epoll.h>
#include <unistd.h>

namespace {
int newEpoll()
{
    int fd = epoll_create1(EPOLL_CLOEXEC);
    if (fd < 0)
        throw std::system_error(errno, std::generic_category(), "epoll_create1");
    return fd;
}

void watch(int set, int fd, uint32_t tag)
{
    epoll_event e{};
    // A socket's peer closing shows as EPOLLRDHUP; hang-ups and errors are
    // always reported.
    e.events = EPOLLIN | EPOLLRDHUP;
    e.data.u32 = tag;
    epoll_ctl(set, EPOLL_CTL_ADD, fd, &e);
}
}  // namespace

CPortIO_Fd::EpollSet::EpollSet() : m_fd(newEpoll()) {}

CPortIO_Fd::EpollSet::~EpollSet() { ::close(m_fd); }

CPortIO_Fd::CPortIO_Fd(CPortReader::Policy readerPolicy) : m_reader(*this, m_pauseRequest, readerPolicy)
{
    watch(m_readSet.get(), m_abort.fd(), kAbortTag);
    watch(m_waitSet.get(), m_abort.fd(), kAbortTag);
    watch(m_waitSet.get(), m_pauseRequest.fd(), kPauseTag);
}

CPortIO_Fd::~CPortIO_Fd()
{
    // The most derived class has closed already; this only covers a
    // descriptor attached after that.
    m_abort.Set();
    m_reader.Stop();
    if (m_fd >= 0)
        CloseDescriptor();
}

void CPortIO_Fd::Attach(int fd)
{
    std::lock_guard closeLock(m_closeLock);
    std::unique_lock fdLock(m_fdLock);
    if (m_fd >= 0)
        CloseDescriptor();
    m_fd = fd;
    if (trace::On(trace::Ports))
        trace::Write(trace::Ports, this, "open", nullptr, 0, "fd " + std::to_string(fd));
    if (fd >= 0) {
        watch(m_readSet.get(), fd, kDeviceTag);
        watch(m_waitSet.get(), fd, kDeviceTag);
    }
}

void CPortIO_Fd::CloseDescriptor()
{
    if (trace::On(trace::Ports))
        trace::Write(trace::Ports, this, "close");
    epoll_ctl(m_readSet.get(), EPOLL_CTL_DEL, m_fd, nullptr);
    epoll_ctl(m_waitSet.get(), EPOLL_CTL_DEL, m_fd, nullptr);
    ::close(m_fd);
    m_fd = -1;
}

void CPortIO_Fd::PrepareOpen()
{
    Close();
    m_abort.Reset();
    m_pauseRequest.Reset();
    m_dataReady.Reset();
    m_reader.Rearm();
}

void CPortIO_Fd::Close()
{
    // Wake everything that waits on the descriptor first, so that the
    // exclusive lock below is granted at once.
    m_abort.Set();
    StopWorkers();
    m_reader.Stop();
    std::lock_guard closeLock(m_closeLock);
    std::unique_lock fdLock(m_fdLock);
    if (m_fd >= 0) {
        BeforeClose(m_fd);
        CloseDescriptor();
    }
    DropKept();
    AfterClose();
}

void CPortIO_Fd::BeforeClose(int) {}
void CPortIO_Fd::AfterClose() {}
void CPortIO_Fd::StopWorkers() {}

int CPortIO_Fd::WaitReadable(int timeoutMs, bool wakeOnPause, uint32_t* deviceEvents)
{
    std::shared_lock fdLock(m_fdLock);
    if (m_fd < 0) {
        SetLastErr(err::NotOpen);
        return -1;
    }
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    const int set = wakeOnPause ? m_waitSet.get() : m_readSet.get();
    for (;;) {
        int wait = -1;
        if (timeoutMs >= 0) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            wait = left > 0 ? static_cast<int>(left) : 0;
        }
        epoll_event events[3];
        int n = epoll_wait(set, events, 3, wait);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            SetLastErrFromErrno();
            return -1;
        }
        if (n == 0) {
            if (timeoutMs < 0)
                continue;
            SetLastErr(err::Timeout);
            if (trace::On(trace::Ports))
                trace::Write(trace::Ports, this, "time-out", nullptr, 0, std::to_string(timeoutMs) + " ms");
            return -1;
        }
        bool readable = false, paused = false;
        for (int i = 0; i < n; ++i) {
            switch (events[i].data.u32) {
            case kAbortTag:
                SetLastErr(err::Aborted);
                return -1;
            case kDeviceTag:
                readable = true;
                if (deviceEvents)
                    *deviceEvents = events[i].events;
                break;
            default: paused = true; break;
            }
        }
        if (readable)
            return 1;
        if (paused) {
            SetLastErr(err::Aborted);
            return 0;
        }
    }
}

bool CPortIO_Fd::LockForRead(std::unique_lock<std::recursive_mutex>& readLock)
{
    {
        std::shared_lock fdLock(m_fdLock);
        if (m_fd < 0) {
            SetLastErr(err::NotOpen);
            return false;
        }
    }
    readLock = std::unique_lock(m_readLock);
    std::shared_lock fdLock(m_fdLock);
    if (m_fd < 0) {
        SetLastErr(err::Aborted);
        return false;
    }
    return true;
}

int CPortIO_Fd::ReadBlocking(void* buffer, int max, int timeoutMs)
{
    if (max < 0) {
        SetLastErr(err::BadParam);
        return -1;
    }
    std::shared_lock fdLock(m_fdLock);
    // The port was open when the caller took the read lock: it has been
    // closed since.
    if (m_fd < 0) {
        SetLastErr(err::Aborted);
        return -1;
    }
    for (;;) {
        ssize_t n = ReadSome(m_fd, buffer, static_cast<size_t>(max));
        if (n >= 0)
            return static_cast<int>(n);
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN) {
            SetLastErrFromErrno();
            return -1;
        }
        int woke = WaitForAny({CWaitItem::Of(m_abort), CWaitItem::Fd(m_fd, POLLIN)}, timeoutMs);
        if (woke == 0) {
            SetLastErr(err::Aborted);
            return -1;
        }
        if (woke == kWaitTimeout) {
            SetLastErr(err::Timeout);
            return -1;
        }
        if (woke != 1)
            return -1;
    }
}

bool CPortIO_Fd::ReadExact(void* buffer, int count, int timeoutMs)
{
    return ReadExactly(buffer, count, timeoutMs, false);
}

bool CPortIO_Fd::ReadExactAhead(void* buffer, int count, int timeoutMs)
{
    return ReadExactly(buffer, count, timeoutMs, true);
}

bool CPortIO_Fd::ReadExactly(void* buffer, int count, int timeoutMs, bool ahead)
{
    if (count < 0) {
        SetLastErr(err::BadParam);
        return false;
    }
    // Held across the loop so that another reader cannot take bytes out of
    // the middle of this one's block.
    std::unique_lock<std::recursive_mutex> readLock;
    if (!LockForRead(readLock))
        return false;
    auto* out = static_cast<uint8_t*>(buffer);
    int got = TakeKept(out, count);
    // A wait that has just found the descriptor readable (the reader's
    // WaitForData) lets the first read go without waiting again; that read
    // still waits at most timeoutMs should the bytes be gone meanwhile.
    bool readable = m_dataReady.IsSet();
    auto ready = [&] {
        const bool known = readable;
        readable = false;
        return known || WaitReadable(timeoutMs, false) > 0;
    };
    while (got < count) {
        const int want = count - got;
        if (!ahead || want >= kReadAheadSize) {
            const int n = ready() ? ReadExactStep(out + got, want, timeoutMs) : -1;
            if (n < 0) {
                TraceError("read");
                return false;
            }
            got += n;
            continue;
        }
        uint8_t chunk[kReadAheadSize];
        uint64_t generation = 0;
        int n = -1;
        if (ready()) {
            generation = KeptGeneration();
            n = ReadExactStep(chunk, sizeof chunk, timeoutMs);
        }
        if (n < 0) {
            TraceError("read");
            return false;
        }
        const int used = std::min(n, want);
        std::memcpy(out + got, chunk, static_cast<size_t>(used));
        got += used;
        Keep(chunk + used, n - used, generation);
    }
    SetLastErr(err::Success);
    return true;
}

int CPortIO_Fd::TakeKept(void* buffer, int max)
{
    std::lock_guard lock(m_keptLock);
    const int n = std::min(max, m_keptEnd - m_keptBegin);
    if (n <= 0)
        return 0;
    std::memcpy(buffer, m_kept.data() + m_keptBegin, static_cast<size_t>(n));
    m_keptBegin += n;
    if (m_keptBegin == m_keptEnd)
        m_keptBegin = m_keptEnd = 0;
    return n;
}

bool CPortIO_Fd::HasKept() const
{
    std::lock_guard lock(m_keptLock);
    return m_keptEnd > m_keptBegin;
}

void CPortIO_Fd::DropKept()
{
    std::lock_guard lock(m_keptLock);
    m_keptBegin = m_keptEnd = 0;
    ++m_keptGeneration;
}

uint64_t CPortIO_Fd::KeptGeneration() const
{
    std::lock_guard lock(m_keptLock);
    return m_keptGeneration;
}

void CPortIO_Fd::Keep(const uint8_t* bytes, int count, uint64_t generation)
{
    if (count <= 0)
        return;
    std::lock_guard lock(m_keptLock);
    // Only a reader holding the read lock keeps bytes, and it has taken
    // every kept byte before reading; what a drop overtook is stale.
    if (generation != m_keptGeneration)
        return;
    std::memcpy(m_kept.data(), bytes, static_cast<size_t>(count));
    m_keptBegin = 0;
    m_keptEnd = count;
}

bool CPortIO_Fd::Write(const void* buffer, int count)
{
    if (count < 0 || (count > 0 && !buffer)) {
        SetLastErr(err::BadParam);
        return false;
    }
    {
        std::shared_lock fdLock(m_fdLock);
        if (m_fd < 0) {
            SetLastErr(err::NotOpen);
            return false;
        }
    }
    std::lock_guard writeLock(m_writeLock);
    {
        std::shared_lock fdLock(m_fdLock);
        if (m_fd < 0) {
            SetLastErr(err::Aborted);  // closed while this writer waited
            return false;
        }
        const auto* bytes = static_cast<const uint8_t*>(buffer);
        int done = 0;
        while (done < count) {
            ssize_t n = WriteSome(m_fd, bytes + done, static_cast<size_t>(count - done));
            if (n >= 0) {
                done += static_cast<int>(n);
                continue;
            }
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN) {
                SetLastErrFromErrno();
                TraceError("write");
                return false;
            }
            int woke = WaitForAny({CWaitItem::Of(m_abort), CWaitItem::Fd(m_fd, POLLOUT)}, kInfinite);
            if (woke == 0)
                SetLastErr(err::Aborted);
            if (woke != 1) {
                TraceError("write");
                return false;
            }
        }
    }
    // Outside the descriptor lock: a slow hook must not hold up Close.
    Monitor(0, buffer, count);
    SetLastErr(err::Success);
    return true;
}

bool CPortIO_Fd::AsyncRead(PortDataCallback callback, void* context, PortErrorCallback onError)
{
    return m_reader.Start(callback, context, onError, ReadyForReader());
}

void CPortIO_Fd::TraceError(const char* operation)
{
    if (trace::On(trace::Ports))
        trace::Write(trace::Ports, this, "error", nullptr, 0,
                     std::string(operation) + " ->" + std::to_string(GetLastErr()));
}
