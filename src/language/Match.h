#pragma once
// The program's own small pattern matcher. A pattern sets capture marks
// (\c) between items instead of capturing groups; alternation exists only
// inside parentheses, and the caller asks which alternative of a numbered
// group matched. Matching is greedy and possessive: nothing is given back.
//
// Syntax faults (a group not closed, a ')' that closes no group, an
// unterminated class) make Compile return 0. A quantifier with no character item before it, and matching with an
// empty pattern, throw std::invalid_argument: callers that take a pattern
// from the user or the settings must catch it and report it.
//
// Threads: a compiled pattern keeps the state of its current match in its
// items, so one CMatch serves one thread at a time; threads that match the
// same pattern at once each compile their own. Different objects are
// independent.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CSeekReader;
class CExpList;

// One item of a sequence: a character item (literal, class, '.', '^', '$')
// or a group of alternatives.
struct CObjExp {
    enum Kind : int32_t { None = 0, Character = 1, Group = 2 };
    enum Quantifier : int32_t { Once = 0, OneOrMore = 1, ZeroOrMore = 2, ZeroOrOne = 3 };

    // Character item: one member per character (ranges expanded).
    std::vector<int32_t> members;
    // Group: one sequence per alternative, in pattern order.
    std::vector<std::unique_ptr<CExpList>> alternatives;

    int32_t kind = None;
    int32_t quantifier = Once;
    int32_t negated = 0;
    int32_t anyChar = 0;
    int32_t endOfLine = 0;
    int32_t beginOfLine = 0;
    int32_t markAfter = 0;
    int32_t markBefore = 0;
    int32_t ignoreCase = 0;
    // Result of the last match.
    int32_t matched = 0;
    int32_t alternative = -1;
    int64_t start = -1;
    int64_t end = -1;

    // The bytes a plain character item accepts, from members, negation,
    // '.' and the ignore-case flag (filled when the item is complete).
    std::array<uint64_t, 4> accept{};
    bool Accepts(int c) const { return (accept[c >> 6] >> (c & 63)) & 1; }
    void BuildAcceptTable();
};

// A sequence of items that must match one after the other.
class CExpList {
public:
    std::vector<CObjExp> items;
};

class CMatch {
public:
    // Compiles the pattern when one is given; the result is not checked.
    explicit CMatch(const char* pattern = nullptr, bool ignoreCase = false);
    CMatch(const CMatch&) = delete;
    CMatch& operator=(const CMatch&) = delete;

    // 1 on success, 0 on a syntax fault; stopOffset receives the offset in
    // the pattern where compilation stopped.
    int Compile(const char* pattern, bool ignoreCase, int* stopOffset = nullptr);

    // Memory form: searches the NUL-terminated text from startPos on (only
    // at startPos when the pattern begins with '^'). Non-zero on a match;
    // endPos receives the position after it.
    int Match(const char* text, int startPos, int* endPos = nullptr);
    // Stream form: matches once at pos of the file.
    int MatchAt(CSeekReader& file, int64_t pos, int64_t* endPos = nullptr);

    // Sets every position to -1 and every result to "not matched".
    void ClearPositions();

    // Position of capture mark n (numbered from 1), -1 when unset.
    int64_t GetMarkPos(int mark) const;
    // Text between two capture marks; empty when either is unset.
    std::string GetCapture(int markA, int markB, const char* text) const;
    std::string GetCapture(int markA, int markB, CSeekReader& file) const;
    // 0-based alternative of group n (numbered from 1), -1 when the group
    // did not match or does not exist.
    int GetGroupAlternative(int n) const;
    // Text matched by group n; empty when it did not match.
    std::string GetGroupText(int n, const char* text) const;
    std::string GetGroupText(int n, CSeekReader& file) const;

    int MarkCount() const { return static_cast<int>(m_marks.size()); }
    int GroupCount() const { return static_cast<int>(m_groups.size()); }
    const CExpList& Items() const { return m_list; }

private:
    struct Mark {
        const CObjExp* item;
        bool before;
    };
    void ClearLastMatch();
    void Index(const CExpList& list);
    void PreparePrefilter();
    const CObjExp* Group(int n) const;

    CExpList m_list;
    // Set while the items hold the positions of a successful match.
    bool m_hasMatch = false;
    std::vector<Mark> m_marks;
    std::vector<const CObjExp*> m_groups;
    // Unanchored searches skip to bytes that can start a match.
    enum class Prefilter { None, OneByte, FewBytes, Table } m_prefilter = Prefilter::None;
    std::string m_startBytes;
    std::array<bool, 256> m_startTable{};
};
