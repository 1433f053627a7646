#include "relay/ui/ChildFrameSpy.h"

#include "shell/RateMeter.h"
#include "shell/ui/MainServices.h"
#include "shell/ui/OutBox.h"

#include <QComboBox>
#include <QMessageBox>
#include <QTimer>

namespace {
constexpr int kTimerMs = 1000;
const QString kDecodeFilter = "Decode File (*.dec);;All File (*)";
const QString kLogFilter = "Log File (*.log);;All File (*)";
}  // namespace

CChildFrame_Spy::CChildFrame_Spy(CMainFrameServices& frame, const std::string& profileName)
    : CChildFrame(frame, profileName), m_box(new COutBox)
{
    setWidget(m_box);
    m_spy = std::make_unique<CSpy>(*m_box);
    m_decodeTimer = new QTimer(this);
    connect(m_decodeTimer, &QTimer::timeout, this, &CChildFrame_Spy::CheckDecodeFile);
}

CChildFrame_Spy::~CChildFrame_Spy() { CloseWorkers(); }

void CChildFrame_Spy::CloseWorkers()
{
    m_decodeTimer->stop();
    if (CRateMeter* own = RateMeter())
        own->Detach();
    // Leaves the watched window, then prints what the ring still holds.
    m_spy.reset();
    m_watched = nullptr;
}

void CChildFrame_Spy::OnOpened()
{
    ApplyViewSettings();
    if (CRateMeter* own = RateMeter())
        own->Attach(kRateFullScale, &m_spy->ReceivedBytes(), kRateFullScale, &m_spy->SentBytes());
    m_spy->LoadDecodeFile(m_decodeFile);
    m_decodeTimer->start(kTimerMs);
    UpdateLog();
}

void CChildFrame_Spy::ApplyViewSettings()
{
    m_spy->SetPrint(m_printRX, m_printTX);
    m_spy->SetDecode(m_enDecode);
    m_spy->SetTime(m_enTime);
}

std::vector<std::string> CChildFrame_Spy::Choices() const
{
    std::vector<std::string> names = {kNoConnection};
    for (CChildFrame* w : const_cast<CChildFrame_Spy*>(this)->Frame().ToolWindows())
        if (w != this && w->CanBeSpied())
            names.push_back(w->ProfileName());
    return names;
}

void CChildFrame_Spy::WatchWindow(const std::string& profileName)
{
    CChildFrame* chosen = nullptr;
    for (CChildFrame* w : Frame().ToolWindows())
        if (w != this && w->CanBeSpied() && w->ProfileName() == profileName)
            chosen = w;
    if (chosen == m_watched || !m_spy)
        return;
    m_spy->Watch(nullptr);
    m_watched = chosen;
    m_target.window = chosen;
    m_spy->Watch(chosen ? &m_target : nullptr);
}

void CChildFrame_Spy::OnToolWindowClosed(CChildFrame* window)
{
    if (window != m_watched)
        return;
    // The window still exists while its close is reported: leave its lists.
    if (m_spy)
        m_spy->Watch(nullptr);
    m_watched = nullptr;
    m_target.window = nullptr;
    if (IsPaneOwner())
        Frame().PropertiesPane().Rebuild();
}

void CChildFrame_Spy::CheckDecodeFile()
{
    if (!m_spy || !m_spy->DecodeFileChanged())
        return;
    m_decodeTimer->stop();
    const auto answer = QMessageBox::question(Frame().DialogParent(), windowTitle(), "Decode File Modified\n\nReload ?",
                                              QMessageBox::Ok | QMessageBox::Cancel);
    if (!m_spy)
        return;
    if (answer == QMessageBox::Ok)
        m_spy->LoadDecodeFile(m_decodeFile);
    else
        m_spy->AcceptDecodeFileChange();
    m_decodeTimer->start(kTimerMs);
}

void CChildFrame_Spy::UpdateLog()
{
    if (m_enLog && !m_box->IsLogOpen()) {
        if (!m_box->OpenLog(m_logFile))
            m_box->Write("Can't open log file\r\n");
    } else if (!m_enLog && m_box->IsLogOpen()) {
        m_box->CloseLog();
    }
}

// ---- properties pane ----

void CChildFrame_Spy::BuildPane(CPropertiesWnd& pane)
{
    QComboBox& combo = pane.Combo();
    combo.clear();
    int current = 0;
    for (const std::string& name : Choices()) {
        if (m_watched && name == m_watched->ProfileName())
            current = combo.count();
        combo.addItem(QString::fromStdString(name));
    }
    combo.setCurrentIndex(current);
    combo.setEnabled(true);

    CPropertyGrid& g = pane.Grid();
    CGridProperty* view = g.AddGroup(kViewGroup);
    g.AddBool(view, kPrintTX, m_printTX);
    g.AddBool(view, kPrintRX, m_printRX);
    g.AddBool(view, kEnDecode, m_enDecode);
    g.AddFile(view, kDecodeFile, m_decodeFile, kDecodeFilter, "dec");
    g.AddBool(view, kEnTime, m_enTime);
    g.AddBool(view, kEnLog, m_enLog);
    g.AddFile(view, kLogFile, m_logFile, kLogFilter, "log");
    pane.SetButtons({});
}

bool CChildFrame_Spy::SyncPane(CPropertyGrid& grid, bool commit)
{
    grid.Sync(kPrintTX, m_printTX, commit);
    grid.Sync(kPrintRX, m_printRX, commit);
    grid.Sync(kEnDecode, m_enDecode, commit);
    grid.Sync(kDecodeFile, m_decodeFile, commit);
    grid.Sync(kEnTime, m_enTime, commit);
    grid.Sync(kEnLog, m_enLog, commit);
    grid.Sync(kLogFile, m_logFile, commit);
    if (commit && m_spy)
        ApplyViewSettings();
    return true;
}

void CChildFrame_Spy::OnPropertyChanged(CGridProperty& property)
{
    CPropertyGrid& grid = Frame().PropertiesPane().Grid();
    switch (property.Id()) {
    case kLogFile:
        // Logging to a new file starts when "Enable Log" is turned on again.
        m_enLog = false;
        UpdateLog();
        grid.Sync(kEnLog, m_enLog, false);
        grid.Sync(kLogFile, m_logFile, true);
        break;
    case kDecodeFile:
        grid.Sync(kDecodeFile, m_decodeFile, true);
        if (m_spy)
            m_spy->LoadDecodeFile(m_decodeFile);
        break;
    default:
        SyncPane(grid, true);
        UpdateLog();
        break;
    }
}

void CChildFrame_Spy::OnFileEdit(CGridProperty& property)
{
    if (property.Id() == kLogFile && !m_logFile.empty())
        Frame().OpenInEditor(m_logFile);
    else if (property.Id() == kDecodeFile)
        Frame().OpenInEditor(m_decodeFile);
}

void CChildFrame_Spy::OnPaneComboChanged(int index)
{
    const auto choices = Choices();
    WatchWindow(index > 0 && size_t(index) < choices.size() ? choices[size_t(index)] : kNoConnection);
}

// ---- profile ----

void CChildFrame_Spy::ReadSettings(CSettingsStoreEx& store)
{
    store.Read("PrintRX", m_printRX);
    store.Read("PrintTX", m_printTX);
    store.Read("DecodeFile", m_decodeFile);
    store.Read("EnDecode", m_enDecode);
    store.Read("EnTime", m_enTime);
    store.Read("EnLog", m_enLog);
    store.Read("LogFile", m_logFile);
}

void CChildFrame_Spy::WriteSettings(CSettingsStoreEx& store)
{
    store.Write("PrintRX", m_printRX);
    store.Write("PrintTX", m_printTX);
    store.Write("DecodeFile", m_decodeFile);
    store.Write("EnDecode", m_enDecode);
    store.Write("EnTime", m_enTime);
    store.Write("EnLog", m_enLog);
    store.Write("LogFile", m_logFile);
}
