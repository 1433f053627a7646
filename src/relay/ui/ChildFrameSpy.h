#pragma once
// The spy window ("Connection Spy"): shows the traffic of another window's
// link in its own output box, decoded with its own decode file, and
// optionally logs it. The window to watch is chosen in the pane's combo
// box among the open windows that can be spied.
//
// Threads: the GUI thread; the watched link's threads write records into
// the spy's ring and its print thread prints them into the box.

#include "relay/Spy.h"
#include "shell/ui/ChildFrame.h"
#include "shell/ui/TrafficViewPane.h"

#include <memory>
#include <string>

class COutBox;

class CChildFrame_Spy : public CChildFrame {
    Q_OBJECT
public:
    static constexpr char kNoConnection[] = "No Connection";

    CChildFrame_Spy(CMainFrameServices& frame, const std::string& profileName);
    ~CChildFrame_Spy() override;

    COutBox& Box() { return *m_box; }
    // The writer this spy registers with the watched window; none once closed.
    CSpyWriter* Writer() { return m_spy ? &m_spy->Writer() : nullptr; }
    // Watches the window of that profile name; "No Connection" or an
    // unknown name: none.
    void WatchWindow(const std::string& profileName);
    CChildFrame* Watched() const { return m_watched; }
    // The names offered: "No Connection", then every window that can be spied.
    std::vector<std::string> Choices() const;

    QString PaneTitle() const override { return QString("Connection Spy - %1").arg(windowTitle()); }
    void OnOpened() override;
    void OnToolWindowClosed(CChildFrame* window) override;
    void BuildPane(CPropertiesWnd& pane) override;
    bool SyncPane(CPropertyGrid& grid, bool commit) override;
    void OnPropertyChanged(CGridProperty& property) override;
    void OnFileEdit(CGridProperty& property) override;
    void OnPaneComboChanged(int index) override;

protected:
    void ReadSettings(CSettingsStoreEx& store) override;
    void WriteSettings(CSettingsStoreEx& store) override;
    void CloseWorkers() override;

private:
    // Carries the spy's registrations to the watched window.
    class WindowTarget : public CSpyTarget {
    public:
        CChildFrame* window = nullptr;
        void RegisterSpy(unsigned flags, CSpyWriter* writer) override { window->RegisterSpy(flags, writer); }
    };

    void UpdateLog();
    void ApplyViewSettings();

    COutBox* m_box;
    std::unique_ptr<CSpy> m_spy;
    WindowTarget m_target;
    CChildFrame* m_watched = nullptr;
    CDecodeFileWatch* m_decodeWatch;
    CTrafficView m_view;
};
