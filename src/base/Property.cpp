#include "base/Property.h"

#include <strings.h>

namespace {
std::string_view trimBlanks(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

bool equalsNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// Decimal with an optional sign, or 0x/0X hexadecimal; the whole text must
// be the number and it must fit 32 bits (signed or unsigned).
bool parseWholeNumber(std::string_view s, int64_t& out)
{
    s = trimBlanks(s);
    bool minus = false;
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
        minus = s.front() == '-';
        s.remove_prefix(1);
    }
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix(2);
    }
    if (s.empty())
        return false;
    int64_t value = 0;
    for (char c : s) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return false;
        value = value * base + digit;
        if (value > 0xFFFFFFFFll)
            return false;
    }
    out = minus ? -value : value;
    return out >= INT32_MIN;
}
}  // namespace

CVariant CVariant::FromString(std::string_view text)
{
    CVariant v;
    v.m_type = VarType::String;
    v.m_text = text;
    return v;
}

CVariant CVariant::FromInt(int32_t value)
{
    CVariant v;
    v.m_type = VarType::Int;
    v.m_number = value;
    return v;
}

CVariant CVariant::FromInt32(int32_t value)
{
    CVariant v;
    v.m_type = VarType::Int32;
    v.m_number = value;
    return v;
}

CVariant CVariant::FromUInt16(uint16_t value)
{
    CVariant v;
    v.m_type = VarType::UInt16;
    v.m_number = value;
    return v;
}

CVariant CVariant::FromBool(bool value)
{
    CVariant v;
    v.m_type = VarType::Bool;
    v.m_number = value ? 1 : 0;
    return v;
}

bool CVariant::ToNumber(int64_t& out) const
{
    switch (m_type) {
    case VarType::Int32:
    case VarType::Int:
    case VarType::UInt16:
    case VarType::Bool:
        out = m_number;
        return true;
    case VarType::String: {
        std::string_view t = trimBlanks(m_text);
        if (equalsNoCase(t, "True")) {
            out = 1;
            return true;
        }
        if (equalsNoCase(t, "False")) {
            out = 0;
            return true;
        }
        return parseWholeNumber(t, out);
    }
    default:
        return false;
    }
}

bool CVariant::ToText(std::string& out) const
{
    switch (m_type) {
    case VarType::String:
        out = m_text;
        return true;
    case VarType::Bool:
        out = m_number ? "True" : "False";
        return true;
    case VarType::Int32:
    case VarType::Int:
    case VarType::UInt16:
        out = std::to_string(m_number);
        return true;
    default:
        return false;
    }
}

const _PROPDEF* FindProperty(const _PROPDEF* table, std::string_view name, VarType type)
{
    for (const _PROPDEF* p = table; p && p->name; ++p)
        if (p->type == type && equalsNoCase(p->name, name))
            return p;
    return nullptr;
}

const _PROPDEF* FindPropertyById(const _PROPDEF* table, int32_t id)
{
    for (const _PROPDEF* p = table; p && p->name; ++p)
        if (p->id == id)
            return p;
    return nullptr;
}

const _PROPOPT* FindOption(const _PROPOPT* options, std::string_view name)
{
    for (const _PROPOPT* o = options; o && o->name; ++o)
        if (equalsNoCase(o->name, name))
            return o;
    return nullptr;
}

const _PROPOPT* FindOptionByValue(const _PROPOPT* options, int32_t value)
{
    for (const _PROPOPT* o = options; o && o->name; ++o)
        if (o->value == value)
            return o;
    return nullptr;
}

void AppendProperties(PropertyList& list, const _PROPDEF* table)
{
    for (const _PROPDEF* p = table; p && p->name; ++p)
        list.push_back(*p);
}

bool CPropertyCursor::Next(const PropertyList& list, _PROPDEF& entry, bool restart)
{
    // The cursor never moves past the end.
    const size_t index = restart ? 0 : m_next.load();
    if (index >= list.size())
        return false;
    entry = list[index];
    m_next.store(index + 1);
    return true;
}
