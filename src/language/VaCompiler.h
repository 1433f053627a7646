#pragma once
// Compiles a decode file (defines, structures with typed fields,
// enumerations) into the decode tables.

#include "language/Match.h"
#include "language/SeekReader.h"
#include "language/StructData.h"
#include "language/VaTypes.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>

class CStdOut;

class CVa_Compiler {
public:
    CVa_Compiler();

    // 1 on success; 0 on failure with the error text and line set. Callers
    // clear the tables first; enumerations are not emptied here.
    int Compile(const std::string& fileName, bool allowSharedCodes);
    // The same on the bytes of a decode file held in memory.
    int CompileBuffer(const void* data, size_t size, bool allowSharedCodes);

    // 1 when the file compiled last has another modification time now; 0
    // when it is the same or the file cannot be examined.
    int IsModified() const;
    const std::string& GetErrorText() const { return m_errorText; }
    int GetErrorLine() const { return m_errorLine; }
    void Clear();

    // With the dump on, every compile writes the tables to the sink.
    void SetDump(bool on, CStdOut* sink)
    {
        m_dump = on;
        m_out = sink;
    }

    const CDefineCode& Defines() const { return m_defines; }
    const CStructList& Structs() const { return m_structs; }
    const CEnumList& Enums() const { return m_enums; }

private:
    int CompileOpenFile(bool allowSharedCodes);
    int CompileLines(bool allowSharedCodes);
    bool DefineLine();
    bool StructLine(int64_t& pos, bool allowSharedCodes);
    bool StructBody(int64_t& pos, CStructData& data);
    bool FieldLine(int64_t pos, CStructData& data);
    bool EnumLine(int64_t& pos);
    bool EnumBody(int64_t& pos, _ENUM_TAG& tag);
    bool Fail(int64_t lineStart, const char* message, const std::string& name = {});
    int LineAt(int64_t pos);
    void Dump();

    // Lookups of the compile in progress, so that its time grows with the
    // number of lines only.
    struct CNameIndex {
        std::unordered_map<std::string, int32_t> defines;
        std::unordered_set<int32_t> structCodes;
        // The code's four bytes followed by the structure's name.
        std::unordered_set<std::string> structCodesAndNames;
        CEnumIndex enums;
    };

    std::string m_errorText;
    CDefineCode m_defines;
    CStructList m_structs;
    CEnumList m_enums;
    bool m_dump = false;
    CStdOut* m_out = nullptr;
    std::string m_fileName;
    int64_t m_modTime = 0;
    CSeekReader m_file;
    CMatch m_topLine;
    CMatch m_fieldLine;
    CMatch m_enumLine;
    CNameIndex m_index;
    int m_errorLine = 0;
    // Line breaks counted so far, up to m_countedTo.
    int64_t m_countedTo = 0;
    int m_lines = 1;
    // Where the current top-level line began (errors of a header line).
    int64_t m_lineStart = 0;
};
