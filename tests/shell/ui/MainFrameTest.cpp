#include "GuiSupport.h"
#include "shell/Profiles.h"
#include "shell/SettingsStore.h"
#include "shell/ui/AppLook.h"
#include "shell/ui/CommandDock.h"
#include "shell/ui/MainFrame.h"
#include "shell/ui/OutputWnd.h"
#include "shell/ui/QtSettings.h"
#include "shell/ui/RateList.h"
#include "shell/ui/SelProfileDlg.h"
#include "shell/ui/TelvaneApp.h"
#include "support/TempDir.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMdiArea>
#include <QTest>

#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>

namespace {

const char* kCommands = "#define Ping 0x10\nstruct Ping {\n char n;\n};\n";

void Touch(const std::string& path, long seconds)
{
    struct stat st {};
    QVERIFY(stat(path.c_str(), &st) == 0);
    timespec times[2] = {st.st_atim, st.st_mtim};
    times[1].tv_sec += seconds;
    QVERIFY(utimensat(AT_FDCWD, path.c_str(), times, 0) == 0);
}

QStringList ComboItems(QComboBox& combo)
{
    QStringList items;
    for (int i = 0; i < combo.count(); ++i)
        items << combo.itemText(i);
    return items;
}

// A main frame on a settings file of the test's own, with the test window
// kind behind "&New".
struct CFrameFixture {
    explicit CFrameFixture(const CTempDir& dir, std::vector<uint32_t> commandWindows = {})
        : settings(QString::fromStdString(dir.File("Telvane.ini")))
    {
        registry.Add(kCmdNewConnection, "&New", [this](CMainFrameServices& f, const std::string& name) {
            return new CTestWindow(f, name, log);
        });
        frame = std::make_unique<CMainFrame>(settings, registry, "", commandWindows);
        frame->show();
    }
    CTestWindow* Open(const std::string& name)
    {
        return static_cast<CTestWindow*>(frame->OpenToolWindow(kCmdNewConnection, name));
    }
    QString Events() { return QString::fromStdString(frame->Output().MainEvents().Lines().Text()); }

    std::vector<std::string> log;
    CQtSettings settings;
    CToolWindowRegistry registry;
    std::unique_ptr<CMainFrame> frame;
};

}  // namespace

class MainFrameTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void profileInUseInAnotherLetterCaseIsRefused();
    void profileWithSeparatorIsRefusedInTheDialog();
    void nestedProfileIsDeletedWhole();
    void narrowValuesRoundTripThroughTheIniFile();
    void commandWindowTakesTheSmallestFreeId();
    void editedCommandFileAsksToReloadOnce();
    void failedCommandFileLoadLeavesOnlyRawCommand();
    void paneEditsAreCommittedBeforeThePaneChangesOwner();
    void closingAToolWindowTellsTheOthers();
    void toolWindowPrintsWithItsPrefixAndSavesItsProfile();
    void layoutAndLookAreRestoredAfterARestart();
    void startUpReadsTheCommandFileAndCommandWindows();
};

void MainFrameTest::profileInUseInAnotherLetterCaseIsRefused()
{
    CTempDir dir;
    CFrameFixture f(dir);
    QVERIFY(f.Open("Crate 1"));
    QString refusal;
    OnNextModal([&](QWidget* dialog) {
        auto* profile = qobject_cast<CSelProfileDlg*>(dialog);
        QVERIFY(profile);
        profile->NameField().setText("cRATE 1");
        OnNextModal([&](QWidget* box) { refusal = AnswerMessageBox(box, QMessageBox::Ok); });
        profile->accept();
    });
    QVERIFY(!f.frame->OpenToolWindow(kCmdNewConnection));
    QCOMPARE(refusal, QString("Name Already in use"));
    QCOMPARE(f.frame->ToolWindows().size(), size_t{1});
    QVERIFY(!f.settings.GroupExists("Workspace/Profiles/cRATE 1"));
}

void MainFrameTest::profileWithSeparatorIsRefusedInTheDialog()
{
    CTempDir dir;
    CQtSettings settings(QString::fromStdString(dir.File("Telvane.ini")));
    CSelProfileDlg dialog(settings, kStatePath, "");
    dialog.show();
    QString message;
    OnNextModal([&](QWidget* box) { message = AnswerMessageBox(box, QMessageBox::Ok); });
    dialog.NameField().setText("Crates/1");
    dialog.accept();
    QVERIFY(message.contains("'/'"));
    QVERIFY(dialog.isVisible());
    dialog.NameField().setText("   ");
    dialog.accept();  // an empty name does nothing
    QVERIFY(dialog.isVisible());
    dialog.NameField().setText(" Crate 2 ");
    dialog.accept();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.Name(), std::string("Crate 2"));
}

void MainFrameTest::nestedProfileIsDeletedWhole()
{
    CTempDir dir;
    QString ini = QString::fromStdString(dir.File("Telvane.ini"));
    {
        CQtSettings settings(ini);
        CSettingsStore store(settings, false);
        for (const char* section : {"Workspace/Profiles/A/", "Workspace/Profiles/A/Links/1/", "Workspace/Profiles/B/"}) {
            QVERIFY(store.CreateKey(section));
            QVERIFY(store.Write("Value", 1));
        }
    }
    CQtSettings settings(ini);
    CSelProfileDlg dialog(settings, kStatePath, "");
    QCOMPARE(dialog.List().count(), 2);
    QListWidgetItem* a = dialog.List().item(0);
    QCOMPARE(a->text(), QString("A"));

    QString question;
    OnNextModal([&](QWidget* box) { question = AnswerMessageBox(box, QMessageBox::Cancel); });
    dialog.DeleteEntry(a);
    QCOMPARE(question, QString("Delete Profile A?"));
    QCOMPARE(dialog.List().count(), 2);

    OnNextModal([&](QWidget* box) { AnswerMessageBox(box, QMessageBox::Ok); });
    dialog.DeleteEntry(dialog.List().item(0));
    QCOMPARE(dialog.List().count(), 1);
    QCOMPARE(dialog.List().item(0)->text(), QString("B"));
    CQtSettings fresh(ini);
    QVERIFY(!fresh.GroupExists("Workspace/Profiles/A/Links/1"));
    QVERIFY(!fresh.GroupExists("Workspace/Profiles/A"));
    QVERIFY(fresh.GroupExists("Workspace/Profiles/B"));
}

void MainFrameTest::narrowValuesRoundTripThroughTheIniFile()
{
    CTempDir dir;
    QString ini = QString::fromStdString(dir.File("Telvane.ini"));
    {
        CQtSettings settings(ini);
        CSettingsStoreEx store(settings, false);
        QVERIFY(store.CreateKey("Workspace/Profiles/ZOra 1/"));
        QVERIFY(store.Write("PU_Mode", uint8_t{200}));
        QVERIFY(store.Write("PU_BaseAddr", uint16_t{65535}));
        QVERIFY(store.Write("State", std::vector<uint8_t>{0, 0x0A, 0xFF}));
        QVERIFY(store.Write("CommandList", std::vector<uint32_t>{600}));
    }
    CQtSettings settings(ini);
    CSettingsStoreEx store(settings, true);
    QVERIFY(store.Open("Workspace/Profiles/ZOra 1/"));
    uint8_t mode = 0;
    uint16_t base = 0;
    std::vector<uint8_t> state;
    std::vector<uint32_t> list;
    QVERIFY(store.Read("PU_Mode", mode));
    QVERIFY(store.Read("PU_BaseAddr", base));
    QVERIFY(store.Read("State", state));
    QVERIFY(store.Read("CommandList", list));
    QCOMPARE(int(mode), 200);
    QCOMPARE(int(base), 65535);
    QVERIFY((state == std::vector<uint8_t>{0, 0x0A, 0xFF}));
    QVERIFY((list == std::vector<uint32_t>{600}));
}

void MainFrameTest::commandWindowTakesTheSmallestFreeId()
{
    CTempDir dir;
    CFrameFixture f(dir, {600, 602});
    QCOMPARE(f.frame->CommandWindows().size(), size_t{2});
    QCOMPARE(f.frame->NewCommandWindow()->Id(), 601);
    QCOMPARE(f.frame->NewCommandWindow()->Id(), 603);
    QCOMPARE(f.frame->CommandWindows()[2]->objectName(), QString("Command-601"));
}

void MainFrameTest::editedCommandFileAsksToReloadOnce()
{
    CTempDir dir;
    std::string path = dir.File("cmd.dec");
    std::ofstream(path) << kCommands;
    CFrameFixture f(dir);
    QVERIFY(f.frame->LoadCommandFile(path));
    QCOMPARE(f.frame->CommandWindows().size(), size_t{1});  // made for the first good load

    int questions = 0;
    QString question;
    OnNextModal(
        [&](QWidget* box) {
            ++questions;
            question = AnswerMessageBox(box, QMessageBox::Ok);
        },
        3000);
    QElapsedTimer clock;
    clock.start();
    Touch(path, 5);
    QTRY_COMPARE_WITH_TIMEOUT(questions, 1, 3000);
    QVERIFY2(clock.elapsed() < 2500, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(question, QString("Command File Modified\n\nReload ?"));
    QTRY_COMPARE(f.Events().count("Read Commands Success"), 2);

    // Cancel: no more questions until the next load.
    OnNextModal([&](QWidget* box) {
        ++questions;
        AnswerMessageBox(box, QMessageBox::Cancel);
    });
    Touch(path, 10);
    QTRY_COMPARE_WITH_TIMEOUT(questions, 2, 3000);
    Touch(path, 20);
    int asked = 0;
    OnNextModal([&](QWidget* box) {
        ++asked;
        AnswerMessageBox(box, QMessageBox::Cancel);
    }, 2500);
    QTest::qWait(2600);
    QCOMPARE(asked, 0);
    QCOMPARE(f.Events().count("Read Commands Success"), 2);
}

void MainFrameTest::failedCommandFileLoadLeavesOnlyRawCommand()
{
    CTempDir dir;
    std::string good = dir.File("good.dec"), bad = dir.File("bad.dec");
    std::ofstream(good) << kCommands;
    std::ofstream(bad) << "struct Ping {\n";
    CFrameFixture f(dir, {600});
    f.frame->NewCommandWindow();
    QVERIFY(f.frame->LoadCommandFile(good));
    for (CCommandDock* dock : f.frame->CommandWindows())
        QCOMPARE(ComboItems(dock->CommandList()), (QStringList{"     RAW COMMAND", "Ping"}));
    QVERIFY(!f.frame->LoadCommandFile(bad));
    QVERIFY(f.Events().contains("Loading Commands file: " + QString::fromStdString(bad) + "\r\n"));
    QVERIFY(!f.frame->CommandTables());
    for (CCommandDock* dock : f.frame->CommandWindows()) {
        QCOMPARE(ComboItems(dock->CommandList()), QStringList{"     RAW COMMAND"});
        QCOMPARE(dock->CommandList().currentIndex(), 0);
    }
}

void MainFrameTest::paneEditsAreCommittedBeforeThePaneChangesOwner()
{
    CTempDir dir;
    CFrameFixture f(dir);
    CTestWindow* a = f.Open("A");
    CTestWindow* b = f.Open("B");
    QVERIFY(a && b);
    QCOMPARE(f.frame->PropertiesPane().Owner(), static_cast<CPaneOwner*>(b));

    f.frame->MdiArea().setActiveSubWindow(a);
    QCOMPARE(f.frame->PropertiesPane().Owner(), static_cast<CPaneOwner*>(a));
    CPropertyGrid& grid = f.frame->PropertiesPane().Grid();
    QVERIFY(grid.Edit(CTestWindow::kTimeout, QString("0x20")));
    QVERIFY(grid.Edit(CTestWindow::kHost, QString("crate7")));
    QVERIFY(grid.Find(CTestWindow::kTimeout)->IsModified());
    QCOMPARE(a->timeout, 1000);  // not yet committed

    f.log.clear();
    f.frame->MdiArea().setActiveSubWindow(b);
    QCOMPARE(a->timeout, 32);
    QCOMPARE(a->host, std::string("crate7"));
    QVERIFY((f.log == std::vector<std::string>{"A commit", "B build", "B refresh"}));
    QVERIFY(!grid.Find(CTestWindow::kTimeout)->IsModified());
    QCOMPARE(grid.Find(CTestWindow::kTimeout)->ValueText(), QString("1000"));
}

void MainFrameTest::closingAToolWindowTellsTheOthers()
{
    CTempDir dir;
    CFrameFixture f(dir);
    CTestWindow* a = f.Open("A");
    CTestWindow* b = f.Open("B");
    QCOMPARE(f.frame->Output().RateList().Lines().size(), size_t{2});
    QVERIFY(b->close());
    QVERIFY((f.frame->ToolWindows() == std::vector<CChildFrame*>{a}));
    QCOMPARE(a->closedOthers.size(), size_t{1});
    QCOMPARE(f.frame->Output().RateList().Lines().size(), size_t{1});
    QCOMPARE(f.frame->PropertiesPane().Owner(), static_cast<CPaneOwner*>(a));
    QVERIFY(a->close());
    QVERIFY(f.frame->ToolWindows().empty());
    QVERIFY(!f.frame->PropertiesPane().Owner());
}

void MainFrameTest::toolWindowPrintsWithItsPrefixAndSavesItsProfile()
{
    CTempDir dir;
    {
        CFrameFixture f(dir);
        CTestWindow* w = f.Open("Crate 1");
        QCOMPARE(w->Print("Open Error: %d\r\n", 6), int(strlen("Crate 1> Open Error: 6\r\n")));
        f.frame->Output().MainEvents().Flush();
        QVERIFY(f.Events().contains("Crate 1> Open Error: 6\r\n"));
        QVERIFY(f.frame->PropertiesPane().Grid().Edit(CTestWindow::kEnabled, false));
        QVERIFY(w->SaveSettings());  // commits the pane first
        QCOMPARE(w->enabled, false);
    }
    CFrameFixture f(dir);
    CTestWindow* fresh = f.Open("Crate 2");
    QCOMPARE(fresh->enabled, true);  // a new profile keeps the defaults
    CTestWindow* same = f.Open("Crate 1");
    QCOMPARE(same->enabled, false);
    QCOMPARE(same->timeout, 1000);
}

void MainFrameTest::layoutAndLookAreRestoredAfterARestart()
{
    CTempDir dir;
    {
        CFrameFixture f(dir, {600});
        f.frame->SetLook(216);
        f.frame->addDockWidget(Qt::LeftDockWidgetArea, &f.frame->Output());
        f.frame->PropertiesPane().hide();
        QVERIFY(f.frame->close());
    }
    ApplyLook(kDefaultLook);
    QColor light = QApplication::palette().color(QPalette::Window);
    CFrameFixture f(dir);
    QCOMPARE(f.frame->Look(), 216);
    QVERIFY(f.frame->Action(216)->isChecked());
    QColor dark = QApplication::palette().color(QPalette::Window);
    QVERIFY2(dark.lightness() + 100 < light.lightness(), "the black look is visibly darker");
    QCOMPARE(f.frame->dockWidgetArea(&f.frame->Output()), Qt::LeftDockWidgetArea);
    QVERIFY(f.frame->PropertiesPane().isHidden());
    ApplyLook(kDefaultLook);
}

void MainFrameTest::startUpReadsTheCommandFileAndCommandWindows()
{
    CTempDir dir;
    std::ofstream(dir.File(kDefaultCommandFile)) << kCommands;
    QString ini = QString::fromStdString(dir.File("Telvane.ini"));
    CToolWindowRegistry registry;
    auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    {
        // Nothing saved yet: no command file, so the load fails.
        CQtSettings settings(ini);
        CTelvaneApp app(settings, registry);
        CMainFrame& frame = app.Start();
        QVERIFY(!frame.CommandFile().IsLoaded());
        QVERIFY(frame.CommandWindows().empty());
        frame.NewCommandWindow();
        frame.NewCommandWindow();
        QVERIFY(frame.close());
    }
    {
        // A saved state without "CommandFile" uses the default, made absolute.
        CQtSettings settings(ini);
        QVERIFY(settings.RemoveValue("Workspace", "CommandFile"));
        settings.Flush();
        CTelvaneApp app(settings, registry);
        CMainFrame& frame = app.Start();
        QVERIFY(frame.CommandFile().IsLoaded());
        QCOMPARE(frame.CommandFile().Path(), std::filesystem::canonical(dir.File(kDefaultCommandFile)).string());
        QCOMPARE(frame.CommandWindows().size(), size_t{2});
        QCOMPARE(frame.CommandWindows()[1]->Id(), 601);
        QVERIFY(frame.close());
    }
    std::filesystem::current_path(previous);
    CQtSettings settings(ini);
    CSettingsStore store(settings, true);
    QVERIFY(store.Open(kStatePath));
    std::string file;
    std::vector<uint32_t> ids;
    QVERIFY(store.Read("CommandFile", file));
    QVERIFY(store.Read("CommandList", ids));
    QCOMPARE(file, std::filesystem::canonical(dir.File(kDefaultCommandFile)).string());
    QVERIFY((ids == std::vector<uint32_t>{600, 601}));
}

QTEST_MAIN(MainFrameTest)
#include "MainFrameTest.moc"
