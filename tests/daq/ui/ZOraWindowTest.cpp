// The DAQ window on the simulated VME stand, driven as an operator drives
// it: "ZOra" from the Tools menu with the profile dialog answered, the
// pane's toolbar buttons, the client list's context menu, and real TCP
// clients on 127.0.0.1.
#include "daq/DaqClient.h"
#include "daq/ui/ChildFrame_ZOra.h"
#include "sim/SimVmeStand.h"
#include "shell/Profiles.h"
#include "shell/SettingsStore.h"
#include "shell/ui/GuiSupport.h"
#include "shell/ui/MainFrame.h"
#include "shell/ui/OutBox.h"
#include "shell/ui/OutputWnd.h"
#include "shell/ui/QtSettings.h"
#include "shell/ui/RateList.h"
#include "shell/ui/SelProfileDlg.h"
#include "support/TempDir.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QMdiArea>
#include <QMenu>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include <cstdio>
#include <memory>

namespace {

constexpr const char* kProfile = "Stand A";

std::string BusErrorText(bool write, uint32_t address)
{
    char text[160];
    std::snprintf(text, sizeof text,
                  "CVme::%s(%X): Error 1\r\nVME bus error: no board answered at address 0x%X\r\n",
                  write ? "Write" : "Read", address, address);
    return text;
}

// A main frame on a settings file of the test's own, with the DAQ window
// registered as the program registers it, and a profile that listens on a
// free loopback port.
struct CZOraFixture {
    explicit CZOraFixture(const CTempDir& dir) : settings(QString::fromStdString(dir.File("Telvane.ini")))
    {
        unsetenv("TELVANE_VME_LIBRARY");
        CSimVmeStand::Global().PowerUp();
        CSimVmeStand::Global().SetRosPresent(false);
        CSettingsStore store(settings, false);
        store.CreateKey(ProfileSection(kStatePath, kProfile));
        store.Write("ZOraPort", 0u);
        store.Write("BindAddress", std::string("127.0.0.1"));
        store.Write("PU_RunMode", 0x43u);
        RegisterDaqWindows(registry);
        frame = std::make_unique<CMainFrame>(settings, registry, "", std::vector<uint32_t>{});
        frame->show();
    }
    ~CZOraFixture()
    {
        frame.reset();
        CSimVmeStand::Global().PowerUp();
    }

    // Tools > ZOra, with the profile dialog answered with `name`.
    CChildFrame_ZOra* OpenFromMenu(const std::string& name)
    {
        OnNextModal([name](QWidget* dialog) {
            auto* profile = qobject_cast<CSelProfileDlg*>(dialog);
            if (!profile)
                return;
            profile->NameField().setText(QString::fromStdString(name));
            profile->accept();
        });
        frame->Action(kCmdZOra)->trigger();
        auto windows = frame->ToolWindows();
        if (windows.empty())
            return nullptr;
        // As the operator's click on its tab would.
        frame->MdiArea().setActiveSubWindow(windows.back());
        return qobject_cast<CChildFrame_ZOra*>(windows.back());
    }

    // A File menu command, with the menu opened first as the operator opens
    // it (the menu enables its window commands when it shows).
    void FileCommand(int id)
    {
        QAction* action = frame->Action(id);
        for (QObject* o : action->associatedObjects())
            if (auto* menu = qobject_cast<QMenu*>(o))
                Q_EMIT menu->aboutToShow();
        action->trigger();
    }

    QToolButton* Button(int id)
    {
        QToolBar& bar = frame->PropertiesPane().ToolBar();
        for (QAction* a : bar.actions())
            if (a->data().toInt() == id)
                return qobject_cast<QToolButton*>(bar.widgetForAction(a));
        return nullptr;
    }

    // Waits for the button to be enabled, then clicks it.
    bool Click(int id)
    {
        QToolButton* button = Button(id);
        if (!button)
            return false;
        frame->PropertiesPane().UpdateButtons();
        if (!QTest::qWaitFor([&] { return button->isEnabled(); }, 5000))
            return false;
        QTest::mouseClick(button, Qt::LeftButton);
        return true;
    }

    QString PaneText(int id)
    {
        CGridProperty* p = frame->PropertiesPane().Grid().Find(id);
        return p ? p->ValueText() : QString("(no property %1)").arg(id);
    }

    static std::string BoxText(CChildFrame_ZOra& w)
    {
        w.Output().Flush();
        return w.Output().Lines().Text();
    }

    CQtSettings settings;
    CToolWindowRegistry registry;
    std::unique_ptr<CMainFrame> frame;
};

// Property ids of the window's pane.
int SettingId(CDaqSettings::Index index) { return 2700 + static_cast<int>(index); }

// Runs action on the next popup menu that opens within 5 s.
void OnNextPopup(std::function<void(QMenu*)> action)
{
    auto* timer = new QTimer;
    auto* clock = new QElapsedTimer;
    clock->start();
    QObject::connect(timer, &QTimer::timeout, [timer, clock, action] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu && clock->elapsed() < 5000)
            return;
        timer->stop();
        timer->deleteLater();
        delete clock;
        if (menu)
            action(menu);
    });
    timer->start(10);
}

CRateItemData* LineTitled(CRateListCtrl& list, const QString& title)
{
    for (const auto& line : list.Lines())
        if (line->Item()->text(0) == title)
            return line.get();
    return nullptr;
}

}  // namespace

class ZOraWindowTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void toolsMenuOpensTheWindowOnTheChosenProfile();
    void clientIsListedWithRatesAndClosedFromItsMenu();
    void reinitialiseWaitsOffTheGuiThread();
    void failedInitLeavesTheServerClosed();
    void paneTakesHexadecimalAndRefusesBadValues();
    void badStoredListeningRulesKeepTheServerClosed();
    void closingTheWindowClosesServerAndClients();
};

void ZOraWindowTest::toolsMenuOpensTheWindowOnTheChosenProfile()
{
    CTempDir dir;
    CZOraFixture f(dir);
    QCOMPARE(f.frame->Action(kCmdZOra)->text(), QString("ZOra"));
    QVERIFY(f.frame->Action(kCmdZOra)->isEnabled());
    CChildFrame_ZOra* w = f.OpenFromMenu(kProfile);
    QVERIFY(w);
    QCOMPARE(w->ProfileName(), std::string(kProfile));
    QCOMPARE(f.frame->PropertiesPane().Owner(), static_cast<CPaneOwner*>(w));
    // Stored values and defaults, the register values and addresses in hexadecimal.
    QCOMPARE(f.PaneText(SettingId(CDaqSettings::PU_RunMode)), QString("0x43"));
    QCOMPARE(f.PaneText(SettingId(CDaqSettings::PU_BaseAddr)), QString("0xA0000"));
    QCOMPARE(f.PaneText(SettingId(CDaqSettings::PU_EnRW)), QString("0xFF"));
    QCOMPARE(f.PaneText(SettingId(CDaqSettings::PU_EventCounter)), QString("0x80"));
    QCOMPARE(f.PaneText(SettingId(CDaqSettings::TTCvi_BaseAddr)), QString("0xFF1000"));
    QCOMPARE(f.PaneText(SettingId(CDaqSettings::PatGen2_BaseAddr)), QString("0xF900"));
    QCOMPARE(f.PaneText(SettingId(CDaqSettings::ZOraPort)), QString("0"));
    QCOMPARE(w->ClientList().headerItem()->text(0), QString("Client"));
    QVERIFY(!w->IsServerOpen());
    QVERIFY(f.Button(CChildFrame_ZOra::kCmdOpen)->isEnabled());
    QVERIFY(!f.Button(CChildFrame_ZOra::kCmdClose)->isEnabled());
    QVERIFY(!f.Button(CChildFrame_ZOra::kCmdReinit)->isEnabled());
    QVERIFY(!f.Button(CChildFrame_ZOra::kCmdVmeReset)->isEnabled());
}

void ZOraWindowTest::clientIsListedWithRatesAndClosedFromItsMenu()
{
    CTempDir dir;
    CZOraFixture f(dir);
    CChildFrame_ZOra* w = f.OpenFromMenu(kProfile);
    QVERIFY(w);
    QVERIFY(f.Click(CChildFrame_ZOra::kCmdOpen));
    QTRY_VERIFY(w->IsServerOpen());
    QCOMPARE(w->PendingCommands(), 0);
    QVERIFY(w->ServerPort() != 0);
    const std::string port = std::to_string(w->ServerPort());
    QCOMPARE(CZOraFixture::BoxText(*w), "DAQ server opened\r\nListening on 127.0.0.1:" + port + "\r\n");

    CDaqTestClient client;
    QVERIFY(client.Connect(w->ServerPort()));
    QTRY_COMPARE(w->ClientList().topLevelItemCount(), 1);
    QTreeWidgetItem* row = w->ClientList().topLevelItem(0);
    QVERIFY(row->text(0).startsWith("127.0.0.1:"));

    // One register read: 11 request bytes, 5 reply bytes, seen once by the
    // client's row and once by the window's line of the "Transfer Rate" list.
    const Reply r = client.Request(9, ReadRegPayload(CDaqEngine::kPu, 0x14, 0x10));
    QCOMPARE(r.status, 1000u);
    QCOMPARE(r.id, uint16_t{9});
    CRateItemData* clientLine = w->ClientList().Lines().front().get();
    QTRY_COMPARE(clientLine->RxText(), QString("11 Bps"));
    QCOMPARE(clientLine->TxText(), QString("5 Bps"));
    CRateItemData* windowLine = LineTitled(f.frame->Output().RateList(), kProfile);
    QVERIFY(windowLine);
    QTRY_COMPARE(windowLine->RxText(), QString("11 Bps"));
    QCOMPARE(windowLine->TxText(), QString("5 Bps"));
    QTRY_COMPARE(clientLine->RxText(), QString("0 Bps"));

    QString menuEntries;
    OnNextPopup([&](QMenu* menu) {
        for (QAction* a : menu->actions())
            menuEntries += a->text() + ";";
        menu->actions().front()->trigger();
        menu->close();
    });
    const QRect rect = w->ClientList().visualItemRect(row);
    Q_EMIT w->ClientList().customContextMenuRequested(rect.center());
    QCOMPARE(menuEntries, QString("Close Client;"));
    QVERIFY(client.ClosedByPeer(2000));
    QTRY_COMPARE(w->ClientList().topLevelItemCount(), 0);
    QVERIFY(w->IsServerOpen());

    QVERIFY(f.Click(CChildFrame_ZOra::kCmdClose));
    QTRY_VERIFY(!w->IsServerOpen());
    QTRY_COMPARE(w->PendingCommands(), 0);
    const std::string text = CZOraFixture::BoxText(*w);
    QVERIFY2(text.ends_with("DAQ server closed\r\n"), text.c_str());
    QCOMPARE(CSimVmeStand::Global().OpenHandles(), size_t{0});
    QVERIFY(f.Click(CChildFrame_ZOra::kCmdOpen));
    QTRY_VERIFY(w->IsServerOpen());
}

void ZOraWindowTest::reinitialiseWaitsOffTheGuiThread()
{
    CTempDir dir;
    CZOraFixture f(dir);
    CChildFrame_ZOra* w = f.OpenFromMenu(kProfile);
    QVERIFY(w);
    QVERIFY(f.Click(CChildFrame_ZOra::kCmdOpen));
    QTRY_VERIFY(w->IsServerOpen());
    const std::string before = CZOraFixture::BoxText(*w);

    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(50);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(f.Click(CChildFrame_ZOra::kCmdReinit));
    QVERIFY2(clock.elapsed() < 500, "the click waited for the re-initialise");
    QCOMPARE(w->PendingCommands(), 1);
    f.frame->PropertiesPane().UpdateButtons();
    QVERIFY(!f.Button(CChildFrame_ZOra::kCmdOpen)->isEnabled());
    QVERIFY(!f.Button(CChildFrame_ZOra::kCmdReinit)->isEnabled());
    QVERIFY(!f.Button(CChildFrame_ZOra::kCmdVmeReset)->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(w->PendingCommands() == 0, 6000);
    QVERIFY(clock.elapsed() >= CDaqControl::kReinitPauseMs);
    // The event loop ran all along: about 40 ticks of 50 ms.
    QVERIFY2(ticks >= 20, QByteArray::number(ticks));
    QVERIFY(w->IsServerOpen());
    QCOMPARE(CZOraFixture::BoxText(*w), before);

    // After Init the boards answer again.
    CDaqTestClient client;
    QVERIFY(client.Connect(w->ServerPort()));
    QCOMPARE(client.Request(1, ReadRegPayload(CDaqEngine::kPu, 0x14, 0x10)).status, 1000u);

    // A reset that succeeds prints nothing.
    const std::string connected = CZOraFixture::BoxText(*w);
    QVERIFY(f.Click(CChildFrame_ZOra::kCmdVmeReset));
    QTRY_COMPARE(w->PendingCommands(), 0);
    QCOMPARE(CZOraFixture::BoxText(*w), connected);
}

void ZOraWindowTest::failedInitLeavesTheServerClosed()
{
    CTempDir dir;
    CZOraFixture f(dir);
    CChildFrame_ZOra* w = f.OpenFromMenu(kProfile);
    QVERIFY(w);
    CSimVmeStand::Global().InjectBusError(simvme::A24Device, simvme::DelayBase + 0x04, simvme::Access::Read);
    QVERIFY(f.Click(CChildFrame_ZOra::kCmdOpen));
    QTRY_COMPARE(w->PendingCommands(), 0);
    QVERIFY(!w->IsServerOpen());
    QCOMPARE(CZOraFixture::BoxText(*w), "DAQ server opened\r\nCDelayBrd::EnableDelay():" +
                                            BusErrorText(false, simvme::DelayBase + 4) +
                                            "\r\nDAQ server closed\r\n");
    f.frame->PropertiesPane().UpdateButtons();
    QVERIFY(f.Button(CChildFrame_ZOra::kCmdOpen)->isEnabled());
    QVERIFY(!f.Button(CChildFrame_ZOra::kCmdClose)->isEnabled());
}

void ZOraWindowTest::paneTakesHexadecimalAndRefusesBadValues()
{
    CTempDir dir;
    CZOraFixture f(dir);
    CChildFrame_ZOra* w = f.OpenFromMenu(kProfile);
    QVERIFY(w);
    CPropertyGrid& grid = f.frame->PropertiesPane().Grid();
    struct Case {
        CDaqSettings::Index index;
        QString typed;
        QString shown;
        bool accepted;
    };
    const Case cases[] = {
        {CDaqSettings::PU_BaseAddr, "b0000", "0xB0000", true},
        {CDaqSettings::ROS_BaseAddr, "0X00C00000", "0xC00000", true},
        {CDaqSettings::PU_ConfIO, "0x7f", "0x7F", true},
        {CDaqSettings::PU_EnRW, "1FF", "0xFF", false},
        {CDaqSettings::PU_EventCounter, "0x10000", "0x80", false},
        {CDaqSettings::PU_ResetEn, "12g", "0xFF", false},
        {CDaqSettings::PU_ActiveIO, "", "0xFF", false},
        {CDaqSettings::TTCvi_BaseAddr, "0x100000000", "0xFF1000", false},
    };
    for (const Case& c : cases) {
        QVERIFY(grid.Edit(SettingId(c.index), c.typed));
        QCOMPARE(f.PaneText(SettingId(c.index)), c.shown);
        const std::string refusal = QString("%1: invalid value '%2'\r\n")
                                        .arg(CDaqSettings::Table()[c.index].key, c.typed)
                                        .toStdString();
        QCOMPARE(CZOraFixture::BoxText(*w).find(refusal) != std::string::npos, !c.accepted);
    }
    QVERIFY(grid.Edit(SettingId(CDaqSettings::ZOraPort), qlonglong{70000}));
    QCOMPARE(f.PaneText(SettingId(CDaqSettings::ZOraPort)), QString("0"));
    QVERIFY(grid.Edit(SettingId(CDaqSettings::PU_Delay1), "0x3F"));

    // Save writes every key at its width; the edited ones with their new values.
    f.FileCommand(kCmdSave);
    CSettingsStoreEx store(f.settings, true);
    QVERIFY(store.Open(ProfileSection(kStatePath, kProfile)));
    uint32_t base = 0, ros = 0, port = 99, maxRun = 0;
    uint8_t confIO = 0, delay1 = 0, runMode = 0;
    uint16_t counter = 0;
    std::string bind;
    QVERIFY(store.Read("PU_BaseAddr", base));
    QVERIFY(store.Read("ROS_BaseAddr", ros));
    QVERIFY(store.Read("PU_ConfIO", confIO));
    QVERIFY(store.Read("PU_Delay1", delay1));
    QVERIFY(store.Read("PU_RunMode", runMode));
    QVERIFY(store.Read("PU_EventCounter", counter));
    QVERIFY(store.Read("ZOraPort", port));
    QVERIFY(store.Read("MaxRunEvents", maxRun));
    QVERIFY(store.Read("BindAddress", bind));
    QCOMPARE(base, 0xB0000u);
    QCOMPARE(ros, 0xC00000u);
    QCOMPARE(confIO, uint8_t{0x7F});
    QCOMPARE(delay1, uint8_t{0x3F});
    QCOMPARE(runMode, uint8_t{0x43});
    QCOMPARE(counter, uint16_t{0x80});
    QCOMPARE(port, 0u);
    QCOMPARE(maxRun, 100000u);
    QCOMPARE(bind, std::string("127.0.0.1"));
    QCOMPARE(w->Settings().Get(CDaqSettings::PU_BaseAddr), 0xB0000u);
}

void ZOraWindowTest::badStoredListeningRulesKeepTheServerClosed()
{
    struct Case {
        const char* key;
        std::string text;
        uint32_t number;
        std::string expected;
    };
    const Case cases[] = {
        {"ZOraPort", "", 70000, "ZOraPort 70000 is no TCP port\r\n"},
        {"AllowClients", "10.0.0.0/8, 10.1.2.3/16", 0, "AllowClients: invalid network '10.1.2.3/16'\r\n"},
        {"BindAddress", "localhost", 0, "Open Error: ->87\r\nInvalid argument\r\n"},
    };
    for (const Case& c : cases) {
        CTempDir dir;
        CZOraFixture f(dir);
        {
            CSettingsStore store(f.settings, false);
            QVERIFY(store.CreateKey(ProfileSection(kStatePath, kProfile)));
            QVERIFY(c.text.empty() ? store.Write(c.key, c.number) : store.Write(c.key, c.text));
        }
        CChildFrame_ZOra* w = f.OpenFromMenu(kProfile);
        QVERIFY(w);
        QVERIFY(f.Click(CChildFrame_ZOra::kCmdOpen));
        QTRY_COMPARE(w->PendingCommands(), 0);
        QVERIFY(!w->IsServerOpen());
        const std::string text = CZOraFixture::BoxText(*w);
        QVERIFY2(text.rfind(c.expected, 0) == 0, text.c_str());
    }
}

void ZOraWindowTest::closingTheWindowClosesServerAndClients()
{
    CTempDir dir;
    CZOraFixture f(dir);
    CChildFrame_ZOra* w = f.OpenFromMenu(kProfile);
    QVERIFY(w);
    QVERIFY(f.Click(CChildFrame_ZOra::kCmdOpen));
    QTRY_VERIFY(w->IsServerOpen());
    CDaqTestClient client;
    QVERIFY(client.Connect(w->ServerPort()));
    QTRY_COMPARE(w->ClientList().topLevelItemCount(), 1);
    const size_t lines = f.frame->Output().RateList().Lines().size();

    f.FileCommand(kCmdClose);
    QVERIFY(f.frame->ToolWindows().empty());
    QVERIFY(client.ClosedByPeer(2000));
    QCOMPARE(CSimVmeStand::Global().OpenHandles(), size_t{0});
    QCOMPARE(f.frame->Output().RateList().Lines().size(), lines - 1);
    QCOMPARE(f.frame->PropertiesPane().Owner(), static_cast<CPaneOwner*>(nullptr));
}

QTEST_MAIN(ZOraWindowTest)
#include "ZOraWindowTest.moc"
