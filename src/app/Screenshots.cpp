#include "Screenshots.h"

#include "nodes/ui/ChildFrame_McSec.h"
#include "shell/Profiles.h"
#include "shell/SettingsStore.h"
#include "shell/ui/AppLook.h"
#include "shell/ui/MainFrame.h"
#include "shell/ui/SelProfileDlg.h"
#include "shell/ui/ToolWindows.h"

#include <QApplication>
#include <QDir>
#include <QDockWidget>
#include <QGuiApplication>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr int kSettleMs = 700;

// The whole screen, so that floating panes and dialogs are in the picture.
void Save(const QString& dir, const QString& name)
{
    QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0);
    QString path = QDir(dir).filePath(name);
    if (shot.save(path))
        std::printf("%s\n", qPrintable(path));
    else
        std::fprintf(stderr, "cannot save %s\n", qPrintable(path));
}

void RunSteps(std::shared_ptr<std::vector<std::function<void()>>> steps, size_t next)
{
    if (next >= steps->size())
        return;
    QTimer::singleShot(kSettleMs, [steps, next] {
        (*steps)[next]();
        RunSteps(steps, next + 1);
    });
}

}  // namespace

void TakeScreenshots(CMainFrame& frame, CSettingsBackend& settings, const QString& dir)
{
    QDir().mkpath(dir);
    {
        CSettingsStore store(settings, false);
        for (const char* name : {"Crate YB0 S1", "Crate YB0 S2", "Firmware wheel 0", "Spy YB0"}) {
            store.CreateKey(ProfileSection(kStatePath, name));
            store.Write("IOType", 2);
        }
    }
    QScreen* screen = QGuiApplication::primaryScreen();
    frame.setGeometry(screen->geometry());
    auto dialog = std::make_shared<std::unique_ptr<CSelProfileDlg>>();
    auto steps = std::make_shared<std::vector<std::function<void()>>>();
    for (int look : {kDefaultLook, 216}) {
        QString suffix = look == kDefaultLook ? "light" : "dark";
        steps->push_back([&frame, look] { frame.SetLook(look); });
        steps->push_back([dir, suffix] { Save(dir, "telvane-main-" + suffix + ".png"); });
        steps->push_back([&frame, &settings, dialog] {
            *dialog = std::make_unique<CSelProfileDlg>(settings, kStatePath, "Crate YB0 S3", &frame);
            (*dialog)->show();
            QRect f = frame.geometry();
            (*dialog)->move(f.center() - QPoint((*dialog)->width() / 2, (*dialog)->height() / 2));
        });
        steps->push_back([dir, suffix, dialog] {
            Save(dir, "telvane-profile-" + suffix + ".png");
            dialog->reset();
        });
    }
    // The node monitor after a read pass, when scripts/screenshot runs a
    // simulated gateway ("HOST:PORT").
    const char* gateway = std::getenv("TELVANE_SCREENSHOT_GATEWAY");
    const std::string endpoint = gateway ? gateway : "";
    const size_t colon = endpoint.rfind(':');
    if (colon != std::string::npos) {
        const std::string profile = "Nodes YB0 S1";
        {
            CSettingsStore store(settings, false);
            store.CreateKey(ProfileSection(kStatePath, profile));
            store.Write("CANIOType", 2);
            store.Write("Host", endpoint.substr(0, colon));
            store.Write("Port", std::atoi(endpoint.c_str() + colon + 1));
        }
        auto nodes = std::make_shared<CChildFrame_McSec*>(nullptr);
        steps->push_back([&frame, nodes, profile] {
            frame.SetLook(kDefaultLook);
            // Floating command windows would cover the grid.
            for (QDockWidget* dock : frame.findChildren<QDockWidget*>())
                if (dock->isFloating())
                    dock->hide();
            *nodes = dynamic_cast<CChildFrame_McSec*>(frame.OpenToolWindow(kCmdMcSec, profile));
            if (*nodes)
                (*nodes)->Read();
        });
        steps->push_back([dir, nodes] {
            if (*nodes)
                Save(dir, "telvane-nodes-status.png");
        });
        steps->push_back([nodes] {
            if (*nodes)
                (*nodes)->Tabs().setCurrentIndex(2);
        });
        steps->push_back([dir, nodes] {
            if (*nodes)
                Save(dir, "telvane-nodes-histograms.png");
        });
    }
    steps->push_back([&frame] {
        frame.SetLook(kDefaultLook);
        QApplication::quit();
    });
    RunSteps(steps, 0);
}
