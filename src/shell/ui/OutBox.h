#pragma once
// An output box: a read-only text view that any thread may print to.
// Printers on other threads write into the box's character FIFO (blocking
// only while it is full); the GUI thread drains it when the FIFO's data
// event wakes a QSocketNotifier, appends to the line buffer and the log
// file, and shows the changes a few milliseconds later. A print on the GUI
// thread drains the FIFO first and then appends directly, so the GUI thread
// never waits for itself.

#include "base/Fifo.h"
#include "base/StdOut.h"
#include "shell/LineBuffer.h"
#include "shell/LogFile.h"

#include <QPlainTextEdit>

class QSocketNotifier;
class QTimer;

class COutBox : public QPlainTextEdit, public CStdOut {
    Q_OBJECT
public:
    static constexpr size_t kFifoSlots = 32768;

    explicit COutBox(QWidget* parent = nullptr);
    ~COutBox() override;

    // Any thread.
    int PrintV(const char* format, va_list args) override;
    // Any thread: text as it is, no formatting.
    void Write(std::string_view text);

    // GUI thread.
    void Clear();
    void CopySelection();
    bool HasSelection() const;
    // Later text also goes to the file (appended; locked against other
    // writers); false with the last error when it cannot be opened.
    bool OpenLog(const std::string& path);
    void CloseLog();
    bool IsLogOpen() const { return m_log.IsOpen(); }
    // Takes what the FIFO holds now and shows all changes at once.
    void Flush();
    const COutLineBuffer& Lines() const { return m_lines; }
    // Characters taken from the FIFO so far.
    uint64_t CharactersTaken() const { return m_taken; }

Q_SIGNALS:
    // After each refresh of the view.
    void refreshed();

protected:
    void showEvent(QShowEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void drain();
    void append(std::string_view text);
    void scheduleRefresh();
    void refresh();

    CFifo<char> m_fifo{kFifoSlots};
    CFifoWr<char> m_writer{m_fifo};
    QSocketNotifier* m_dataNotifier = nullptr;
    QTimer* m_refreshTimer = nullptr;
    COutLineBuffer m_lines;
    COutLogFile m_log;
    uint64_t m_taken = 0;
};
