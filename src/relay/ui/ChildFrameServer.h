#pragma once
// The server window: one crate link shared with TCP clients of the crate
// server protocol (the engine is CRelayServer). It shows a transfer-rate
// line per client, closes a client from the list's context menu, keeps its
// own line of the program's rate list on the link's bytes, and can be
// watched by spies.
//
// Threads: the GUI thread; the engine's threads reach the window only
// through queued calls (client list changes, a stop after a link failure).

#include "relay/RelayServer.h"
#include "shell/ui/ChildFrame.h"

#include <map>
#include <memory>

class CRateItemData;
class CRateListCtrl;
class QTimer;

class CChildFrame_Server : public CChildFrame, private CRelayObserver {
    Q_OBJECT
public:
    enum : int { kCmdConnect = 190, kCmdDisconnect = 191 };

    CChildFrame_Server(CMainFrameServices& frame, const std::string& profileName);
    ~CChildFrame_Server() override;

    CRelayServer& Server() { return *m_server; }
    CRateListCtrl& ClientList() { return *m_list; }

    // The toolbar's commands, also for tests and scripts.
    bool Connect();
    void Disconnect();
    // The client list's "Close Client" for the line at row.
    void CloseClientAt(int row);
    // Tick of the one-second timer: client lines follow the clients.
    void Tick();

    bool CanBeSpied() const override { return true; }
    void RegisterSpy(unsigned flags, CFifoWr<_MCDATA>* writer) override;

    void BuildPane(CPropertiesWnd& pane) override;
    bool SyncPane(CPropertyGrid& grid, bool commit) override;
    void OnPaneComboChanged(int index) override;
    void OnToolbarCommand(int id) override;
    _COMMANDSTATE ToolbarCommandState(int id) override;

protected:
    void ReadSettings(CSettingsStoreEx& store) override;
    void WriteSettings(CSettingsStoreEx& store) override;
    void CloseWorkers() override;

private:
    class Output;

    // CRelayObserver, on the engine's threads.
    void ClientAdded(const std::shared_ptr<_CLIENTDATA>& client) override;
    void ClientRefused(const std::string& address, const char* reason) override;
    void ClientClosed(const _CLIENTDATA& client, const char* reason) override;
    void StopRequested() override;

    void SyncClientLines();
    PropertyList LinkEntries();

    std::unique_ptr<Output> m_output;
    std::unique_ptr<CRelayServer> m_server;
    CRateListCtrl* m_list;
    QTimer* m_timer;
    // The line of each client in the list, by its listener id.
    std::map<uint64_t, CRateItemData*> m_lines;
};
