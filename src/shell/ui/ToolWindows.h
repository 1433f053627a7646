#pragma once
// The kinds of tool window the main frame can open, each behind its menu
// command, and the maker of command windows. A window's ui library offers
// a registration function that the program's main calls once before the
// main frame is made, e.g.
//
//   void RegisterConsoleWindows(CToolWindowRegistry& registry)
//   {
//       registry.Add(kCmdNewConnection, "&New", [](CMainFrameServices& frame, const std::string& name) {
//           return new CChildFrame_Connection(frame, name);
//       });
//       registry.SetCommandWindowMaker(...);
//   }
//
// GUI thread only.

#include <functional>
#include <string>
#include <vector>

class CChildFrame;
class CCommandDock;
class CMainFrameServices;
class QWidget;

// Menu commands that open tool windows.
constexpr int kCmdNewConnection = 57600;
constexpr int kCmdFirmwareUpdate = 32788;
constexpr int kCmdServer = 32795;
constexpr int kCmdSpy = 32796;
constexpr int kCmdZOra = 32797;
constexpr int kCmdMcSec = 32799;

using ToolWindowMaker = std::function<CChildFrame*(CMainFrameServices& frame, const std::string& profileName)>;
using CommandWindowMaker = std::function<CCommandDock*(CMainFrameServices& frame, int id, QWidget* parent)>;

struct _TOOLWINDOWKIND {
    int commandId;
    std::string menuText;
    ToolWindowMaker make;
};

class CToolWindowRegistry {
public:
    // A later Add for the same command replaces the earlier one.
    void Add(int commandId, const std::string& menuText, ToolWindowMaker make);
    const _TOOLWINDOWKIND* Find(int commandId) const;
    const std::vector<_TOOLWINDOWKIND>& Kinds() const { return m_kinds; }

    // Command windows are plain CCommandDock until a maker is set.
    void SetCommandWindowMaker(CommandWindowMaker make) { m_commandWindowMaker = std::move(make); }
    const CommandWindowMaker& CommandWindowMakerFn() const { return m_commandWindowMaker; }

private:
    std::vector<_TOOLWINDOWKIND> m_kinds;
    CommandWindowMaker m_commandWindowMaker;
};
