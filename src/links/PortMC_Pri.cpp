#include "links/PortMC_Pri.h"

#include "base/Error.h"
#include "links/PortMCFrame.h"

const _PROPOPT kBridgeOptions[] = {{"False", 0}, {"Mode 1", 1}, {"Mode 2", 2}, {nullptr, 0}};

const _PROPDEF CPortMC_Pri::kProperties[] = {
    {"Bridge", kBridge, VarType::Int, kBridgeOptions},
    {"Dest. ID", kDestId, VarType::Int, nullptr},
    {nullptr, 0, VarType::Null, nullptr},
};

namespace {
CPropertyCursor s_cursor;
}  // namespace

CPortMC_Pri::CPortMC_Pri() : CPortMC(&m_com)
{
    m_com.SetPropertyById(CPortIO_Com::kBaud, CVariant::FromInt(38400));
    m_com.SetPropertyById(CPortIO_Com::kParity, CVariant::FromInt(CPortIO_Com::kParityNone));
}

CPortMC_Pri::~CPortMC_Pri() { m_com.Close(); }

bool CPortMC_Pri::GetNextProperty(_PROPDEF& entry, bool restart)
{
    return s_cursor.Next(Properties(), entry, restart);
}

void CPortMC_Pri::ListProperties(PropertyList& out)
{
    AppendProperties(out, kProperties);
    CPortMC::ListProperties(out);
}

bool CPortMC_Pri::GetProperty(int32_t id, CVariant& value)
{
    switch (id) {
    case kBridge:
        value = CVariant::FromInt(m_bridge);
        return true;
    case kDestId:
        value = CVariant::FromInt(m_destId);
        return true;
    default:
        return CPortMC::GetProperty(id, value);
    }
}

bool CPortMC_Pri::SetProperty(std::string_view name, const CVariant& value)
{
    return SetOwnProperty(kProperties, name, value);
}

bool CPortMC_Pri::SetPropertyById(int32_t id, const CVariant& value)
{
    int32_t v;
    switch (id) {
    case kBridge:
        if (!VariantToInt(value, v) || !FindOptionByValue(kBridgeOptions, v))
            return SetLastErr(err::BadParam), false;
        m_bridge = v;
        return true;
    case kDestId:
        if (!VariantToInt(value, v))
            return false;
        m_destId = static_cast<uint16_t>(v);
        return true;
    default:
        return CPortMC::SetPropertyById(id, value);
    }
}

bool PrepareBridgedPayload(CPortMC& link, int32_t mode, uint16_t destination, const uint8_t* bytes, int count,
                           std::vector<uint8_t>& payload)
{
    if (mode == CPortMC_Pri::kBridgeMode1) {
        const uint8_t select[3] = {0xDF, static_cast<uint8_t>(destination >> 8), static_cast<uint8_t>(destination)};
        uint8_t scrap[10];
        int scrapCount = sizeof scrap;
        // Its reply is awaited and discarded.
        if (!link.Command(select, sizeof select, scrap, scrapCount, CPortMC_Pri::kBridgeCommandTimeoutMs))
            return false;
        payload = mcframe::InsertBridge(bytes, count, 0);
    } else if (mode == CPortMC_Pri::kBridgeMode2) {
        payload = mcframe::InsertBridge(bytes, count, destination);
    } else {
        payload.assign(bytes, bytes + count);
    }
    return true;
}

bool CPortMC_Pri::SendFrame(const uint8_t* bytes, int count, int timeoutMs)
{
    (void)timeoutMs;
    if (count < 0 || count > mcframe::kMaxPayload) {
        SetLastErr(err::BadParam);
        return false;
    }
    std::vector<uint8_t> payload;
    {
        // The 0xDF command itself goes out unbridged.
        std::lock_guard lock(m_commandLock);
        const bool wasSuspended = m_bridgeSuspended;
        const int32_t mode = wasSuspended ? kBridgeOff : m_bridge.load();
        m_bridgeSuspended = true;
        const bool ok = PrepareBridgedPayload(*this, mode, m_destId, bytes, count, payload);
        m_bridgeSuspended = wasSuspended;
        if (!ok)
            return false;
    }
    std::vector<uint8_t> frame;
    if (!mcframe::BuildSerialFrame(payload.data(), static_cast<int>(payload.size()), frame) ||
        !WriteBytes(frame.data(), static_cast<int>(frame.size())))
        return false;
    Monitor(0, payload.data(), static_cast<int>(payload.size()));
    SetLastErr(err::Success);
    return true;
}

bool CPortMC_Pri::ReceiveFrame(uint8_t* buffer, int& count, int timeoutMs)
{
    return ReceiveSerialFrame(buffer, count, timeoutMs);
}
