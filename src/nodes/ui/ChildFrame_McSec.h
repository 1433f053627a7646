#pragma once
// CChildFrame_McSec, the secondary node monitor window: tabs "Node",
// "Status" (the 46-row grid, one column per node), "Histograms" (the graph
// page) and "Output"; its properties pane holds the CAN link's settings
// (the link type in the pane's combo box), the "Command McSec" flags and
// the "Firmware Update Properties". Read passes and updates run on the
// node monitor's worker threads; their end comes back as a queued call.
// GUI thread only, except what the monitor prints to the output box.

#include "nodes/NodeMonitor.h"
#include "shell/ui/ChildFrame.h"

#include <memory>

class CGraphPage;
class COutBox;
class QLabel;
class QTableWidget;
class QTabWidget;
class CToolWindowRegistry;

class CChildFrame_McSec : public CChildFrame {
    Q_OBJECT
public:
    // Pane toolbar commands.
    enum Command { kCmdOpen = 190, kCmdClose = 191, kCmdRead = 192, kCmdUpdate = 193 };

    CChildFrame_McSec(CMainFrameServices& frame, std::string profileName);
    ~CChildFrame_McSec() override;

    void BuildPane(CPropertiesWnd& pane) override;
    bool SyncPane(CPropertyGrid& grid, bool commit) override;
    void OnPaneComboChanged(int index) override;
    void OnToolbarCommand(int id) override;
    _COMMANDSTATE ToolbarCommandState(int id) override;

    bool OpenLink();
    void CloseLink();
    // Starts a read pass unless one still runs.
    bool Read();
    // Asks, then starts the update of the chosen node.
    void UpdateFirmware();

    CNodeMonitor& Monitor() { return *m_monitor; }
    QTabWidget& Tabs() { return *m_tabs; }
    QTableWidget& Grid() { return *m_grid; }
    CGraphPage& Graph() { return *m_graph; }
    COutBox& Output() { return *m_output; }

    std::string firmFile;
    int32_t updateNode = -1;
    bool verifyFirmware = false;

Q_SIGNALS:
    // After the grid and the graph show a finished pass.
    void redrawn();

protected:
    void ReadSettings(CSettingsStoreEx& store) override;
    void WriteSettings(CSettingsStoreEx& store) override;
    void CloseWorkers() override;

private:
    void redraw();
    void fillGridLabels();

    QTabWidget* m_tabs;
    QTableWidget* m_grid;
    CGraphPage* m_graph;
    COutBox* m_output;
    QLabel* m_nodeInfo;
    std::unique_ptr<CNodeMonitor> m_monitor;
};

// Adds the window behind "New Divadiduv Seccondary Monitor".
void RegisterNodeWindows(CToolWindowRegistry& registry);
