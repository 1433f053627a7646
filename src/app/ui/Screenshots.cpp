#include "Screenshots.h"

#include "RelayScreenshots.h"
#include "firmware/ui/ChildFrame_Firmware.h"
#include "daq/ui/ChildFrame_ZOra.h"
#include "nodes/ui/ChildFrame_McSec.h"
#include "console/ui/ChildFrame_MC.h"
#include "console/ui/CommandWnd.h"
#include "shell/Profiles.h"
#include "shell/SettingsStore.h"
#include "shell/ui/AppLook.h"
#include "shell/ui/CommandDock.h"
#include "shell/ui/MainFrame.h"
#include "shell/ui/SelProfileDlg.h"
#include "shell/ui/ToolWindows.h"
#include "sim/SimSystem.h"

#include <QApplication>
#include <QComboBox>
#include <QByteArray>
#include <QDir>
#include <QDockWidget>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>

#include <arpa/inet.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
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

using Steps = std::vector<std::function<void()>>;

// Saves the picture once the firmware window's update has ended.
void SaveWhenFinished(CChildFrame_Firmware* window, const QString& dir, std::function<void()> then)
{
    if (window->Update().AnyUnfinished()) {
        QTimer::singleShot(200, [=] { SaveWhenFinished(window, dir, then); });
        return;
    }
    QTimer::singleShot(kSettleMs, [=] {
        Save(dir, "telvane-firmware-after.png");
        then();
    });
}

// With TELVANE_SCREENSHOT_CRATES (host:port of a crate server of
// telvane-sim with crates 101 to 103) and TELVANE_SCREENSHOT_IMAGE (an
// S-record flash image): the firmware window during and after an update.
void AddFirmwareSteps(CMainFrame& frame, CSettingsBackend& settings, const QString& dir,
                      std::vector<std::function<void()>>& steps, std::function<void()> last)
{
    const QByteArray crates = qgetenv("TELVANE_SCREENSHOT_CRATES");
    const QByteArray image = qgetenv("TELVANE_SCREENSHOT_IMAGE");
    const int colon = crates.lastIndexOf(':');
    if (colon <= 0 || image.isEmpty()) {
        steps.push_back(last);
        return;
    }
    {
        CSettingsStoreEx store(settings, false);
        store.CreateKey(ProfileSection(kStatePath, "Firmware wheel 0"));
        store.Write("IOType", 3);
        store.Write("Host", crates.left(colon).toStdString());
        store.Write("Port", crates.mid(colon + 1).toInt());
        store.Write("GetFirmwareFile", 1);
        store.Write("FirmwareFile", image.toStdString());
        store.Write("Destinations", std::vector<uint32_t>{101, 102, 103});
        store.Write("FirmVerify", 1);
    }
    auto window = std::make_shared<CChildFrame_Firmware*>(nullptr);
    steps.push_back([&frame, window] {
        // Floating command windows would cover the progress list.
        for (QDockWidget* dock : frame.findChildren<QDockWidget*>())
            if (dock->isFloating())
                dock->hide();
        *window = static_cast<CChildFrame_Firmware*>(frame.OpenToolWindow(kCmdFirmwareUpdate, "Firmware wheel 0"));
        if (*window)
            (*window)->showMaximized();
    });
    steps.push_back([window] {
        if (*window)
            (*window)->Start();
    });
    steps.push_back([] {});
    steps.push_back([dir, window, last] {
        Save(dir, "telvane-firmware-during.png");
        if (*window)
            SaveWhenFinished(*window, dir, last);
        else
            last();
    });
}

void RunSteps(std::shared_ptr<Steps> steps, size_t next)
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
    // Earlier pictures hid the floating command windows.
    command->show();
    command->raise();
    command->resize(440, 460);
    QComboBox& list = command->CommandList();
    list.setCurrentIndex(list.findText("OnFpgaFlash"));
    Q_EMIT list.activated(list.currentIndex());
    command->Send();
}

// A loopback port that is free right now, for a server in the picture.
uint16_t FreeLoopbackPort()
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    uint16_t port = 0;
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size) == 0)
        port = ntohs(a.sin_port);
    if (fd >= 0)
        close(fd);
    return port;
}

// A DAQ client for the picture: asks for runs of two events (or reads a PU
// register) over loopback and throws the replies away.
class CDemoDaqClient {
public:
    ~CDemoDaqClient()
    {
        if (m_fd >= 0)
            close(m_fd);
    }

    bool IsConnected() const { return m_fd >= 0; }

    bool Connect(uint16_t port)
    {
        m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (m_fd >= 0 && connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0)
            return true;
        if (m_fd >= 0)
            close(m_fd);
        m_fd = -1;
        return false;
    }

    void AskForRun()
    {
        Send({0xC1, 0, 0, 0, 2});
        Send({0xC0});
    }
    void ReadRunState() { Send({0xC2, 0, 0, 0, 1, 0, 0, 0, 0x14, 0, 0x10}); }

    void DropReplies()
    {
        uint8_t buffer[4096];
        while (m_fd >= 0 && recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
        }
    }

private:
    void Send(const std::vector<uint8_t>& payload)
    {
        const uint32_t length = static_cast<uint32_t>(12 + payload.size());
        std::vector<uint8_t> frame = {0x55, 0x55, 0, static_cast<uint8_t>(++m_id), static_cast<uint8_t>(length >> 24),
                                      static_cast<uint8_t>(length >> 16), static_cast<uint8_t>(length >> 8),
                                      static_cast<uint8_t>(length), 0, 0, 0, 0};
        frame.insert(frame.end(), payload.begin(), payload.end());
        if (m_fd >= 0)
            send(m_fd, frame.data(), frame.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    }

    int m_fd = -1;
    uint8_t m_id = 0;
};

// The DAQ window on the simulated stand with two clients at work.
void AddDaqSteps(Steps& steps, CMainFrame& frame, CSettingsBackend& settings, const QString& dir)
{
    const char* profile = "ZOra stand 1";
    {
        CSettingsStore store(settings, false);
        store.CreateKey(ProfileSection(kStatePath, profile));
        store.Write("ZOraPort", static_cast<uint32_t>(FreeLoopbackPort()));
        store.Write("BindAddress", std::string("127.0.0.1"));
    }
    struct Demo {
        QPointer<CChildFrame_ZOra> window;
        CDemoDaqClient runs;
        CDemoDaqClient registers;
        QTimer traffic;
    };
    auto demo = std::make_shared<Demo>();
    // The clients connect once the server is open (the ROS takes a second
    // to set up), then ask for something every 50 ms.
    // The timer belongs to the demo, so it may use it by a plain pointer.
    QObject::connect(&demo->traffic, &QTimer::timeout, [d = demo.get()] {
        if (!d->window || !d->window->IsServerOpen())
            return;
        if (!d->runs.IsConnected()) {
            d->runs.Connect(d->window->ServerPort());
            d->registers.Connect(d->window->ServerPort());
        }
        d->runs.AskForRun();
        d->registers.ReadRunState();
        d->runs.DropReplies();
        d->registers.DropReplies();
    });
    steps.push_back([&frame, demo, profile] {
        // The floating command window would hide part of the DAQ window.
        for (CCommandDock* dock : frame.CommandWindows())
            dock->hide();
        demo->window = qobject_cast<CChildFrame_ZOra*>(frame.OpenToolWindow(kCmdZOra, profile));
        if (!demo->window)
            return;
        demo->window->OpenServer();
        demo->traffic.start(50);
    });
    // Open, then two ticks of the window's rate timer.
    for (int i = 0; i < 4; ++i)
        steps.push_back([] {});
    steps.push_back([dir] { Save(dir, "telvane-daq.png"); });
    steps.push_back([&frame, demo] {
        demo->traffic.stop();
        if (demo->window)
            demo->window->close();
        demo->window = nullptr;
        for (CCommandDock* dock : frame.CommandWindows())
            dock->show();
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
    auto steps = std::make_shared<Steps>();
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
    // With a simulated crate's primary bus named, the server and spy windows too.
    if (const char* bus = std::getenv("TELVANE_SCREENSHOT_BUS")) {
        auto relay = std::make_shared<CRelayScreenshots>(frame, settings, bus, "examples/Cb_v126.dec");
        steps->push_back([&frame, relay] {
            frame.SetLook(kDefaultLook);
            for (QDockWidget* dock : frame.findChildren<QDockWidget*>())
                if (dock->isFloating())
                    dock->hide();
            relay->OpenServer();
        });
        steps->push_back([relay] { relay->OpenSpy(); });
        steps->push_back([dir] { Save(dir, "telvane-spy.png"); });
        steps->push_back([relay] { relay->ShowServer(); });
        steps->push_back([dir, relay] { Save(dir, "telvane-server.png"); });
    }
    SimConfig crate;
    crate.crates = {{0, 1, 1, 101, 0, 0x00010019}};
    crate.secondaryServer = crate.primaryBus = crate.secondaryBus = false;
    auto sim = std::make_shared<CSimSystem>(crate);
    steps->push_back([&frame, &settings, sim] {
        frame.SetLook(kDefaultLook);
        // The connection window alone, as an operator starts the day.
        for (CChildFrame* w : frame.ToolWindows())
            w->close();
        if (sim->Start())
            OpenConnection(frame, settings, *sim);
    });
    steps->push_back([dir] { Save(dir, "telvane-connection-light.png"); });
    steps->push_back([&frame, sim] {
        for (CChildFrame* w : frame.ToolWindows())
            w->close();
        sim->Stop();
    });
    AddDaqSteps(*steps, frame, settings, dir);
    AddFirmwareSteps(frame, settings, dir, *steps, [] { QApplication::quit(); });
    RunSteps(steps, 0);
}
