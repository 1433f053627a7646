#pragma once
// Structure descriptions: how the bytes after a code byte are laid out.

#include "language/LayoutWalk.h"
#include "language/VaTypes.h"

#include <cstdint>
#include <string>
#include <vector>

class CStructData {
public:
    CStructData() = default;
    CStructData(int32_t code, std::string name) : m_code(code), m_name(std::move(name)) {}

    int32_t Code() const { return m_code; }
    const std::string& Name() const { return m_name; }

    void AddField(_VA_ARG field);
    int FieldCount() const { return static_cast<int>(m_fields.size()); }
    // Throws std::invalid_argument for an index out of range.
    const _VA_ARG& Field(int i) const;
    const std::vector<_VA_ARG>& Fields() const { return m_fields; }
    // Resolves the enum names of the fields against the table.
    void LinkEnums(const CEnumList& enums);

    // Size in bytes, from the layout of all fields.
    int Size() const { return m_size; }

private:
    int32_t m_code = 0;
    std::string m_name;
    std::vector<_VA_ARG> m_fields;
    int m_size = 0;
    // The layout up to the last field added.
    CLayoutWalk m_walk;
};

class CStructList : public std::vector<CStructData> {
public:
    // The first structure with that code (and name), or null.
    const CStructData* Find(int32_t code) const;
    const CStructData* Find(int32_t code, const std::string& name) const;

    bool Exists(int32_t code) const { return Find(code) != nullptr; }
    bool Exists(int32_t code, const std::string& name) const { return Find(code, name) != nullptr; }
    int IndexOf(int32_t code, const std::string& name) const;
    // 0 when no structure has that code.
    int SizeOf(int32_t code) const;
    int SizeOf(int32_t code, const std::string& name) const;
    bool SizeMatches(int32_t code, int size) const;
};
