#include "language/VaTypes.h"

const char* VaKindTag(int32_t kind)
{
    static const char* const kTags[] = {"VI1",  "VI2",       "VI4",     "VBF1",    "VBF2",
                                        "VBF4", "VDSPFLOAT", "VIEEE32", "VIEEE64", "VBSTR"};
    return kind >= 0 && kind <= VBSTR ? kTags[kind] : "?";
}

const std::string* _ENUM_TAG::NameOf(int32_t value) const
{
    for (size_t i = 0; i < itemValues.size() && i < itemNames.size(); ++i) {
        if (itemValues[i] == value)
            return &itemNames[i];
    }
    return nullptr;
}

bool _ENUM_TAG::ValueOf(const std::string& itemName, int32_t& value) const
{
    for (size_t i = 0; i < itemNames.size() && i < itemValues.size(); ++i) {
        if (itemNames[i] == itemName) {
            value = itemValues[i];
            return true;
        }
    }
    return false;
}

const _CODE_DEFINE* CDefineCode::Find(const std::string& name) const
{
    for (const auto& d : *this) {
        if (d.name == name)
            return &d;
    }
    return nullptr;
}

std::shared_ptr<const _ENUM_TAG> CEnumList::Find(const std::string& name) const
{
    for (const auto& e : *this) {
        if (e->name == name)
            return e;
    }
    return nullptr;
}

CEnumIndex::CEnumIndex(const CEnumList& enums)
{
    for (const auto& e : enums)
        Add(e);
}

std::shared_ptr<const _ENUM_TAG> CEnumIndex::Find(const std::string& name) const
{
    auto found = m_byName.find(name);
    return found == m_byName.end() ? nullptr : found->second;
}
