#include "shell/ui/MainFrame.h"

#include "base/StdOut.h"
#include "shell/Profiles.h"
#include "shell/SelfUpdate.h"
#include "shell/SettingsStore.h"
#include "shell/ui/AppLook.h"
#include "shell/ui/ChildFrame.h"
#include "shell/ui/CommandDock.h"
#include "shell/ui/CommandFileDlg.h"
#include "shell/ui/OutputWnd.h"
#include "shell/ui/ProgressDlg.h"
#include "shell/ui/PropertiesWnd.h"
#include "shell/ui/SelProfileDlg.h"
#include "shell/ui/WindowsDlg.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileInfo>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QStyle>
#include <QTabBar>
#include <QTimer>
#include <QToolBar>
#include <QUrl>

namespace {

constexpr int kTimerMs = 1000;

// Tool-window commands in menu order; those no window kind registered
// stay disabled.
struct _TOOLCOMMAND {
    int id;
    const char* text;
    bool fileMenu;
};
const _TOOLCOMMAND kToolCommands[] = {
    {kCmdNewConnection, "&New", true}, {kCmdFirmwareUpdate, "&Firmware Update", false},
    {kCmdServer, "Server", false},     {kCmdSpy, "Spy", false},
    {kCmdZOra, "ZOra", false},         {kCmdMcSec, "McSec", false},
};

const char* kStateKey = "WindowState";
const char* kGeometryKey = "WindowGeometry";

std::vector<uint8_t> Bytes(const QByteArray& a)
{
    return std::vector<uint8_t>(a.begin(), a.end());
}

}  // namespace

CMainFrame::CMainFrame(CSettingsBackend& settings, const CToolWindowRegistry& registry,
                       const std::string& commandFile, const std::vector<uint32_t>& commandList)
    : m_settings(settings), m_registry(registry), m_look(kDefaultLook)
{
    setObjectName("MainFrame");
    setWindowTitle(kProgramName);
    m_commandFile.SetPath(commandFile);
    {
        CSettingsStore store(m_settings, true);
        uint32_t look = kDefaultLook;
        if (store.Open(kStatePath) && store.Read("ApplicationLook", look) && IsLook(static_cast<int>(look)))
            m_look = static_cast<int>(look);
    }
    ApplyLook(m_look);

    m_mdi = new QMdiArea(this);
    m_mdi->setViewMode(QMdiArea::TabbedView);
    m_mdi->setTabsClosable(true);
    m_mdi->setTabsMovable(true);
    m_mdi->setDocumentMode(true);
    m_mdi->setBackground(QApplication::palette().color(QPalette::Dark));
    setCentralWidget(m_mdi);
    connect(m_mdi, &QMdiArea::subWindowActivated, this, &CMainFrame::onSubWindowActivated);

    setDockOptions(QMainWindow::AnimatedDocks | QMainWindow::AllowTabbedDocks | QMainWindow::AllowNestedDocks);
    m_output = new COutputWnd(this);
    m_properties = new CPropertiesWnd(this);
    addDockWidget(Qt::BottomDockWidgetArea, m_output);
    addDockWidget(Qt::RightDockWidgetArea, m_properties);
    for (uint32_t id : commandList)
        if (std::none_of(m_commandWindows.begin(), m_commandWindows.end(),
                         [&](CCommandDock* d) { return d->Id() == static_cast<int>(id); }))
            createCommandWindow(static_cast<int>(id));

    createMenus();
    createToolBar();
    createStatusBar();
    resize(1100, 760);
    restoreLayout();

    m_rateTimer = new QTimer(this);
    connect(m_rateTimer, &QTimer::timeout, this, [this] { m_output->RateList().SampleAll(); });
    m_rateTimer->start(kTimerMs);
    m_watchTimer = new QTimer(this);
    m_watchTimer->setInterval(kTimerMs);
    connect(m_watchTimer, &QTimer::timeout, this, &CMainFrame::CheckCommandFile);
    updateStatus();
}

CMainFrame::~CMainFrame()
{
    // Docks and tabs report their hiding while the base class tears down.
    m_closing = true;
    for (CCommandDock* dock : m_commandWindows)
        disconnect(dock, nullptr, this, nullptr);
    disconnect(m_mdi, nullptr, this, nullptr);
}

QAction* CMainFrame::addCommand(QMenu* menu, int id, const QString& text, const QKeySequence& keys)
{
    QAction* action = menu->addAction(text);
    action->setData(id);
    if (!keys.isEmpty())
        action->setShortcut(keys);
    m_actions[id] = action;
    return action;
}

QAction* CMainFrame::Action(int commandId) const
{
    auto it = m_actions.find(commandId);
    return it == m_actions.end() ? nullptr : it->second;
}

void CMainFrame::createMenus()
{
    QMenu* file = menuBar()->addMenu(tr("&File"));
    QMenu* tools = new QMenu(tr("&Tools"), this);
    std::vector<int> listed;
    for (const auto& c : kToolCommands) {
        QMenu* menu = c.fileMenu ? file : tools;
        const _TOOLWINDOWKIND* kind = m_registry.Find(c.id);
        QAction* a = addCommand(menu, c.id, kind ? QString::fromStdString(kind->menuText) : tr(c.text),
                                c.id == kCmdNewConnection ? QKeySequence::New : QKeySequence());
        a->setEnabled(kind != nullptr);
        connect(a, &QAction::triggered, this, [this, id = c.id] { OpenToolWindow(id); });
        listed.push_back(c.id);
    }
    for (const auto& kind : m_registry.Kinds()) {
        if (std::find(listed.begin(), listed.end(), kind.commandId) != listed.end())
            continue;
        QAction* a = addCommand(tools, kind.commandId, QString::fromStdString(kind.menuText));
        connect(a, &QAction::triggered, this, [this, id = kind.commandId] { OpenToolWindow(id); });
    }

    connect(addCommand(file, kCmdSave, tr("&Save"), QKeySequence::Save), &QAction::triggered, this, [this] {
        if (CChildFrame* w = ActiveToolWindow())
            w->SaveSettings();
    });
    connect(addCommand(file, kCmdSaveCopyAs, tr("Save Copy &As...")), &QAction::triggered, this, [this] {
        if (CChildFrame* w = ActiveToolWindow())
            w->SaveCopyAs();
    });
    connect(addCommand(file, kCmdClose, tr("&Close"), QKeySequence::Close), &QAction::triggered, this, [this] {
        if (CChildFrame* w = ActiveToolWindow())
            w->close();
    });
    file->addSeparator();
    connect(addCommand(file, kCmdExit, tr("E&xit"), QKeySequence::Quit), &QAction::triggered, this,
            &QWidget::close);

    QMenu* view = menuBar()->addMenu(tr("&View"));
    view->addAction(m_output->toggleViewAction());
    view->addAction(m_properties->toggleViewAction());
    view->addSeparator();
    QMenu* looks = view->addMenu(tr("&Application Look"));
    m_looks = new QActionGroup(this);
    for (int look = kFirstLook; look <= kLastLook; ++look) {
        QAction* a = addCommand(looks, look, LookName(look));
        a->setCheckable(true);
        a->setChecked(look == m_look);
        m_looks->addAction(a);
        connect(a, &QAction::triggered, this, [this, look] { SetLook(look); });
    }

    menuBar()->addMenu(tools);
    tools->addSeparator();
    connect(addCommand(tools, kCmdLoadCommandFile, tr("Load Command File")), &QAction::triggered, this,
            &CMainFrame::LoadCommandFileDialog);
    connect(addCommand(tools, kCmdEditCommandFile, tr("Edit Command File")), &QAction::triggered, this,
            &CMainFrame::EditCommandFile);
    QAction* newCommand = addCommand(tools, kCmdNewCommandWindow, tr("New Command Docking Window"));
    newCommand->setStatusTip("Enabled only if all visible");
    connect(newCommand, &QAction::triggered, this, &CMainFrame::NewCommandWindow);

    QMenu* window = menuBar()->addMenu(tr("&Window"));
    connect(addCommand(window, kCmdWindows, tr("&Windows...")), &QAction::triggered, this,
            &CMainFrame::ShowWindowsDialog);

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    connect(addCommand(help, kCmdUpdate, tr("Update Telvane")), &QAction::triggered, this,
            &CMainFrame::UpdateTelvane);
    help->addSeparator();
    connect(addCommand(help, kCmdAbout, tr("&About Telvane...")), &QAction::triggered, this,
            &CMainFrame::ShowAbout);

    auto updateWindowCommands = [this] {
        bool any = ActiveToolWindow() != nullptr;
        for (int id : {int(kCmdSave), int(kCmdSaveCopyAs), int(kCmdClose)})
            m_actions[id]->setEnabled(any);
    };
    connect(file, &QMenu::aboutToShow, this, updateWindowCommands);
    updateWindowCommands();
    updateNewCommandWindowState();
}

void CMainFrame::createToolBar()
{
    QToolBar* bar = addToolBar(tr("Standard"));
    bar->setObjectName("Standard");
    bar->setIconSize(QSize(16, 16));
    bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    QStyle* s = style();
    auto add = [&](int id, QStyle::StandardPixmap icon, const QString& text) {
        QAction* a = Action(id);
        a->setIcon(s->standardIcon(icon));
        a->setIconText(text);
        bar->addAction(a);
    };
    add(kCmdNewConnection, QStyle::SP_FileIcon, tr("New"));
    add(kCmdSave, QStyle::SP_DialogSaveButton, tr("Save"));
    bar->addSeparator();
    add(kCmdLoadCommandFile, QStyle::SP_DialogOpenButton, tr("Load Commands"));
    add(kCmdEditCommandFile, QStyle::SP_FileDialogContentsView, tr("Edit Commands"));
    add(kCmdNewCommandWindow, QStyle::SP_FileDialogNewFolder, tr("Command Window"));
    bar->addSeparator();
    add(kCmdAbout, QStyle::SP_MessageBoxInformation, tr("About"));
}

void CMainFrame::createStatusBar()
{
    m_statusCommands = new QLabel(this);
    m_statusWindows = new QLabel(this);
    m_statusLook = new QLabel(this);
    statusBar()->addPermanentWidget(m_statusCommands);
    statusBar()->addPermanentWidget(m_statusWindows);
    statusBar()->addPermanentWidget(m_statusLook);
    statusBar()->showMessage(tr("Ready"));
}

void CMainFrame::updateStatus()
{
    QString file = QFileInfo(QString::fromStdString(m_commandFile.Path())).fileName();
    m_statusCommands->setText(m_commandFile.IsLoaded() ? tr("Commands: %1").arg(file) : tr("No command file"));
    m_statusWindows->setText(tr("Tool windows: %1").arg(m_windows.size()));
    m_statusLook->setText(LookName(m_look));
}

void CMainFrame::restoreLayout()
{
    CSettingsStore store(m_settings, true);
    if (!store.Open(kStatePath))
        return;
    std::vector<uint8_t> geometry, state;
    if (store.Read(kGeometryKey, geometry))
        restoreGeometry(QByteArray(reinterpret_cast<const char*>(geometry.data()), static_cast<qsizetype>(geometry.size())));
    if (store.Read(kStateKey, state))
        restoreState(QByteArray(reinterpret_cast<const char*>(state.data()), static_cast<qsizetype>(state.size())));
}

void CMainFrame::Start()
{
    m_commandFile.SetPath(AbsoluteIfFound(m_commandFile.Path()));
    LoadCommandFile(m_commandFile.Path());
    m_properties->Rebuild();
}

bool CMainFrame::LoadCommandFile(const std::string& path, bool debug)
{
    m_commandFile.SetPath(path);
    bool ok = m_commandFile.Load(MainEvents(), debug);
    if (ok) {
        if (m_commandWindows.empty())
            NewCommandWindow();
        m_watchTimer->start();
    } else {
        m_watchTimer->stop();
    }
    for (CCommandDock* dock : m_commandWindows)
        dock->RefillCommands(CommandTables());
    updateStatus();
    return ok;
}

void CMainFrame::CheckCommandFile()
{
    if (!m_commandFile.PollModified())
        return;
    m_watchTimer->stop();
    auto answer = QMessageBox::question(this, kProgramName, "Command File Modified\n\nReload ?",
                                        QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok);
    if (answer == QMessageBox::Ok)
        LoadCommandFile(m_commandFile.Path());
}

void CMainFrame::LoadCommandFileDialog()
{
    CFileDialog_Cmd dialog(QString::fromStdString(m_commandFile.Path()), this);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    LoadCommandFile(dialog.selectedFiles().first().toStdString(), dialog.Debug());
}

void CMainFrame::EditCommandFile()
{
    OpenInEditor(m_commandFile.Path());
}

void CMainFrame::OpenInEditor(const std::string& path)
{
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path))))
        MainEvents().Print("Can't open %s in the text editor\r\n", path.c_str());
}

const CVa_Compiler* CMainFrame::CommandTables() const
{
    return m_commandFile.IsLoaded() ? &m_commandFile.Tables() : nullptr;
}

std::string CMainFrame::StatePath() const
{
    return kStatePath;
}

CStdOut& CMainFrame::MainEvents()
{
    return m_output->MainEvents();
}

CRateMeter* CMainFrame::AddRateLine(const std::string& title)
{
    return m_output->RateList().AddLine(QString::fromStdString(title));
}

void CMainFrame::RemoveRateLine(CRateMeter* meter)
{
    m_output->RateList().RemoveLine(meter);
}

CChildFrame* CMainFrame::ActiveToolWindow() const
{
    return qobject_cast<CChildFrame*>(m_mdi->currentSubWindow());
}

bool CMainFrame::RunProfileDialog(std::string& name)
{
    CSelProfileDlg dialog(m_settings, StatePath(), name, this);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    std::vector<std::string> open;
    for (CChildFrame* w : m_windows)
        open.push_back(w->ProfileName());
    std::string chosen = dialog.Name();
    ProfileNameCheck check = CheckProfileName(chosen, open);
    if (check != ProfileNameCheck::Ok) {
        QMessageBox::critical(this, kProgramName, QString::fromStdString(ProfileNameMessage(check)));
        return false;
    }
    name = chosen;
    return true;
}

CChildFrame* CMainFrame::OpenToolWindow(int commandId)
{
    if (!m_registry.Find(commandId))
        return nullptr;
    std::string name;
    if (!RunProfileDialog(name))
        return nullptr;
    return OpenToolWindow(commandId, name);
}

CChildFrame* CMainFrame::OpenToolWindow(int commandId, const std::string& profileName)
{
    const _TOOLWINDOWKIND* kind = m_registry.Find(commandId);
    if (!kind)
        return nullptr;
    std::vector<std::string> open;
    for (CChildFrame* w : m_windows)
        open.push_back(w->ProfileName());
    if (CheckProfileName(profileName, open) != ProfileNameCheck::Ok)
        return nullptr;
    CChildFrame* window = kind->make(*this, TrimProfileName(profileName));
    if (!window)
        return nullptr;
    // The window takes the pane only once it has its settings.
    m_opening = true;
    m_mdi->addSubWindow(window);
    window->show();
    window->LoadSettings();
    window->SetOutput(&MainEvents());
    window->SetRateMeter(AddRateLine(window->ProfileName()));
    m_opening = false;
    ToolWindowActivated(window);
    m_windows.push_back(window);
    toolWindowsChanged();
    window->OnOpened();
    return window;
}

void CMainFrame::onSubWindowActivated(QMdiSubWindow* window)
{
    if (m_opening || m_closing)
        return;
    auto* tool = qobject_cast<CChildFrame*>(window);
    if (tool) {
        ToolWindowActivated(tool);
        return;
    }
    // Deactivated with no successor: the owner commits its own edits.
    if (m_properties->Owner())
        m_properties->Sync(true);
}

void CMainFrame::ToolWindowActivated(CChildFrame* window)
{
    if (m_properties->Owner() == window)
        return;
    // The window being left commits its edits before the pane changes hands.
    if (m_properties->Owner())
        m_properties->Sync(true);
    m_properties->SetOwner(window);
}

void CMainFrame::ToolWindowClosed(CChildFrame* window)
{
    auto it = std::find(m_windows.begin(), m_windows.end(), window);
    if (it == m_windows.end())
        return;
    m_windows.erase(it);
    for (CChildFrame* w : m_windows)
        w->OnToolWindowClosed(window);
    toolWindowsChanged();
    CChildFrame* active = ActiveToolWindow();
    if (active == window)
        active = nullptr;
    if (m_properties->Owner() != active)
        m_properties->SetOwner(active);
    else
        m_properties->Sync(false);
}

void CMainFrame::toolWindowsChanged()
{
    for (CCommandDock* dock : m_commandWindows)
        dock->ToolWindowsChanged(m_windows);
    updateStatus();
}

CCommandDock* CMainFrame::createCommandWindow(int id)
{
    const CommandWindowMaker& make = m_registry.CommandWindowMakerFn();
    CCommandDock* dock = make ? make(*this, id, this) : new CCommandDock(*this, id, this);
    m_commandWindows.push_back(dock);
    addDockWidget(Qt::RightDockWidgetArea, dock);
    connect(dock, &CCommandDock::closedByOperator, this, &CMainFrame::destroyCommandWindow);
    connect(dock, &QDockWidget::visibilityChanged, this, &CMainFrame::updateNewCommandWindowState);
    {
        CSettingsStoreEx store(m_settings, true);
        if (store.Open(CommandWindowSection(StatePath(), id)))
            dock->LoadState(store);
    }
    dock->RefillCommands(CommandTables());
    dock->ToolWindowsChanged(m_windows);
    updateNewCommandWindowState();
    return dock;
}

CCommandDock* CMainFrame::NewCommandWindow()
{
    std::vector<int> ids;
    for (CCommandDock* d : m_commandWindows)
        ids.push_back(d->Id());
    CCommandDock* dock = createCommandWindow(NextCommandWindowId(ids));
    dock->setFloating(true);
    dock->resize(320, 240);
    QRect frame = geometry();
    dock->move(frame.center().x() - dock->width() / 2, frame.top() + 120);
    dock->show();
    return dock;
}

void CMainFrame::destroyCommandWindow(CCommandDock* dock)
{
    if (m_closing)
        return;
    auto it = std::find(m_commandWindows.begin(), m_commandWindows.end(), dock);
    if (it == m_commandWindows.end())
        return;
    m_commandWindows.erase(it);
    removeDockWidget(dock);
    // Destroyed once its own close handling has returned.
    dock->deleteLater();
    updateNewCommandWindowState();
}

void CMainFrame::updateNewCommandWindowState()
{
    QAction* a = Action(kCmdNewCommandWindow);
    if (!a)
        return;
    bool allVisible = std::all_of(m_commandWindows.begin(), m_commandWindows.end(),
                                  [](CCommandDock* d) { return !d->isHidden(); });
    a->setEnabled(allVisible);
}

void CMainFrame::SetLook(int look)
{
    if (!IsLook(look))
        return;
    m_look = look;
    ApplyLook(look);
    m_mdi->setBackground(QApplication::palette().color(QPalette::Dark));
    if (QAction* a = Action(look))
        a->setChecked(true);
    CSettingsStore store(m_settings, false);
    if (store.CreateKey(kStatePath))
        store.Write("ApplicationLook", static_cast<uint32_t>(look));
    updateStatus();
}

void CMainFrame::ShowAbout()
{
    QMessageBox::about(this, tr("About Telvane"), QString::fromStdString(AboutText(ThisProgramVersion())));
}

void CMainFrame::ShowWindowsDialog()
{
    CWindowsDlg dialog(*m_mdi, this);
    dialog.exec();
}

void CMainFrame::UpdateTelvane()
{
    if (m_update)
        return;
    m_update = new CSelfUpdateFlow(m_settings, StatePath(), this);
    connect(m_update, &CSelfUpdateFlow::finished, this, [this] {
        m_update->deleteLater();
        m_update = nullptr;
    });
    if (!m_update->Start()) {
        m_update->deleteLater();
        m_update = nullptr;
    }
}

void CMainFrame::saveState()
{
    CSettingsStoreEx store(m_settings, false);
    if (!store.CreateKey(kStatePath))
        return;
    store.Write(kStateKey, Bytes(QMainWindow::saveState()));
    store.Write(kGeometryKey, Bytes(saveGeometry()));
    store.Write("ApplicationLook", static_cast<uint32_t>(m_look));
    for (CCommandDock* dock : m_commandWindows) {
        CSettingsStoreEx section(m_settings, false);
        if (section.CreateKey(CommandWindowSection(StatePath(), dock->Id())))
            dock->SaveState(section);
    }
    std::vector<uint32_t> ids;
    for (CCommandDock* dock : m_commandWindows)
        ids.push_back(static_cast<uint32_t>(dock->Id()));
    store.Write("CommandList", ids);
    store.Write("CommandFile", m_commandFile.Path());
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    if (m_properties->Owner())
        m_properties->Sync(true);
    std::vector<CChildFrame*> windows = m_windows;
    for (CChildFrame* w : windows)
        w->PrepareToClose();
    m_closing = true;
    m_properties->SetOwner(nullptr);
    for (CChildFrame* w : windows)
        w->close();
    m_windows.clear();
    saveState();
    event->accept();
}
