#include "language/Match.h"

#include "language/SeekReader.h"

#include <cstring>
#include <stdexcept>

namespace {

// Groups nest at most this deep; deeper patterns are a syntax fault, which
// also bounds the recursion of matching.
constexpr int kMaxDepth = 200;

int Upper(int c) { return c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c; }

class CPatternCompiler {
public:
    CPatternCompiler(const char* pattern, bool ignoreCase) : m_pat(pattern), m_ignoreCase(ignoreCase) {}

    // Compiles one sequence up to the end, a ')' or a '|' of its level.
    int Sequence(CExpList& list, int depth)
    {
        bool markBeforeNext = false;
        auto append = [&](CObjExp&& item) {
            if (markBeforeNext)
                item.markBefore = 1;
            markBeforeNext = false;
            item.ignoreCase = m_ignoreCase;
            if (item.kind == CObjExp::Character)
                item.BuildAcceptTable();
            list.items.push_back(std::move(item));
        };
        for (;;) {
            char c = m_pat[m_pos];
            if (c == '\0' || c == ')' || c == '|')
                return 1;
            CObjExp item;
            item.kind = CObjExp::Character;
            switch (c) {
            case '(': {
                if (depth >= kMaxDepth)
                    return 0;
                item.kind = CObjExp::Group;
                do {
                    ++m_pos;
                    auto alternative = std::make_unique<CExpList>();
                    if (!Sequence(*alternative, depth + 1))
                        return 0;
                    item.alternatives.push_back(std::move(alternative));
                } while (m_pat[m_pos] == '|');
                if (m_pat[m_pos] != ')')
                    return 0;
                ++m_pos;
                append(std::move(item));
                break;
            }
            case '*':
            case '+':
            case '?':
                if (list.items.empty() || list.items.back().kind != CObjExp::Character)
                    throw std::invalid_argument(std::string("pattern: quantifier '") + c +
                                                "' without a character item before it at offset " +
                                                std::to_string(m_pos));
                list.items.back().quantifier = c == '*' ? CObjExp::ZeroOrMore
                                               : c == '+' ? CObjExp::OneOrMore
                                                          : CObjExp::ZeroOrOne;
                ++m_pos;
                break;
            case '.':
                item.anyChar = 1;
                ++m_pos;
                append(std::move(item));
                break;
            case '^':
                item.beginOfLine = 1;
                ++m_pos;
                append(std::move(item));
                break;
            case '$':
                item.endOfLine = 1;
                ++m_pos;
                append(std::move(item));
                break;
            case '\\':
                if (m_pat[m_pos + 1] == '\0')
                    return 0;
                if (m_pat[m_pos + 1] == 'c') {
                    m_pos += 2;
                    if (list.items.empty())
                        markBeforeNext = true;
                    else
                        list.items.back().markAfter = 1;
                    break;
                }
                ++m_pos;
                item.members.push_back(Escape());
                append(std::move(item));
                break;
            case '[':
                if (!Class(item))
                    return 0;
                append(std::move(item));
                break;
            default:
                item.members.push_back(static_cast<uint8_t>(c));
                ++m_pos;
                append(std::move(item));
                break;
            }
        }
    }

    size_t Offset() const { return m_pos; }

private:
    // The character after a backslash (at m_pos, not NUL).
    int32_t Escape()
    {
        char c = m_pat[m_pos++];
        switch (c) {
        case 'b': return 8;
        case 'f': return 12;
        case 'n': return 10;
        case 'r': return 13;
        case 't': return 9;
        default: break;
        }
        if (c >= '0' && c <= '9') {
            int value = c - '0';
            for (int n = 1; n < 3 && m_pat[m_pos] >= '0' && m_pat[m_pos] <= '9'; ++n)
                value = value * 10 + (m_pat[m_pos++] - '0');
            return value & 0xFF;
        }
        return static_cast<uint8_t>(c);
    }

    // One class member character at m_pos (escaped or not); -1 at the end.
    int32_t ClassChar()
    {
        char c = m_pat[m_pos];
        if (c == '\0')
            return -1;
        if (c == '\\') {
            if (m_pat[m_pos + 1] == '\0')
                return -1;
            ++m_pos;
            return Escape();
        }
        ++m_pos;
        return static_cast<uint8_t>(c);
    }

    bool Class(CObjExp& item)
    {
        ++m_pos;
        if (m_pat[m_pos] == '^') {
            item.negated = 1;
            ++m_pos;
        }
        if (m_pat[m_pos] == ']') {
            ++m_pos;
            return true;
        }
        int32_t last = -1;
        for (;;) {
            char c = m_pat[m_pos];
            if (c == '\0')
                return false;
            if (c == ']') {
                ++m_pos;
                return true;
            }
            if (c == '$') {
                item.endOfLine = 1;
                ++m_pos;
                continue;
            }
            if (c == '-' && last >= 0 && m_pat[m_pos + 1] != ']' && m_pat[m_pos + 1] != '\0') {
                // A range starts after the last member; a further '-' goes
                // on from the range's end ("[0-9-a-f]" is "0" to "f").
                ++m_pos;
                int32_t to = ClassChar();
                if (to < 0)
                    return false;
                for (int32_t ch = last + 1; ch <= to; ++ch)
                    item.members.push_back(ch);
                last = to;
                continue;
            }
            int32_t member = ClassChar();
            if (member < 0)
                return false;
            item.members.push_back(member);
            last = member;
        }
    }

    const char* m_pat;
    size_t m_pos = 0;
    int32_t m_ignoreCase;
};

// The text in memory: NUL ends it.
struct CMemorySource {
    const uint8_t* text;
    int At(int64_t pos) const
    {
        uint8_t c = text[pos];
        return c ? c : -1;
    }
};

// The text of a file: only the end of the file ends it.
struct CFileSource {
    CSeekReader& file;
    int At(int64_t pos) { return file.At(pos); }
};

void ResetItem(CObjExp& item)
{
    item.matched = 0;
    item.alternative = -1;
    item.start = -1;
    item.end = -1;
}

void ResetAll(CExpList& list)
{
    for (auto& item : list.items) {
        for (auto& alternative : item.alternatives)
            ResetAll(*alternative);
        ResetItem(item);
    }
}

// Resets items that matched (with the alternative each group took); the
// alternatives not taken are already clear.
void ResetMatched(CExpList& list, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        CObjExp& item = list.items[i];
        if (item.kind == CObjExp::Group && item.alternative >= 0) {
            CExpList& taken = *item.alternatives[item.alternative];
            ResetMatched(taken, taken.items.size());
        }
        ResetItem(item);
    }
}

// One step of a character item at pos: the position after it, -1 on failure.
template <class Source>
inline int64_t Step(const CObjExp& item, Source& src, int64_t pos)
{
    if (item.beginOfLine) {
        if (pos == 0)
            return pos;
        int before = src.At(pos - 1);
        return before == '\n' || before == '\r' ? pos : -1;
    }
    int c = src.At(pos);
    if (item.endOfLine) {
        bool atEnd = c < 0 || c == '\n' || c == '\r';
        if (item.negated)
            return atEnd ? -1 : pos + 1;
        if (c < 0)
            return pos;
        if (c == '\n')
            return pos + 1;
        if (c == '\r')
            return src.At(pos + 1) == '\n' ? pos + 2 : pos + 1;
        return -1;
    }
    if (c < 0)
        return -1;
    return item.Accepts(c) ? pos + 1 : -1;
}

template <class Source>
bool MatchSequence(CExpList& list, Source& src, int64_t pos, int64_t& end);

template <class Source>
bool MatchItem(CObjExp& item, Source& src, int64_t pos, int64_t& end)
{
    if (item.kind == CObjExp::Group) {
        for (size_t i = 0; i < item.alternatives.size(); ++i) {
            if (MatchSequence(*item.alternatives[i], src, pos, end)) {
                item.matched = 1;
                item.alternative = static_cast<int32_t>(i);
                item.start = pos;
                item.end = end;
                return true;
            }
        }
        return false;
    }
    int64_t last = Step(item, src, pos);
    if (last < 0) {
        if (item.quantifier == CObjExp::Once || item.quantifier == CObjExp::OneOrMore)
            return false;
        last = pos;
    } else if (item.quantifier == CObjExp::OneOrMore || item.quantifier == CObjExp::ZeroOrMore) {
        // A step that consumes nothing (the end of line at the end of the
        // text) ends the repetition.
        int64_t at = pos;
        while (last > at) {
            at = last;
            int64_t next = Step(item, src, at);
            if (next < 0)
                break;
            last = next;
        }
    }
    item.matched = 1;
    item.start = pos;
    item.end = last;
    end = last;
    return true;
}

template <class Source>
bool MatchSequence(CExpList& list, Source& src, int64_t pos, int64_t& end)
{
    size_t count = list.items.size();
    for (size_t i = 0; i < count; ++i) {
        if (!MatchItem(list.items[i], src, pos, end)) {
            ResetMatched(list, i);
            return false;
        }
        pos = end;
    }
    end = pos;
    return true;
}

}  // namespace

void CObjExp::BuildAcceptTable()
{
    accept.fill(0);
    if (beginOfLine || endOfLine)
        return;
    std::array<bool, 256> upper{};
    for (int32_t m : members)
        upper[ignoreCase ? Upper(m & 0xFF) : (m & 0xFF)] = true;
    for (int c = 0; c < 256; ++c) {
        bool in = anyChar || upper[ignoreCase ? Upper(c) : c];
        if (negated && !anyChar)
            in = !in;
        if (in)
            accept[c >> 6] |= uint64_t(1) << (c & 63);
    }
}

CMatch::CMatch(const char* pattern, bool ignoreCase)
{
    if (pattern)
        Compile(pattern, ignoreCase);
}

int CMatch::Compile(const char* pattern, bool ignoreCase, int* stopOffset)
{
    m_list.items.clear();
    m_marks.clear();
    m_groups.clear();
    m_prefilter = Prefilter::None;
    m_hasMatch = false;
    if (stopOffset)
        *stopOffset = 0;
    if (!pattern)
        return 0;
    CPatternCompiler compiler(pattern, ignoreCase);
    int result;
    try {
        result = compiler.Sequence(m_list, 0);
    } catch (...) {
        m_list.items.clear();
        throw;
    }
    if (stopOffset)
        *stopOffset = static_cast<int>(compiler.Offset());
    // A ')' that closes no group is unbalanced, as an unclosed '(' is; a
    // top-level '|' still ends the pattern.
    if (result && pattern[compiler.Offset()] == ')')
        result = 0;
    Index(m_list);
    PreparePrefilter();
    return result;
}

void CMatch::Index(const CExpList& list)
{
    for (const auto& item : list.items) {
        if (item.markBefore)
            m_marks.push_back({&item, true});
        if (item.markAfter)
            m_marks.push_back({&item, false});
        if (item.kind == CObjExp::Group)
            m_groups.push_back(&item);
        for (const auto& alternative : item.alternatives)
            Index(*alternative);
    }
}

void CMatch::PreparePrefilter()
{
    m_prefilter = Prefilter::None;
    if (m_list.items.empty())
        return;
    const CObjExp& first = m_list.items.front();
    if (first.kind != CObjExp::Character || first.beginOfLine || first.endOfLine ||
        (first.quantifier != CObjExp::Once && first.quantifier != CObjExp::OneOrMore))
        return;
    m_startBytes.clear();
    m_startTable.fill(false);
    for (int c = 1; c < 256; ++c) {
        if (first.Accepts(c)) {
            m_startBytes.push_back(static_cast<char>(c));
            m_startTable[c] = true;
        }
    }
    m_startTable[0] = true;  // the scan stops at the end of the text too
    if (m_startBytes.size() == 1)
        m_prefilter = Prefilter::OneByte;
    else if (m_startBytes.size() <= 8)
        m_prefilter = Prefilter::FewBytes;
    else
        m_prefilter = Prefilter::Table;
}

void CMatch::ClearPositions()
{
    ResetAll(m_list);
    m_hasMatch = false;
}

void CMatch::ClearLastMatch()
{
    // A failed match leaves every item clear; a successful one set only the
    // items on the path it took.
    if (m_hasMatch)
        ResetMatched(m_list, m_list.items.size());
    m_hasMatch = false;
}

int CMatch::Match(const char* text, int startPos, int* endPos)
{
    if (m_list.items.empty())
        throw std::invalid_argument("pattern: matching with an empty pattern");
    if (!text || startPos < 0)
        return 0;
    ClearLastMatch();
    CMemorySource src{reinterpret_cast<const uint8_t*>(text)};
    int64_t end = 0;
    auto found = [&] {
        m_hasMatch = true;
        if (endPos)
            *endPos = static_cast<int>(end);
        return 1;
    };
    const CObjExp& first = m_list.items.front();
    if (first.kind == CObjExp::Character && first.beginOfLine)
        return MatchSequence(m_list, src, startPos, end) ? found() : 0;

    const char* p = text + startPos;
    if (!*p)
        return 0;
    for (;;) {
        switch (m_prefilter) {
        case Prefilter::OneByte:
            p = std::strchr(p, m_startBytes[0]);
            break;
        case Prefilter::FewBytes:
            p = std::strpbrk(p, m_startBytes.c_str());
            break;
        case Prefilter::Table:
            while (!m_startTable[static_cast<uint8_t>(*p)])
                ++p;
            if (!*p)
                p = nullptr;
            break;
        case Prefilter::None:
            break;
        }
        if (!p)
            return 0;
        if (MatchSequence(m_list, src, p - text, end))
            return found();
        ++p;
        if (!*p)
            return 0;
    }
}

int CMatch::MatchAt(CSeekReader& file, int64_t pos, int64_t* endPos)
{
    if (m_list.items.empty())
        throw std::invalid_argument("pattern: matching with an empty pattern");
    ClearLastMatch();
    if (pos < 0)
        return 0;
    CFileSource src{file};
    int64_t end = 0;
    if (!MatchSequence(m_list, src, pos, end))
        return 0;
    m_hasMatch = true;
    if (endPos)
        *endPos = end;
    return 1;
}

int64_t CMatch::GetMarkPos(int mark) const
{
    if (mark < 1 || mark > static_cast<int>(m_marks.size()))
        return -1;
    const Mark& m = m_marks[mark - 1];
    return m.before ? m.item->start : m.item->end;
}

std::string CMatch::GetCapture(int markA, int markB, const char* text) const
{
    int64_t a = GetMarkPos(markA);
    int64_t b = GetMarkPos(markB);
    if (!text || a < 0 || b < a)
        return {};
    return std::string(text + a, static_cast<size_t>(b - a));
}

std::string CMatch::GetCapture(int markA, int markB, CSeekReader& file) const
{
    int64_t a = GetMarkPos(markA);
    int64_t b = GetMarkPos(markB);
    if (a < 0 || b < a)
        return {};
    return file.Read(a, b);
}

const CObjExp* CMatch::Group(int n) const
{
    if (n < 1 || n > static_cast<int>(m_groups.size()))
        return nullptr;
    return m_groups[n - 1];
}

int CMatch::GetGroupAlternative(int n) const
{
    const CObjExp* group = Group(n);
    return group && group->matched ? group->alternative : -1;
}

std::string CMatch::GetGroupText(int n, const char* text) const
{
    const CObjExp* group = Group(n);
    if (!text || !group || group->start < 0 || group->end < group->start)
        return {};
    return std::string(text + group->start, static_cast<size_t>(group->end - group->start));
}

std::string CMatch::GetGroupText(int n, CSeekReader& file) const
{
    const CObjExp* group = Group(n);
    if (!group || group->start < 0 || group->end < group->start)
        return {};
    return file.Read(group->start, group->end);
}
