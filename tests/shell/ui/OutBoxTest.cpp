#include "GuiSupport.h"
#include "shell/ui/OutBox.h"
#include "shell/ui/PropertyGrid.h"
#include "shell/ui/RateList.h"
#include "shell/ui/ThreadAbort.h"
#include "support/ReadFile.h"
#include "support/TempDir.h"

#include <QHeaderView>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>

#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

QString Line(int i)
{
    return QString("line %1").arg(i);
}

// Printer threads, joined while the GUI thread keeps draining the box, so
// that a check failing early cannot leave a printer blocked on the FIFO.
class CPrinters {
public:
    explicit CPrinters(COutBox& box) : m_box(box) {}
    ~CPrinters() { Join(); }
    void Start(std::function<void()> print)
    {
        ++m_running;
        m_threads.emplace_back([this, print] {
            print();
            --m_running;
        });
    }
    void Join()
    {
        while (m_running > 0)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        for (auto& t : m_threads)
            t.join();
        m_threads.clear();
    }

private:
    COutBox& m_box;
    std::atomic<int> m_running{0};
    std::vector<std::thread> m_threads;
};

class CWorker : public CAbortable {
public:
    explicit CWorker(bool finished) : m_finished(finished) {}
    std::string WorkerName() const override { return "worker"; }
    bool IsFinished() const override { return m_finished; }
    void Abort() override
    {
        ++aborts;
        m_finished = true;
    }
    std::atomic<int> aborts{0};

private:
    std::atomic<bool> m_finished;
};

}  // namespace

class OutBoxTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void thousandAndOneLinesKeepTheLastThousandAndLogAll();
    void carriageReturnRewritesTheLine();
    void printsFromManyThreadsArriveWholeAndInOrder();
    void viewFollowingTheEndKeepsFollowing();
    void viewScrolledUpKeepsItsTopLine();
    void guiThreadPrintsWithAFullFifoDoNotBlock();
    void clearEmptiesTheBox();
    void rateLinesShowRatesAndForgetRemovedCounters();
    void threadAbortWaitsForEveryWorker();
    void propertyGridMarksEditsAndSyncsFields();
};

void OutBoxTest::thousandAndOneLinesKeepTheLastThousandAndLogAll()
{
    CTempDir dir;
    std::string log = dir.File("box.log");
    COutBox box;
    box.show();
    QVERIFY(box.OpenLog(log));
    CPrinters printers(box);
    printers.Start([&] {
        for (int i = 1; i <= 1001; ++i)
            box.Print("line %d\r\n", i);
    });
    printers.Join();
    QTRY_COMPARE(box.CharactersTaken(), uint64_t(ReadFile(log).size()));
    QTRY_COMPARE(box.document()->blockCount(), 1001);
    QCOMPARE(box.document()->firstBlock().text(), Line(2));
    QCOMPARE(box.document()->findBlockByNumber(999).text(), Line(1001));
    QCOMPARE(box.document()->lastBlock().text(), QString());
    box.CloseLog();
    std::string expected;
    for (int i = 1; i <= 1001; ++i)
        expected += "line " + std::to_string(i) + "\r\n";
    QCOMPARE(ReadFile(log), expected);
}

void OutBoxTest::carriageReturnRewritesTheLine()
{
    COutBox box;
    box.show();
    CPrinters printers(box);
    printers.Start([&] {
        box.Print("abc");
        box.Print("\r");
        box.Print("X");
    });
    printers.Join();
    QTRY_COMPARE(box.toPlainText(), QString("Xbc"));
    box.Print("\n12%%\r100%%");  // on the GUI thread
    QTRY_COMPARE(box.toPlainText(), QString("Xbc\n100%"));
}

void OutBoxTest::printsFromManyThreadsArriveWholeAndInOrder()
{
    CTempDir dir;
    COutBox box;
    box.show();
    QVERIFY(box.OpenLog(dir.File("all.log")));
    constexpr int kThreads = 4, kLines = 5000;
    CPrinters printers(box);
    for (int t = 0; t < kThreads; ++t)
        printers.Start([&box, t] {
            for (int i = 0; i < kLines; ++i)
                box.Print("thread %d line %05d\n", t, i);
        });
    // The GUI thread keeps draining while the printers block on a full FIFO.
    printers.Join();
    box.Flush();
    box.CloseLog();
    QCOMPARE(box.Lines().TotalDroppedLines(), size_t(kThreads * kLines - 1000));
    std::istringstream log(ReadFile(dir.File("all.log")));
    int next[kThreads] = {};
    std::string line;
    while (std::getline(log, line)) {
        int t = -1, n = -1;
        QCOMPARE(std::sscanf(line.c_str(), "thread %d line %d", &t, &n), 2);
        QVERIFY(t >= 0 && t < kThreads);
        QCOMPARE(n, next[t]);
        ++next[t];
    }
    for (int t = 0; t < kThreads; ++t)
        QCOMPARE(next[t], kLines);
}

void OutBoxTest::viewFollowingTheEndKeepsFollowing()
{
    COutBox box;
    box.resize(400, 200);
    box.show();
    for (int i = 1; i <= 1500; ++i)
        box.Print("line %d\n", i);
    box.Flush();
    QScrollBar* bar = box.verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());
    for (int i = 1501; i <= 1600; ++i)
        box.Print("line %d\n", i);
    box.Flush();
    QCOMPARE(bar->value(), bar->maximum());
    QCOMPARE(box.document()->findBlockByNumber(bar->value()).text().isEmpty(), false);
}

void OutBoxTest::viewScrolledUpKeepsItsTopLine()
{
    COutBox box;
    box.resize(400, 200);
    box.show();
    for (int i = 1; i <= 1000; ++i)
        box.Print("line %d\n", i);
    box.Flush();
    QScrollBar* bar = box.verticalScrollBar();
    bar->setValue(500);
    QString top = box.document()->findBlockByNumber(bar->value()).text();
    QCOMPARE(top, Line(501));
    CPrinters printers(box);
    printers.Start([&] {
        for (int i = 1001; i <= 1200; ++i)
            box.Print("line %d\n", i);
    });
    printers.Join();
    QTRY_COMPARE(box.document()->firstBlock().text(), Line(201));
    box.Flush();
    QCOMPARE(box.document()->findBlockByNumber(bar->value()).text(), top);
}

void OutBoxTest::guiThreadPrintsWithAFullFifoDoNotBlock()
{
    COutBox box;
    box.show();
    std::string big(COutBox::kFifoSlots * 2, 'x');
    std::atomic<bool> done{false};
    std::thread printer([&] {
        box.Write(big);
        done = true;
    });
    // The printer fills the FIFO and waits; a print here must not.
    QTest::qWait(50);
    box.Print("\nfrom the GUI\n");
    while (!done)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    printer.join();
    box.Flush();
    QVERIFY(box.toPlainText().contains("\nfrom the GUI\n"));
    QCOMPARE(box.CharactersTaken(), uint64_t(big.size()));
}

void OutBoxTest::clearEmptiesTheBox()
{
    COutBox box;
    box.show();
    box.Clear();
    QCOMPARE(box.toPlainText(), QString());
    box.Print("a\nb\nc");
    box.Flush();
    box.Clear();
    QCOMPARE(box.toPlainText(), QString());
    box.Print("d");
    box.Flush();
    QCOMPARE(box.toPlainText(), QString("d"));
}

void OutBoxTest::rateLinesShowRatesAndForgetRemovedCounters()
{
    CRateListCtrl list;
    list.show();
    RateCounter rx{0}, tx{0};
    CRateItemData* line = list.AddLine("Spy 1");
    line->Attach(kRateFullScale, &rx, kRateFullScale, &tx);
    list.SampleAll();
    QCOMPARE(line->RxText(), QString("0 Bps"));
    QCOMPARE(line->RxBar(), 0);
    rx = 100000;
    tx = 3839;
    list.SampleAll();
    QCOMPARE(line->RxText(), QString("100000 Bps"));
    QCOMPARE(line->RxBar(), 100);  // above full scale: clamped
    QCOMPARE(line->TxBar(), 100);
    QCOMPARE(line->Item()->text(0), QString("Spy 1"));
    const int narrow = list.header()->sectionSize(0);
    CRateItemData* client = list.AddLine("127.0.0.1:41578 from a long client name");
    QVERIFY2(list.header()->sectionSize(0) > narrow, "the title column widens for a long title");
    QVERIFY(list.header()->sectionSize(0) >= list.fontMetrics().horizontalAdvance(client->Item()->text(0)));
    list.RemoveLine(client);
    list.RemoveLine(line);
    QCOMPARE(list.topLevelItemCount(), 0);
    rx = 55;
    list.SampleAll();
    QCOMPARE(rx.load(), 55u);
}

void OutBoxTest::threadAbortWaitsForEveryWorker()
{
    CWorker done(true), running(false);
    CThreadAbort atOnce({&done});
    QCOMPARE(atOnce.exec(), CThreadAbort::kAllFinishedAtOnce);
    QCOMPARE(done.aborts.load(), 0);
    CThreadAbort waiting({&done, &running});
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(waiting.exec(), CThreadAbort::kAllFinishedAfterAbort);
    QCOMPARE(running.aborts.load(), 1);
    QCOMPARE(done.aborts.load(), 0);
    QVERIFY(clock.elapsed() >= 150);
}

void OutBoxTest::propertyGridMarksEditsAndSyncsFields()
{
    CPropertyGrid grid;
    CGridProperty* group = grid.Add(nullptr, CGridProperty::Kind::Group, 1, "Link", {});
    grid.Add(group, CGridProperty::Kind::Bool, 2, "Wait Reply\nWait for the reply", true);
    grid.Add(group, CGridProperty::Kind::Number, 3, "Port", 18888);
    CGridProperty* type = grid.Add(group, CGridProperty::Kind::Choice, 4, "IOType", 2);
    type->SetOptions({{"COM Port", 0}, {"TCP/IP Port", 2}});
    QCOMPARE(grid.Find(2)->ValueText(), QString("True"));
    QCOMPARE(grid.Find(2)->Description(), QString("Wait for the reply"));
    QCOMPARE(type->ValueText(), QString("TCP/IP Port"));

    std::vector<int> changed;
    connect(&grid, &CPropertyGrid::propertyChanged, [&](CGridProperty* p) { changed.push_back(p->Id()); });
    QVERIFY(!grid.Edit(3, QString("port")));  // no number
    QVERIFY(!grid.Edit(4, 7));                // no such option
    QVERIFY(!grid.Edit(1, true));             // a group has no value
    QVERIFY(grid.Edit(3, QString("0x10")));
    QVERIFY(grid.Edit(2, QString("False")));
    QVERIFY(grid.Edit(4, QString("COM Port")));
    QVERIFY((changed == std::vector<int>{3, 2, 4}));
    QVERIFY(grid.Find(3)->IsModified());
    QVERIFY(grid.Find(3)->font(1).bold());

    bool wait = true;
    int32_t port = 18888, ioType = 2;
    grid.Sync(2, wait, true);
    grid.Sync(3, port, true);
    grid.Sync(4, ioType, true);
    QCOMPARE(wait, false);
    QCOMPARE(port, 16);
    QCOMPARE(ioType, 0);
    QVERIFY(!grid.Find(3)->IsModified());
    QVERIFY(!grid.Find(3)->font(1).bold());

    port = 4000;  // refresh shows the field
    grid.Sync(3, port, false);
    QCOMPARE(grid.Find(3)->ValueText(), QString("4000"));
    QVERIFY(!grid.Find(3)->IsModified());
}

QTEST_MAIN(OutBoxTest)
#include "OutBoxTest.moc"
