#include "language/VaCompiler.h"

#include "base/NumberText.h"
#include "base/StdOut.h"

#include <cstdarg>
#include <cstdio>
#include <sys/stat.h>

namespace {

const char* const kTopLinePattern =
    "^[ \t]*(#define[ \t]+\\c[A-Za-z_0-9]+\\c[ \t]+(0x[0-9-a-fA-F]+|[0-9]+)[ \t]*(//[^$]*$|$)"
    "|struct[ \t]+(0x[0-9a-fA-F]+|[0-9]+|[a-zA-Z0-9_]+)[ \t]*(//[^$]*$*|$*){[ \t]*(//[^$]*$|$)"
    "|enum[ \t]+\\c[a-zA-Z0-9_]+\\c[ \t]*(//[^$]*$*|$*){[ \t]*(//[^$]*$|$)"
    "|(//[^$]*$|$))";

const char* const kFieldLinePattern =
    "^[ \t]*((char|int|short|long|float|bstr)[ \t]+\\c[a-zA-Z_0-9]+\\c"
    "([ \t]*;[ \t]*little_endian|[ \t]*;"
    "|\\[\\c[0-9]+\\c\\][ \t]*;[ \t]*little_endian[ \t]+inline"
    "|\\[\\c[0-9]+\\c\\][ \t]*;[ \t]+inline"
    "|\\[\\c[0-9]+\\c\\][ \t]*;[ \t]*little_endian"
    "|\\[\\c[0-9]+\\c\\][ \t]*;"
    "|:\\c[0-9]+\\c[ \t]*;)"
    "[ \t]*(\"\\c[^\"]*\\c\"[ \t]*(//[^$]*$|$)|enum[ \t]+\\c[a-zA-Z_0-9]+\\c[ \t]*(//[^$]*$|$)|(//[^$]*$|$))"
    "|}[ \t]*;[ \t]*(//[^$]*$|$)"
    "|(//[^$]*$|$))";

const char* const kEnumLinePattern =
    "^[ \t]*(\\c[a-zA-Z_0-9]+\\c[ \t]*(,|=[ \t]*(0x[0-9-a-fA-F]+|[\\-0-9]+)[ \t]*,)[ \t]*(//[^$]*$|$)"
    "|}[ \t]*;[ \t]*(//[^$]*$|$)"
    "|(//[^$]*$|$))";

// Alternatives of group 1 of each line pattern.
enum { TopDefine = 0, TopStruct = 1, TopEnum = 2 };
enum { BodyField = 0, BodyEnd = 1 };
enum { ItemValue = 0, ItemEnd = 1 };
// Field forms (group 3) and types (group 2).
enum { FormScalarLe = 0, FormScalar, FormArrayLeInline, FormArrayInline, FormArrayLe, FormArray, FormBitfield };
enum { TypeChar = 0, TypeInt, TypeShort, TypeLong, TypeFloat, TypeBstr };

// Array lengths and bit widths above this, and structures larger than this
// many bytes, cannot describe a crate message; such lines are refused.
constexpr int64_t kMaxCount = 65536;
constexpr int kMaxStructSize = 65536;

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text(n > 0 ? static_cast<size_t>(n) : 0, '\0');
    if (n > 0)
        std::vsnprintf(text.data(), text.size() + 1, format, args);
    va_end(args);
    return text;
}

// Decimal digits with saturation instead of overflow.
int64_t DecimalCount(const std::string& digits)
{
    int64_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            break;
        value = value * 10 + (c - '0');
        if (value > kMaxCount)
            return kMaxCount + 1;
    }
    return value;
}

int64_t ModificationTime(const std::string& path)
{
    struct stat st;
    if (path.empty() || stat(path.c_str(), &st) != 0)
        return -1;
    return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

std::string CodeAndName(int32_t code, const std::string& name)
{
    std::string key(reinterpret_cast<const char*>(&code), sizeof code);
    return key + name;
}

}  // namespace

CVa_Compiler::CVa_Compiler()
    : m_topLine(kTopLinePattern), m_fieldLine(kFieldLinePattern), m_enumLine(kEnumLinePattern)
{
}

void CVa_Compiler::Clear()
{
    m_defines.clear();
    m_structs.clear();
    m_enums.clear();
}

int CVa_Compiler::Compile(const std::string& fileName, bool allowSharedCodes)
{
    m_structs.clear();
    m_defines.clear();
    m_errorText.clear();
    m_errorLine = 0;
    if (!m_file.Open(fileName)) {
        m_errorText = Format("Open File Error: %s", fileName.c_str());
        return 0;
    }
    int result = CompileOpenFile(allowSharedCodes);
    if (result) {
        m_fileName = fileName;
        m_modTime = ModificationTime(fileName);
    }
    if (m_dump && m_out)
        Dump();
    m_file.Close();
    return result;
}

int CVa_Compiler::CompileBuffer(const void* data, size_t size, bool allowSharedCodes)
{
    m_structs.clear();
    m_defines.clear();
    m_errorText.clear();
    m_errorLine = 0;
    m_file.Attach(data, size);
    int result = CompileOpenFile(allowSharedCodes);
    if (m_dump && m_out)
        Dump();
    m_file.Close();
    return result;
}

int CVa_Compiler::CompileOpenFile(bool allowSharedCodes)
{
    m_countedTo = 0;
    m_lines = 1;
    // The tables are empty but for enumerations a caller did not clear.
    m_index = CNameIndex();
    m_index.enums = CEnumIndex(m_enums);
    int result = CompileLines(allowSharedCodes);
    // Enumerations may follow the structures that name them.
    for (auto& s : m_structs)
        s.LinkEnums(m_index.enums);
    m_index = CNameIndex();
    return result;
}

int CVa_Compiler::CompileLines(bool allowSharedCodes)
{
    const int64_t size = m_file.Size();
    int64_t pos = 0;
    while (pos < size) {
        int64_t end = pos;
        m_lineStart = pos;
        if (!m_topLine.MatchAt(m_file, pos, &end) || end <= pos)
            return Fail(pos, "Line %d :Syntax Error");
        switch (m_topLine.GetGroupAlternative(1)) {
        case TopDefine:
            if (!DefineLine())
                return 0;
            break;
        case TopStruct:
            if (!StructLine(end, allowSharedCodes))
                return 0;
            break;
        case TopEnum:
            if (!EnumLine(end))
                return 0;
            break;
        default:
            break;
        }
        pos = end;
    }
    return 1;
}

bool CVa_Compiler::DefineLine()
{
    std::string name = m_topLine.GetCapture(1, 2, m_file);
    int32_t value = ParseNumberText(m_topLine.GetGroupText(2, m_file));
    if (!m_index.defines.emplace(name, value).second)
        return Fail(m_lineStart, "Line %d :Duplicate #define");
    m_defines.push_back({std::move(name), value});
    return true;
}

bool CVa_Compiler::StructLine(int64_t& pos, bool allowSharedCodes)
{
    enum { IdHex = 0, IdDecimal = 1 };
    std::string id = m_topLine.GetGroupText(4, m_file);
    int32_t code;
    if (m_topLine.GetGroupAlternative(4) == IdHex || m_topLine.GetGroupAlternative(4) == IdDecimal) {
        code = ParseNumberText(id);
    } else {
        auto define = m_index.defines.find(id);
        if (define == m_index.defines.end())
            return Fail(m_lineStart, "Line %d :Undefined code structure");
        code = define->second;
    }
    std::string codeAndName = CodeAndName(code, id);
    if (allowSharedCodes ? m_index.structCodesAndNames.contains(codeAndName) : m_index.structCodes.contains(code))
        return Fail(m_lineStart, "Line %d :Duplicate structure code");
    CStructData data(code, id);
    if (!StructBody(pos, data))
        return false;
    m_structs.push_back(std::move(data));
    m_index.structCodes.insert(code);
    m_index.structCodesAndNames.insert(std::move(codeAndName));
    return true;
}

bool CVa_Compiler::StructBody(int64_t& pos, CStructData& data)
{
    for (;;) {
        int64_t end = pos;
        if (pos >= m_file.Size() || !m_fieldLine.MatchAt(m_file, pos, &end) || end <= pos)
            return Fail(pos, "Line %d :Syntax Error");
        int form = m_fieldLine.GetGroupAlternative(1);
        if (form == BodyEnd) {
            pos = end;
            return true;
        }
        if (form == BodyField && !FieldLine(pos, data))
            return false;
        pos = end;
    }
}

bool CVa_Compiler::FieldLine(int64_t pos, CStructData& data)
{
    static const int32_t kScalarKind[] = {VI1, VI2, VI2, VI4, VDSPFLOAT, VBSTR};
    static const int32_t kBitfieldKind[] = {VBF1, VBF2, VBF2, VBF4, -1, -1};
    // Marks around N for each form, 0 for the scalar forms.
    static const int kCountMark[] = {0, 0, 3, 5, 7, 9, 11};

    int type = m_fieldLine.GetGroupAlternative(2);
    int form = m_fieldLine.GetGroupAlternative(3);
    if (type < 0 || form < 0)
        return Fail(pos, "Line %d :Syntax Error");
    if ((type == TypeBstr && form != FormArray) || (type == TypeFloat && form == FormBitfield))
        return Fail(pos, "Line %d :Syntax Error");

    _VA_ARG field;
    field.kind = form == FormBitfield ? kBitfieldKind[type] : kScalarKind[type];
    field.name = m_fieldLine.GetCapture(1, 2, m_file);
    field.isInline = form == FormArrayLeInline || form == FormArrayInline;
    field.littleEndian = (form == FormScalarLe && type != TypeChar) || form == FormArrayLeInline || form == FormArrayLe;
    if (int mark = kCountMark[form]) {
        int64_t count = DecimalCount(m_fieldLine.GetCapture(mark, mark + 1, m_file));
        if (count > kMaxCount)
            return Fail(pos, "Line %d :Syntax Error");
        field.count = static_cast<int32_t>(count);
    }
    enum { TailFormat = 0, TailEnum = 1 };
    int tail = m_fieldLine.GetGroupAlternative(4);
    if (tail == TailFormat)
        field.format = m_fieldLine.GetCapture(13, 14, m_file);
    else if (tail == TailEnum)
        field.enumName = m_fieldLine.GetCapture(15, 16, m_file);
    data.AddField(std::move(field));
    if (data.Size() > kMaxStructSize)
        return Fail(pos, "Line %d :Syntax Error");
    return true;
}

bool CVa_Compiler::EnumLine(int64_t& pos)
{
    std::string name = m_topLine.GetCapture(3, 4, m_file);
    if (m_index.enums.Find(name))
        return Fail(m_lineStart, "Line %d :Duplicate enum %s", name);
    auto tag = std::make_shared<_ENUM_TAG>();
    tag->name = name;
    m_enums.push_back(tag);
    m_index.enums.Add(tag);
    return EnumBody(pos, *tag);
}

bool CVa_Compiler::EnumBody(int64_t& pos, _ENUM_TAG& tag)
{
    enum { NextValue = 0 };
    uint32_t previous = static_cast<uint32_t>(-1);
    std::unordered_set<std::string> names;
    for (;;) {
        int64_t end = pos;
        if (pos >= m_file.Size() || !m_enumLine.MatchAt(m_file, pos, &end) || end <= pos)
            return Fail(pos, "Line %d :Syntax Error");
        int form = m_enumLine.GetGroupAlternative(1);
        if (form == ItemEnd) {
            pos = end;
            return true;
        }
        if (form == ItemValue) {
            std::string name = m_enumLine.GetCapture(1, 2, m_file);
            if (!names.insert(name).second)
                return Fail(pos, "Line %d :Duplicate constant %s", name);
            int32_t value;
            if (m_enumLine.GetGroupAlternative(2) == NextValue)
                value = static_cast<int32_t>(previous + 1);
            else
                value = ParseNumberText(m_enumLine.GetGroupText(3, m_file));
            tag.itemNames.push_back(name);
            tag.itemValues.push_back(value);
            previous = static_cast<uint32_t>(value);
        }
        pos = end;
    }
}

bool CVa_Compiler::Fail(int64_t lineStart, const char* message, const std::string& name)
{
    m_errorLine = LineAt(lineStart);
    m_errorText = Format(message, m_errorLine, name.c_str());
    return false;
}

int CVa_Compiler::LineAt(int64_t pos)
{
    if (pos < m_countedTo) {
        m_countedTo = 0;
        m_lines = 1;
    }
    // CR LF and a lone CR are one break each; so is a lone LF.
    int previous = m_countedTo > 0 ? m_file.At(m_countedTo - 1) : -1;
    for (int64_t p = m_countedTo; p < pos; ++p) {
        int c = m_file.At(p);
        if (c == '\r' || (c == '\n' && previous != '\r'))
            ++m_lines;
        previous = c;
    }
    m_countedTo = pos;
    return m_lines;
}

void CVa_Compiler::Dump()
{
    for (const auto& s : m_structs) {
        m_out->Print("\r\nName=%s Code=0x%02X size=%d\r\n", s.Name().c_str(), static_cast<unsigned>(s.Code()), s.Size());
        for (const auto& f : s.Fields()) {
            std::string enumText = f.enumName.empty() ? std::string() : "enum " + f.enumName;
            m_out->Print("%s %s %d %s %s %s %s\r\n", VaKindTag(f.kind), f.name.c_str(), f.count,
                         f.littleEndian ? "litle-endian" : "", f.isInline ? "inline" : "", f.format.c_str(),
                         enumText.c_str());
        }
    }
    for (const auto& e : m_enums) {
        m_out->Print("\r\nEnum %s\r\n", e->name.c_str());
        for (size_t i = 0; i < e->itemNames.size(); ++i)
            m_out->Print("%s=%d\r\n", e->itemNames[i].c_str(), e->itemValues[i]);
    }
}

int CVa_Compiler::IsModified() const
{
    int64_t now = ModificationTime(m_fileName);
    return now >= 0 && now != m_modTime ? 1 : 0;
}
