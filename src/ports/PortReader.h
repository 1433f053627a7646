#pragma once
// A port's background reader: waits for data, calls the data callback, and
// stops reading while it is paused (counted pauses).
//
// Locking: every field is guarded by m_lock; callbacks run with no lock
// held, so a callback may pause, resume or close its port.

#include "ports/PortIO.h"

#include <condition_variable>
#include <mutex>
#include <thread>

class CPortReader {
public:
    struct Policy {
        // Failed waits go to the error callback (false from it ends the
        // reader); without one, line errors (13) are passed over.
        bool errorCallback;
        // Waits first until the port stops reporting a pending open (997).
        bool waitForOpen;
    };

    // pauseRequest is the port's event that ends a WaitForData early.
    CPortReader(CPortIO& port, CEvent& pauseRequest, Policy policy);
    ~CPortReader();
    CPortReader(const CPortReader&) = delete;
    CPortReader& operator=(const CPortReader&) = delete;

    // portReady tells whether the port can be read (open or opening).
    bool Start(PortDataCallback callback, void* context, PortErrorCallback onError, bool portReady);
    // Counted: the reader runs again when every pause has been resumed.
    bool Pause(bool portReady);
    bool Resume(bool portReady);

    // For Close: ends the reader (and wakes pausers waiting for it), joins
    // it unless called on the reader's own thread, and clears the pauses.
    void Stop();
    // For Open: lets a reader run again (a reader stopped from its own
    // callback keeps running if the port was reopened meanwhile).
    void Rearm();

private:
    void Run();
    // The wait-and-call loop; returns the error that ended it.
    uint32_t ReadLoop();
    void WaitUntilOpened();
    bool PauseLocked(std::unique_lock<std::mutex>& lock);
    void StartIfWantedLocked(bool portReady);

    CPortIO& m_port;
    CEvent& m_pauseRequest;
    const Policy m_policy;

    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    std::thread m_thread;
    std::thread::id m_threadId;
    bool m_running = false;  // the thread is in its loop
    bool m_parked = false;   // paused and acknowledged
    bool m_stop = false;     // the port is closing
    int m_pauseCount = 0;
    PortDataCallback m_callback = nullptr;
    void* m_context = nullptr;
    PortErrorCallback m_onError = nullptr;
};
