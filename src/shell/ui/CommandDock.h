#pragma once
// The docking container of a command window, known by its id (600 up).
// It shows the command list of the command file; the command window kind
// derives from it to add the argument grid, sending and its saved state.
// GUI thread only.

#include <QDockWidget>

#include <vector>

class CChildFrame;
class CMainFrameServices;
class CSettingsStoreEx;
class CVa_Compiler;
class QComboBox;

class CCommandDock : public QDockWidget {
    Q_OBJECT
public:
    CCommandDock(CMainFrameServices& frame, int id, QWidget* parent);

    int Id() const { return m_id; }
    CMainFrameServices& Frame() { return m_frame; }

    // Refills the command list: "     RAW COMMAND" and the commands of the
    // tables (null: no command file), the previous choice found again by
    // prefix; without a previous choice or tables the first entry.
    virtual void RefillCommands(const CVa_Compiler* tables);
    // The open tool windows changed (one opened or closed).
    virtual void ToolWindowsChanged(const std::vector<CChildFrame*>&) {}
    // The window's state in "<state>Command-<id>".
    virtual void LoadState(CSettingsStoreEx&) {}
    virtual void SaveState(CSettingsStoreEx&) {}

    QComboBox& CommandList() { return *m_commands; }
    // The widget below the command list, for the command window's grid.
    QWidget& Body() { return *m_body; }

Q_SIGNALS:
    // The operator closed the window; the main frame destroys it.
    void closedByOperator(CCommandDock* dock);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    CMainFrameServices& m_frame;
    int m_id;
    QComboBox* m_commands;
    QWidget* m_body;
};
