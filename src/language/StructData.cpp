#include "language/StructData.h"

#include "base/NumberText.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace {

// Bytes outside the buffer read as zero and are never written.
uint64_t ReadUnsigned(const uint8_t* bytes, size_t length, size_t offset, size_t n, bool littleEndian)
{
    uint64_t value = 0;
    for (size_t k = 0; k < n; ++k) {
        size_t at = offset + (littleEndian ? n - 1 - k : k);
        value = (value << 8) | (at < length ? bytes[at] : 0);
    }
    return value;
}

void WriteUnsigned(uint8_t* bytes, size_t length, size_t offset, size_t n, bool littleEndian, uint64_t value)
{
    for (size_t k = 0; k < n; ++k) {
        size_t at = offset + (littleEndian ? k : n - 1 - k);
        if (at < length)
            bytes[at] = static_cast<uint8_t>(value);
        value >>= 8;
    }
}

uint64_t WidthMask(int32_t width)
{
    if (width <= 0)
        return 0;
    return width >= 64 ? ~uint64_t(0) : (uint64_t(1) << width) - 1;
}

// Value of one argument token: an item of the field's enum, else a number.
int32_t TokenValue(const _VA_ARG& field, const std::string& token)
{
    int32_t value;
    if (field.enumRef && field.enumRef->ValueOf(token, value))
        return value;
    return ParseNumberText(token);
}

// A single-precision value as 16-bit mantissa and 16-bit exponent, the
// mantissa being the top 15 bits of the significand with its leading 1.
uint32_t DspFloatBits(double number)
{
    float value = static_cast<float>(number);
    if (value == 0.0f)
        return 0;
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    int32_t exponent = static_cast<int32_t>((bits >> 23) & 0xFF) - 126;
    int32_t mantissa = static_cast<int32_t>(((bits & 0x7FFFFF) | 0x800000) >> 9);
    if (bits >> 31)
        mantissa = -mantissa;
    return (static_cast<uint32_t>(mantissa & 0xFFFF) << 16) | static_cast<uint32_t>(exponent & 0xFFFF);
}

double DspFloatValue(uint32_t bits)
{
    auto mantissa = static_cast<int16_t>(bits >> 16);
    auto exponent = static_cast<int16_t>(bits & 0xFFFF);
    return std::ldexp(static_cast<double>(mantissa), exponent - 15);
}

void AppendIntegerText(std::string& out, const _VA_ARG& field, const CFieldFormat& format, int64_t value)
{
    if (format.GetUse() == CFieldFormat::Use::Signed || format.GetUse() == CFieldFormat::Use::Unsigned) {
        format.AppendInteger(out, value);
        return;
    }
    if (format.GetUse() == CFieldFormat::Use::Literal) {
        format.AppendLiteral(out);
        return;
    }
    if (field.enumRef) {
        if (const std::string* name = field.enumRef->NameOf(static_cast<int32_t>(value))) {
            out += *name;
            return;
        }
    }
    CFieldFormat::AppendDefaultInteger(out, static_cast<int32_t>(value));
}

void AppendFloatingText(std::string& out, const CFieldFormat& format, double value)
{
    if (format.GetUse() == CFieldFormat::Use::Floating)
        format.AppendFloating(out, value);
    else if (format.GetUse() == CFieldFormat::Use::Literal)
        format.AppendLiteral(out);
    else
        CFieldFormat::AppendDefaultFloating(out, value);
}

// Text of one element of a field that is not a bitfield.
void AppendElement(std::string& out, const _VA_ARG& field, const CFieldFormat& format, const uint8_t* bytes,
                   size_t length, size_t offset)
{
    switch (field.kind) {
    case VI1:
    case VBSTR: {
        auto byte = static_cast<uint8_t>(ReadUnsigned(bytes, length, offset, 1, false));
        if (format.GetUse() == CFieldFormat::Use::Character)
            format.AppendText(out, byte);
        else
            AppendIntegerText(out, field, format, byte);
        break;
    }
    case VI2: {
        auto word = static_cast<uint16_t>(ReadUnsigned(bytes, length, offset, 2, field.littleEndian));
        int64_t value = format.WordIsUnsigned() ? word : static_cast<int16_t>(word);
        AppendIntegerText(out, field, format, value);
        break;
    }
    case VI4:
        AppendIntegerText(out, field, format,
                          static_cast<int32_t>(ReadUnsigned(bytes, length, offset, 4, field.littleEndian)));
        break;
    case VDSPFLOAT:
        AppendFloatingText(out, format, DspFloatValue(static_cast<uint32_t>(ReadUnsigned(bytes, length, offset, 4, false))));
        break;
    case VIEEE32: {
        auto bits = static_cast<uint32_t>(ReadUnsigned(bytes, length, offset, 4, field.littleEndian));
        float value;
        std::memcpy(&value, &bits, sizeof value);
        AppendFloatingText(out, format, value);
        break;
    }
    case VIEEE64: {
        uint64_t bits = ReadUnsigned(bytes, length, offset, 8, field.littleEndian);
        double value;
        std::memcpy(&value, &bits, sizeof value);
        AppendFloatingText(out, format, value);
        break;
    }
    default:
        break;
    }
}

// Stores one array element of a field that is not a bitfield or bstr.
void StoreElement(const _VA_ARG& field, const std::string& token, uint8_t* bytes, size_t length, size_t offset)
{
    switch (field.kind) {
    case VI1:
    case VI2:
    case VI4:
        WriteUnsigned(bytes, length, offset, ElementBytes(field.kind), field.littleEndian,
                      static_cast<uint32_t>(TokenValue(field, token)));
        break;
    case VDSPFLOAT:
        WriteUnsigned(bytes, length, offset, 4, false, DspFloatBits(std::strtod(token.c_str(), nullptr)));
        break;
    case VIEEE32: {
        auto value = static_cast<float>(std::strtod(token.c_str(), nullptr));
        uint32_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        WriteUnsigned(bytes, length, offset, 4, field.littleEndian, bits);
        break;
    }
    case VIEEE64: {
        double value = std::strtod(token.c_str(), nullptr);
        uint64_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        WriteUnsigned(bytes, length, offset, 8, field.littleEndian, bits);
        break;
    }
    default:
        break;
    }
}

}  // namespace

void CStructData::AddField(_VA_ARG field)
{
    m_walk.Enter(field);
    m_walk.Leave(field);
    CLayoutWalk closed = m_walk;
    m_size = static_cast<int>(closed.Finish());
    const size_t elements = IsBitfieldKind(field.kind) ? 1 : static_cast<size_t>(std::max(field.count, 0));
    const size_t lines = field.count == 1 || field.isInline || IsBitfieldKind(field.kind) ? 1 : elements;
    m_textSize += lines * (field.name.size() + 8) + elements * 12;
    m_formats.emplace_back(field.format, field.kind);
    m_fields.push_back(std::move(field));
}

const _VA_ARG& CStructData::Field(int i) const
{
    if (i < 0 || i >= FieldCount())
        throw std::invalid_argument("structure " + m_name + ": field index " + std::to_string(i) + " out of range");
    return m_fields[static_cast<size_t>(i)];
}

const char* CStructData::FieldTypeText(int i) const
{
    switch (Field(i).kind) {
    case VI1:
    case VBF1: return "char";
    case VI2:
    case VBF2: return "int";
    case VI4:
    case VBF4: return "long";
    case VDSPFLOAT:
    case VIEEE32: return "float";
    case VIEEE64: return "double";
    case VBSTR: return "bstr";
    default: return "";
    }
}

std::string CStructData::FieldDisplayName(int i) const
{
    const _VA_ARG& f = Field(i);
    if (IsBitfieldKind(f.kind))
        return f.name + ":" + std::to_string(f.count);
    if (f.count == 1)
        return f.name;
    return f.name + "[" + std::to_string(f.count) + "]";
}

void CStructData::DecodeFieldAt(size_t i, const CLayoutWalk::Place& place, const uint8_t* bytes, size_t length,
                                std::string& out) const
{
    const _VA_ARG& f = m_fields[i];
    const CFieldFormat& format = m_formats[i];
    if (IsBitfieldKind(f.kind)) {
        uint64_t unit = ReadUnsigned(bytes, length, place.offset, UnitBytes(f.kind), false);
        uint64_t value = (unit >> place.bits) & WidthMask(f.count);
        out += f.name;
        out += '=';
        AppendIntegerText(out, f, format, static_cast<int64_t>(value));
        out += "\r\n";
        return;
    }
    size_t step = ElementBytes(f.kind);
    size_t count = f.count > 0 ? static_cast<size_t>(f.count) : 0;
    if (f.count == 1 || f.isInline) {
        out += f.name;
        out += '=';
        for (size_t e = 0; e < count; ++e) {
            if (e)
                out += ',';
            AppendElement(out, f, format, bytes, length, place.offset + e * step);
        }
        out += "\r\n";
        return;
    }
    for (size_t e = 0; e < count; ++e) {
        out += f.name;
        out += '[';
        CFieldFormat::AppendDefaultInteger(out, static_cast<int32_t>(e));
        out += "]=";
        AppendElement(out, f, format, bytes, length, place.offset + e * step);
        out += "\r\n";
    }
}

std::string CStructData::DecodeField(int i, const uint8_t* bytes, size_t length) const
{
    Field(i);
    CLayoutWalk walk;
    for (int k = 0; k < i; ++k) {
        walk.Enter(m_fields[static_cast<size_t>(k)]);
        walk.Leave(m_fields[static_cast<size_t>(k)]);
    }
    std::string text;
    DecodeFieldAt(static_cast<size_t>(i), walk.Enter(m_fields[static_cast<size_t>(i)]), bytes, length, text);
    return text;
}

std::string CStructData::DecodeAll(const uint8_t* bytes, size_t length) const
{
    std::string text;
    text.reserve(m_textSize);
    CLayoutWalk walk;
    for (size_t i = 0; i < m_fields.size(); ++i) {
        DecodeFieldAt(i, walk.Enter(m_fields[i]), bytes, length, text);
        walk.Leave(m_fields[i]);
    }
    return text;
}

void CStructData::EncodeFieldAt(size_t i, const CLayoutWalk::Place& place, const std::string& text, uint8_t* bytes,
                                size_t length) const
{
    const _VA_ARG& f = m_fields[i];
    if (IsBitfieldKind(f.kind)) {
        // Read, replace this field's bits, write back: the other fields of
        // the unit keep theirs.
        size_t unitBytes = UnitBytes(f.kind);
        uint64_t mask = WidthMask(f.count) << place.bits;
        uint64_t value = static_cast<uint64_t>(static_cast<uint32_t>(TokenValue(f, text))) << place.bits;
        uint64_t unit = ReadUnsigned(bytes, length, place.offset, unitBytes, false);
        WriteUnsigned(bytes, length, place.offset, unitBytes, false, (unit & ~mask) | (value & mask));
        return;
    }
    size_t count = f.count > 0 ? static_cast<size_t>(f.count) : 0;
    if (f.kind == VBSTR) {
        size_t n = std::min(count, text.size());
        for (size_t k = 0; k < n; ++k)
            WriteUnsigned(bytes, length, place.offset + k, 1, false, static_cast<uint8_t>(text[k]));
        if (text.size() < count)
            WriteUnsigned(bytes, length, place.offset + text.size(), 1, false, 0);
        return;
    }
    // Tokens end at "," or ";"; an element taken when nothing is left gets
    // 0 and ends the field.
    const std::string rest = text + ",";
    size_t pos = 0;
    size_t step = ElementBytes(f.kind);
    for (size_t e = 0; e < count; ++e) {
        bool wasEmpty = pos >= rest.size();
        size_t separator = wasEmpty ? std::string::npos : rest.find_first_of(",;", pos);
        std::string token = wasEmpty ? std::string() : rest.substr(pos, separator - pos);
        pos = separator == std::string::npos ? rest.size() : separator + 1;
        StoreElement(f, token, bytes, length, place.offset + e * step);
        if (wasEmpty)
            break;
    }
}

int CStructData::Encode(const std::vector<std::string>& texts, uint8_t* bytes, size_t length) const
{
    static const std::string kEmpty;
    CLayoutWalk walk;
    for (size_t i = 0; i < m_fields.size(); ++i) {
        EncodeFieldAt(i, walk.Enter(m_fields[i]), i < texts.size() ? texts[i] : kEmpty, bytes, length);
        walk.Leave(m_fields[i]);
    }
    return 0;
}

void CStructData::LinkEnums(const CEnumIndex& enums)
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

std::string CStructList::DecodeText(int32_t code, const uint8_t* bytes, size_t length) const
{
    const CStructData* s = Find(code);
    return s ? s->DecodeAll(bytes, length) : std::string();
}

const CStructData& CStructList::Get(int32_t code, const std::string& name) const
{
    const CStructData* s = Find(code, name);
    if (!s)
        throw std::invalid_argument("no structure " + name + " with code " + std::to_string(code));
    return *s;
}

int CStructList::FieldCount(int32_t code, const std::string& name) const { return Get(code, name).FieldCount(); }

const char* CStructList::FieldTypeText(int32_t code, const std::string& name, int i) const
{
    return Get(code, name).FieldTypeText(i);
}

std::string CStructList::FieldDisplayName(int32_t code, const std::string& name, int i) const
{
    return Get(code, name).FieldDisplayName(i);
}

const std::string& CStructList::FieldFormat(int32_t code, const std::string& name, int i) const
{
    return Get(code, name).FieldFormat(i);
}

const std::string& CStructList::FieldEnumName(int32_t code, const std::string& name, int i) const
{
    return Get(code, name).FieldEnumName(i);
}
