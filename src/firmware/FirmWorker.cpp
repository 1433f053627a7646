#include "firmware/FirmWorker.h"

#include "base/Error.h"

#include <cstdlib>
#include <exception>
#include <filesystem>
#include <unistd.h>

namespace {

constexpr uint32_t kFirstGoodVersion = 0x00010019;  // 1.25
constexpr uint32_t kBootScriptAddress = 0x80200;
constexpr uint32_t kRamEntry = 0x200;
constexpr uint32_t kFpgaFlashId = 0x373016;
constexpr uint8_t kFlashPower = 1;
constexpr uint8_t kFpgaPowerBase = 0x13;
constexpr int kVersionPasses = 4;
constexpr uint32_t kFlashGranule = 256;
constexpr uint32_t kRamGranule = 128;
constexpr uint32_t kRamVerifyGranule = 64;
constexpr int kOpenPollMs = 50;

constexpr char kAbortByUser[] = "FAIL: Abort by user";

bool PowerOnResult(uint8_t result) { return result == 1 || result == 3; }

std::string Printf(const char* format, const std::string& text)
{
    char line[1024];
    std::snprintf(line, sizeof line, format, text.c_str());
    return line;
}

}  // namespace

std::string FirmStartFolder()
{
    std::error_code error;
    const auto program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error && program.has_parent_path())
        return program.parent_path().string();
    const char* home = std::getenv("HOME");
    return home ? home : "/";
}

CFirmWorker::CFirmWorker(CFirmJob& job, CFirmProgress& row, int32_t index, uint16_t ccbid, uint32_t fileVersion)
    : m_job(job), m_row(row), m_cmd(m_data.link, job.timing.replies)
{
    m_data.index = index;
    m_data.ccbid = ccbid;
    m_data.fileVersion = fileVersion;
}

CFirmWorker::~CFirmWorker()
{
    m_abort.Set();
    Join();
}

void CFirmWorker::Start() { m_thread = std::thread([this] { Run(); }); }

void CFirmWorker::Join()
{
    if (m_thread.joinable())
        m_thread.join();
}

void CFirmWorker::SetRow(const std::string& text)
{
    m_row.SetState(text, 0, m_walker.Total(), &m_walker.DeliveredCounter(), &m_abort);
}

bool CFirmWorker::Fail(const std::string& text)
{
    SetRow(text);
    return false;
}

void CFirmWorker::Run()
{
    try {
        Work();
    } catch (const std::exception& e) {
        SetRow(Printf("FAIL: %s", e.what()));
    }
    m_data.link.Close();
    m_row.Finish();
}

void CFirmWorker::Work()
{
    m_walker.Reset(&m_job.image);
    SetRow("Connecting");
    m_cmd.SetAttempts(3);
    char prefix[128];
    std::snprintf(prefix, sizeof prefix, "%s_%d>", m_job.name.c_str(), m_data.ccbid);
    m_cmd.SetOutput(m_job.log, prefix);
    if (m_abort.IsSet())
        return (void)Fail(kAbortByUser);
    if (!Connect())
        return;
    SetRow("Reading Installed Version");
    if (!CheckInstalledVersion())
        return;
    switch (m_job.settings.firmType) {
    case kFirmFlash: UpdateFlash(); break;
    case kFirmRam: UpdateRam(); break;
    default: UpdateFpgaFlash(); break;
    }
}

bool CFirmWorker::Connect()
{
    bool opened;
    try {
        opened = OpenLink();
    } catch (const std::exception& e) {
        m_cmd.Log("Open Error: %s\r\n", e.what());
        return Fail("FAIL: Connection");
    }
    if (opened)
        return true;
    if (m_abort.IsSet())
        return Fail(kAbortByUser);
    m_cmd.Log("%s\r\n", formatErrorText("Open Error:", GetLastErr()).c_str());
    return Fail("FAIL: Connection");
}

// A TCP link connects in the background: wait for it, but not past an abort.
bool CFirmWorker::OpenLink()
{
    if (!m_data.link.Open())
        return false;
    for (int waited = 0;; waited += kOpenPollMs) {
        if (m_data.link.WaitUntilOpen(kOpenPollMs))
            return true;
        if (GetLastErr() != err::Timeout || m_abort.IsSet())
            return false;
        if (waited >= m_job.timing.openWaitMs) {
            SetLastErr(err::Timeout);
            return false;
        }
    }
}

bool CFirmWorker::CheckInstalledVersion()
{
    const FirmTiming& timing = m_job.timing;
    uint32_t error = err::Success;
    bool left = false;
    for (int pass = 0; pass < kVersionPasses && !left; ++pass) {
        if (m_abort.IsSet())
            return Fail(kAbortByUser);
        _FIRMSTATUS status;
        if (!m_cmd.Status(status)) {
            error = GetLastErr();
            if (error == err::Busy) {
                m_cmd.Reset();
                Wait(timing.busyWaitMs);
                m_cmd.Log("BUSY\r\n");
            } else if (error == err::Timeout) {
                if (m_job.settings.timeout < timing.statusBudgetMs)
                    Wait(timing.statusBudgetMs - m_job.settings.timeout);
            } else {
                left = true;
            }
            continue;
        }
        error = err::Success;
        switch (OnStatus(status, error)) {
        case Next::Again: break;
        case Next::Leave: left = true; break;
        case Next::End: return false;
        }
    }
    // An abort during the last pass's wait, and passes used up without a
    // usable answer, must not count as a checked crate.
    if (m_abort.IsSet())
        return Fail(kAbortByUser);
    if (!left && error == err::Success)
        error = err::BadFrame;
    if (error != err::Success)
        return Fail("FAIL");
    m_cmd.SetAttempts(m_job.settings.repeat);
    return true;
}

CFirmWorker::Next CFirmWorker::OnStatus(const _FIRMSTATUS& status, uint32_t& error)
{
    const uint32_t version = status.Version();
    const bool isLong = status.type == _FIRMSTATUS::kLong;
    switch (m_job.settings.firmType) {
    case kFirmFlash:
        if (!isLong)
            return StartFlashFirmware(true, error);
        if (version >= kFirstGoodVersion) {
            if (version != m_data.fileVersion)
                return Next::Leave;
            SetRow("Already Update");
            return Next::End;
        }
        if (version == 1)
            return Next::Leave;
        return LoadMiniFirmware() ? Next::Leave : Next::End;
    case kFirmRam:
        if (isLong) {
            m_cmd.Log("TX Reset\r\n");
            m_cmd.Reset();
            Wait(m_job.timing.resetWaitMs);
            return Next::Again;
        }
        {
            uint8_t scrap;
            if (m_cmd.ReadMem(0, &scrap, 1))
                return Next::Leave;
            error = GetLastErr();
            m_cmd.Log("StopAutoRun fail\r\n");
            return Next::Again;
        }
    default:
        if (!isLong)
            return StartFlashFirmware(false, error);
        if (version < kFirstGoodVersion) {
            SetRow("Firmware too old");
            return Next::End;
        }
        if (version == m_data.fileVersion) {
            SetRow("Already Update");
            return Next::End;
        }
        return Next::Leave;
    }
}

// The boot loader answered: ask it to start the flash firmware.
CFirmWorker::Next CFirmWorker::StartFlashFirmware(bool miniOnRefusal, uint32_t& error)
{
    m_cmd.Log("TX Script\r\n");
    if (m_cmd.Script("sb", kBootScriptAddress)) {
        Wait(m_job.timing.scriptWaitMs);
    } else if (miniOnRefusal && GetLastErr() == err::BadFormat) {
        if (!LoadMiniFirmware())
            return Next::End;
    } else {
        m_cmd.Log("Script fail\r\n");
        error = err::BadFrame;
        return Next::Leave;
    }
    error = err::BadFrame;
    return Next::Again;
}

bool CFirmWorker::FindMiniFirmware(std::string& path)
{
    namespace fs = std::filesystem;
    std::lock_guard lock(m_job.installDirLock);
    const std::string folder = m_job.host->AppValue(kKeyInstallDir, "");
    std::error_code error;
    if (!folder.empty() && fs::is_regular_file(fs::path(folder) / kMiniRamFile, error)) {
        path = (fs::path(folder) / kMiniRamFile).string();
        return true;
    }
    const std::string question = Printf("%s Application folder not found\nPlease Select", kMiniRamFile);
    std::string chosen;
    if (!m_job.host->AskFolder(question, FirmStartFolder(), m_abort, chosen) || m_abort.IsSet())
        return false;
    m_job.host->SetAppValue(kKeyInstallDir, chosen);
    path = (fs::path(chosen) / kMiniRamFile).string();
    return true;
}

bool CFirmWorker::LoadMiniFirmware()
{
    std::string path;
    if (!FindMiniFirmware(path)) {
        m_cmd.Log("%s not loaded: no folder chosen\r\n", kMiniRamFile);
        return Fail(m_abort.IsSet() ? kAbortByUser : "FAIL");
    }
    CHexFile mini;
    if (!mini.Load(path)) {
        m_cmd.Log("%s: %s\r\n", path.c_str(), mini.ErrorText().c_str());
        return Fail("FAIL");
    }
    CHexFileRead walk;
    walk.Reset(&mini);
    m_row.SetState("RAM Load Mini Firmware", 0, walk.Total(), &walk.DeliveredCounter(), &m_abort);
    // The row must not keep pointing at this walk once it is gone.
    struct RowBack {
        CFirmWorker& worker;
        ~RowBack() { worker.SetRow(worker.m_row.GetState()); }
    } rowBack{*this};

    m_cmd.Log("TX Reset\r\n");
    m_cmd.Reset();
    if (Wait(m_job.timing.resetWaitMs))
        return Fail(kAbortByUser);
    const int attempts = m_cmd.Attempts();
    m_cmd.SetAttempts(m_job.settings.repeat);
    uint8_t chunk[kRamGranule];
    uint32_t address, length;
    bool written = true;
    while (written && walk.GetNext(chunk, address, length, kRamGranule)) {
        if (!m_cmd.WriteMem(address, chunk, static_cast<int>(length)))
            written = Fail("FAIL");
        else if (m_abort.IsSet())
            written = Fail(kAbortByUser);
    }
    if (written) {
        if (!m_cmd.Script("", kRamEntry))
            m_cmd.Log("Fail Script\r\n");
        Wait(m_job.timing.resetWaitMs);
        SetLastErr(err::Success);
    }
    m_cmd.SetAttempts(attempts);
    return written;
}

bool CFirmWorker::AbortedBetweenChunks(bool powerOffOnAbort)
{
    if (!m_abort.IsSet())
        return false;
    if (powerOffOnAbort) {
        uint8_t result;
        m_cmd.Power(kFlashPower, false, result);
    }
    SetRow(kAbortByUser);
    return true;
}

bool CFirmWorker::WriteImage(uint32_t granule, bool flash, bool powerOffOnAbort)
{
    m_walker.Reset(&m_job.image);
    SetRow("Writing");
    uint8_t chunk[kFlashGranule];
    uint32_t address, length;
    while (m_walker.GetNext(chunk, address, length, granule)) {
        const int n = static_cast<int>(length);
        if (!(flash ? m_cmd.WriteFlash(address, chunk, n) : m_cmd.WriteMem(address, chunk, n)))
            return Fail("FAIL");
        if (AbortedBetweenChunks(powerOffOnAbort))
            return false;
    }
    return true;
}

bool CFirmWorker::VerifyImage(uint32_t granule, bool powerOffOnAbort)
{
    m_walker.Reset(&m_job.image);
    SetRow("Verify");
    uint8_t expected[kFlashGranule];
    uint8_t actual[kFlashGranule];
    uint32_t address, length;
    while (m_walker.GetNext(expected, address, length, granule)) {
        if (!m_cmd.ReadMem(address, actual, static_cast<int>(length))) {
            m_cmd.Log("Fail ReadMem\r\n");
            return Fail("FAIL");
        }
        if (!std::equal(expected, expected + length, actual)) {
            m_cmd.Log("Compare Fail MEMORY 0x%08X\r\n", address);
            return Fail("FAIL Verify");
        }
        if (AbortedBetweenChunks(powerOffOnAbort))
            return false;
    }
    return true;
}

void CFirmWorker::UpdateFlash()
{
    const _FIRMSETTINGS& s = m_job.settings;
    if (s.firmWrite) {
        SetRow("Writing");
        if (!m_cmd.ProtectFlash(false))
            return (void)Fail("FAIL");
        if (!WriteImage(kFlashGranule, true, true))
            return;
        if (!m_cmd.ProtectFlash(true))
            return (void)Fail("FAIL");
    }
    if (s.firmVerify) {
        m_walker.Reset(&m_job.image);
        SetRow("Verify");
        uint8_t result = 0;
        if (!m_cmd.Power(kFlashPower, true, result)) {
            m_cmd.Log("Fail Power On flash\r\n");
            return (void)Fail("FAIL");
        }
        if (!PowerOnResult(result)) {
            m_cmd.Log("Fail Power On flash=%d\r\n", result);
            return (void)Fail("FAIL");
        }
        if (!VerifyImage(ReadGranule(), true))
            return;
        if (!m_cmd.Power(kFlashPower, false, result))
            return (void)Fail("FAIL");
    }
    if (s.firmWrite && s.mcReset)
        m_cmd.Reset();
    SetRow("OK");
}

void CFirmWorker::UpdateFpgaFlash()
{
    const _FIRMSETTINGS& s = m_job.settings;
    const auto board = static_cast<uint8_t>(s.flashTrb);
    uint8_t result = 0;
    uint16_t status = 0;
    uint32_t id = 0;
    if (!m_cmd.OffLine(true, result) || result == 0)
        return (void)Fail("FAIL OffLine");
    if (!m_cmd.Power(static_cast<uint8_t>(kFpgaPowerBase + board), true, result) || !PowerOnResult(result))
        return (void)Fail("FAIL Power");
    if (!m_cmd.OnFpgaFlash(board, true, status) || status != 0)
        return (void)Fail("FAIL OnFpgaFlash");
    if (!m_cmd.RdFpgaFlashID(board, status, id) || status != 0 || id != kFpgaFlashId)
        return (void)Fail("FAIL RdFpgaFlashID");
    if (!m_cmd.SelFpgaFlash(board, status) || status != 0)
        return (void)Fail("FAIL SelFpgaFlash");
    if (!m_cmd.JtagBus(board, 2, status) || status != 0)
        return (void)Fail("FAIL JtagBus");
    if (s.firmWrite && !WriteImage(kFlashGranule, true, true))
        return;
    if (s.firmVerify && !VerifyImage(ReadGranule(), true))
        return;
    if (!m_cmd.JtagBus(board, 0, status) || status != 0)
        return (void)Fail("FAIL JtagBus");
    if (!m_cmd.OnFpgaFlash(board, false, status) || status != 0)
        return (void)Fail("FAIL OnFpgaFlash");
    if (!m_cmd.OffLine(false, result))
        return (void)Fail("FAIL OffLine");
    SetRow("OK");
}

void CFirmWorker::UpdateRam()
{
    const _FIRMSETTINGS& s = m_job.settings;
    if (s.firmWrite && !WriteImage(kRamGranule, false, false))
        return;
    if (s.firmVerify && !VerifyImage(kRamVerifyGranule, false))
        return;
    if (s.firmWrite && !m_cmd.Script("", kRamEntry))
        m_cmd.Log("Fail Script\r\n");
    SetRow("OK");
}
