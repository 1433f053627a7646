#include "relay/RelaySettings.h"

#include "base/Error.h"
#include "links/PortMCFrame.h"

#include <cstring>
#include <strings.h>

namespace {

bool fail()
{
    SetLastErr(err::BadParam);
    return false;
}

bool numberIn(const CVariant& value, int64_t low, int64_t high, int32_t& out)
{
    int64_t n;
    if (!value.ToNumber(n) || n < low || n > high)
        return fail();
    out = static_cast<int32_t>(n);
    return true;
}

}  // namespace

const _PROPDEF CRelaySettings::kProperties[] = {
    {"ServerPort", kServerPort, VarType::Int, nullptr},
    {"ServerReplyTo", kServerReplyTo, VarType::Int, nullptr},
    {"BindAddress", kBindAddress, VarType::String, nullptr},
    {"AllowClients", kAllowClients, VarType::String, nullptr},
    {"MaxClients", kMaxClients, VarType::Int, nullptr},
    {"FrameDeadline", kFrameDeadline, VarType::Int, nullptr},
    {"MaxCmdTimeOut", kMaxCmdTimeOut, VarType::Int, nullptr},
    {"WriteDeadline", kWriteDeadline, VarType::Int, nullptr},
    {nullptr, 0, VarType::Null, nullptr},
};

PropertyList CRelaySettings::Properties()
{
    PropertyList list;
    AppendProperties(list, kProperties);
    return list;
}

bool CRelaySettings::GetProperty(int32_t id, CVariant& value) const
{
    const Values& v = m_values;
    switch (id) {
    case kServerPort: value = CVariant::FromInt(v.serverPort); return true;
    case kServerReplyTo: value = CVariant::FromInt(v.serverReplyTo); return true;
    case kBindAddress: value = CVariant::FromString(v.bindAddress); return true;
    case kAllowClients: value = CVariant::FromString(v.allowClients); return true;
    case kMaxClients: value = CVariant::FromInt(v.maxClients); return true;
    case kFrameDeadline: value = CVariant::FromInt(v.frameDeadline); return true;
    case kMaxCmdTimeOut: value = CVariant::FromInt(v.maxCmdTimeOut); return true;
    case kWriteDeadline: value = CVariant::FromInt(v.writeDeadline); return true;
    default: return false;
    }
}

bool CRelaySettings::SetPropertyById(int32_t id, const CVariant& value)
{
    Values& v = m_values;
    switch (id) {
    case kServerPort: return numberIn(value, 0, 65535, v.serverPort);
    case kServerReplyTo: return numberIn(value, INT32_MIN, INT32_MAX, v.serverReplyTo);
    case kMaxClients: return numberIn(value, 0, 4096, v.maxClients);
    case kFrameDeadline: return numberIn(value, 1, 60000, v.frameDeadline);
    case kMaxCmdTimeOut: return numberIn(value, 1, 3600000, v.maxCmdTimeOut);
    case kWriteDeadline: return numberIn(value, 1, 600000, v.writeDeadline);
    case kBindAddress: {
        std::string text;
        uint32_t address;
        if (!value.ToText(text) || (!text.empty() && !ParseIpv4(text, address)))
            return fail();
        v.bindAddress = text;
        return true;
    }
    case kAllowClients: {
        std::string text, bad;
        std::vector<CIpv4Network> list;
        if (!value.ToText(text) || !ParseNetworkList(text, list, bad))
            return fail();
        v.allowClients = text;
        return true;
    }
    default: return fail();
    }
}

bool CRelaySettings::SetProperty(std::string_view name, const CVariant& value)
{
    for (const _PROPDEF* p = kProperties; p->name; ++p) {
        if (name.size() == std::strlen(p->name) && strncasecmp(p->name, name.data(), name.size()) == 0)
            return SetPropertyById(p->id, value);
    }
    SetLastErr(err::NotFound);
    return false;
}

ListenSettings CRelaySettings::ToListenSettings() const
{
    ListenSettings s;
    s.bindAddress = m_values.bindAddress;
    s.port = static_cast<uint16_t>(m_values.serverPort);
    std::string bad;
    ParseNetworkList(m_values.allowClients, s.allowed, bad);
    s.maxClients = m_values.maxClients;
    s.readDeadlineMs = m_values.frameDeadline;
    s.writeDeadlineMs = m_values.writeDeadline;
    // The link carries at most this many payload bytes in one frame.
    s.maxBodyLength = mcframe::kMaxPayload;
    // Replies are at most a few hundred bytes; a bounded socket buffer lets
    // a client that stops reading reach the write deadline soon.
    s.sendBufferBytes = 65536;
    s.openAccessHint = "set \"BindAddress\" or \"AllowClients\" to limit access";
    return s;
}
