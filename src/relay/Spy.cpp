#include "relay/Spy.h"

#include "language/ExampleFiles.h"

#include <sys/stat.h>

namespace {
bool modificationTime(const std::string& path, std::timespec& out)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return false;
    out = st.st_mtim;
    return true;
}
}  // namespace

CSpy::CSpy(CStdOut& out, size_t slots) : m_out(out), m_ring(slots + 1), m_writer(m_ring)
{
    m_thread = std::thread([this] { PrintLoop(); });
}

CSpy::~CSpy()
{
    // Closing the ring first releases a watched link blocked on it.
    m_ring.Close();
    Watch(nullptr);
    m_thread.join();
}

void CSpy::Watch(CSpyTarget* target)
{
    if (m_target)
        m_target->RegisterSpy(0, &m_writer);
    m_target = target;
    if (m_target)
        m_target->RegisterSpy(CSpyDistribution::FlagsFor(m_printRX, m_printTX), &m_writer);
}

void CSpy::SetPrint(bool printRX, bool printTX)
{
    m_printRX = printRX;
    m_printTX = printTX;
    if (m_target)
        m_target->RegisterSpy(CSpyDistribution::FlagsFor(printRX, printTX), &m_writer);
}

bool CSpy::LoadDecodeFile(const std::string& asked)
{
    const std::string path = FindExampleFile(asked);
    m_out.Print("Reading decode file %s\r\n", path.c_str());
    auto tables = std::make_unique<CVa_Compiler>();
    const bool ok = tables->Compile(path, false) != 0;
    std::timespec when{};
    modificationTime(path, when);
    {
        std::lock_guard lock(m_decodeLock);
        m_decodePath = path;
        m_decodeTime = when;
        m_decoder.reset();
        m_tables.reset();
        if (ok) {
            m_tables = std::move(tables);
            m_decoder = std::make_unique<CStructListDecoder>(m_tables->Structs());
        }
    }
    if (ok)
        m_out.Print("Read Success\r\n");
    else
        m_out.Print("Read Fail: %s\r\n", tables->GetErrorText().c_str());
    return ok;
}

bool CSpy::DecodeFileChanged() const
{
    std::lock_guard lock(m_decodeLock);
    std::timespec now{};
    if (m_decodePath.empty() || !modificationTime(m_decodePath, now))
        return false;
    return now.tv_sec != m_decodeTime.tv_sec || now.tv_nsec != m_decodeTime.tv_nsec;
}

void CSpy::AcceptDecodeFileChange()
{
    std::lock_guard lock(m_decodeLock);
    modificationTime(m_decodePath, m_decodeTime);
}

void CSpy::Print(const _MCDATA& record)
{
    const bool wanted = record.direction == _MCDATA::kReceived ? m_printRX.load() : m_printTX.load();
    if (!wanted)
        return;
    std::lock_guard lock(m_decodeLock);
    const std::string text =
        TrafficText(record, m_decoder.get(), {m_decode.load(), m_time.load(), std::time(nullptr)});
    m_out.Print("%s", text.c_str());
}

void CSpy::PrintLoop()
{
    _MCDATA record;
    // Read gives what is left after Close, then false.
    while (m_ring.Read(record)) {
        (record.direction == _MCDATA::kReceived ? m_rxBytes : m_txBytes) += record.length;
        Print(record);
    }
}
