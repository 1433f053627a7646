#pragma once
// The firmware update window: its settings and its link template in the
// properties pane, the update list, its own output box, and Start and Stop
// on the pane's toolbar. The update itself runs in CFirmUpdate's threads;
// a 500 ms timer copies the rows into the list. A worker's folder question
// is answered here on the GUI thread while the worker waits.
//
// Threads: GUI thread only, except the host answers (see CFirmHost).

#include "firmware/FirmUpdate.h"
#include "shell/ui/ChildFrame.h"

#include <memory>

class COutBox;
class CFirmwareListCtrl;
class QTimer;

class CChildFrame_Firmware : public CChildFrame {
    Q_OBJECT
public:
    static constexpr int kCmdStart = 190;
    static constexpr int kCmdStop = 191;
    static constexpr int kRefreshMs = 500;

    CChildFrame_Firmware(CMainFrameServices& frame, const std::string& profileName);
    ~CChildFrame_Firmware() override;

    void BuildPane(CPropertiesWnd& pane) override;
    bool SyncPane(CPropertyGrid& grid, bool commit) override;
    void OnPropertyChanged(CGridProperty& property) override;
    void OnToolbarCommand(int command) override;
    _COMMANDSTATE ToolbarCommandState(int command) override;

    // The window's commands.
    void Start();
    void Stop();

    _FIRMSETTINGS& Settings() { return m_settings; }
    CPortMC_All& LinkTemplate() { return m_link; }
    CFirmUpdate& Update() { return *m_update; }
    CFirmwareListCtrl& List() { return *m_list; }
    COutBox& Output() { return *m_out; }

protected:
    void ReadSettings(CSettingsStoreEx& store) override;
    void WriteSettings(CSettingsStoreEx& store) override;
    void CloseWorkers() override;
    void closeEvent(QCloseEvent* event) override;

private:
    class CHost;

    void refresh();
    // Asks whether to abort the running rows; on OK aborts them and shows
    // the wait box until all have finished. False when the operator said no.
    bool AbortRunning();

    _FIRMSETTINGS m_settings;
    CPortMC_All m_link;
    COutBox* m_out;
    CFirmwareListCtrl* m_list;
    QTimer* m_timer;
    std::unique_ptr<CHost> m_host;
    std::unique_ptr<CFirmUpdate> m_update;
};

// Registers the window behind "&Firmware Update" and its strings.
class CToolWindowRegistry;
void RegisterFirmwareWindows(CToolWindowRegistry& registry);
