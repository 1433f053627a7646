#include "ports/PortIO_Fd.h"

#include "base/Error.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

CPortIO_Fd::CPortIO_Fd(CPortReader::Policy readerPolicy) : m_reader(*this, m_pauseRequest, readerPolicy) {}

CPortIO_Fd::~CPortIO_Fd()
{
    // The most derived class has closed already; this only covers a
    // descriptor attached after that.
    m_abort.Set();
    m_reader.Stop();
    if (m_fd >= 0)
        ::close(m_fd);
}

void CPortIO_Fd::Attach(int fd)
{
    std::lock_guard closeLock(m_closeLock);
    std::unique_lock fdLock(m_fdLock);
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
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
        ::close(m_fd);
        m_fd = -1;
    }
    AfterClose();
}

void CPortIO_Fd::BeforeClose(int) {}
void CPortIO_Fd::AfterClose() {}
void CPortIO_Fd::StopWorkers() {}

int CPortIO_Fd::WaitReadable(int timeoutMs, bool wakeOnPause)
{
    std::shared_lock fdLock(m_fdLock);
    if (m_fd < 0) {
        SetLastErr(err::NotOpen);
        return -1;
    }
    const CWaitItem items[] = {CWaitItem::Of(m_abort), CWaitItem::Fd(m_fd, POLLIN), CWaitItem::Of(m_pauseRequest)};
    switch (WaitForAny(std::span(items, wakeOnPause ? 3 : 2), timeoutMs)) {
    case 0:
        SetLastErr(err::Aborted);
        return -1;
    case 1:
        return 1;
    case 2:
        SetLastErr(err::Aborted);
        return 0;
    case kWaitTimeout:
        SetLastErr(err::Timeout);
        return -1;
    default:
        return -1;
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

int CPortIO_Fd::ReadBlocking(void* buffer, int max)
{
    if (max < 0) {
        SetLastErr(err::BadParam);
        return -1;
    }
    std::shared_lock fdLock(m_fdLock);
    if (m_fd < 0) {
        SetLastErr(err::NotOpen);
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
        int woke = WaitForAny({CWaitItem::Of(m_abort), CWaitItem::Fd(m_fd, POLLIN)}, kInfinite);
        if (woke == 0) {
            SetLastErr(err::Aborted);
            return -1;
        }
        if (woke != 1)
            return -1;
    }
}

bool CPortIO_Fd::ReadExact(void* buffer, int count, int timeoutMs)
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
    int got = 0;
    while (got < count) {
        if (WaitReadable(timeoutMs, false) <= 0)
            return false;
        int n = ReadExactStep(out + got, count - got);
        if (n < 0)
            return false;
        got += n;
    }
    SetLastErr(err::Success);
    return true;
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
                return false;
            }
            int woke = WaitForAny({CWaitItem::Of(m_abort), CWaitItem::Fd(m_fd, POLLOUT)}, kInfinite);
            if (woke == 0) {
                SetLastErr(err::Aborted);
                return false;
            }
            if (woke != 1)
                return false;
        }
    }
    // Outside the descriptor lock: a slow hook must not hold up Close.
    Monitor(0, buffer, count);
    SetLastErr(err::Success);
    return true;
}

bool CPortIO_Fd::AsyncRead(PortDataCallback callback, void* context, PortErrorCallback onError, void* spare)
{
    return m_reader.Command(callback, context, onError, spare, ReadyForReader());
}
