// The server and spy windows in a main frame, offscreen, with the simulated
// crate behind the server and real TCP clients on 127.0.0.1.

#include "links/PortMCFrame.h"
#include "ports/PortTestUtil.h"
#include "relay/ui/ChildFrameServer.h"
#include "relay/ui/ChildFrameSpy.h"
#include "relay/ui/RelayWindows.h"
#include "shell/Profiles.h"
#include "shell/ui/MainFrame.h"
#include "shell/ui/OutBox.h"
#include "shell/ui/OutputWnd.h"
#include "shell/ui/QtSettings.h"
#include "shell/ui/RateList.h"
#include "sim/SimSystem.h"
#include "support/TempDir.h"

#include <QComboBox>
#include <QTest>

namespace {

using porttest::Fd;

const std::string kDecodeFile = std::string(TELVANE_SOURCE_DIR) + "/examples/Cb_v126.dec";

SimConfig OneCrate()
{
    SimConfig c;
    c.crates = {{0, 1, 1, 101, 0, 0x00010019}};
    c.crateServer = false;
    c.secondaryServer = false;
    c.secondaryBus = false;
    return c;
}

// One status request (0xEA) with the sequence header, and its answer.
bool Status(const Fd& fd, uint8_t sequence)
{
    const uint8_t payload[] = {0xEC, sequence, 0xEA};
    const auto head = mcframe::BuildTcpHead(101, sizeof payload, 1000);
    uint8_t frame[12 + sizeof payload];
    std::copy(head.begin(), head.end(), frame);
    std::copy(payload, payload + sizeof payload, frame + 12);
    uint8_t answer[12];
    if (!porttest::WriteAll(fd.get(), frame, sizeof frame) || !porttest::ReadAll(fd.get(), answer, sizeof answer))
        return false;
    std::vector<uint8_t> rest(((answer[4] << 24) | (answer[5] << 16) | (answer[6] << 8) | answer[7]) - 12);
    return porttest::ReadAll(fd.get(), rest.data(), rest.size()) && rest.size() > 3 && rest[1] == sequence &&
           rest[2] == 0x13;
}

QStringList LineTitles(CRateListCtrl& list)
{
    QStringList titles;
    for (int i = 0; i < list.topLevelItemCount(); ++i)
        titles << list.topLevelItem(i)->text(0);
    return titles;
}

QString Title(const Fd& fd) { return QString("127.0.0.1:%1").arg(porttest::LocalPort(fd.get())); }

struct CFixture {
    CFixture() : settings(QString::fromStdString(dir.File("Telvane.ini")))
    {
        RegisterRelayWindows(registry);
        frame = std::make_unique<CMainFrame>(settings, registry, "", std::vector<uint32_t>{});
        frame->show();
        QVERIFY(sim.Start());
    }
    ~CFixture()
    {
        frame->close();
        frame.reset();
    }

    // A server window on the simulated primary bus, listening on loopback.
    CChildFrame_Server* OpenServer(const std::string& name)
    {
        {
            CSettingsStore store(settings, false);
            store.CreateKey(ProfileSection(kStatePath, name));
            store.Write("IOType", 1);
            store.Write("ComName", sim.PrimaryBusPath());
            store.Write("ServerPort", 0);
            store.Write("BindAddress", std::string("127.0.0.1"));
        }
        auto* w = static_cast<CChildFrame_Server*>(frame->OpenToolWindow(kCmdServer, name));
        return w;
    }
    CChildFrame_Spy* OpenSpy(const std::string& name)
    {
        {
            CSettingsStore store(settings, false);
            store.CreateKey(ProfileSection(kStatePath, name));
            store.Write("DecodeFile", kDecodeFile);
        }
        return static_cast<CChildFrame_Spy*>(frame->OpenToolWindow(kCmdSpy, name));
    }
    QString Events() { return QString::fromStdString(frame->Output().MainEvents().Lines().Text()); }

    CTempDir dir;
    CQtSettings settings;
    CToolWindowRegistry registry;
    std::unique_ptr<CMainFrame> frame;
    CSimSystem sim{OneCrate()};
};

}  // namespace

class RelayWindowsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void serverWindowListsItsClientsAndClosesOne();
    void spyOnTheServerPrintsDecodedRecords();
    void serverProfileKeepsTheLinkAndAccessSettings();
};

void RelayWindowsTest::serverWindowListsItsClientsAndClosesOne()
{
    CFixture f;
    CChildFrame_Server* server = f.OpenServer("Server YB0");
    QVERIFY(server);
    QCOMPARE(f.frame->PropertiesPane().Combo().currentText(), QString("COM Port Primary"));
    QVERIFY(f.frame->PropertiesPane().Grid().Find(CRelaySettings::kAllowClients));
    QVERIFY(server->ToolbarCommandState(CChildFrame_Server::kCmdConnect).enabled);
    server->OnToolbarCommand(CChildFrame_Server::kCmdConnect);
    QVERIFY(server->Server().IsConnected());
    QVERIFY(QTest::qWaitFor([&] { return server->ToolbarCommandState(CChildFrame_Server::kCmdDisconnect).enabled; }));
    QVERIFY(!server->ToolbarCommandState(CChildFrame_Server::kCmdConnect).enabled);

    const uint16_t port = server->Server().ListeningPort();
    Fd a = porttest::ConnectTo(port), b = porttest::ConnectTo(port);
    QVERIFY(Status(a, 1));
    QVERIFY(Status(b, 2));
    QVERIFY(QTest::qWaitFor([&] { return server->ClientList().topLevelItemCount() == 2; }));
    QCOMPARE(LineTitles(server->ClientList()), (QStringList{Title(a), Title(b)}));
    QVERIFY(QTest::qWaitFor([&] { return f.Events().contains("Server YB0> Client " + Title(b) + " connected"); }));

    server->CloseClientAt(0);
    QVERIFY(QTest::qWaitFor([&] { return server->ClientList().topLevelItemCount() == 1; }, 3000));
    QCOMPARE(LineTitles(server->ClientList()), QStringList{Title(b)});
    QVERIFY(Status(b, 3));

    server->OnToolbarCommand(CChildFrame_Server::kCmdDisconnect);
    QCOMPARE(server->ClientList().topLevelItemCount(), 0);
    QVERIFY(QTest::qWaitFor([&] { return f.Events().contains("Server YB0> Disconnected\r\n"); }));
}

void RelayWindowsTest::spyOnTheServerPrintsDecodedRecords()
{
    CFixture f;
    CChildFrame_Server* server = f.OpenServer("Server YB0");
    QVERIFY(server && server->Connect());
    CChildFrame_Spy* spy = f.OpenSpy("Spy YB0");
    QVERIFY(spy);
    QCOMPARE(spy->Choices(), (std::vector<std::string>{"No Connection", "Server YB0"}));
    QComboBox& combo = f.frame->PropertiesPane().Combo();
    QCOMPARE(combo.count(), 2);
    combo.setCurrentIndex(1);
    Q_EMIT combo.activated(1);
    QCOMPARE(spy->Watched(), static_cast<CChildFrame*>(server));

    Fd client = porttest::ConnectTo(server->Server().ListeningPort());
    QVERIFY(Status(client, 7));
    QVERIFY(QTest::qWaitFor([&] {
        spy->Box().Flush();
        return QString::fromStdString(spy->Box().Lines().Text()).contains("ccb_id=101");
    }));
    const QString text = QString::fromStdString(spy->Box().Lines().Text());
    QVERIFY2(text.startsWith("Reading decode file " + QString::fromStdString(kDecodeFile) + "\r\nRead Success\r\n"),
             qPrintable(text));
    QVERIFY2(text.contains("TX->EC 00 EA \r\nRX->Data decoded code=0x13\r\n"), qPrintable(text));

    // The watched window closes: the spy watches nothing, and says so.
    server->close();
    QVERIFY(QTest::qWaitFor([&] { return spy->Watched() == nullptr; }));
    QCOMPARE(spy->Choices(), std::vector<std::string>{"No Connection"});
}

void RelayWindowsTest::serverProfileKeepsTheLinkAndAccessSettings()
{
    CFixture f;
    CChildFrame_Server* server = f.OpenServer("Server YB1");
    QVERIFY(server);
    QVERIFY(server->Server().Settings().SetProperty("AllowClients", CVariant::FromString("10.0.0.0/8")));
    QVERIFY(server->Server().Settings().SetProperty("MaxClients", CVariant::FromInt(4)));
    server->RefreshPane();
    QVERIFY(server->SaveSettings());
    server->close();

    CChildFrame_Server* again = f.OpenServer("Server YB1");
    QVERIFY(again);
    CVariant v;
    QVERIFY(again->Server().Settings().GetProperty(CRelaySettings::kAllowClients, v));
    QCOMPARE(v.text(), std::string("10.0.0.0/8"));
    QVERIFY(again->Server().Settings().GetProperty(CRelaySettings::kMaxClients, v));
    QCOMPARE(v.number(), 4);
    QVERIFY(again->Server().Link().GetProperty(1, v));
    QCOMPARE(v.text(), f.sim.PrimaryBusPath());
    CSettingsStore store(f.settings, true);
    QVERIFY(store.Open(ProfileSection(kStatePath, "Server YB1")));
    int32_t left;
    QVERIFY(!store.Read("Bridge", left));
    QVERIFY(!store.Read("Dest. ID", left));
    QVERIFY(store.Read("ServerReplyTo", left));
    QCOMPARE(left, 5000);
}

QTEST_MAIN(RelayWindowsTest)
#include "RelayWindowsTest.moc"
