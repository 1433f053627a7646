#pragma once
// What the serial and the socket port share: a non-blocking descriptor,
// waits on it together with the abort and pause events, the write loop, the
// background reader and the closing sequence.
//
// Locking: m_fdLock guards the descriptor number. Every operation that uses
// the descriptor holds it shared and waits on m_abort as well; Close sets
// m_abort first, so those operations leave, and then takes it exclusively
// to close the descriptor. Reads and writes are serialised by their own
// locks, so one thread can read while another writes. m_closeLock orders
// Open and Close; no lock is held while joining a thread. m_keptLock guards
// the bytes read ahead; it is taken last and held only to copy them, so a
// parity change or Close drops them without waiting for a reader.

#include "ports/PortIO.h"
#include "ports/PortReader.h"

#include <array>
#include <cstdint>
#include <mutex>
#include <shared_mutex>
#include <sys/types.h>

class CPortIO_Fd : public CPortIO {
public:
    bool ReadExact(void* buffer, int count, int timeoutMs) override;
    bool ReadExactAhead(void* buffer, int count, int timeoutMs) override;
    bool Write(const void* buffer, int count) override;
    bool AsyncRead(PortDataCallback callback, void* context, PortErrorCallback onError = nullptr) override;
    bool PauseReader() override { return m_reader.Pause(ReadyForReader()); }
    bool ResumeReader() override { return m_reader.Resume(ReadyForReader()); }
    CEvent& GetDataEvent() override { return m_dataReady; }
    void Close() override;

protected:
    explicit CPortIO_Fd(CPortReader::Policy readerPolicy);
    ~CPortIO_Fd() override;

    // The descriptor, for use under m_fdLock.
    int fd() const { return m_fd; }
    // Publishes a freshly opened descriptor.
    void Attach(int fd);
    // Open's first steps: close, then clear the abort and pause state.
    void PrepareOpen();

    // Waits until the descriptor is readable, or the pause request (when
    // wakeOnPause) arrives. Returns 1 readable, 0 paused (last error 995),
    // -1 failure (6 not open, 995 aborted, 1460 timed out). When readable,
    // deviceEvents gets the epoll events (EPOLLHUP, EPOLLERR, EPOLLRDHUP).
    int WaitReadable(int timeoutMs, bool wakeOnPause, uint32_t* deviceEvents = nullptr);
    // Takes the read lock of an open port: false with 6 when it is not
    // open, with 995 when it was closed while this caller waited for it.
    bool LockForRead(std::unique_lock<std::recursive_mutex>& readLock);
    // One read with the descriptor held, waiting up to timeoutMs for the
    // first byte: the count (0 when ReadSome gave 0), or -1 with the last
    // error (995 when the port was closed, 1460 at the time-out). For
    // callers holding the read lock.
    int ReadBlocking(void* buffer, int max, int timeoutMs = kInfinite);

    // Moves up to max kept bytes into buffer; returns how many.
    int TakeKept(void* buffer, int max);
    bool HasKept() const;
    // Forgets the kept bytes, and those that a read under way would keep.
    void DropKept();

    // Reads what is there without blocking: count, 0, or -1 with errno
    // (EAGAIN when nothing is there).
    virtual ssize_t ReadSome(int fd, void* buffer, size_t max) = 0;
    // Writes what fits without blocking: count or -1 with errno.
    virtual ssize_t WriteSome(int fd, const void* buffer, size_t count) = 0;
    // ReadExact's read step, waiting up to timeoutMs for the first byte:
    // bytes read, 0 to wait again, -1 failure.
    virtual int ReadExactStep(void* buffer, int max, int timeoutMs) = 0;
    // Whether the reader may start: the port is open (or opening).
    virtual bool ReadyForReader() = 0;
    // Called by Close with the descriptor still open, under the close lock.
    virtual void BeforeClose(int fd);
    // Called by Close after the descriptor is closed, under the close lock.
    virtual void AfterClose();
    // Called by Close before the reader is stopped: ends other workers.
    virtual void StopWorkers();

    CEvent m_abort{true};
    CEvent m_pauseRequest{true};
    CEvent m_dataReady{true};
    std::recursive_mutex m_readLock;
    std::recursive_mutex m_writeLock;
    std::mutex m_closeLock;
    mutable std::shared_mutex m_fdLock;
    CPortReader m_reader;

private:
    // Descriptor sets waited on by WaitReadable; epoll keeps them registered
    // so that each wait costs one call.
    class EpollSet {
    public:
        EpollSet();
        ~EpollSet();
        EpollSet(const EpollSet&) = delete;
        EpollSet& operator=(const EpollSet&) = delete;
        int get() const { return m_fd; }

    private:
        int m_fd;
    };
    enum : uint32_t { kAbortTag, kDeviceTag, kPauseTag };

    // Under the exclusive descriptor lock.
    void CloseDescriptor();
    // ReadExact, and with `ahead` ReadExactAhead.
    bool ReadExactly(void* buffer, int count, int timeoutMs, bool ahead);
    // Keeps bytes read ahead, unless DropKept ran since `generation`.
    void Keep(const uint8_t* bytes, int count, uint64_t generation);
    uint64_t KeptGeneration() const;
    // Traces the failure of `operation` with the last error.
    void TraceError(const char* operation);

    int m_fd = -1;
    mutable std::mutex m_keptLock;
    std::array<uint8_t, kReadAheadSize> m_kept;
    int m_keptBegin = 0;
    int m_keptEnd = 0;
    uint64_t m_keptGeneration = 0;
    EpollSet m_readSet;  // abort, device
    EpollSet m_waitSet;  // abort, device, pause request
};
