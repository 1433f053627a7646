#include "shell/LineBuffer.h"

COutLineBuffer::COutLineBuffer(size_t maxLines) : m_maxLines(maxLines < 1 ? 1 : maxLines)
{
    Clear();
}

void COutLineBuffer::Clear()
{
    m_droppedSinceTake += m_lines.size();
    m_lines.assign(1, std::string());
    m_column = 0;
    m_totalDropped = 0;
    m_firstChanged = 0;
}

void COutLineBuffer::markChanged(size_t line)
{
    if (line < m_firstChanged)
        m_firstChanged = line;
}

void COutLineBuffer::endLine()
{
    m_lines.emplace_back();
    m_column = 0;
    markChanged(m_lines.size() - 1);
    // The last entry is the open line; the ones before it are complete.
    if (m_lines.size() - 1 > m_maxLines) {
        m_lines.pop_front();
        ++m_totalDropped;
        ++m_droppedSinceTake;
        if (m_firstChanged > 0)
            --m_firstChanged;
    }
}

void COutLineBuffer::Append(std::string_view text)
{
    size_t start = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != '\n' && text[i] != '\r')
            continue;
        // Plain characters between control characters overwrite in one go.
        if (i > start) {
            std::string& line = m_lines.back();
            std::string_view run = text.substr(start, i - start);
            markChanged(m_lines.size() - 1);
            size_t overlap = std::min(run.size(), line.size() - std::min(line.size(), m_column));
            line.replace(m_column, overlap, run);
            m_column += run.size();
        }
        if (i < text.size()) {
            if (text[i] == '\n')
                endLine();
            else
                m_column = 0;
        }
        start = i + 1;
    }
}

std::string COutLineBuffer::Text() const
{
    std::string text;
    for (size_t i = 0; i < m_lines.size(); ++i) {
        text += m_lines[i];
        if (i + 1 < m_lines.size())
            text += "\r\n";
    }
    return text;
}

_OUTCHANGES COutLineBuffer::TakeChanges()
{
    _OUTCHANGES changes;
    changes.droppedLines = m_droppedSinceTake;
    changes.keptLines = m_firstChanged;
    if (m_firstChanged < m_lines.size())
        changes.lines.assign(m_lines.begin() + static_cast<std::ptrdiff_t>(m_firstChanged), m_lines.end());
    m_droppedSinceTake = 0;
    m_firstChanged = m_lines.size();
    return changes;
}
