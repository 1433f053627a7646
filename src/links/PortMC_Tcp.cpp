#include "links/PortMC_Tcp.h"

#include "base/Error.h"
#include "links/PortMCFrame.h"
#include "links/PortMC_Pri.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

const _PROPOPT kModeOptions[] = {{"Manual", 0}, {"McList", 1}, {nullptr, 0}};
const _PROPOPT kPortTypeOptions[] = {{"Primary", 1}, {"Sec. S1-S6", 2}, {"Sec. S7-S12", 3}, {nullptr, 0}};
const _PROPOPT kWheelOptions[] = {{"YB-2", -2}, {"YB-1", -1}, {"YB0", 0}, {"YB+1", 1}, {"YB+2", 2}, {nullptr, 0}};
const _PROPOPT kSectorOptions[] = {{"S1", 1}, {"S2", 2},   {"S3", 3},   {"S4", 4},   {"S5", 5},
                                   {"S6", 6}, {"S7", 7},   {"S8", 8},   {"S9", 9},   {"S10", 10},
                                   {"S11", 11}, {"S12", 12}, {nullptr, 0}};
const _PROPOPT kMcOptions[] = {{"MB1", 1}, {"MB2", 2}, {"MB3", 3}, {"MB4", 4}, {"MB5", 5}, {nullptr, 0}};

CPropertyCursor s_cursor;

// Extra payload bytes the head may announce before the frame is taken as broken.
constexpr uint32_t kMaxReplyPayload = 65536;

std::string position(int wheel, int sector, int type)
{
    const _PROPOPT* w = FindOptionByValue(kWheelOptions, wheel);
    return std::string(w ? w->name : "YB?") + " S" + std::to_string(sector) + " MB" + std::to_string(type);
}

}  // namespace

const char CPortMC_Tcp::kDefaultMcList[] = "http://crates.divadiduv.local/DivadiduvList.xml";

const _PROPDEF CPortMC_Tcp::kProperties[] = {
    {"CCB ID Mode", kCcbIdMode, VarType::Int, kModeOptions},
    {"MC List", kMcList, VarType::String, nullptr},
    {"Port Type", kPortType, VarType::Int, kPortTypeOptions},
    {"CCB ID", kCcbId, VarType::Int, nullptr},
    {"Wheel", kWheel, VarType::Int, kWheelOptions},
    {"Sector", kSector, VarType::Int, kSectorOptions},
    {"MC Type", kMcType, VarType::Int, kMcOptions},
    {"Bridge", kBridge, VarType::Int, kBridgeOptions},
    {"Dest. ID", kDestId, VarType::Int, nullptr},
    {"Dest. MC", kDestMc, VarType::Int, kMcOptions},
    {"Timeout", kTimeout, VarType::Int, nullptr},
    {nullptr, 0, VarType::Null, nullptr},
};

CPortMC_Tcp::CPortMC_Tcp() : CPortMC(&m_socket)
{
    m_socket.SetPropertyById(CPortIO_Socket::kSocketType, CVariant::FromInt(CPortIO_Socket::kTcp));
    m_socket.SetPropertyById(CPortIO_Socket::kOpenAsync, CVariant::FromBool(true));
}

CPortMC_Tcp::~CPortMC_Tcp() { m_socket.Close(); }

CPortMC_Tcp::Settings CPortMC_Tcp::Snapshot() const
{
    std::lock_guard lock(m_settingsLock);
    return m_settings;
}

CPortMC_Tcp::FrameSettings CPortMC_Tcp::FrameSnapshot() const
{
    std::lock_guard lock(m_settingsLock);
    return {m_settings.ccbid, m_settings.bridge, m_settings.destId, m_settings.timeout};
}

void CPortMC_Tcp::SetCatalogue(std::unique_ptr<CDivadiduvs> catalogue)
{
    std::lock_guard lock(m_settingsLock);
    m_catalogue = std::move(catalogue);
}

bool CPortMC_Tcp::GetNextProperty(_PROPDEF& entry, bool restart)
{
    return s_cursor.Next(Properties(), entry, restart);
}

void CPortMC_Tcp::ListProperties(PropertyList& out)
{
    AppendProperties(out, kProperties);
    CPortMC::ListProperties(out);
}

bool CPortMC_Tcp::GetProperty(int32_t id, CVariant& value)
{
    const Settings s = Snapshot();
    switch (id) {
    case kCcbIdMode: value = CVariant::FromInt(s.ccbIdMode); return true;
    case kMcList: value = CVariant::FromString(s.mcList); return true;
    case kPortType: value = CVariant::FromInt(s.portType); return true;
    case kCcbId: value = CVariant::FromInt(s.ccbid); return true;
    case kWheel: value = CVariant::FromInt(s.wheel); return true;
    case kSector: value = CVariant::FromInt(s.sector); return true;
    case kMcType: value = CVariant::FromInt(s.mcType); return true;
    case kBridge: value = CVariant::FromInt(s.bridge); return true;
    case kDestId: value = CVariant::FromInt(s.destId); return true;
    case kDestMc: value = CVariant::FromInt(s.destMc); return true;
    case kTimeout: value = CVariant::FromInt(s.timeout); return true;
    default: return CPortMC::GetProperty(id, value);
    }
}

bool CPortMC_Tcp::SetProperty(std::string_view name, const CVariant& value)
{
    return SetOwnProperty(kProperties, name, value);
}

bool CPortMC_Tcp::SetPropertyById(int32_t id, const CVariant& value)
{
    if (id == kApplyCatalogue) {
        ApplyCatalogue();
        return true;
    }
    const _PROPDEF* def = FindPropertyById(kProperties, id);
    if (!def)
        return CPortMC::SetPropertyById(id, value);

    std::lock_guard lock(m_settingsLock);
    if (id == kMcList) {
        std::string text;
        if (!value.ToText(text)) {
            SetLastErr(err::BadParam);
            return false;
        }
        m_settings.mcList = text;
        return true;
    }
    int32_t v;
    if (!VariantToInt(value, v))
        return false;
    if (def->options && !FindOptionByValue(def->options, v)) {
        SetLastErr(err::BadParam);
        return false;
    }
    if (id == kTimeout && (v < 0 || v > kMaxTimeoutMs)) {
        SetLastErr(err::BadParam);
        return false;
    }
    Settings& s = m_settings;
    switch (id) {
    case kCcbIdMode: s.ccbIdMode = v; break;
    case kPortType: s.portType = v; break;
    case kCcbId: s.ccbid = static_cast<uint16_t>(v); break;
    case kWheel: s.wheel = v; break;
    case kSector: s.sector = v; break;
    case kMcType: s.mcType = v; s.destMc = v; break;  // the bridge target follows the crate type
    case kBridge: s.bridge = v; break;
    case kDestId: s.destId = static_cast<uint16_t>(v); break;
    case kDestMc: s.destMc = v; break;
    case kTimeout: s.timeout = v; break;
    }
    return true;
}

void CPortMC_Tcp::TakeCommandCcbid(int ccbid)
{
    std::lock_guard lock(m_settingsLock);
    m_settings.ccbid = static_cast<uint16_t>(ccbid);
}

void CPortMC_Tcp::ApplyCatalogue()
{
    std::lock_guard lock(m_settingsLock);
    Settings& s = m_settings;
    if (s.ccbIdMode != kMcListMode || !m_catalogue)
        return;
    const CDivadiduvs& list = *m_catalogue;
    const int index = list.Find(s.wheel, s.sector, s.mcType);
    if (index < 0)
        throw CMcListError("No crate " + position(s.wheel, s.sector, s.mcType) + " in the crate list");
    const CDivadiduv& crate = list.GetAt(index);
    m_socket.SetPropertyById(CPortIO_Socket::kHost, CVariant::FromString(crate.host));

    if (s.portType == kPrimary) {
        m_socket.SetPropertyById(CPortIO_Socket::kPort, CVariant::FromUInt16(static_cast<uint16_t>(crate.pidPort)));
        s.ccbid = static_cast<uint16_t>(crate.pid);
        if (s.bridge != 0) {
            if (s.destMc == s.mcType)
                throw CMcListError("Dest. MC must differ from MC Type: " + position(s.wheel, s.sector, s.mcType) +
                                   " cannot bridge to itself");
            const int dest = list.Find(s.wheel, s.sector, s.destMc);
            if (dest < 0)
                throw CMcListError("No bridge destination " + position(s.wheel, s.sector, s.destMc) +
                                   " in the crate list");
            s.destId = static_cast<uint16_t>(list.GetAt(dest).ccbid);
        }
    } else {
        const int firstSector = s.portType == kSecondaryLow ? 1 : 7;
        const int server = list.Find(s.wheel, firstSector, s.mcType);
        if (server < 0)
            throw CMcListError("No crate " + position(s.wheel, firstSector, s.mcType) +
                               " for the secondary bus server in the crate list");
        m_socket.SetPropertyById(CPortIO_Socket::kPort,
                                 CVariant::FromUInt16(static_cast<uint16_t>(list.GetAt(server).ccbidPort)));
        s.ccbid = static_cast<uint16_t>(crate.secondaryAddress);
        s.bridge = 0;
    }
}

bool CPortMC_Tcp::Open()
{
    const Settings s = Snapshot();
    if (s.ccbIdMode == kMcListMode) {
        bool loaded;
        {
            std::lock_guard lock(m_settingsLock);
            loaded = m_catalogue != nullptr;
        }
        if (!loaded) {
            auto catalogue = LoadDivadiduvs(s.mcList);
            if (!catalogue)
                return false;
            SetCatalogue(std::move(catalogue));
        }
        ApplyCatalogue();
    }
    return m_socket.Open();
}

bool CPortMC_Tcp::SendFrame(const uint8_t* bytes, int count, int timeoutMs)
{
    if (count < 0 || count > mcframe::kMaxPayload) {
        SetLastErr(err::BadParam);
        return false;
    }
    std::vector<uint8_t> frame;
    {
        std::lock_guard lock(m_commandLock);
        const FrameSettings s = FrameSnapshot();
        const bool wasSuspended = m_bridgeSuspended;
        m_bridgeSuspended = true;
        std::vector<uint8_t> payload;
        const bool ok =
            PrepareBridgedPayload(*this, wasSuspended ? 0 : s.bridge, s.destId, bytes, count, payload);
        m_bridgeSuspended = wasSuspended;
        if (!ok)
            return false;
        const uint16_t ccbid = FrameSnapshot().ccbid;
        const auto head = mcframe::BuildTcpHead(ccbid, static_cast<uint32_t>(payload.size()), timeoutMs);
        frame.assign(head.begin(), head.end());
        frame.insert(frame.end(), payload.begin(), payload.end());
    }
    if (!WriteBytes(frame.data(), static_cast<int>(frame.size())))
        return false;
    Monitor(0, frame.data() + mcframe::kTcpHeadSize, static_cast<int>(frame.size()) - mcframe::kTcpHeadSize);
    SetLastErr(err::Success);
    return true;
}

bool CPortMC_Tcp::ReceiveFrame(uint8_t* buffer, int& count, int timeoutMs)
{
    std::lock_guard lock(m_receiveLock);
    uint8_t head[mcframe::kTcpHeadSize];
    // The crate server's own time-out comes on top of the caller's; added
    // in 64 bits, and an unlimited wait stays unlimited.
    const int64_t headWait =
        timeoutMs < 0 ? -1 : std::min<int64_t>(int64_t{FrameSnapshot().timeout} + timeoutMs, INT32_MAX);
    // One read takes the head and what is there of the payload.
    if (!m_socket.ReadExactAhead(head, sizeof head, static_cast<int>(headWait))) {
        const uint32_t e = GetLastErr();
        if (e == err::ConnReset) {
            Close();
            SetLastErr(e);
        }
        return false;
    }
    mcframe::TcpHead h;
    if (!mcframe::ParseTcpHead(head, h) || h.length < mcframe::kTcpHeadSize ||
        h.length - mcframe::kTcpHeadSize > kMaxReplyPayload) {
        SetLastErr(err::BadFrame);
        return false;
    }
    std::vector<uint8_t> payload(h.length - mcframe::kTcpHeadSize);
    const int payloadSize = static_cast<int>(payload.size());
    if (payloadSize > 0 && !m_socket.ReadExactAhead(payload.data(), payloadSize, kFrameByteTimeoutMs))
        return false;
    const int length = static_cast<int>(payload.size());
    Monitor(1, payload.data(), length);
    const bool fits = length <= count;
    if (fits)
        std::copy(payload.begin(), payload.end(), buffer);
    count = length;
    if (h.field < 0) {
        SetLastErr(err::Timeout);
        return false;
    }
    SetLastErr(fits ? err::Success : err::MoreData);
    return fits;
}
