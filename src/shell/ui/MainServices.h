#pragma once
// What the main frame offers the tool windows and command windows. Every
// call is made on the GUI thread and returns without waiting for a link,
// socket or worker; only MainEvents() may be printed to from any thread.

#include <string>
#include <vector>

class CChildFrame;
class CPropertiesWnd;
class CRateMeter;
class CSettingsBackend;
class CStdOut;
class CVa_Compiler;
class QWidget;

class CMainFrameServices {
public:
    virtual ~CMainFrameServices() = default;

    // The "Main Events" box; lines of tool windows carry their prefix.
    virtual CStdOut& MainEvents() = 0;
    // Open tool windows in opening order, and the active one (or null).
    virtual std::vector<CChildFrame*> ToolWindows() const = 0;
    virtual CChildFrame* ActiveToolWindow() const = 0;
    // A line of the "Transfer Rate" list and its meter; the meter lives
    // until RemoveRateLine (after which its counters are never touched).
    virtual CRateMeter* AddRateLine(const std::string& title) = 0;
    virtual void RemoveRateLine(CRateMeter* meter) = 0;
    // The profile dialog: name in as the proposal, out as the choice.
    // False when cancelled or when the name is refused (the operator has
    // been told why).
    virtual bool RunProfileDialog(std::string& name) = 0;
    // A tool window became active: it takes the properties pane.
    virtual void ToolWindowActivated(CChildFrame* window) = 0;
    // A tool window closed: it leaves the list, the others are told.
    virtual void ToolWindowClosed(CChildFrame* window) = 0;
    virtual CPropertiesWnd& PropertiesPane() = 0;
    // Where settings live, and the state path ("Workspace/") within.
    virtual CSettingsBackend& Settings() = 0;
    virtual std::string StatePath() const = 0;
    // The command file's tables, shared read-only; null while none loaded.
    virtual const CVa_Compiler* CommandTables() const = 0;
    // Opens a file in the desktop's text editor without waiting for it.
    virtual void OpenInEditor(const std::string& path) = 0;
    // Parent for dialogs and message boxes.
    virtual QWidget* DialogParent() = 0;
};
