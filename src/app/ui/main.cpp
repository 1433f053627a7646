// telvane: the desktop program. Window kinds register here, one line each.

#include "base/OpenFiles.h"
#include "base/TempFiles.h"
#include "console/ui/ConsoleWindows.h"
#include "daq/ui/ChildFrame_ZOra.h"
#include "firmware/ui/ChildFrame_Firmware.h"
#include "nodes/ui/ChildFrame_McSec.h"
#include "relay/ui/RelayWindows.h"
#include "shell/ui/MainFrame.h"
#include "shell/ui/QtSettings.h"
#include "shell/ui/TelvaneApp.h"

#include "Screenshots.h"

#include <QApplication>

#include <cstdio>
#include <memory>

int main(int argc, char** argv)
{
    RaiseOpenFileLimit();
    RemoveTempFilesOnTermination();
    QApplication app(argc, argv);
    QApplication::setOrganizationName("Belmora");
    QApplication::setApplicationName("Telvane");
    _STARTOPTIONS options = ParseStartOptions(QApplication::arguments());
    if (!options.ok) {
        std::fprintf(stderr, "%s\n", qPrintable(options.error));
        return 2;
    }
    auto settings = options.settingsFile.isEmpty() ? std::make_unique<CQtSettings>()
                                                   : std::make_unique<CQtSettings>(options.settingsFile);
    CToolWindowRegistry registry;
    RegisterFirmwareWindows(registry);
    RegisterDaqWindows(registry);
    RegisterNodeWindows(registry);
    RegisterConsoleWindows(registry);
    RegisterRelayWindows(registry);
    CTelvaneApp telvane(*settings, registry);
    CMainFrame& frame = telvane.Start(options.commandFile);
    if (!options.screenshotDir.isEmpty())
        TakeScreenshots(frame, *settings, options.screenshotDir);
    return app.exec();
}
