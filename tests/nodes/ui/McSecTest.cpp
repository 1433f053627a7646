// The node monitor window against the simulated CAN gateway: a read pass
// fills the grid and the graph; the marker annotation; the update's
// questions.

#include "shell/ui/GuiSupport.h"
#include "nodes/NodeGrid.h"
#include "nodes/ui/ChildFrame_McSec.h"
#include "nodes/ui/GraphPage.h"
#include "shell/ui/MainFrame.h"
#include "shell/ui/OutBox.h"
#include "shell/ui/QtSettings.h"
#include "shell/ui/ToolWindows.h"
#include "sim/SimCanSystem.h"
#include "support/TempDir.h"

#include <QChart>
#include <QLineSeries>
#include <QSignalSpy>
#include <QSlider>
#include <QTableWidget>
#include <QTest>

#include <memory>

class McSecTest : public QObject {
    Q_OBJECT

private:
    struct Fixture {
        Fixture()
            : settings(QString::fromStdString(dir.File("Telvane.ini")))
        {
            SimConfig none;
            none.crateServer = none.secondaryServer = none.primaryBus = none.secondaryBus = false;
            crates = std::make_unique<CSimSystem>(none);
            can = std::make_unique<CSimCanSystem>(*crates, SimCanConfig{});
            can->Start();
            RegisterNodeWindows(registry);
            frame = std::make_unique<CMainFrame>(settings, registry, "", std::vector<uint32_t>{});
            frame->show();
            window = static_cast<CChildFrame_McSec*>(frame->OpenToolWindow(kCmdMcSec, "Nodes"));
            CPortCAN_All& link = window->Monitor().Link();
            link.SetPropertyById(CPortCAN_All::kCANIOType, CVariant::FromInt(CPortCAN_All::kNode));
            link.SetProperty("Host", CVariant::FromString("127.0.0.1"));
            link.SetProperty("Port", CVariant::FromUInt16(can->GatewayPort()));
        }
        ~Fixture()
        {
            frame.reset();
            can.reset();
        }
        QTableWidgetItem* Cell(const char* label, int node)
        {
            for (int r = 0; r < kNodeGridRows; ++r)
                if (QString(kNodeGridLabels[static_cast<size_t>(r)]) == label)
                    return window->Grid().item(r + 1, node + 1);
            return nullptr;
        }

        CTempDir dir;
        CQtSettings settings;
        CToolWindowRegistry registry;
        std::unique_ptr<CSimSystem> crates;
        std::unique_ptr<CSimCanSystem> can;
        std::unique_ptr<CMainFrame> frame;
        CChildFrame_McSec* window = nullptr;
    };

private Q_SLOTS:
    void passFillsTheGridAndTheGraph()
    {
        Fixture f;
        QVERIFY(f.window);
        QTabWidget& tabs = f.window->Tabs();
        QStringList titles;
        for (int i = 0; i < tabs.count(); ++i)
            titles << tabs.tabText(i);
        QCOMPARE(titles, (QStringList{"Node", "Status", "Histograms", "Output"}));
        QTableWidget& grid = f.window->Grid();
        QCOMPARE(grid.rowCount(), 47);
        QCOMPARE(grid.columnCount(), 11);
        QCOMPARE(grid.item(0, 0)->text(), QString("Node"));
        QCOMPARE(grid.item(0, 10)->text(), QString("9"));
        QCOMPARE(grid.item(46, 0)->text(), QString("Firmware Version"));

        f.can->GatewayNodes().Node(2)->SetCounters({0, 5, 200, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, std::vector<uint8_t>(7, 0));
        QSignalSpy redrawn(f.window, &CChildFrame_McSec::redrawn);
        QVERIFY(f.window->Read());
        QVERIFY(redrawn.wait(20000));
        QCOMPARE(f.Cell("Firmware Version", 0)->text(), QString("2.7"));
        QCOMPARE(f.Cell("Firmware Version", 9)->text(), QString("2.6"));
        QCOMPARE(f.Cell("CAN_ERR_HDOVFL", 2)->background().color(), QColor(Qt::white));
        QCOMPARE(f.Cell("CAN_ERR_CMDOVFL", 2)->text(), QString("5"));
        QCOMPARE(f.Cell("CAN_ERR_CMDOVFL", 2)->background().color(), QColor(Qt::yellow));
        QCOMPARE(f.Cell("CAN_ERR_ACKOVFL", 2)->background().color(), QColor(Qt::red));
        QCOMPARE(f.Cell("Temperature", 7)->text(), QString("24.5 31.0 28.5"));

        QStringList plots;
        for (QAbstractSeries* s : f.window->Graph().Chart().series())
            if (s->name().startsWith("Node "))
                plots << s->name() + " " + QString::number(static_cast<QLineSeries*>(s)->count());
        QCOMPARE(plots, (QStringList{"Node 8 256", "Node 9 256"}));
        f.window->Output().Flush();
        QVERIFY(f.window->Output().Lines().Text().find("Reading Temperatures") != std::string::npos);
    }

    void markerIsAnnotatedInVolts()
    {
        CGraphPage page;
        page.SetMarker(128);
        QCOMPARE(page.MarkerText(), QString("2.40V"));
        page.MarkerSlider().setValue(255);
        QCOMPARE(page.Marker(), 255);
        QCOMPARE(page.MarkerText(), QString("4.78V"));
        QCOMPARE(MarkerAnnotation(0), QString("0.00V"));
        page.SetData({NodeHistogram{8, {}}});
        // The cursor and one empty plot.
        QCOMPARE(page.Chart().series().size(), 2);
    }

    void updateAsksFirst()
    {
        Fixture f;
        QString text;
        OnNextModal([&text](QWidget* m) { text = AnswerMessageBox(m, QMessageBox::Ok); });
        f.window->UpdateFirmware();
        QCOMPARE(text, QString("Invalid Node number"));

        f.window->updateNode = 5;
        f.window->firmFile = "node.hex";
        OnNextModal([&text](QWidget* m) { text = AnswerMessageBox(m, QMessageBox::No); });
        f.window->UpdateFirmware();
        QCOMPARE(text, QString("Update Firmware on node 5\nfile node.hex\n\nAre you sure ?"));
        QVERIFY(!f.window->Monitor().UpdateRunning());
        QCOMPARE(f.can->GatewayNodes().Node(5)->MessageCount(), 0);
    }
};

QTEST_MAIN(McSecTest)
#include "McSecTest.moc"
