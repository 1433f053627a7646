#pragma once
// CMainFrame: the program's one top-level window. It opens tool windows as
// tabs on the operator's commands, keeps the list of tool windows and of
// command windows, owns the command file and its watch, hosts the "Output"
// and "Properties" panes, sets the application look and starts the
// self-update. Tool windows reach it through CMainFrameServices.
//
// GUI thread only. Nothing here waits for a link, socket or worker: the
// command-file watch and the rate meters run on 1000 ms timers, questions
// run in the dialogs' own event loops.

#include "shell/CommandFile.h"
#include "shell/ui/MainServices.h"
#include "shell/ui/ToolWindows.h"

#include <QMainWindow>

#include <map>
#include <memory>
#include <vector>

class CChildFrame;
class CCommandDock;
class COutputWnd;
class CPropertiesWnd;
class CSelfUpdateFlow;
class QActionGroup;
class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QTimer;

// Menu commands of the main frame.
enum : int {
    kCmdSave = 57603,
    kCmdSaveCopyAs = 57604,
    kCmdClose = 57602,
    kCmdLoadCommandFile = 32775,
    kCmdEditCommandFile = 32790,
    kCmdNewCommandWindow = 32779,
    kCmdWindows = 32823,
    kCmdAbout = 57664,
    kCmdUpdate = 32791,
    kCmdExit = 57665,
};

class CMainFrame : public QMainWindow, public CMainFrameServices {
    Q_OBJECT
public:
    // Builds the menus, bars, panes and one command window per id of
    // commandList, applies the stored look and restores the saved layout.
    CMainFrame(CSettingsBackend& settings, const CToolWindowRegistry& registry, const std::string& commandFile,
               const std::vector<uint32_t>& commandList);
    ~CMainFrame() override;

    // After the window is shown: the command file made absolute when found,
    // loaded, the pane refreshed and the 1000 ms watch started.
    void Start();

    // Tool windows: through the profile dialog, or on a given profile.
    CChildFrame* OpenToolWindow(int commandId);
    CChildFrame* OpenToolWindow(int commandId, const std::string& profileName);

    // Command file.
    bool LoadCommandFile(const std::string& path, bool debug = false);
    void LoadCommandFileDialog();
    void EditCommandFile();
    CCommandFile& CommandFile() { return m_commandFile; }
    // Asks "Command File Modified\n\nReload ?" when the file changed since
    // it was loaded (the 1000 ms timer calls it).
    void CheckCommandFile();

    // Command windows.
    CCommandDock* NewCommandWindow();
    const std::vector<CCommandDock*>& CommandWindows() const { return m_commandWindows; }

    void SetLook(int look);
    int Look() const { return m_look; }
    void ShowAbout();
    void ShowWindowsDialog();
    void UpdateTelvane();

    COutputWnd& Output() { return *m_output; }
    QMdiArea& MdiArea() { return *m_mdi; }
    QAction* Action(int commandId) const;

    // CMainFrameServices
    CStdOut& MainEvents() override;
    std::vector<CChildFrame*> ToolWindows() const override { return m_windows; }
    CChildFrame* ActiveToolWindow() const override;
    CRateMeter* AddRateLine(const std::string& title) override;
    void RemoveRateLine(CRateMeter* meter) override;
    bool RunProfileDialog(std::string& name) override;
    void ToolWindowActivated(CChildFrame* window) override;
    void ToolWindowClosed(CChildFrame* window) override;
    CPropertiesWnd& PropertiesPane() override { return *m_properties; }
    CSettingsBackend& Settings() override { return m_settings; }
    std::string StatePath() const override;
    const CVa_Compiler* CommandTables() const override;
    void OpenInEditor(const std::string& path) override;
    QWidget* DialogParent() override { return this; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QAction* addCommand(QMenu* menu, int id, const QString& text, const QKeySequence& keys = {});
    void createMenus();
    void createToolBar();
    void createStatusBar();
    void updateStatus();
    CCommandDock* createCommandWindow(int id);
    void destroyCommandWindow(CCommandDock* dock);
    void updateNewCommandWindowState();
    void onSubWindowActivated(QMdiSubWindow* window);
    void toolWindowsChanged();
    void saveState();
    void restoreLayout();

    CSettingsBackend& m_settings;
    const CToolWindowRegistry& m_registry;
    CCommandFile m_commandFile;
    std::vector<CChildFrame*> m_windows;
    std::vector<CCommandDock*> m_commandWindows;
    std::map<int, QAction*> m_actions;
    QMdiArea* m_mdi;
    COutputWnd* m_output;
    CPropertiesWnd* m_properties;
    QActionGroup* m_looks = nullptr;
    QLabel* m_statusCommands = nullptr;
    QLabel* m_statusWindows = nullptr;
    QLabel* m_statusLook = nullptr;
    QTimer* m_rateTimer;
    QTimer* m_watchTimer;
    CSelfUpdateFlow* m_update = nullptr;
    int m_look;
    bool m_opening = false;
    bool m_closing = false;
};
