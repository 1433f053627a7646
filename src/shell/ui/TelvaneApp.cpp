#include "shell/ui/TelvaneApp.h"

#include "shell/CommandFile.h"
#include "shell/Profiles.h"
#include "shell/SettingsStore.h"
#include "shell/ui/MainFrame.h"

const char kStartUsage[] =
    "usage: telvane [--settings FILE] [--command-file FILE] [--screenshots DIR]\n"
    "  --settings FILE      settings file (default $XDG_CONFIG_HOME/Belmora/Telvane.ini)\n"
    "  --command-file FILE  command file for the command windows (default the stored one)\n"
    "  --screenshots DIR    save pictures of the windows in DIR, then end\n"
    "  --help, --version    this text; the program's version\n";

_STARTOPTIONS ParseStartOptions(const QStringList& arguments)
{
    _STARTOPTIONS options;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        QString* value = a == "--settings"       ? &options.settingsFile
                         : a == "--command-file" ? &options.commandFile
                         : a == "--screenshots"  ? &options.screenshotDir
                                                 : nullptr;
        if (value && i + 1 < arguments.size()) {
            *value = arguments[++i];
        } else {
            options.ok = false;
            options.error = QString("bad argument %1\n%2").arg(a, QString(kStartUsage).trimmed());
            return options;
        }
    }
    return options;
}

CTelvaneApp::CTelvaneApp(CSettingsBackend& settings, const CToolWindowRegistry& registry)
    : m_settings(settings), m_registry(registry)
{
}

CTelvaneApp::~CTelvaneApp() = default;

CMainFrame& CTelvaneApp::Start(const QString& commandFile)
{
    std::string path;
    std::vector<uint32_t> commandWindows;
    {
        CSettingsStore store(m_settings, true);
        if (store.Open(kStatePath)) {
            path = kDefaultCommandFile;
            store.Read("CommandFile", path);
            store.Read("CommandList", commandWindows);
        }
    }
    if (!commandFile.isEmpty())
        path = commandFile.toStdString();
    m_frame = std::make_unique<CMainFrame>(m_settings, m_registry, path, commandWindows);
    m_frame->show();
    m_frame->Start();
    return *m_frame;
}
