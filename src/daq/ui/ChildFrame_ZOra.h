#pragma once
// The DAQ window ("ZOra"): the stand's settings in the properties pane, the
// DAQ server's open, close, re-initialise and VME reset commands on the
// pane's toolbar, the connected clients with their transfer rates, and the
// output box that the engine and server print to.
//
// Threads: everything here runs on the GUI thread. The commands go to the
// CDaqControl's command thread and return at once; outcomes and new clients
// come back through its events FIFO, whose data event wakes a socket
// notifier. The client list is read from the server under its own short
// lock, and the rate columns are drained by the window's 1000 ms timer.
// Closing the window waits for the server to close, which is at most a
// client's request in progress (1000 ms).

#include "daq/DaqControl.h"
#include "daq/DaqSettings.h"
#include "shell/RateMeter.h"
#include "shell/ui/ChildFrame.h"

#include <memory>
#include <string>
#include <vector>

class CMainFrameServices;
class COutBox;
class CRateItemData;
class CRateListCtrl;
class CToolWindowRegistry;
class QLabel;
class QSocketNotifier;
class QTimer;
class QTreeWidgetItem;

class CChildFrame_ZOra : public CChildFrame {
    Q_OBJECT
public:
    // The pane's toolbar buttons.
    enum : int { kCmdOpen = 190, kCmdClose = 191, kCmdReinit = 192, kCmdVmeReset = 193 };
    static constexpr int kTimerMs = 1000;

    CChildFrame_ZOra(CMainFrameServices& frame, std::string profileName);
    ~CChildFrame_ZOra() override;

    // The window commands; the outcome follows in the output box.
    void OpenServer();
    void CloseServer();
    void Reinitialise();
    void ResetVme();
    // Closes the client of a row of the client list; the row goes at the
    // next timer tick.
    void CloseClient(QTreeWidgetItem* row);

    bool IsServerOpen() const { return m_open; }
    // Commands given and not yet finished.
    int PendingCommands() const { return m_pending; }
    uint16_t ServerPort() const { return m_port; }
    const CDaqSettings& Settings() const { return m_settings; }
    CRateListCtrl& ClientList() { return *m_clients; }
    COutBox& Output() { return *m_out; }

    void BuildPane(CPropertiesWnd& pane) override;
    bool SyncPane(CPropertyGrid& grid, bool commit) override;
    void OnPropertyChanged(CGridProperty& property) override;
    void OnToolbarCommand(int id) override;
    _COMMANDSTATE ToolbarCommandState(int id) override;
    void OnOpened() override;

protected:
    void ReadSettings(CSettingsStoreEx& store) override;
    void WriteSettings(CSettingsStoreEx& store) override;
    void CloseWorkers() override;

private:
    struct ClientRow {
        uint64_t id = 0;
        RateCounter received{0};
        RateCounter sent{0};
        uint64_t receivedSeen = 0;
        uint64_t sentSeen = 0;
        CRateItemData* line = nullptr;
    };

    void drainEvents();
    void onTick();
    void addNewClients(const std::vector<_DAQCLIENTINFO>& clients);
    void removeClientRows();
    const ClientRow* rowOf(const QTreeWidgetItem* item) const;
    void showClientMenu(const QPoint& at);
    void showState();
    void shutDown();
    bool checkValue(CGridProperty& property) const;

    CDaqSettings m_settings;
    std::string m_bindAddress;
    std::string m_allowClients;
    int32_t m_maxClients = 16;

    QLabel* m_state;
    CRateListCtrl* m_clients;
    COutBox* m_out;
    QTimer* m_timer;
    std::vector<std::unique_ptr<ClientRow>> m_rows;
    bool m_open = false;
    int m_pending = 0;
    uint16_t m_port = 0;

    std::unique_ptr<CDaqControl> m_control;
    QSocketNotifier* m_events = nullptr;
};

// Puts the DAQ window behind "ZOra" in the Tools menu.
void RegisterDaqWindows(CToolWindowRegistry& registry);
