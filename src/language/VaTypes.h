#pragma once
// Records of the decode tables: constants, enumerations and fields.

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

// Value kinds of a field.
enum : int32_t { VI1 = 0, VI2, VI4, VBF1, VBF2, VBF4, VDSPFLOAT, VIEEE32, VIEEE64, VBSTR };

// "VI1", "VBF2", ...; "?" for an unknown kind.
const char* VaKindTag(int32_t kind);
inline bool IsBitfieldKind(int32_t kind) { return kind == VBF1 || kind == VBF2 || kind == VBF4; }
inline bool IsFloatKind(int32_t kind) { return kind == VDSPFLOAT || kind == VIEEE32 || kind == VIEEE64; }

struct _CODE_DEFINE {
    std::string name;
    int32_t value = 0;
};

struct _ENUM_TAG {
    std::string name;
    std::vector<std::string> itemNames;
    std::vector<int32_t> itemValues;

    // Name of the first item with that value, or null.
    const std::string* NameOf(int32_t value) const;
    // False when no item has that name (case-sensitive).
    bool ValueOf(const std::string& itemName, int32_t& value) const;
};

// One field of a structure.
struct _VA_ARG {
    int32_t kind = VI1;
    // Array length, bit width of a bitfield, 1 for a scalar.
    int32_t count = 1;
    bool isInline = false;
    bool littleEndian = false;
    std::string name;
    std::string format;
    std::string enumName;
    // The enumeration named by enumName once the tables are complete.
    std::shared_ptr<const _ENUM_TAG> enumRef;
};

class CDefineCode : public std::vector<_CODE_DEFINE> {
public:
    const _CODE_DEFINE* Find(const std::string& name) const;
};

// Enumerations are shared with the fields that name them, so that a copied
// structure description stays valid after the tables are cleared.
class CEnumList : public std::vector<std::shared_ptr<_ENUM_TAG>> {
public:
    std::shared_ptr<const _ENUM_TAG> Find(const std::string& name) const;
};

// Enumerations by name, looked up in constant time; of two with one name
// the first added wins, as with CEnumList::Find.
class CEnumIndex {
public:
    CEnumIndex() = default;
    explicit CEnumIndex(const CEnumList& enums);
    void Add(const std::shared_ptr<_ENUM_TAG>& tag) { m_byName.emplace(tag->name, tag); }
    std::shared_ptr<const _ENUM_TAG> Find(const std::string& name) const;

private:
    std::unordered_map<std::string, std::shared_ptr<const _ENUM_TAG>> m_byName;
};
