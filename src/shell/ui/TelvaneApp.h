#pragma once
// CTelvaneApp: start-up in its fixed order (settings location, command
// file and command windows read, main frame made, shown and started) and
// the event loop. Shut-down is the main frame's close. GUI thread only.

#include "shell/ui/ToolWindows.h"

#include <QString>
#include <QStringList>

#include <memory>

class CMainFrame;
class CSettingsBackend;
class QApplication;

struct _STARTOPTIONS {
    QString settingsFile;    // empty: $XDG_CONFIG_HOME/Belmora/Telvane.ini
    QString commandFile;     // empty: the stored one
    QString screenshotDir;   // pictures of the windows go here, then exit
    bool ok = true;
    QString error;
};

// telvane [--settings FILE] [--command-file FILE] [--screenshots DIR]
_STARTOPTIONS ParseStartOptions(const QStringList& arguments);

// The usage line and a line per option, for --help and bad arguments.
extern const char kStartUsage[];

class CTelvaneApp {
public:
    CTelvaneApp(CSettingsBackend& settings, const CToolWindowRegistry& registry);
    ~CTelvaneApp();

    // Reads "CommandFile" ("Cb_v126_cmd.dec" when the state exists but the
    // value does not; empty when nothing was ever saved) and "CommandList",
    // makes the main frame, shows and starts it. commandFile, when given,
    // takes the place of the stored path.
    CMainFrame& Start(const QString& commandFile = {});
    CMainFrame* Frame() { return m_frame.get(); }

private:
    CSettingsBackend& m_settings;
    const CToolWindowRegistry& m_registry;
    std::unique_ptr<CMainFrame> m_frame;
};
