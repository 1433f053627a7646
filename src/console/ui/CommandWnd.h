#pragma once
// CCommandWnd, a command window: a command of the command file (or raw
// bytes) with its arguments in a property grid, sent once or repeatedly to
// a tool window (the active one, or one chosen under "Active Window").
// Each window has its own send properties, or shares the global ones with
// every window that uses them.
//
// Threads: GUI thread, except the reply queue's reader thread, which only
// hands each reply to the GUI thread with a queued call.

#include "base/Fifo.h"
#include "console/CommandRequest.h"
#include "shell/ui/CommandDock.h"
#include "shell/ui/PropertiesWnd.h"

#include <map>
#include <string>
#include <vector>

class CChildFrame;
class CCommandTarget;
class CStructData;
class QAction;
class QTimer;
class QToolBar;

class CCommandWnd : public CCommandDock {
    Q_OBJECT
public:
    static constexpr size_t kReplySlots = 3;
    static constexpr int kMaxRawBytes = 240;

    CCommandWnd(CMainFrameServices& frame, int id, QWidget* parent);
    ~CCommandWnd() override;

    void RefillCommands(const CVa_Compiler* tables) override;
    void ToolWindowsChanged(const std::vector<CChildFrame*>& windows) override;
    void LoadState(CSettingsStoreEx& store) override;
    void SaveState(CSettingsStoreEx& store) override;

    // The toolbar's commands.
    void Send();
    void StartRepetitive();
    void Stop();
    void ToggleGlobal();
    _COMMANDSTATE CommandState(int command);
    QAction* Action(int command) const;

    CPropertyGrid& Grid() { return *m_grid; }
    bool IsWaiting() const { return m_waiting; }
    bool IsRepetitive() const { return m_repetitive; }
    bool UsesGlobal() const { return m_useGlobal; }
    // The send properties in use: the window's own or the global ones.
    const SendProperties& Properties() const { return m_useGlobal ? s_global : m_own; }
    // The chosen target; null for "Active Window".
    CChildFrame* Target() const { return m_useGlobal ? s_globalTarget : m_ownTarget; }

protected:
    // An operator's close: a reply wait in progress is aborted first.
    void closeEvent(QCloseEvent* event) override;

private:
    enum : int {
        kArrayIdBase = 2500,  // + field index: the parent of an array's elements
        kSlotIdBase = 3000,   // + argument slot
        kRawIdBase = 1900,    // + raw entry
    };

    SendProperties& properties() { return m_useGlobal ? s_global : m_own; }
    CChildFrame*& target() { return m_useGlobal ? s_globalTarget : m_ownTarget; }
    CChildFrame* resolveTarget();
    CCommandTarget* commandTarget();

    void createToolBar();
    void selectCommand(int index);
    void buildGrid();
    void buildArguments();
    void addRawEntry(int entry);
    ChoiceOptions activeWindowOptions();
    int32_t targetChoice() const;
    // Grid to model, and model to grid (the shown values become the
    // reference values unless repetitive sending is on).
    void commitGrid();
    void showModel();
    void showSendProperties();
    void setShown(CGridProperty* property, const QVariant& value);
    void onPropertyChanged(CGridProperty* property);
    void onRawEntryChanged(int entry, const QString& text);
    void onReply();
    void onRepeatTick();
    void updateCommandStates();
    bool buildRequest(_MCDATA& request) const;
    // Argument slots of each field: its elements for an array, else one.
    void layoutSlots();

    static SendProperties s_global;
    static CChildFrame* s_globalTarget;
    static std::vector<CCommandWnd*> s_windows;

    QToolBar* m_toolbar;
    CPropertyGrid* m_grid;
    std::map<int, QAction*> m_actions;
    QTimer* m_repeatTimer;
    QTimer* m_stateTimer;

    const CVa_Compiler* m_tables = nullptr;
    const CStructData* m_command = nullptr;
    std::string m_commandName;
    std::string m_loadedName;  // saved with the window, until a command file is there
    std::vector<size_t> m_firstSlot;  // per field, its first slot
    std::vector<std::string> m_args;  // one text per slot
    std::vector<std::string> m_loadedArgs;
    bool m_argsLoaded = false;
    std::vector<uint8_t> m_raw;       // the entries, without the empty one
    std::vector<CChildFrame*> m_choiceWindows;

    SendProperties m_own;
    CChildFrame* m_ownTarget = nullptr;
    bool m_useGlobal = true;
    uint32_t m_period = 1000;
    bool m_repetitive = false;
    bool m_waiting = false;
    bool m_building = false;

    CFifo<_MCDATA> m_replies{kReplySlots};
    CFifoWr<_MCDATA> m_replyWriter{m_replies};
};
