#include "shell/ui/ChildFrame.h"

#include "base/StdOut.h"
#include "shell/Profiles.h"
#include "shell/ui/MainServices.h"

#include <QCloseEvent>

#include <cstdarg>
#include <vector>

CChildFrame::CChildFrame(CMainFrameServices& frame, std::string profileName)
    : m_frame(frame), m_profile(std::move(profileName))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QString::fromStdString(m_profile));
}

CChildFrame::~CChildFrame() = default;

bool CChildFrame::LoadSettings()
{
    CSettingsStoreEx store(m_frame.Settings(), true);
    if (!store.Open(ProfileSection(m_frame.StatePath(), m_profile)))
        return false;
    ReadSettings(store);
    return true;
}

bool CChildFrame::SaveSettings()
{
    return SaveSettings(m_profile);
}

bool CChildFrame::SaveSettings(const std::string& profileName)
{
    CommitPane();
    CSettingsStoreEx store(m_frame.Settings(), false);
    if (!store.CreateKey(ProfileSection(m_frame.StatePath(), profileName)))
        return false;
    WriteSettings(store);
    return true;
}

bool CChildFrame::SaveCopyAs()
{
    std::string name = m_profile;
    return m_frame.RunProfileDialog(name) && SaveSettings(name);
}

int CChildFrame::Print(const char* format, ...)
{
    if (!m_out)
        return 0;
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n < 0) {
        va_end(args);
        return n;
    }
    std::vector<char> text(static_cast<size_t>(n) + 1);
    std::vsnprintf(text.data(), text.size(), format, args);
    va_end(args);
    std::string prefix = m_profile + "> ";
    return m_out->Print("%s%s", prefix.c_str(), text.data());
}

bool CChildFrame::IsPaneOwner() const
{
    return m_frame.PropertiesPane().Owner() == this;
}

bool CChildFrame::CommitPane()
{
    return !IsPaneOwner() || m_frame.PropertiesPane().Sync(true);
}

void CChildFrame::RefreshPane()
{
    if (IsPaneOwner())
        m_frame.PropertiesPane().Sync(false);
}

void CChildFrame::closeEvent(QCloseEvent* event)
{
    if (m_closed) {
        event->accept();
        return;
    }
    CloseWorkers();
    if (IsPaneOwner()) {
        CommitPane();
        m_frame.PropertiesPane().SetOwner(nullptr);
    }
    if (m_rateMeter) {
        m_frame.RemoveRateLine(m_rateMeter);
        m_rateMeter = nullptr;
    }
    m_closed = true;
    QMdiSubWindow::closeEvent(event);
    if (!m_closingAll)
        m_frame.ToolWindowClosed(this);
}
