#include "links/PortMC_All.h"

#include "base/Error.h"

namespace {
const _PROPOPT kIOTypeOptions[] = {
    {"COM Port Primary", 1}, {"COM Port Secondary", 2}, {"TCP/IP Port", 3}, {nullptr, 0}};
CPropertyCursor s_cursor(CPortMC_All::kProperties);
std::atomic<bool> s_inLink{false};
}  // namespace

const _PROPDEF CPortMC_All::kProperties[] = {
    {"IOType", kIOType, VarType::Int, kIOTypeOptions},
    {nullptr, 0, VarType::Null, nullptr},
};

CPortMC_All::CPortMC_All() : CPortMC(nullptr) {}

CPortMC_All::~CPortMC_All() = default;

CPortMC* CPortMC_All::activeOrFail() const
{
    CPortMC* link = m_active;
    if (!link)
        SetLastErr(err::NotOpen);
    return link;
}

bool CPortMC_All::GetNextProperty(_PROPDEF& entry, bool restart)
{
    if (restart)
        s_inLink = false;
    if (!s_inLink) {
        if (s_cursor.Next(entry, restart))
            return true;
        s_inLink = true;
        CPortMC* link = m_active;
        return link && link->GetNextProperty(entry, true);
    }
    CPortMC* link = m_active;
    return link && link->GetNextProperty(entry, false);
}

bool CPortMC_All::GetProperty(int32_t id, CVariant& value)
{
    if (id == kIOType) {
        value = CVariant::FromInt(m_ioType);
        return true;
    }
    CPortMC* link = m_active;
    return link && link->GetProperty(id, value);
}

bool CPortMC_All::SetProperty(std::string_view name, const CVariant& value)
{
    if (const _PROPDEF* p = FindProperty(kProperties, name, value.type()))
        return SetPropertyById(p->id, value);
    CPortMC* link = activeOrFail();
    return link && link->SetProperty(name, value);
}

bool CPortMC_All::SetPropertyById(int32_t id, const CVariant& value)
{
    if (id == kIOType) {
        int32_t type;
        if (!VariantToInt(value, type) || !FindOptionByValue(kIOTypeOptions, type)) {
            SetLastErr(err::BadParam);
            return false;
        }
        if (CPortMC* old = m_active; old && type != m_ioType)
            old->Close();
        m_ioType = type;
        m_active = type == kPrimary ? static_cast<CPortMC*>(&m_pri)
                   : type == kSecondary ? static_cast<CPortMC*>(&m_sec)
                                        : static_cast<CPortMC*>(&m_tcp);
        return true;
    }
    if (id == CPortMC_Tcp::kApplyCatalogue) {
        if (m_ioType != kTcp) {
            SetLastErr(err::BadParam);
            return false;
        }
        return m_tcp.SetPropertyById(id, value);
    }
    CPortMC* link = activeOrFail();
    return link && link->SetPropertyById(id, value);
}

bool CPortMC_All::AsyncRead(LinkReaderCallback callback, void* context)
{
    CPortMC* link = activeOrFail();
    return link && link->AsyncRead(callback, context);
}

bool CPortMC_All::Open()
{
    CPortMC* link = activeOrFail();
    return link && link->Open();
}

void CPortMC_All::Close()
{
    if (CPortMC* link = m_active)
        link->Close();
}

bool CPortMC_All::IsOpen()
{
    CPortMC* link = activeOrFail();
    return link && link->IsOpen();
}

bool CPortMC_All::SendFrame(const uint8_t* bytes, int count, int timeoutMs)
{
    CPortMC* link = activeOrFail();
    return link && link->SendFrame(bytes, count, timeoutMs);
}

bool CPortMC_All::ReceiveFrame(uint8_t* buffer, int& count, int timeoutMs)
{
    CPortMC* link = activeOrFail();
    return link && link->ReceiveFrame(buffer, count, timeoutMs);
}

bool CPortMC_All::Command(const uint8_t* command, int count, uint8_t* reply, int& replyCount, int timeoutMs,
                          int ccbid)
{
    CPortMC* link = activeOrFail();
    return link && link->Command(command, count, reply, replyCount, timeoutMs, ccbid);
}

void CPortMC_All::SetMonitor(void* context, PortMonitor monitor)
{
    if (CPortMC* link = m_active)
        link->SetMonitor(context, monitor);
}
