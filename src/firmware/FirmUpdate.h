#pragma once
// The firmware update engine: one image written into the control boards of
// many crates at once, one worker thread per crate, each on its own copy of
// the window's link, behind a coordinator thread that gets the image.
//
// Threads: Start, Clear, Join and the row list belong to the owner's thread
// (the window's, or the command line's main thread); the rows themselves
// may be read from there while the update runs. AbortAll may be called from
// any thread. The destructor aborts and joins every thread. Waits: see
// FirmTiming; each is a wait on an abort event.

#include "base/StdOut.h"
#include "firmware/FirmLog.h"
#include "firmware/FirmProgress.h"
#include "firmware/FirmSettings.h"
#include "firmware/FirmWorker.h"
#include "links/PortMC_All.h"

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CFirmUpdate {
public:
    enum class StartResult { Started, EmptyDestinations, InvalidType, Busy };

    // name prefixes the workers' log lines ("%s_%d>"); output receives the
    // log (null: none) and must outlive the engine.
    CFirmUpdate(std::string name, CStdOut* output, CFirmHost& host, FirmTiming timing = {});
    ~CFirmUpdate();
    CFirmUpdate(const CFirmUpdate&) = delete;
    CFirmUpdate& operator=(const CFirmUpdate&) = delete;

    // Clears the list, adds row 0 ("Load File") and one row per destination,
    // and starts the coordinator. The link template is copied here, so the
    // caller may change it while the update runs.
    StartResult Start(const _FIRMSETTINGS& settings, CPortMC_All& linkTemplate);

    size_t RowCount() const { return m_rows.size(); }
    CFirmProgress& Row(size_t index) { return *m_rows[index]; }
    bool AnyUnfinished() const;

    // Aborts the coordinator and every worker, those about to start included.
    void AbortAll();
    // Waits until every thread of the last start has ended.
    void Join();
    // Empties the list once every row has finished; false while one runs.
    bool Clear();

    // The image of the last start (stable once its coordinator has ended).
    const CHexFile* Image() const { return m_job ? &m_job->image : nullptr; }

private:
    void Coordinate();
    bool GetImage(uint32_t& fileVersion);
    void StartWorkers(uint32_t fileVersion);
    // Finishes the rows of destinations whose workers never started.
    void FinishIdleRows();

    std::string m_name;
    CFirmLog m_log;
    CFirmHost& m_host;
    FirmTiming m_timing;

    std::vector<std::unique_ptr<CFirmProgress>> m_rows;
    std::unique_ptr<CFirmJob> m_job;
    CPortMC_All m_template;
    CEvent m_coordinatorAbort{true, false};
    std::thread m_coordinator;

    std::mutex m_workersLock;
    std::vector<std::unique_ptr<CFirmWorker>> m_workers;  // guarded by m_workersLock
    bool m_aborting = false;                              // guarded by m_workersLock
};
