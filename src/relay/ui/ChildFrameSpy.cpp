#include "relay/ui/ChildFrameSpy.h"

#include "shell/RateMeter.h"
#include "shell/ui/MainServices.h"
#include "shell/ui/OutBox.h"

#include <QComboBox>

CChildFrame_Spy::CChildFrame_Spy(CMainFrameServices& frame, const std::string& profileName)
    : CChildFrame(frame, profileName), m_box(new COutBox)
{
    setWidget(m_box);
    m_spy = std::make_unique<CSpy>(*m_box);
    m_decodeWatch = new CDecodeFileWatch(this, [this] { return Frame().DialogParent(); }, windowTitle(),
                                         {[this] { return m_spy && m_spy->DecodeFileChanged(); },
                                          [this] {
                                              if (m_spy)
                                                  m_spy->LoadDecodeFile(m_view.decodeFile);
                                              m_decodeWatch->Start();
                                          },
                                          // Declined: asked again at the next change.
                                          [this] {
                                              if (m_spy)
                                                  m_spy->AcceptDecodeFileChange();
                                              return true;
                                          }});
}

CChildFrame_Spy::~CChildFrame_Spy() { CloseWorkers(); }

void CChildFrame_Spy::CloseWorkers()
{
    m_decodeWatch->Stop();
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
    m_spy->LoadDecodeFile(m_view.decodeFile);
    m_decodeWatch->Start();
    UpdateLog();
}

void CChildFrame_Spy::ApplyViewSettings()
{
    m_spy->SetPrint(m_view.printRX, m_view.printTX);
    m_spy->SetDecode(m_view.enDecode);
    m_spy->SetTime(m_view.enTime);
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

void CChildFrame_Spy::UpdateLog()
{
    if (m_view.enLog && !m_box->IsLogOpen()) {
        if (!m_box->OpenLog(m_view.logFile))
            m_box->Write("Can't open log file\r\n");
    } else if (!m_view.enLog && m_box->IsLogOpen()) {
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

    AddTrafficViewGroup(pane.Grid(), m_view);
    pane.SetButtons({});
}

bool CChildFrame_Spy::SyncPane(CPropertyGrid& grid, bool commit)
{
    SyncTrafficView(grid, m_view, commit);
    if (commit && m_spy)
        ApplyViewSettings();
    return true;
}

void CChildFrame_Spy::OnPropertyChanged(CGridProperty& property)
{
    CPropertyGrid& grid = Frame().PropertiesPane().Grid();
    switch (property.Id()) {
    case kViewLogFile:
        // Logging to a new file starts when "Enable Log" is turned on again.
        m_view.enLog = false;
        UpdateLog();
        grid.Sync(kViewEnableLog, m_view.enLog, false);
        grid.Sync(kViewLogFile, m_view.logFile, true);
        break;
    case kViewDecodeFile:
        grid.Sync(kViewDecodeFile, m_view.decodeFile, true);
        if (m_spy)
            m_spy->LoadDecodeFile(m_view.decodeFile);
        break;
    default:
        SyncPane(grid, true);
        UpdateLog();
        break;
    }
}

void CChildFrame_Spy::OnFileEdit(CGridProperty& property)
{
    if (property.Id() == kViewLogFile && !m_view.logFile.empty())
        Frame().OpenInEditor(m_view.logFile);
    else if (property.Id() == kViewDecodeFile)
        Frame().OpenInEditor(m_view.decodeFile);
}

void CChildFrame_Spy::OnPaneComboChanged(int index)
{
    const auto choices = Choices();
    WatchWindow(index > 0 && size_t(index) < choices.size() ? choices[size_t(index)] : kNoConnection);
}

// ---- profile ----

void CChildFrame_Spy::ReadSettings(CSettingsStoreEx& store)
{
    m_view.Read(store);
}

void CChildFrame_Spy::WriteSettings(CSettingsStoreEx& store)
{
    m_view.Write(store);
}
