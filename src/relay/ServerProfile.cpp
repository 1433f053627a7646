#include "relay/ServerProfile.h"

#include <algorithm>

namespace {

constexpr int32_t kLeftOut[] = {101, 104, 109, 401, 402, 501, 604, 608, 609};

ProfileValue valueOf(const _PROPDEF& entry, const CVariant& v)
{
    ProfileValue p;
    p.key = entry.name;
    if (entry.type == VarType::String) {
        p.isText = true;
        v.ToText(p.text);
    } else {
        int64_t n = 0;
        v.ToNumber(n);
        p.number = static_cast<int32_t>(n);
    }
    return p;
}

CVariant variantOf(VarType type, const ProfileValue& p)
{
    if (p.isText)
        return CVariant::FromString(p.text);
    if (type == VarType::Bool)
        return CVariant::FromBool(p.number != 0);
    return CVariant::FromInt(p.number);
}

}  // namespace

bool IsLeftOutOfServerProfile(int32_t id) { return std::find(std::begin(kLeftOut), std::end(kLeftOut), id) != std::end(kLeftOut); }

std::vector<ProfileValue> SaveServerProfile(CPortMC_All& link, CRelaySettings& settings)
{
    std::vector<ProfileValue> values;
    for (const _PROPDEF& e : link.Properties()) {
        CVariant v;
        if (!IsLeftOutOfServerProfile(e.id) && link.GetProperty(e.id, v))
            values.push_back(valueOf(e, v));
    }
    for (const _PROPDEF& e : settings.Properties()) {
        CVariant v;
        if (settings.GetProperty(e.id, v))
            values.push_back(valueOf(e, v));
    }
    return values;
}

void LoadServerProfile(CPortMC_All& link, CRelaySettings& settings, const ProfileLookup& find)
{
    // "IOType" first: it decides which settings the link has.
    const _PROPDEF* ioType = FindPropertyById(CPortMC_All::kProperties, CPortMC_All::kIOType);
    if (const ProfileValue* p = find(ioType->name, false))
        link.SetPropertyById(ioType->id, variantOf(ioType->type, *p));
    for (const _PROPDEF& e : link.Properties()) {
        if (e.id == CPortMC_All::kIOType || IsLeftOutOfServerProfile(e.id))
            continue;
        if (const ProfileValue* p = find(e.name, e.type == VarType::String))
            link.SetPropertyById(e.id, variantOf(e.type, *p));
    }
    for (const _PROPDEF& e : settings.Properties()) {
        if (const ProfileValue* p = find(e.name, e.type == VarType::String))
            settings.SetPropertyById(e.id, variantOf(e.type, *p));
    }
}
