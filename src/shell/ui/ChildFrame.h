#pragma once
// CChildFrame, the base of every tool window (connection, firmware update,
// node monitor, server, spy, DAQ): a tab of the main window known by its
// profile name until it closes. It loads and saves its settings in its
// profile's section, prints to "Main Events" with the prefix "name> ",
// owns the properties pane while active, may keep a transfer-rate line,
// and tells the main frame when it closes.
//
// Threads: everything here runs on the GUI thread. Workers of a window
// never call these functions; they hand records over through a CFifo and a
// queued call (QMetaObject::invokeMethod with Qt::QueuedConnection). Print
// is the exception: it may be called from any thread.
//
// A window kind derives from it and implements:
//   ReadSettings / WriteSettings   its values in its profile section
//   BuildPane / SyncPane           its properties in the pane (CPaneOwner)
//   PaneTitle                      the pane's title (default: profile name)
// and may override OnOpened (kind-specific start), PrepareToClose,
// OnToolWindowClosed, AcceptsCommands, CanBeSpied, the toolbar hooks of
// CPaneOwner (commands 190 to 199) and CloseWorkers.

#include "shell/SettingsStore.h"
#include "shell/ui/PropertiesWnd.h"

#include <QMdiSubWindow>

#include <string>

class CMainFrameServices;
class CRateMeter;
class CStdOut;

class CChildFrame : public QMdiSubWindow, public CPaneOwner {
    Q_OBJECT
public:
    CChildFrame(CMainFrameServices& frame, std::string profileName);
    ~CChildFrame() override;

    const std::string& ProfileName() const { return m_profile; }
    CMainFrameServices& Frame() { return m_frame; }

    // Settings in "<state>Profiles/<name>/". Load keeps a field's value
    // when the profile lacks it (and all of them when the section is
    // missing). Save first commits the pane's edits.
    bool LoadSettings();
    bool SaveSettings();
    bool SaveSettings(const std::string& profileName);
    // The profile dialog, then save under the chosen name.
    bool SaveCopyAs();

    // Given by the main frame when the window opens.
    void SetOutput(CStdOut* out) { m_out = out; }
    void SetRateMeter(CRateMeter* meter) { m_rateMeter = meter; }
    // The window's line of the "Transfer Rate" list; null when it has none.
    CRateMeter* RateMeter() const { return m_rateMeter; }
    // Prints "name> " and the text to "Main Events"; nothing when the
    // window has no output. Any thread.
    int Print(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // The pane, when this window owns it: commit (true) or show (false)
    // the pane's values. Commit answers false for an invalid value.
    bool IsPaneOwner() const;
    bool CommitPane();
    void RefreshPane();

    // Before the main window closes every tool window: set the closing-all
    // flag, so that the close does not report back one by one.
    virtual void PrepareToClose() { m_closingAll = true; }
    bool IsClosingAll() const { return m_closingAll; }
    // Another tool window closed (it is already gone from the list).
    virtual void OnToolWindowClosed(CChildFrame*) {}
    // Listed under "Active Window" of the command windows.
    virtual bool AcceptsCommands() const { return false; }
    virtual bool CanBeSpied() const { return false; }
    // Kind-specific start once the window is shown and owns the pane.
    virtual void OnOpened() {}

    QString PaneTitle() const override { return QString::fromStdString(m_profile); }

protected:
    virtual void ReadSettings(CSettingsStoreEx& store) = 0;
    virtual void WriteSettings(CSettingsStoreEx& store) = 0;
    // Stops the window's workers before it goes; the default has none.
    virtual void CloseWorkers() {}

    void closeEvent(QCloseEvent* event) override;

private:
    CMainFrameServices& m_frame;
    std::string m_profile;
    CStdOut* m_out = nullptr;
    CRateMeter* m_rateMeter = nullptr;
    bool m_closingAll = false;
    bool m_closed = false;
};
