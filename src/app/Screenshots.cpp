#include "Screenshots.h"

#include "console/ui/ChildFrame_MC.h"
#include "console/ui/CommandWnd.h"
#include "nodes/ui/ChildFrame_McSec.h"
#include "shell/Profiles.h"
#include "shell/SettingsStore.h"
#include "shell/ui/AppLook.h"
#include "shell/ui/MainFrame.h"
#include "shell/ui/SelProfileDlg.h"
#include "shell/ui/ToolWindows.h"
#include "sim/SimSystem.h"

#include <QApplication>
#include <QComboBox>
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

// A connection window on a simulated crate, with the reply of a command
// sent from the command window decoded in its traffic box.
void OpenConnection(CMainFrame& frame, CSettingsBackend& settings, CSimSystem& sim)
{
    const char* profile = "Crate YB0 S1 MB1";
    {
        CSettingsStore store(settings, false);
        store.CreateKey(ProfileSection(kStatePath, profile));
        store.Write("IOType", 3);
        store.Write("Host", "127.0.0.1");
        store.Write("Port", static_cast<int32_t>(sim.CrateServerPort()));
        store.Write("CCB ID", 101);
        store.Write("DecodeFile", "examples/Cb_v126.dec");
    }
    auto* window = static_cast<CChildFrame_MC*>(frame.OpenToolWindow(kCmdNewConnection, profile));
    if (!window || !window->Connect())
        return;
    window->Engine().Link().WaitUntilOpen(5000);
    const auto& docks = frame.CommandWindows();
    auto* command = docks.empty() ? nullptr : qobject_cast<CCommandWnd*>(docks.front());
    if (!command)
        return;
    command->show();
    command->resize(440, 460);
    QComboBox& list = command->CommandList();
    list.setCurrentIndex(list.findText("OnFpgaFlash"));
    Q_EMIT list.activated(list.currentIndex());
    command->Send();
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
    SimConfig crate;
    crate.crates = {{0, 1, 1, 101, 0, 0x00010019}};
    crate.secondaryServer = crate.primaryBus = crate.secondaryBus = false;
    auto sim = std::make_shared<CSimSystem>(crate);
    steps->push_back([&frame, &settings, sim] {
        frame.SetLook(kDefaultLook);
        if (sim->Start())
            OpenConnection(frame, settings, *sim);
    });
    steps->push_back([dir] { Save(dir, "telvane-connection-light.png"); });
    steps->push_back([&frame, sim] {
        for (CChildFrame* w : frame.ToolWindows())
            w->close();
        sim->Stop();
        QApplication::quit();
    });
    RunSteps(steps, 0);
}
