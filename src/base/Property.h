#pragma once
// Self-describing settings: a typed value and the static tables that name
// every setting of a port or link class.

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Value type codes; the numbers are the ones stored with saved settings.
enum class VarType : uint16_t {
    Empty = 0,
    Null = 1,  // marks the end of a property table
    Int32 = 3,
    String = 8,
    Bool = 11,
    UInt16 = 18,
    Int = 22,
};

// One setting value. Numbers of every type are held as a 64-bit integer.
class CVariant {
public:
    CVariant() = default;
    static CVariant FromString(std::string_view text);
    static CVariant FromInt(int32_t value);
    static CVariant FromInt32(int32_t value);
    static CVariant FromUInt16(uint16_t value);
    static CVariant FromBool(bool value);

    VarType type() const { return m_type; }
    bool isString() const { return m_type == VarType::String; }
    // The raw content, whatever the type says.
    const std::string& text() const { return m_text; }
    int64_t number() const { return m_number; }

    // Conversions as "setting by id" does them; false when the value does
    // not convert (a string that is no number, an empty value).
    // Strings: decimal with an optional sign, or 0x hexadecimal, blanks
    // around allowed; "True"/"False" (any case) as 1/0.
    bool ToNumber(int64_t& out) const;
    // Numbers in decimal, booleans as "True"/"False".
    bool ToText(std::string& out) const;

    bool operator==(const CVariant& other) const = default;

private:
    VarType m_type = VarType::Empty;
    int64_t m_number = 0;
    std::string m_text;
};

// One choice of a setting: its display name and value.
struct _PROPOPT {
    const char* name;  // nullptr ends the list
    int32_t value;
};

// One setting: its key and label, an id unique across all port and link
// classes, its value type and an optional choice list.
struct _PROPDEF {
    const char* name;  // nullptr (type Null) ends the table
    int32_t id;
    VarType type;
    const _PROPOPT* options;  // may be nullptr
};

// The entry named `name` (any case) whose type is exactly `type`; nullptr
// when there is none.
const _PROPDEF* FindProperty(const _PROPDEF* table, std::string_view name, VarType type);
// The entry with `id`; nullptr when there is none.
const _PROPDEF* FindPropertyById(const _PROPDEF* table, int32_t id);
// The option whose name equals `name` (any case); nullptr when none.
const _PROPOPT* FindOption(const _PROPOPT* options, std::string_view name);
// The option with `value`; nullptr when none.
const _PROPOPT* FindOptionByValue(const _PROPOPT* options, int32_t value);

// A class's settings in walk order (a link's own, then its port's). Walking
// a list is the caller's own business, so walks of different objects on
// different threads never meet.
using PropertyList = std::vector<_PROPDEF>;
// Appends the entries of a table (up to its end marker).
void AppendProperties(PropertyList& list, const _PROPDEF* table);

// The settings of a port or link (anything with ListProperties) in walk order.
template <class Settable>
PropertyList PropertiesOf(Settable& object)
{
    PropertyList list;
    object.ListProperties(list);
    return list;
}

// The cursor of GetNextProperty: one per class, shared by all its objects
// and threads, as the settings interface has always worked. New code walks
// a PropertyList instead.
class CPropertyCursor {
public:
    bool Next(const PropertyList& list, _PROPDEF& entry, bool restart);

private:
    std::atomic<size_t> m_next{0};
};
