// The firmware update window on the offscreen platform, against simulated
// crates: Start with an empty list, three crates to "OK", Stop answered
// both ways.

#include "firmware/FirmTestSupport.h"
#include "firmware/ui/ChildFrame_Firmware.h"
#include "firmware/ui/FirmwareListCtrl.h"
#include "shell/ui/GuiSupport.h"
#include "shell/ui/MainFrame.h"
#include "shell/ui/OutBox.h"
#include "shell/ui/QtSettings.h"
#include "support/TempDir.h"

#include <QTest>

namespace {

struct CWindowFixture {
    explicit CWindowFixture(const CTempDir& dir) : settings(QString::fromStdString(dir.File("Telvane.ini")))
    {
        RegisterFirmwareWindows(registry);
        frame = std::make_unique<CMainFrame>(settings, registry, "", std::vector<uint32_t>{});
        frame->show();
        window = static_cast<CChildFrame_Firmware*>(frame->OpenToolWindow(kCmdFirmwareUpdate, "Firm"));
    }

    CQtSettings settings;
    CToolWindowRegistry registry;
    std::unique_ptr<CMainFrame> frame;
    CChildFrame_Firmware* window = nullptr;
};

std::unique_ptr<CSimSystem> StartCrates(int answerMs)
{
    SimConfig config;
    for (uint16_t id : {101, 102, 103})
        config.crates.push_back({0, 1, id - 100, id, 0, 0x00010019});
    config.timing = SimTiming{30, 1000, answerMs};
    config.secondaryServer = config.primaryBus = config.secondaryBus = false;
    auto sim = std::make_unique<CSimSystem>(config);
    return sim->Start() ? std::move(sim) : nullptr;
}

}  // namespace

class FirmwareWindowTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void startWithAnEmptyListSaysSo();
    void threeCratesRunToOk();
    void stopAsksBeforeAbortingAndClears();
};

void FirmwareWindowTest::startWithAnEmptyListSaysSo()
{
    CTempDir dir;
    CWindowFixture f(dir);
    QVERIFY(f.window);
    QString text;
    OnNextModal([&](QWidget* modal) { text = AnswerMessageBox(modal, QMessageBox::Ok); });
    f.window->Start();
    QCOMPARE(text, QString("Destination List is Empty"));
    QCOMPARE(f.window->List().topLevelItemCount(), 0);
}

void FirmwareWindowTest::threeCratesRunToOk()
{
    CTempDir dir;
    auto sim = StartCrates(0);
    QVERIFY(sim);
    CWindowFixture f(dir);
    WriteFile(dir.File("fw.s19"), SRecordText(0x80000, FlashBytes(2048, 0x0001001A)));
    _FIRMSETTINGS& s = f.window->Settings();
    s.getFirmwareFile = 1;
    s.firmwareFile = dir.File("fw.s19");
    s.destinations = {101, 102, 103};
    s.firmVerify = true;
    TcpTemplate(f.window->LinkTemplate(), sim->CrateServerPort());
    f.window->RefreshPane();
    f.window->Start();

    CFirmwareListCtrl& list = f.window->List();
    QCOMPARE(list.topLevelItemCount(), 4);
    QCOMPARE(list.topLevelItem(0)->text(0), QString("Load File"));
    QCOMPARE(list.topLevelItem(2)->text(0), QString("102"));
    QTRY_VERIFY_WITH_TIMEOUT(!f.window->Update().AnyUnfinished(), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(list.StateText(3), QString("OK"), 2000);
    for (int row = 0; row < 4; ++row)
        QCOMPARE(list.StateText(row), QString("OK"));
    for (uint16_t id : {101, 102, 103})
        QVERIFY(sim->Board(id)->Peek(0x80000, 2048) == FlashBytes(2048, 0x0001001A));
    f.window->Output().Flush();
    QVERIFY(f.window->Output().Lines().Text().find("Hex File Start 0x00080000 End 0x00080800") != std::string::npos);
}

void FirmwareWindowTest::stopAsksBeforeAbortingAndClears()
{
    CTempDir dir;
    auto sim = StartCrates(3);
    QVERIFY(sim);
    CWindowFixture f(dir);
    WriteFile(dir.File("big.s19"), SRecordText(0x80000, FlashBytes(128 * 1024, 0x0001001A)));
    _FIRMSETTINGS& s = f.window->Settings();
    s.getFirmwareFile = 1;
    s.firmwareFile = dir.File("big.s19");
    s.destinations = {101, 102, 103};
    TcpTemplate(f.window->LinkTemplate(), sim->CrateServerPort());
    f.window->RefreshPane();
    f.window->Start();
    QTRY_COMPARE_WITH_TIMEOUT(f.window->List().StateText(1), QString("Writing"), 10000);

    QString question;
    OnNextModal([&](QWidget* modal) { question = AnswerMessageBox(modal, QMessageBox::Cancel); });
    f.window->Stop();
    QCOMPARE(question, QString("Working Thread\n\n\nAbort all Thread ?"));
    QVERIFY(f.window->Update().AnyUnfinished());
    QCOMPARE(f.window->List().topLevelItemCount(), 4);

    OnNextModal([&](QWidget* modal) { question = AnswerMessageBox(modal, QMessageBox::Ok); });
    f.window->Stop();
    QVERIFY(!f.window->Update().AnyUnfinished());
    QCOMPARE(f.window->List().topLevelItemCount(), 0);
    QCOMPARE(f.window->Update().RowCount(), size_t{0});
    f.window->Output().Flush();
    const std::string text = f.window->Output().Lines().Text();
    QVERIFY(text.find("Disconnected") != std::string::npos);
}

QTEST_MAIN(FirmwareWindowTest)
#include "FirmwareWindowTest.moc"
