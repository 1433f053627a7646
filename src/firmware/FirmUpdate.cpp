#include "firmware/FirmUpdate.h"

#include "firmware/FirmImage.h"
#include "links/PortMC_Sec.h"
#include "links/PortMC_Tcp.h"

#include <exception>

CFirmUpdate::CFirmUpdate(std::string name, CStdOut* output, CFirmHost& host, FirmTiming timing)
    : m_name(std::move(name)), m_log(output), m_host(host), m_timing(timing)
{
}

CFirmUpdate::~CFirmUpdate()
{
    AbortAll();
    Join();
}

bool CFirmUpdate::AnyUnfinished() const
{
    for (const auto& row : m_rows)
        if (!row->IsFinished())
            return true;
    return false;
}

void CFirmUpdate::AbortAll()
{
    std::lock_guard lock(m_workersLock);
    m_aborting = true;
    m_coordinatorAbort.Set();
    for (auto& worker : m_workers)
        worker->Abort();
}

void CFirmUpdate::Join()
{
    if (m_coordinator.joinable())
        m_coordinator.join();
    std::vector<CFirmWorker*> workers;
    {
        std::lock_guard lock(m_workersLock);
        for (auto& worker : m_workers)
            workers.push_back(worker.get());
    }
    for (CFirmWorker* worker : workers)
        worker->Join();
}

bool CFirmUpdate::Clear()
{
    if (AnyUnfinished())
        return false;
    Join();
    {
        std::lock_guard lock(m_workersLock);
        m_workers.clear();
    }
    m_rows.clear();
    return true;
}

CFirmUpdate::StartResult CFirmUpdate::Start(const _FIRMSETTINGS& settings, CPortMC_All& linkTemplate)
{
    if (AnyUnfinished())
        return StartResult::Busy;
    if (settings.destinations.empty())
        return StartResult::EmptyDestinations;
    Clear();

    m_rows.push_back(std::make_unique<CFirmProgress>());
    for (size_t i = 0; i < settings.destinations.size(); ++i)
        m_rows.push_back(std::make_unique<CFirmProgress>());

    if (settings.firmType != kFirmFlash && settings.firmType != kFirmRam && settings.firmType != kFirmFpgaFlash) {
        m_log.Print("Invalid Operation selected: check Firmware Properties\n");
        for (auto& row : m_rows)
            row->Finish();
        return StartResult::InvalidType;
    }

    m_job = std::make_unique<CFirmJob>();
    m_job->settings = settings;
    m_job->timing = m_timing;
    m_job->name = m_name;
    m_job->log = &m_log;
    m_job->host = &m_host;
    CopySettings(linkTemplate, m_template);
    {
        std::lock_guard lock(m_workersLock);
        m_aborting = false;
    }
    m_coordinatorAbort.Reset();
    m_rows[0]->SetState("", 0, 0, nullptr, &m_coordinatorAbort);
    m_coordinator = std::thread([this] { Coordinate(); });
    return StartResult::Started;
}

void CFirmUpdate::Coordinate()
{
    CFirmProgress& row = *m_rows[0];
    try {
        uint32_t fileVersion = 0;
        if (!GetImage(fileVersion)) {
            row.Finish();
            FinishIdleRows();
            return;
        }
        StartWorkers(fileVersion);
        m_coordinatorAbort.Wait(m_timing.lingerMs);
    } catch (const std::exception& e) {
        char text[1024];
        std::snprintf(text, sizeof text, "FAIL: %s\r\n", e.what());
        row.SetState(text, 0, 0, nullptr, nullptr);
        FinishIdleRows();
    }
    row.Finish();
}

bool CFirmUpdate::GetImage(uint32_t& fileVersion)
{
    CFirmJob& job = *m_job;
    CFirmProgress& row = *m_rows[0];
    const _FIRMSETTINGS& s = job.settings;
    FirmImageOrigin origin;
    bool loaded;
    if (s.getFirmwareFile == 1) {
        loaded = LoadImageFile(s.firmwareFile, s.firmType, job.image, row, m_coordinatorAbort, origin);
    } else if (s.firmType == kFirmFpgaFlash) {
        row.SetState("FAIL: AUTO not supported", 0, 0, nullptr, &m_coordinatorAbort);
        loaded = false;
    } else {
        loaded = LookupWebImage(m_host, s.firmType, job.image, row, m_log, m_coordinatorAbort, fileVersion, origin);
    }
    if (!loaded)
        return false;

    const auto bytes = static_cast<uint32_t>(origin.bytes);
    row.SetState("OK", 0, bytes, &job.image.CharsReadCounter(), &m_coordinatorAbort);
    m_log.Print("Hex File Start 0x%08X End 0x%08X\r\n", job.image.GetStart(), job.image.GetEnd());
    m_log.Print("Image %u data bytes from %s: %llu bytes, SHA-256 %s\r\n", ImageDataBytes(job.image),
                origin.source.c_str(), static_cast<unsigned long long>(origin.bytes), origin.sha256.c_str());
    if (const char* failure = CheckImageAddresses(s.firmType, job.image)) {
        row.SetState(failure, 0, 0, nullptr, &m_coordinatorAbort);
        return false;
    }
    if (m_coordinatorAbort.IsSet()) {
        row.SetState("FAIL: Abort by user", 0, 0, nullptr, &m_coordinatorAbort);
        return false;
    }
    return true;
}

void CFirmUpdate::StartWorkers(uint32_t fileVersion)
{
    CFirmJob& job = *m_job;
    for (size_t i = 0; i < job.settings.destinations.size(); ++i) {
        const uint16_t ccbid = job.settings.destinations[i];
        auto worker =
            std::make_unique<CFirmWorker>(job, *m_rows[i + 1], static_cast<int32_t>(i), ccbid, fileVersion);
        CPortMC_All& link = worker->Data().link;
        CopySettings(m_template, link);
        if (link.GetIOType() == CPortMC_All::kSecondary)
            link.SetPropertyById(CPortMC_Sec::kCcbId, CVariant::FromInt(ccbid));
        else if (link.GetIOType() == CPortMC_All::kTcp)
            link.SetPropertyById(CPortMC_Tcp::kCcbId, CVariant::FromInt(ccbid));

        std::lock_guard lock(m_workersLock);
        if (m_aborting)
            worker->Abort();
        worker->Start();
        m_workers.push_back(std::move(worker));
    }
}

void CFirmUpdate::FinishIdleRows()
{
    std::lock_guard lock(m_workersLock);
    for (size_t i = m_workers.size() + 1; i < m_rows.size(); ++i)
        m_rows[i]->Finish();
}
