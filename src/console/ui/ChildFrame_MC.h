#pragma once
// CChildFrame_MC, the connection window: one crate link driven by the
// connection engine, its traffic box, and its settings in the properties
// pane ("Connection Properties": the link's parameters, then "View
// Properties") with the Connect and Disconnect buttons.
//
// Threads: GUI thread only. The traffic box's records are printed on the
// box queue's own reader thread into the output box's text FIFO, which the
// GUI thread drains; so no link thread ever waits for the GUI thread, and
// the GUI thread empties that FIFO itself before it waits on the link
// (Disconnect, Print RX Data off, a full send queue).

#include "console/ConnectionEngine.h"
#include "console/ui/CommandTarget.h"
#include "shell/ui/ChildFrame.h"
#include "shell/ui/OutBox.h"
#include "shell/ui/TrafficViewPane.h"

#include <memory>
#include <string>

class QTimer;

// The traffic box: an output box that the traffic printing writes to.
class COutBox_MC : public COutBox, public CTextSink {
    Q_OBJECT
public:
    using COutBox::COutBox;
    void Append(std::string_view text) override { Write(text); }
};

class CChildFrame_MC : public CChildFrame, public CCommandTarget {
    Q_OBJECT
public:
    CChildFrame_MC(CMainFrameServices& frame, const std::string& profileName);
    ~CChildFrame_MC() override;

    CConnectionEngine& Engine() { return *m_engine; }
    COutBox_MC& TrafficBox() { return *m_box; }

    // Connect (190) and Disconnect (191).
    bool Connect();
    void Disconnect();
    void CopyTraffic() { m_box->CopySelection(); }
    void ClearTraffic() { m_box->Clear(); }

    bool AcceptsCommands() const override { return true; }
    bool CanBeSpied() const override { return true; }
    // A spy's writer joins or leaves the traffic tap of this window's link.
    void RegisterSpy(unsigned flags, CFifoWr<_MCDATA>* writer) override;
    void OnOpened() override;

    // CPaneOwner
    void BuildPane(CPropertiesWnd& pane) override;
    bool SyncPane(CPropertyGrid& grid, bool commit) override;
    void OnPropertyChanged(CGridProperty& property) override;
    void OnFileBrowsed(CGridProperty& property) override;
    void OnFileEdit(CGridProperty& property) override;
    void OnPaneComboChanged(int index) override;
    void OnToolbarCommand(int command) override;
    _COMMANDSTATE ToolbarCommandState(int command) override;

    // CCommandTarget
    bool CanSendNow() override { return m_engine->IsOpen(); }
    bool IsLinkOpen() override { return m_engine->IsOpen(); }
    bool IsSendQueueFull() override { return m_engine->IsQueueFull(); }
    // Refused with "Invalid Parameter\n" while the pane holds an invalid edit.
    bool QueueRequest(CFifoWr<_MCDATA>* replyWriter, const _MCDATA& request) override;
    void AbortReplyWait() override { m_engine->AbortWait(); }

protected:
    void ReadSettings(CSettingsStoreEx& store) override;
    void WriteSettings(CSettingsStoreEx& store) override;
    void CloseWorkers() override;

private:
    // Prints the engine's messages with the window's prefix.
    class EventsOut : public CStdOut {
    public:
        explicit EventsOut(CChildFrame_MC& window) : m_window(window) {}
        int PrintV(const char* format, va_list args) override;

    private:
        CChildFrame_MC& m_window;
    };

    void applyView();
    void loadDecodeFile();
    void applyLinkParameterRules();
    const _PROPDEF* linkParameter(int id) const;
    bool commitLinkParameter(CGridProperty& property);
    void showLinkParameter(CGridProperty& property);
    void updateSectorOptions();

    EventsOut m_events{*this};
    COutBox_MC* m_box;
    std::unique_ptr<CConnectionEngine> m_engine;
    QTimer* m_linkTimer;
    CDecodeFileWatch* m_decodeWatch;
    // The link parameters the pane shows, as the link listed them.
    PropertyList m_parameters;

    CTrafficView m_view;
};
