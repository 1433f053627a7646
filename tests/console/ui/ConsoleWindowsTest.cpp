// The connection window and the command windows in a main frame, against
// the simulated crates over the crate server.

#include "console/ui/ChildFrame_MC.h"
#include "console/ui/CommandWnd.h"
#include "console/ui/ConsoleIds.h"
#include "console/ui/ConsoleWindows.h"
#include "relay/ui/ChildFrameSpy.h"
#include "relay/ui/RelayWindows.h"
#include "shell/Profiles.h"
#include "shell/SettingsStore.h"
#include "shell/ui/MainFrame.h"
#include "shell/ui/OutputWnd.h"
#include "shell/ui/PropertiesWnd.h"
#include "shell/ui/QtSettings.h"
#include "sim/SimSystem.h"
#include "support/TempDir.h"

#include <QComboBox>
#include <QTest>

#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

namespace {

const std::string kExamples = std::string(TELVANE_SOURCE_DIR) + "/examples/";
constexpr uint16_t kCcbid = 101;

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

SimConfig Crates()
{
    SimConfig c;
    c.crates = {{0, 1, 1, kCcbid, 0, 0x00010019}};
    c.secondaryServer = c.primaryBus = c.secondaryBus = false;
    return c;
}

// A main frame with the console windows on a settings file of its own,
// the example command file loaded, and connection profiles that reach the
// simulated crate server.
struct CConsoleFixture {
    explicit CConsoleFixture(const CTempDir& dir) : settings(QString::fromStdString(dir.File("Telvane.ini")))
    {
        sim = std::make_unique<CSimSystem>(Crates());
        QVERIFY(sim->Start());
        RegisterConsoleWindows(registry);
        RegisterRelayWindows(registry);
        frame = std::make_unique<CMainFrame>(settings, registry, kExamples + "Cb_v126_cmd.dec",
                                             std::vector<uint32_t>{});
        frame->show();
        frame->Start();
    }

    void WriteProfile(const std::string& name)
    {
        CSettingsStoreEx store(settings, false);
        QVERIFY(store.CreateKey(ProfileSection(kStatePath, name)));
        store.Write("IOType", 3);
        store.Write("Host", "127.0.0.1");
        store.Write("Port", static_cast<int32_t>(sim->CrateServerPort()));
        store.Write("CCB ID", static_cast<int32_t>(kCcbid));
        store.Write("Timeout", 200);
        store.Write("DecodeFile", kExamples + "Cb_v126.dec");
    }

    CChildFrame_MC* Open(const std::string& name)
    {
        WriteProfile(name);
        return static_cast<CChildFrame_MC*>(frame->OpenToolWindow(kCmdNewConnection, name));
    }

    CChildFrame_MC* OpenConnected(const std::string& name)
    {
        CChildFrame_MC* w = Open(name);
        if (!w || !w->Connect())
            return nullptr;
        return w->Engine().Link().WaitUntilOpen(5000) ? w : nullptr;
    }

    // The send properties are the process's: each test starts from the defaults.
    CCommandWnd* CommandWindow(size_t i = 0)
    {
        const auto& docks = frame->CommandWindows();
        auto* cmd = i < docks.size() ? qobject_cast<CCommandWnd*>(docks[i]) : nullptr;
        if (cmd && cmd->UsesGlobal()) {
            cmd->Grid().Edit(kStrWaitReply, true);
            cmd->Grid().Edit(kStrCmdTimeout, 1000);
        }
        return cmd;
    }

    QString Events() { return QString::fromStdString(frame->Output().MainEvents().Lines().Text()); }

    CQtSettings settings;
    CToolWindowRegistry registry;
    std::unique_ptr<CSimSystem> sim;
    std::unique_ptr<CMainFrame> frame;
};

// The traffic box's text once what is queued for it is shown.
QString Traffic(CChildFrame_MC& w)
{
    w.TrafficBox().Flush();
    return QString::fromStdString(w.TrafficBox().Lines().Text());
}

void SelectCommand(CCommandWnd& cmd, const QString& name)
{
    QComboBox& list = cmd.CommandList();
    const int index = list.findText(name);
    QVERIFY2(index >= 0, qPrintable(name));
    list.setCurrentIndex(index);
    Q_EMIT list.activated(index);
}

// An argument of the command in the grid, by its name.
CGridProperty* Argument(CCommandWnd& cmd, const QString& name)
{
    for (CGridProperty* p : cmd.Grid().Properties())
        if (p->Name() == name && p->GetKind() != CGridProperty::Kind::Group)
            return p;
    return nullptr;
}

}  // namespace

class ConsoleWindowsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void commandIsSentWithAndWithoutWaitReplyAndTheReplyDecoded();
    void repetitiveSendingAtAFixedPeriodOrPacedByTheReply();
    void stopLetsTheRequestInFlightFinish();
    void printRxOffStopsReceivedLinesAtOnce();
    void changingTheLogFileTurnsLoggingOff();
    void invalidPaneEditRefusesTheRequest();
    void rawCommandEntriesKeepOneEmptyEntryAtTheEnd();
    void globalSendPropertiesAreSharedByCommandWindows();
    void closedTargetFallsBackToActiveWindow();
    void paneShowsTheLinkParametersByTheirRules();
    void profileAndCommandWindowStateAreSaved();
    void spyWatchesAConnectionWindowUntilEitherCloses();
};

void ConsoleWindowsTest::commandIsSentWithAndWithoutWaitReplyAndTheReplyDecoded()
{
    CTempDir dir;
    CConsoleFixture f(dir);
    CChildFrame_MC* w = f.OpenConnected("Crate 1");
    QVERIFY(w);
    QVERIFY(f.Events().contains("Crate 1> Reading decode file " + QString::fromStdString(kExamples) +
                                "Cb_v126.dec\r\nCrate 1> Read Success\r\n"));
    CCommandWnd* cmd = f.CommandWindow();
    QVERIFY(cmd);
    SelectCommand(*cmd, "Power");
    QCOMPARE(cmd->windowTitle(), QString("Power Command"));
    CGridProperty* device = Argument(*cmd, "device");
    QVERIFY(device);
    QCOMPARE(device->GetKind(), CGridProperty::Kind::Choice);
    QCOMPARE(device->ValueText(), QString("FLASH"));  // the enumeration's first name
    QVERIFY(cmd->Grid().Edit(device->Id(), "TRB6"));
    QVERIFY(cmd->Grid().Edit(Argument(*cmd, "on")->Id(), "ON"));

    QVERIFY(cmd->CommandState(kCmdSendCommand).enabled);
    cmd->Send();
    QVERIFY(cmd->IsWaiting());
    QVERIFY(!cmd->CommandState(kCmdSendCommand).enabled);
    QTRY_VERIFY(!cmd->IsWaiting());
    QTRY_VERIFY(Traffic(*w).contains("TX->EC 00 2F 13 01 \r\n"
                                     "RX->Data decoded code=0xFC\r\ncommand=ACK_POWER\r\nresult=1\r\n"));

    QVERIFY(cmd->Grid().Edit(kStrWaitReply, false));
    cmd->Send();
    QVERIFY(!cmd->IsWaiting());
    QTRY_VERIFY(Traffic(*w).contains("TX->2F 13 01 \r\n"));
}

void ConsoleWindowsTest::repetitiveSendingAtAFixedPeriodOrPacedByTheReply()
{
    CTempDir dir;
    CConsoleFixture f(dir);
    CChildFrame_MC* w = f.OpenConnected("Crate 1");
    QVERIFY(w);
    CCommandWnd* cmd = f.CommandWindow();
    SelectCommand(*cmd, "ProtectFlash");
    QVERIFY(cmd->Grid().Edit(kStrRepetitiveTime, 100));

    // Without Wait Reply: one request every 100 ms.
    QVERIFY(cmd->Grid().Edit(kStrWaitReply, false));
    cmd->StartRepetitive();
    QVERIFY(cmd->IsRepetitive());
    QTest::qWait(1000);
    cmd->Stop();
    const int fixed = Traffic(*w).count("TX->ED 00 \r\n");
    QVERIFY2(fixed >= 6 && fixed <= 12, qPrintable(QString::number(fixed)));

    // With it: each reply comes 300 ms late, and the next request follows
    // the reply by 100 ms.
    w->ClearTraffic();
    f.sim->Board(kCcbid)->Faults().SetLateMs(300);
    f.sim->Board(kCcbid)->Faults().Set(SimFault::LateReply, -1);
    QVERIFY(cmd->Grid().Edit(kStrWaitReply, true));
    cmd->StartRepetitive();
    QTest::qWait(1000);
    cmd->Stop();
    const int paced = Traffic(*w).count("TX->EC ");
    QVERIFY2(paced >= 2 && paced <= 4, qPrintable(QString::number(paced)));
    f.sim->Board(kCcbid)->Faults().ClearAll();
}

void ConsoleWindowsTest::stopLetsTheRequestInFlightFinish()
{
    CTempDir dir;
    CConsoleFixture f(dir);
    CChildFrame_MC* w = f.OpenConnected("Crate 1");
    QVERIFY(w);
    CCommandWnd* cmd = f.CommandWindow();
    SelectCommand(*cmd, "ProtectFlash");
    f.sim->Board(kCcbid)->Faults().SetLateMs(400);
    f.sim->Board(kCcbid)->Faults().Set(SimFault::LateReply, -1);
    cmd->StartRepetitive();
    QTRY_VERIFY(Traffic(*w).contains("TX->EC 00 ED 00 \r\n"));
    QVERIFY(cmd->IsWaiting());
    QVERIFY(cmd->CommandState(kCmdStop).enabled);
    cmd->Stop();
    QVERIFY(!cmd->IsRepetitive());
    QVERIFY2(cmd->IsWaiting(), "the request in flight is not aborted");
    QTRY_VERIFY(!cmd->IsWaiting());
    QVERIFY(Traffic(*w).contains("RX->Data decoded code=0xFC\r\ncommand=ACK_PROTECT_FLASH"));
    QTest::qWait(1500);
    QCOMPARE(Traffic(*w).count("TX->"), 1);
}

void ConsoleWindowsTest::printRxOffStopsReceivedLinesAtOnce()
{
    CTempDir dir;
    CConsoleFixture f(dir);
    CChildFrame_MC* w = f.OpenConnected("Crate 1");
    QVERIFY(w);
    CPropertyGrid& pane = f.frame->PropertiesPane().Grid();
    QVERIFY(pane.Edit(kStrDecodeData, false));
    CCommandWnd* cmd = f.CommandWindow();
    SelectCommand(*cmd, "ProtectFlash");
    cmd->Send();
    QTRY_VERIFY(!cmd->IsWaiting());
    QTRY_COMPARE(Traffic(*w).count("RX->"), 1);

    QVERIFY(pane.Edit(kStrPrintRX, false));
    cmd->Send();
    QTRY_VERIFY(!cmd->IsWaiting());
    QTRY_VERIFY(Traffic(*w).contains("TX->EC 01 ED 00 \r\n"));
    QTest::qWait(200);
    QCOMPARE(Traffic(*w), QString("TX->EC 00 ED 00 \r\nRX->EC 00 FC ED \r\nTX->EC 01 ED 00 \r\n"));
}

void ConsoleWindowsTest::changingTheLogFileTurnsLoggingOff()
{
    CTempDir dir;
    CConsoleFixture f(dir);
    CChildFrame_MC* w = f.OpenConnected("Crate 1");
    QVERIFY(w);
    CPropertyGrid& pane = f.frame->PropertiesPane().Grid();
    const std::string first = dir.File("first.log"), second = dir.File("second.log");
    QVERIFY(pane.Edit(kStrLogFile, QString::fromStdString(first)));
    QVERIFY(pane.Edit(kStrEnableLog, true));
    CCommandWnd* cmd = f.CommandWindow();
    SelectCommand(*cmd, "ProtectFlash");
    cmd->Send();
    QTRY_VERIFY(!cmd->IsWaiting());
    QTRY_VERIFY(Traffic(*w).contains("WARNING invalid size"));
    QCOMPARE(QString::fromStdString(ReadFile(first)), Traffic(*w));

    QVERIFY(pane.Edit(kStrLogFile, QString::fromStdString(second)));
    QCOMPARE(pane.Find(kStrEnableLog)->ValueText(), QString("False"));
    const std::string logged = ReadFile(first);
    cmd->Send();
    QTRY_VERIFY(!cmd->IsWaiting());
    QTRY_COMPARE(Traffic(*w).count("WARNING invalid size"), 2);
    QCOMPARE(ReadFile(first), logged);
    QVERIFY(!std::ifstream(second).good());

    QVERIFY(pane.Edit(kStrEnableLog, true));
    cmd->Send();
    QTRY_VERIFY(!cmd->IsWaiting());
    QTRY_COMPARE(Traffic(*w).count("WARNING invalid size"), 3);
    QVERIFY(QString::fromStdString(ReadFile(second)).startsWith("TX->EC 02 ED 00 \r\n"));
}

void ConsoleWindowsTest::invalidPaneEditRefusesTheRequest()
{
    CTempDir dir;
    CConsoleFixture f(dir);
    CChildFrame_MC* w = f.OpenConnected("Crate 1");
    QVERIFY(w);
    CPropertyGrid& pane = f.frame->PropertiesPane().Grid();
    QVERIFY(pane.Edit(CPortIO_Socket::kPort, 70000));
    QVERIFY(pane.Find(CPortIO_Socket::kPort)->IsModified());
    CCommandWnd* cmd = f.CommandWindow();
    SelectCommand(*cmd, "ProtectFlash");
    cmd->Send();
    QVERIFY(!cmd->IsWaiting());
    QVERIFY(f.Events().contains("Crate 1> Invalid Parameter\r\n"));
    QTest::qWait(200);
    QVERIFY(!Traffic(*w).contains("TX->"));
}

void ConsoleWindowsTest::rawCommandEntriesKeepOneEmptyEntryAtTheEnd()
{
    CTempDir dir;
    CConsoleFixture f(dir);
    CChildFrame_MC* w = f.OpenConnected("Crate 1");
    QVERIFY(w);
    CCommandWnd* cmd = f.CommandWindow();
    SelectCommand(*cmd, "     RAW COMMAND");
    CPropertyGrid& grid = cmd->Grid();
    auto entries = [&grid] {
        QStringList shown;
        for (int id = kStrRawData; grid.Find(id); ++id)
            shown << grid.Find(id)->ValueText();
        return shown;
    };
    QCOMPARE(entries(), QStringList{""});
    QCOMPARE(grid.Find(kStrRawData)->Name(), QString("[0]"));
    QCOMPARE(grid.Find(kStrRawData)->Description(), QString("Use 0x for hex value"));
    QVERIFY(grid.Edit(kStrRawData, "0xED"));
    QVERIFY(grid.Edit(kStrRawData + 1, "1"));
    QVERIFY(grid.Edit(kStrRawData + 2, "0x177"));  // the low 8 bits
    QCOMPARE(entries(), (QStringList{"0xED", "1", "0x177", ""}));
    QVERIFY(grid.Edit(kStrRawData + 2, ""));  // cleared before the empty last entry
    QCOMPARE(entries(), (QStringList{"0xED", "1", ""}));
    QVERIFY(grid.Edit(kStrWaitReply, false));
    cmd->Send();
    QTRY_VERIFY(Traffic(*w).contains("TX->ED 01 \r\n"));
    // Shown in decimal from the buffer once sent.
    QCOMPARE(entries(), (QStringList{"237", "1", ""}));
}

void ConsoleWindowsTest::globalSendPropertiesAreSharedByCommandWindows()
{
    CTempDir dir;
    CConsoleFixture f(dir);
    CCommandWnd* first = f.CommandWindow();
    QVERIFY(first);
    auto* second = qobject_cast<CCommandWnd*>(f.frame->NewCommandWindow());
    QVERIFY(second && first->UsesGlobal() && second->UsesGlobal());
    QVERIFY(first->Grid().Edit(kStrCmdTimeout, 2500));
    QCOMPARE(second->Grid().Find(kStrCmdTimeout)->Value().toLongLong(), 2500);
    QVERIFY(second->Grid().Edit(kStrCmdTimeout, 700));
    QCOMPARE(first->Grid().Find(kStrCmdTimeout)->Value().toLongLong(), 700);

    // A window on its own properties keeps them.
    second->ToggleGlobal();
    QVERIFY(second->Grid().Edit(kStrCmdTimeout, 50));
    QCOMPARE(first->Grid().Find(kStrCmdTimeout)->Value().toLongLong(), 700);
    second->ToggleGlobal();
    QCOMPARE(second->Grid().Find(kStrCmdTimeout)->Value().toLongLong(), 700);
}

void ConsoleWindowsTest::closedTargetFallsBackToActiveWindow()
{
    CTempDir dir;
    CConsoleFixture f(dir);
    CChildFrame_MC* one = f.OpenConnected("Crate 1");
    CChildFrame_MC* two = f.OpenConnected("Crate 2");
    QVERIFY(one && two);
    CCommandWnd* cmd = f.CommandWindow();
    CGridProperty* choice = cmd->Grid().Find(kStrActiveWindow);
    QVERIFY(choice);
    QVERIFY(cmd->Grid().Edit(kStrActiveWindow, "Crate 1"));
    QCOMPARE(cmd->Target(), static_cast<CChildFrame*>(one));

    // Sent to its target although "Crate 2" is the active window.
    SelectCommand(*cmd, "ProtectFlash");
    cmd->Send();
    QTRY_VERIFY(!cmd->IsWaiting());
    QTRY_VERIFY(Traffic(*one).contains("TX->EC 00 ED 00 \r\n"));
    QVERIFY(!Traffic(*two).contains("TX->"));

    one->close();
    QCOMPARE(cmd->Target(), static_cast<CChildFrame*>(nullptr));
    QCOMPARE(cmd->Grid().Find(kStrActiveWindow)->ValueText(), QString("Active Window"));
    cmd->Send();
    QTRY_VERIFY(!cmd->IsWaiting());
    QTRY_VERIFY(Traffic(*two).contains("TX->EC 00 ED 00 \r\n"));
}

void ConsoleWindowsTest::paneShowsTheLinkParametersByTheirRules()
{
    CTempDir dir;
    CConsoleFixture f(dir);
    CChildFrame_MC* w = f.Open("Crate 1");
    QVERIFY(w);
    CPropertiesWnd& pane = f.frame->PropertiesPane();
    CPropertyGrid& grid = pane.Grid();
    QCOMPARE(pane.Combo().currentText(), QString("TCP/IP Port"));
    QVERIFY(pane.Combo().isEnabled());
    CGridProperty* host = grid.Find(CPortIO_Socket::kHost);
    CGridProperty* sector = grid.Find(CPortMC_Tcp::kSector);
    QVERIFY(host && sector);
    QVERIFY(!host->isHidden() && !host->isDisabled());
    QVERIFY(sector->isHidden());

    QVERIFY(grid.Edit(CPortMC_Tcp::kCcbIdMode, 1));
    QVERIFY(host->isHidden());
    QVERIFY(!sector->isHidden());
    QVERIFY(grid.Edit(CPortMC_Tcp::kPortType, 2));
    QCOMPARE(sector->Options().back().first, QString("S12 bridge"));
    QVERIFY(grid.Edit(CPortMC_Tcp::kPortType, 3));
    QCOMPARE(sector->Options().front().first, QString("S1 bridge"));
    QVERIFY(grid.Edit(CPortMC_Tcp::kCcbIdMode, 0));

    QVERIFY(w->Connect());
    QVERIFY(w->Engine().Link().WaitUntilOpen(5000));
    QTRY_VERIFY(host->isDisabled());
    QVERIFY(!pane.Combo().isEnabled());
    QVERIFY(!w->ToolbarCommandState(kCmdConnect).enabled);
    QVERIFY(w->ToolbarCommandState(kCmdDisconnect).enabled);
    w->Disconnect();
    QTRY_VERIFY(!host->isDisabled());
    QVERIFY(w->ToolbarCommandState(kCmdConnect).enabled);
}

void ConsoleWindowsTest::profileAndCommandWindowStateAreSaved()
{
    CTempDir dir;
    {
        CConsoleFixture f(dir);
        CChildFrame_MC* w = f.Open("Crate 1");
        QVERIFY(w);
        CPropertyGrid& pane = f.frame->PropertiesPane().Grid();
        QVERIFY(pane.Edit(kStrPrintTX, false));
        QVERIFY(pane.Edit(CPortMC_Tcp::kTimeout, 350));
        QVERIFY(w->SaveSettings());
        CCommandWnd* cmd = f.CommandWindow();
        SelectCommand(*cmd, "Power");
        QVERIFY(cmd->Grid().Edit(Argument(*cmd, "device")->Id(), "TRB7"));
        QVERIFY(cmd->Grid().Edit(kStrCmdTimeout, 1234));
        f.frame->close();
    }
    CQtSettings settings(QString::fromStdString(dir.File("Telvane.ini")));
    CSettingsStoreEx store(settings, true);
    QVERIFY(store.Open(ProfileSection(kStatePath, "Crate 1")));
    int32_t value = -1;
    QVERIFY(store.Read("PrintTX", value));
    QCOMPARE(value, 0);
    QVERIFY(store.Read("Timeout", value));
    QCOMPARE(value, 350);
    std::string text;
    QVERIFY(store.Read("Host", text));
    QCOMPARE(text, std::string("127.0.0.1"));

    QVERIFY(store.Open(CommandWindowSection(kStatePath, kFirstCommandWindowId)));
    QVERIFY(store.Read("CmdName", text));
    QCOMPARE(text, std::string("Power"));
    std::vector<std::string> args;
    QVERIFY(store.Read("Args", args));
    QCOMPARE(args, (std::vector<std::string>{"TRB7", "OFF"}));
    std::vector<uint8_t> bytes;
    QVERIFY(store.Read("gSendProp", bytes));
    QCOMPARE(bytes.size(), size_t{12});
    SendProperties saved;
    std::memcpy(&saved, bytes.data(), sizeof saved);
    QCOMPARE(saved.timeoutMs, 1234u);

    // Send properties of any other size are not taken.
    {
        CSettingsStoreEx writer(settings, false);
        QVERIFY(writer.CreateKey(CommandWindowSection(kStatePath, kFirstCommandWindowId)));
        QVERIFY(writer.Write("SendProp", std::vector<uint8_t>(11, 0xFF)));
        QVERIFY(writer.Write("Global", false));
    }
    CToolWindowRegistry registry;
    RegisterConsoleWindows(registry);
    CMainFrame frame(settings, registry, kExamples + "Cb_v126_cmd.dec",
                     {static_cast<uint32_t>(kFirstCommandWindowId)});
    frame.show();
    frame.Start();
    auto* cmd = qobject_cast<CCommandWnd*>(frame.CommandWindows().front());
    QVERIFY(cmd);
    QCOMPARE(cmd->windowTitle(), QString("Power Command"));
    QCOMPARE(Argument(*cmd, "device")->ValueText(), QString("TRB7"));
    QVERIFY(!cmd->UsesGlobal());
    QCOMPARE(cmd->Properties().timeoutMs, SendProperties{}.timeoutMs);
}

void ConsoleWindowsTest::spyWatchesAConnectionWindowUntilEitherCloses()
{
    CTempDir dir;
    CConsoleFixture f(dir);
    CChildFrame_MC* w = f.OpenConnected("Crate 1");
    QVERIFY(w);
    auto openSpy = [&](const std::string& name) {
        {
            CSettingsStoreEx store(f.settings, false);
            store.CreateKey(ProfileSection(kStatePath, name));
            store.Write("DecodeFile", kExamples + "Cb_v126.dec");
        }
        return static_cast<CChildFrame_Spy*>(f.frame->OpenToolWindow(kCmdSpy, name));
    };
    CChildFrame_Spy* first = openSpy("Spy 1");
    CChildFrame_Spy* second = openSpy("Spy 2");
    QVERIFY(first && second);
    QCOMPARE(first->Choices(), (std::vector<std::string>{"No Connection", "Crate 1"}));
    first->WatchWindow("Crate 1");
    second->WatchWindow("Crate 1");
    QCOMPARE(first->Watched(), static_cast<CChildFrame*>(w));
    CFifoWrList& tap = w->Engine().Tap();
    for (CChildFrame_Spy* spy : {first, second}) {
        QVERIFY(tap.Contains(_MCDATA::kSent, spy->Writer()));
        QVERIFY(tap.Contains(_MCDATA::kReceived, spy->Writer()));
    }

    _MCDATA request;
    request.status = 1000;
    request.waitReply = 1;
    request.length = 2;
    request.bytes[0] = 0xED;
    request.bytes[1] = 0x01;
    QVERIFY(w->QueueRequest(nullptr, request));
    const QString exchange = "ED 01 \r\nRX->Data decoded code=0xFC\r\n";
    for (CChildFrame_Spy* spy : {first, second}) {
        const bool seen = QTest::qWaitFor([&] {
            spy->Box().Flush();
            return QString::fromStdString(spy->Box().Lines().Text()).contains("TX->EC 00 " + exchange);
        });
        QVERIFY2(seen, spy->Box().Lines().Text().c_str());
    }

    // The spy closes: its writer leaves both lists, the window goes on.
    CSpyWriter* firstWriter = first->Writer();
    first->close();
    QVERIFY(!tap.Contains(_MCDATA::kSent, firstWriter));
    QVERIFY(!tap.Contains(_MCDATA::kReceived, firstWriter));
    QVERIFY(tap.Contains(_MCDATA::kSent, second->Writer()));
    QVERIFY(w->QueueRequest(nullptr, request));
    QVERIFY(QTest::qWaitFor([&] {
        second->Box().Flush();
        return QString::fromStdString(second->Box().Lines().Text()).count(exchange) == 2;
    }));

    // The watched window closes: the other spy leaves it and watches nothing.
    CSpyWriter* secondWriter = second->Writer();
    w->close();
    QVERIFY(!tap.Contains(_MCDATA::kSent, secondWriter));
    QVERIFY(!tap.Contains(_MCDATA::kReceived, secondWriter));
    QCOMPARE(second->Watched(), nullptr);
    QCOMPARE(second->Choices(), std::vector<std::string>{"No Connection"});
}

QTEST_MAIN(ConsoleWindowsTest)
#include "ConsoleWindowsTest.moc"
