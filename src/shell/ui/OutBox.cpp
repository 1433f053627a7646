#include "shell/ui/OutBox.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QMenu>
#include <QScrollBar>
#include <QSocketNotifier>
#include <QTextBlock>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <vector>

namespace {
// Changes are shown at most this often, so that a flood of short prints
// costs one view update per period instead of one per print.
constexpr int kRefreshMs = 15;
// One drain takes at most this many characters before the event loop runs.
constexpr size_t kDrainBudget = 4 * COutBox::kFifoSlots;
}  // namespace

COutBox::COutBox(QWidget* parent) : QPlainTextEdit(parent)
{
    setReadOnly(true);
    setUndoRedoEnabled(false);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setContextMenuPolicy(Qt::DefaultContextMenu);

    m_dataNotifier = new QSocketNotifier(m_fifo.DataEvent().fd(), QSocketNotifier::Read, this);
    connect(m_dataNotifier, &QSocketNotifier::activated, this, &COutBox::drain);
    m_refreshTimer = new QTimer(this);
    m_refreshTimer->setSingleShot(true);
    m_refreshTimer->setInterval(kRefreshMs);
    connect(m_refreshTimer, &QTimer::timeout, this, &COutBox::refresh);
}

COutBox::~COutBox()
{
    // Releases printers still blocked on a full FIFO.
    m_fifo.Close();
}

int COutBox::PrintV(const char* format, va_list args)
{
    char local[512];
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(local, sizeof local, format, copy);
    va_end(copy);
    if (n < 0)
        return n;
    if (static_cast<size_t>(n) < sizeof local) {
        Write(std::string_view(local, static_cast<size_t>(n)));
        return n;
    }
    std::vector<char> big(static_cast<size_t>(n) + 1);
    std::vsnprintf(big.data(), big.size(), format, args);
    Write(std::string_view(big.data(), static_cast<size_t>(n)));
    return n;
}

void COutBox::Write(std::string_view text)
{
    if (QThread::currentThread() == thread()) {
        drain();
        append(text);
        return;
    }
    m_writer.Write(text.data(), text.size());
}

void COutBox::drain()
{
    char chunk[8192];
    size_t total = 0;
    while (total < kDrainBudget) {
        size_t n = m_fifo.TryRead(chunk, sizeof chunk);
        if (n == 0)
            break;
        total += n;
        append(std::string_view(chunk, n));
    }
    m_taken += total;
}

void COutBox::append(std::string_view text)
{
    if (text.empty())
        return;
    if (m_log.IsOpen())
        m_log.Write(text);
    m_lines.Append(text);
    scheduleRefresh();
}

void COutBox::scheduleRefresh()
{
    if (isVisible() && !m_refreshTimer->isActive())
        m_refreshTimer->start();
}

void COutBox::Flush()
{
    drain();
    refresh();
}

void COutBox::showEvent(QShowEvent* event)
{
    QPlainTextEdit::showEvent(event);
    refresh();
}

void COutBox::refresh()
{
    m_refreshTimer->stop();
    _OUTCHANGES changes = m_lines.TakeChanges();
    if (!changes.Any())
        return;

    QScrollBar* bar = verticalScrollBar();
    bool follow = bar->value() >= bar->maximum();
    int firstVisible = bar->value();

    QTextDocument* doc = document();
    QTextCursor cursor(doc);
    cursor.beginEditBlock();
    size_t blocks = static_cast<size_t>(doc->blockCount());
    size_t dropped = std::min(changes.droppedLines, blocks);
    size_t kept = changes.keptLines;
    if (dropped == blocks) {
        kept = 0;
    } else if (dropped > 0) {
        cursor.setPosition(0);
        cursor.setPosition(doc->findBlockByNumber(static_cast<int>(dropped)).position(), QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    }
    blocks = static_cast<size_t>(doc->blockCount());
    if (kept == 0) {
        cursor.select(QTextCursor::Document);
        cursor.removeSelectedText();
    } else if (kept < blocks) {
        cursor.setPosition(doc->findBlockByNumber(static_cast<int>(kept)).position() - 1);
        cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    }
    std::string text;
    for (size_t i = 0; i < changes.lines.size(); ++i) {
        if (i > 0 || kept > 0)
            text += '\n';
        text += changes.lines[i];
    }
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    cursor.endEditBlock();

    // A view that followed the end keeps following; one scrolled up keeps
    // the same text at its top while lines drop off the front.
    if (follow)
        bar->setValue(bar->maximum());
    else
        bar->setValue(std::max(0, firstVisible - static_cast<int>(dropped)));
    Q_EMIT refreshed();
}

void COutBox::Clear()
{
    drain();
    m_lines.Clear();
    refresh();
}

bool COutBox::HasSelection() const
{
    return textCursor().hasSelection();
}

void COutBox::CopySelection()
{
    if (HasSelection())
        copy();
}

bool COutBox::OpenLog(const std::string& path)
{
    return m_log.Open(path);
}

void COutBox::CloseLog()
{
    m_log.Close();
}

void COutBox::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    QAction* copyAction = menu.addAction(tr("Copy"), this, &COutBox::CopySelection);
    copyAction->setEnabled(HasSelection());
    menu.addAction(tr("Clear"), this, &COutBox::Clear);
    menu.exec(event->globalPos());
}
