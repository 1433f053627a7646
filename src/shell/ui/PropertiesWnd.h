#pragma once
// The properties pane: shows the settings of its owner, the active tool
// window, in a property grid, and forwards every edit, file action, combo
// box change and toolbar button (190 to 199) to that owner. GUI thread only.

#include "shell/ui/PropertyGrid.h"

#include <QDockWidget>
#include <QIcon>

class QComboBox;
class QLabel;
class QTimer;
class QToolBar;
class CPropertiesWnd;

// The toolbar buttons an owner may put in the pane: commands 190 to 199.
constexpr int kFirstPaneCommand = 190;
constexpr int kLastPaneCommand = 199;

struct _PANEBUTTON {
    int id;            // 190 to 199
    QString text;      // "Open Link\nOpen": tool tip, then button text
    QIcon icon;
};

struct _COMMANDSTATE {
    bool enabled = true;
    bool checked = false;
};

// What the pane asks of its owner. Every call comes on the GUI thread.
class CPaneOwner {
public:
    virtual ~CPaneOwner() = default;
    // Fills the pane: groups and properties, the top combo box and the
    // toolbar buttons. Called when the owner takes the pane and on Rebuild.
    virtual void BuildPane(CPropertiesWnd& pane) = 0;
    // commit: the pane's edits go into the owner's fields (false: a value
    // is invalid, the pane keeps it); otherwise the fields are shown.
    virtual bool SyncPane(CPropertyGrid& grid, bool commit) = 0;
    virtual void OnPropertyChanged(CGridProperty&) {}
    virtual void OnFileBrowsed(CGridProperty&) {}
    virtual void OnFileEdit(CGridProperty&) {}
    virtual void OnPaneComboChanged(int) {}
    virtual void OnToolbarCommand(int) {}
    virtual _COMMANDSTATE ToolbarCommandState(int) { return {}; }
    // The title shown over the pane's grid.
    virtual QString PaneTitle() const = 0;
};

class CPropertiesWnd : public QDockWidget {
    Q_OBJECT
public:
    explicit CPropertiesWnd(QWidget* parent = nullptr);

    // Hands the pane to owner (null: nobody) and fills it from the owner.
    // The previous owner is not asked to commit: the caller does that first.
    void SetOwner(CPaneOwner* owner);
    CPaneOwner* Owner() const { return m_owner; }
    // Commit (true) or refresh (false) through the owner; false when the
    // owner found an invalid value. True without an owner.
    bool Sync(bool commit);
    // Empties the pane and lets the owner fill it again, then refreshes.
    void Rebuild();

    CPropertyGrid& Grid() { return *m_grid; }
    // The owner's first choice (such as a link type); hidden while empty.
    QComboBox& Combo() { return *m_combo; }
    // Replaces the toolbar buttons; ids outside 190 to 199 are ignored.
    void SetButtons(const std::vector<_PANEBUTTON>& buttons);
    QToolBar& ToolBar() { return *m_toolbar; }
    // Asks the owner for every button's state now (also done on a timer).
    void UpdateButtons();

private:
    void clear();

    CPaneOwner* m_owner = nullptr;
    QComboBox* m_combo;
    QToolBar* m_toolbar;
    QLabel* m_empty;
    CPropertyGrid* m_grid;
    QTimer* m_stateTimer;
};
