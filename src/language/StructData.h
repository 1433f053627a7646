#pragma once
// Structure descriptions: how the bytes after a code byte are laid out.

#include "language/FieldFormat.h"
#include "language/LayoutWalk.h"
#include "language/VaTypes.h"

#include <cstddef>
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
    // Resolves the enum names of the fields against the enumerations.
    void LinkEnums(const CEnumIndex& enums);

    // Size in bytes, from the layout of all fields.
    int Size() const { return m_size; }

    // Argument type shown to the user: "char", "int", "long", "float",
    // "double" or "bstr".
    const char* FieldTypeText(int i) const;
    // "name", "name[N]" for arrays, "name:N" for bitfields.
    std::string FieldDisplayName(int i) const;
    const std::string& FieldFormat(int i) const { return Field(i).format; }
    const std::string& FieldEnumName(int i) const { return Field(i).enumName; }

    // Decoding reads only the `length` bytes given; bytes the structure
    // needs beyond them count as zero. Lines end with CR LF.
    std::string DecodeField(int i, const uint8_t* bytes, size_t length) const;
    std::string DecodeAll(const uint8_t* bytes, size_t length) const;

    // Encodes one argument text per field (missing texts count as empty)
    // into bytes, from its first byte on; bytes beyond `length` are not
    // written. Array elements after the last value given, and the bytes of
    // a bstr after its NUL, keep what the buffer held. Returns 0.
    int Encode(const std::vector<std::string>& texts, uint8_t* bytes, size_t length) const;

private:
    void DecodeFieldAt(size_t i, const CLayoutWalk::Place& place, const uint8_t* bytes, size_t length,
                       std::string& out) const;
    void EncodeFieldAt(size_t i, const CLayoutWalk::Place& place, const std::string& text, uint8_t* bytes,
                       size_t length) const;

    int32_t m_code = 0;
    std::string m_name;
    std::vector<_VA_ARG> m_fields;
    // The format text of each field, checked against its kind.
    std::vector<CFieldFormat> m_formats;
    int m_size = 0;
    // About the length of the decoded text, so that it is allocated once.
    size_t m_textSize = 0;
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

    // Text of the first structure with that code decoded from the bytes;
    // empty when no structure has that code.
    std::string DecodeText(int32_t code, const uint8_t* bytes, size_t length) const;

    // Fields of the structure (code, name); std::invalid_argument when
    // there is no such structure or field.
    int FieldCount(int32_t code, const std::string& name) const;
    const char* FieldTypeText(int32_t code, const std::string& name, int i) const;
    std::string FieldDisplayName(int32_t code, const std::string& name, int i) const;
    const std::string& FieldFormat(int32_t code, const std::string& name, int i) const;
    const std::string& FieldEnumName(int32_t code, const std::string& name, int i) const;

private:
    const CStructData& Get(int32_t code, const std::string& name) const;
};
