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
#include "shell/SelfUpdate.h"
#include "shell/ui/TelvaneApp.h"

#include "Screenshots.h"

#include <QApplication>

#include <cstdio>
#include <cstring>
#include <memory>

int main(int argc, char** argv)
{
    // Answered before Qt starts, so that they work without a display.
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            std::fputs(kStartUsage, stdout);
            return 0;
        }
        if (!std::strcmp(argv[i], "--version")) {
            std::printf("%s\n", AboutText(ThisProgramVersion()).c_str());
            return 0;
        }
    }
    RaiseOpenFileLimit();
    RemoveTempFilesOnTermination();
    QApplication app(argc, argv);
    QApplication::setOrganizationName("Belmora");
    QApplication::setApplicationName("Telvane");
    // Desktops match the windows to telvane.desktop by this name.
    QApplication::setDesktopFileName("telvane");
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
