#include "language/StructData.h"

#include "language/LayoutWalk.h"

#include <stdexcept>

void CStructData::AddField(_VA_ARG field)
{
    m_walk.Enter(field);
    m_walk.Leave(field);
    CLayoutWalk closed = m_walk;
    m_size = static_cast<int>(closed.Finish());
    m_fields.push_back(std::move(field));
}

const _VA_ARG& CStructData::Field(int i) const
{
    if (i < 0 || i >= FieldCount())
        throw std::invalid_argument("structure " + m_name + ": field index " + std::to_string(i) + " out of range");
    return m_fields[static_cast<size_t>(i)];
}

void CStructData::LinkEnums(const CEnumList& enums)
{
    for (auto& f : m_fields)
        f.enumRef = f.enumName.empty() ? nullptr : enums.Find(f.enumName);
}

const CStructData* CStructList::Find(int32_t code) const
{
    for (const auto& s : *this) {
        if (s.Code() == code)
            return &s;
    }
    return nullptr;
}

const CStructData* CStructList::Find(int32_t code, const std::string& name) const
{
    int i = IndexOf(code, name);
    return i < 0 ? nullptr : &(*this)[static_cast<size_t>(i)];
}

int CStructList::IndexOf(int32_t code, const std::string& name) const
{
    for (size_t i = 0; i < size(); ++i) {
        if ((*this)[i].Code() == code && (*this)[i].Name() == name)
            return static_cast<int>(i);
    }
    return -1;
}

int CStructList::SizeOf(int32_t code) const
{
    const CStructData* s = Find(code);
    return s ? s->Size() : 0;
}

int CStructList::SizeOf(int32_t code, const std::string& name) const
{
    const CStructData* s = Find(code, name);
    return s ? s->Size() : 0;
}

bool CStructList::SizeMatches(int32_t code, int size) const
{
    const CStructData* s = Find(code);
    return s && s->Size() == size;
}
