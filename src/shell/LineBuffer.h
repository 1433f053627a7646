#pragma once
// The text of an output box: the last lines printed, with CR rewriting the
// current line and LF ending it. Only the GUI thread uses it; no waits.

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

// What changed since the last TakeChanges: the view drops `droppedLines`
// lines from its front, keeps its first `keptLines` lines after that, and
// replaces the rest by `lines` (the changed lines up to the current one).
struct _OUTCHANGES {
    size_t droppedLines = 0;
    size_t keptLines = 0;
    std::vector<std::string> lines;
    bool Any() const { return droppedLines > 0 || !lines.empty(); }
};

class COutLineBuffer {
public:
    static constexpr size_t kDefaultMaxLines = 1000;

    explicit COutLineBuffer(size_t maxLines = kDefaultMaxLines);

    // '\n' ends the current line, dropping the oldest line once more than
    // maxLines lines are complete; '\r' returns to the start of the current
    // line, whose characters are then overwritten one by one.
    void Append(std::string_view text);
    void Clear();

    // Complete lines plus the current one (which may be empty).
    size_t LineCount() const { return m_lines.size(); }
    const std::string& Line(size_t i) const { return m_lines[i]; }
    // The whole text as the box holds it: lines ended by CR LF.
    std::string Text() const;
    // Lines dropped from the front since the buffer was made or cleared.
    size_t TotalDroppedLines() const { return m_totalDropped; }

    _OUTCHANGES TakeChanges();

private:
    void endLine();
    void markChanged(size_t line);

    size_t m_maxLines;
    std::deque<std::string> m_lines;
    size_t m_column = 0;
    size_t m_totalDropped = 0;
    // Since the last TakeChanges: lines dropped, and the first changed line
    // in today's numbering (LineCount() when nothing changed).
    size_t m_droppedSinceTake = 0;
    size_t m_firstChanged = 0;
};
