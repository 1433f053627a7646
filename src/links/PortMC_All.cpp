#include "links/PortMC_All.h"

#include "base/Error.h"

namespace {
const _PROPOPT kIOTypeOptions[] = {
    {"COM Port Primary", 1}, {"COM Port Secondary", 2}, {"TCP/IP Port", 3}, {nullptr, 0}};
CPropertyCursor s_cursor;
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

CPortMC* CPortMC_All::linkOf(int32_t type)
{
    std::unique_ptr<CPortMC>& link = m_links[type];
    if (!link) {
        if (type == kPrimary)
            link = std::make_unique<CPortMC_Pri>();
        else if (type == kSecondary)
            link = std::make_unique<CPortMC_Sec>();
        else
            link = std::make_unique<CPortMC_Tcp>();
        if (m_monitor)
            link->SetMonitor(m_monitorContext, m_monitor);
    }
    return link.get();
}

bool CPortMC_All::GetNextProperty(_PROPDEF& entry, bool restart) { return s_cursor.Next(Properties(), entry, restart); }

void CPortMC_All::ListProperties(PropertyList& out)
{
    AppendProperties(out, kProperties);
    if (CPortMC* link = m_active)
        link->ListProperties(out);
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
        std::lock_guard lock(m_switchLock);
        if (CPortMC* old = m_active; old && type != m_ioType)
            old->Close();
        m_active = linkOf(type);
        m_ioType = type;
        return true;
    }
    if (id == CPortMC_Tcp::kApplyCatalogue) {
        if (m_ioType != kTcp) {
            SetLastErr(err::BadParam);
            return false;
        }
        return m_active.load()->SetPropertyById(id, value);
    }
    CPortMC* link = activeOrFail();
    return link && link->SetPropertyById(id, value);
}

bool CPortMC_All::AsyncRead(LinkReaderCallback callback, void* context)
{
    CPortMC* link = activeOrFail();
    return link && link->AsyncRead(callback, context);
}

bool CPortMC_All::PauseReader()
{
    CPortMC* link = activeOrFail();
    return link && link->PauseReader();
}

bool CPortMC_All::ResumeReader()
{
    CPortMC* link = activeOrFail();
    return link && link->ResumeReader();
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
    std::lock_guard lock(m_switchLock);
    m_monitor = monitor;
    m_monitorContext = context;
    for (auto& link : m_links)
        if (link)
            link->SetMonitor(context, monitor);
}
