#pragma once
// One destination of an update: its own crate link, the check of what is
// installed, then the writing and verifying of its firmware type.
//
// Threads: Start runs the work on a thread of its own; Join waits for it.
// The work reads the job's image and settings only. Every wait of the work
// is a wait on the row's abort event, which ends it at once; chunks are
// never cut in the middle. Command time-outs: FirmTiming::replies.

#include "firmware/FirmCmd.h"
#include "firmware/FirmLog.h"
#include "firmware/FirmProgress.h"
#include "firmware/FirmSettings.h"
#include "firmware/HexFile.h"
#include "firmware/HexFileRead.h"
#include "links/PortMC_All.h"

#include <mutex>
#include <string>
#include <thread>

// What every worker of one start shares; read-only while workers run,
// except the folder question, which installDirLock serialises.
struct CFirmJob {
    _FIRMSETTINGS settings;
    FirmTiming timing;
    std::string name;
    CHexFile image;
    CFirmLog* log = nullptr;
    CFirmHost* host = nullptr;
    std::mutex installDirLock;
};

// The record of one destination.
struct _FIRMDATA {
    int32_t index = 0;          // the destination's row is index + 1
    uint32_t fileVersion = 0;   // major << 16 | minor from the web page; 0 for a file
    uint16_t ccbid = 0;
    CPortMC_All link;           // a copy of the window's link template
};

class CFirmWorker {
public:
    CFirmWorker(CFirmJob& job, CFirmProgress& row, int32_t index, uint16_t ccbid, uint32_t fileVersion);
    ~CFirmWorker();
    CFirmWorker(const CFirmWorker&) = delete;
    CFirmWorker& operator=(const CFirmWorker&) = delete;

    // The worker's link, to be set up before Start.
    _FIRMDATA& Data() { return m_data; }
    // Sets the abort event at once (for a worker that must not start its work).
    void Abort() { m_abort.Set(); }
    void Start();
    void Join();

private:
    enum class Next { Again, Leave, End };

    void Run();
    void Work();
    bool Connect();
    bool OpenLink();
    bool CheckInstalledVersion();
    Next OnStatus(const _FIRMSTATUS& status, uint32_t& error);
    Next StartFlashFirmware(bool miniOnRefusal, uint32_t& error);
    bool LoadMiniFirmware();
    bool FindMiniFirmware(std::string& path);
    void UpdateFlash();
    void UpdateFpgaFlash();
    void UpdateRam();
    // Writes every chunk of the image; false with the row set on failure.
    bool WriteImage(uint32_t granule, bool flash, bool powerOffOnAbort);
    bool VerifyImage(uint32_t granule, bool powerOffOnAbort);
    bool AbortedBetweenChunks(bool powerOffOnAbort);

    // Waits ms on the abort event; true when it was set.
    bool Wait(int ms) { return ms > 0 && m_abort.Wait(ms); }
    void SetRow(const std::string& text);
    // Sets the row and returns false, for one-line failure paths.
    bool Fail(const std::string& text);
    uint32_t ReadGranule() const { return m_job.settings.rdSecSize == 128 ? 128 : 64; }

    CFirmJob& m_job;
    CFirmProgress& m_row;
    _FIRMDATA m_data;
    CEvent m_abort{true, false};
    CHexFileRead m_walker;
    CFirmCmd m_cmd;
    std::thread m_thread;
};

// Where the folder question starts: the folder of the running program, or $HOME.
std::string FirmStartFolder();
