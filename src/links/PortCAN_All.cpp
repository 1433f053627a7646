#include "links/PortCAN_All.h"

#include "base/Error.h"

namespace {
const _PROPOPT kTypeOptions[] = {{"CAN Port Compatible", CPortCAN_All::kCompatible},
                                 {"CAN Port Node", CPortCAN_All::kNode},
                                 {nullptr, 0}};

CPropertyCursor s_cursor;

bool fail(uint32_t code)
{
    SetLastErr(code);
    return false;
}
}  // namespace

const _PROPDEF CPortCAN_All::kProperties[] = {
    {"CANIOType", kCANIOType, VarType::Int, kTypeOptions},
    {nullptr, 0, VarType::Null, nullptr},
};

CPortCAN_All::CPortCAN_All() = default;

CPortCAN_All::~CPortCAN_All() = default;

CPortCAN* CPortCAN_All::activeOrFail() const
{
    CPortCAN* link = m_active;
    if (!link)
        SetLastErr(err::NotOpen);
    return link;
}

bool CPortCAN_All::GetNextProperty(_PROPDEF& entry, bool restart) { return s_cursor.Next(Properties(), entry, restart); }

void CPortCAN_All::ListProperties(PropertyList& out)
{
    AppendProperties(out, kProperties);
    if (CPortCAN* link = m_active)
        link->ListProperties(out);
}

bool CPortCAN_All::GetProperty(int32_t id, CVariant& value)
{
    if (id == kCANIOType) {
        const int32_t type = m_type;
        const _PROPOPT* option = value.isString() ? FindOptionByValue(kTypeOptions, type) : nullptr;
        value = option ? CVariant::FromString(option->name) : CVariant::FromInt(type);
        return true;
    }
    CPortCAN* link = m_active;
    return link ? link->GetProperty(id, value) : fail(err::BadParam);
}

bool CPortCAN_All::SetProperty(std::string_view name, const CVariant& value)
{
    if (const _PROPDEF* entry = FindProperty(kProperties, name, value.type()))
        return SetPropertyById(entry->id, value);
    CPortCAN* link = m_active;
    return link ? link->SetProperty(name, value) : fail(err::BadParam);
}

bool CPortCAN_All::SetPropertyById(int32_t id, const CVariant& value)
{
    if (id != kCANIOType) {
        CPortCAN* link = m_active;
        return link ? link->SetPropertyById(id, value) : fail(err::BadParam);
    }
    int32_t type = 0;
    if (value.isString() && FindOption(kTypeOptions, value.text())) {
        type = FindOption(kTypeOptions, value.text())->value;
    } else {
        int64_t n;
        if (!value.ToNumber(n) || !FindOptionByValue(kTypeOptions, static_cast<int32_t>(n)))
            return fail(err::BadParam);
        type = static_cast<int32_t>(n);
    }
    std::lock_guard lock(m_switchLock);
    CPortCAN* chosen;
    if (type == kCompatible) {
        if (!m_mc) {
            m_mc = std::make_unique<CPortCAN_MC>();
            if (m_monitor)
                m_mc->SetMonitor(m_monitorContext, m_monitor);
        }
        chosen = m_mc.get();
    } else {
        if (!m_node)
            m_node = std::make_unique<CPortCAN_Node>();
        chosen = m_node.get();
    }
    CPortCAN* previous = m_active.exchange(chosen);
    m_type = type;
    if (previous && previous != chosen)
        previous->Close();
    SetLastErr(err::Success);
    return true;
}

bool CPortCAN_All::AsyncRead(CanReaderCallback callback, void* context)
{
    CPortCAN* link = activeOrFail();
    return link && link->AsyncRead(callback, context);
}

bool CPortCAN_All::Open()
{
    CPortCAN* link = activeOrFail();
    return link && link->Open();
}

void CPortCAN_All::Close()
{
    if (CPortCAN* link = m_active)
        link->Close();
}

bool CPortCAN_All::IsOpen()
{
    CPortCAN* link = activeOrFail();
    return link && link->IsOpen();
}

bool CPortCAN_All::SendMessages(const CanMessage* messages, int count)
{
    CPortCAN* link = activeOrFail();
    return link && link->SendMessages(messages, count);
}

bool CPortCAN_All::ReceiveMessages(CanRecord* records, int& count)
{
    CPortCAN* link = activeOrFail();
    return link && link->ReceiveMessages(records, count);
}

bool CPortCAN_All::Command(const CanMessage* message, int count, CanRecord* reply, int& replyCount)
{
    CPortCAN* link = activeOrFail();
    return link && link->Command(message, count, reply, replyCount);
}

void CPortCAN_All::SetMonitor(void* context, PortMonitor monitor)
{
    std::lock_guard lock(m_switchLock);
    m_monitor = monitor;
    m_monitorContext = context;
    if (m_mc)
        m_mc->SetMonitor(context, monitor);
}

bool CPortCAN_All::PauseReader()
{
    CPortCAN* link = activeOrFail();
    return link && link->PauseReader();
}

bool CPortCAN_All::ResumeReader()
{
    CPortCAN* link = activeOrFail();
    return link && link->ResumeReader();
}
