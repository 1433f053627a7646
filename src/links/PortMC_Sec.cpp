#include "links/PortMC_Sec.h"

#include "base/Error.h"
#include "links/PortMCFrame.h"

#include <chrono>
#include <thread>

const _PROPDEF CPortMC_Sec::kProperties[] = {
    {"CCB ID", kCcbId, VarType::Int, nullptr},
    {nullptr, 0, VarType::Null, nullptr},
};

namespace {
CPropertyCursor s_cursor;

// Milliseconds on the monotonic clock when any secondary link last selected a board.
std::atomic<int64_t> s_lastSelection{INT64_MIN / 2};

int64_t nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// The line settles between the parity change and the bytes. A plain sleep:
// it is bounded to 6 ms, shorter than any wait a stop would cut short.
void settle()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
}
}  // namespace

CPortMC_Sec::CPortMC_Sec() : CPortMC(&m_com)
{
    m_com.SetPropertyById(CPortIO_Com::kBaud, CVariant::FromInt(38400));
    m_com.SetPropertyById(CPortIO_Com::kParity, CVariant::FromInt(CPortIO_Com::kParitySpace));
}

CPortMC_Sec::~CPortMC_Sec() { m_com.Close(); }

bool CPortMC_Sec::GetNextProperty(_PROPDEF& entry, bool restart)
{
    return s_cursor.Next(Properties(), entry, restart);
}

void CPortMC_Sec::ListProperties(PropertyList& out)
{
    AppendProperties(out, kProperties);
    CPortMC::ListProperties(out);
}

bool CPortMC_Sec::GetProperty(int32_t id, CVariant& value)
{
    if (id == kCcbId) {
        value = CVariant::FromInt(m_ccbid);
        return true;
    }
    return CPortMC::GetProperty(id, value);
}

bool CPortMC_Sec::SetProperty(std::string_view name, const CVariant& value)
{
    return SetOwnProperty(kProperties, name, value);
}

bool CPortMC_Sec::SetPropertyById(int32_t id, const CVariant& value)
{
    if (id == kCcbId) {
        int32_t v;
        if (!VariantToInt(value, v))
            return false;
        m_ccbid = static_cast<uint16_t>(v);
        return true;
    }
    return CPortMC::SetPropertyById(id, value);
}

void CPortMC_Sec::TakeCommandCcbid(int ccbid) { m_ccbid = static_cast<uint16_t>(ccbid); }

bool CPortMC_Sec::SelectBoard(uint16_t ccbid)
{
    std::lock_guard lock(m_selectLock);
    if (m_selected == ccbid && nowMs() - s_lastSelection.load() <= kSelectionHoldMs)
        return true;
    s_lastSelection = nowMs();
    settle();
    m_selected = -1;
    if (!m_com.SetPropertyById(CPortIO_Com::kParityNow, CVariant::FromString("m")))
        return false;
    const auto frame = mcframe::BuildAddressFrame(ccbid);
    const bool written = WriteBytes(frame.data(), static_cast<int>(frame.size()));
    const uint32_t writeError = GetLastErr();
    settle();
    const bool spaced = m_com.SetPropertyById(CPortIO_Com::kParityNow, CVariant::FromString("s"));
    if (!written) {
        SetLastErr(writeError);
        return false;
    }
    if (!spaced)
        return false;
    m_selected = ccbid;
    return true;
}

bool CPortMC_Sec::SendFrame(const uint8_t* bytes, int count, int timeoutMs)
{
    (void)timeoutMs;
    std::vector<uint8_t> frame;
    if (!mcframe::BuildSerialFrame(bytes, count, frame))
        return false;
    if (!SelectBoard(m_ccbid) || !WriteBytes(frame.data(), static_cast<int>(frame.size())))
        return false;
    Monitor(0, bytes, count);
    SetLastErr(err::Success);
    return true;
}

bool CPortMC_Sec::ReceiveFrame(uint8_t* buffer, int& count, int timeoutMs)
{
    return ReceiveSerialFrame(buffer, count, timeoutMs);
}
