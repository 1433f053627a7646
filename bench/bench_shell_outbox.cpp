// Four threads print lines into one output box while the GUI thread shows
// them: lines per second from print to display and the GUI thread's
// longest stall, for the output box (incremental view updates) against
// the same FIFO and line buffer with the whole text replaced per drained
// batch. Rounds interleave both; the median of per-round ratios is given.
// A long run of the output box alone checks that memory stays flat.
//
// bench_shell_outbox [--rounds N] [--lines N] [--long N]
//   --lines: lines per thread and round (default 50000)
//   --long: lines in all for the memory run (default 10000000, 0 skips it)

#include "base/Fifo.h"
#include "shell/LineBuffer.h"
#include "shell/ui/OutBox.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kThreads = 4;

// The design's refresh: every drained batch replaces the whole text.
class CWholeTextBox : public QPlainTextEdit, public CStdOut {
public:
    CWholeTextBox()
    {
        setReadOnly(true);
        setUndoRedoEnabled(false);
        setLineWrapMode(QPlainTextEdit::NoWrap);
        m_notifier = new QSocketNotifier(m_fifo.DataEvent().fd(), QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, [this] { drain(); });
    }
    ~CWholeTextBox() override { m_fifo.Close(); }
    int PrintV(const char* format, va_list args) override
    {
        char text[512];
        int n = std::vsnprintf(text, sizeof text, format, args);
        m_writer.Write(text, static_cast<size_t>(n));
        return n;
    }
    uint64_t CharactersTaken() const { return m_taken; }
    void Flush() { drain(); }

private:
    void drain()
    {
        char chunk[8192];
        size_t n, total = 0;
        while (total < 4 * 32768 && (n = m_fifo.TryRead(chunk, sizeof chunk)) > 0) {
            m_lines.Append(std::string_view(chunk, n));
            total += n;
        }
        m_taken += total;
        if (total == 0)
            return;
        setUpdatesEnabled(false);
        setPlainText(QString::fromStdString(m_lines.Text()));
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
        setUpdatesEnabled(true);
    }

    CFifo<char> m_fifo{32768};
    CFifoWr<char> m_writer{m_fifo};
    QSocketNotifier* m_notifier;
    COutLineBuffer m_lines;
    uint64_t m_taken = 0;
};

struct _RESULT {
    double linesPerSecond = 0;
    double longestStallMs = 0;
};

long RssKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return 0;
}

// Prints linesPerThread lines from each of four threads into box and runs
// the event loop until all of them are shown. probe runs every 2^20 lines.
template <class Box>
_RESULT Run(Box& box, long linesPerThread, const std::function<void(long)>& probe = {})
{
    const char* format = "thread %d line %09ld: voltage 5.02 V, current 1.31 A\n";
    char sample[128];
    std::snprintf(sample, sizeof sample, format, 0, 0L);
    const uint64_t total = box.CharactersTaken() + uint64_t(kThreads) * linesPerThread * std::strlen(sample);

    _RESULT result;
    QElapsedTimer clock, tick;
    QTimer stallProbe;
    stallProbe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&stallProbe, &QTimer::timeout, [&] {
        result.longestStallMs = std::max(result.longestStallMs, tick.nsecsElapsed() / 1e6);
        tick.restart();
    });
    std::atomic<long> printed{0};
    clock.start();
    tick.start();
    stallProbe.start(1);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (long i = 0; i < linesPerThread; ++i) {
                box.Print(format, t, i);
                if (t == 0 && probe && (printed.fetch_add(kThreads) & ((1 << 20) - 1)) < kThreads)
                    probe(printed.load());
            }
        });
    while (box.CharactersTaken() < total)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    box.Flush();
    QCoreApplication::processEvents();
    double seconds = clock.nsecsElapsed() / 1e9;
    stallProbe.stop();
    for (auto& th : threads)
        th.join();
    result.linesPerSecond = kThreads * linesPerThread / seconds;
    return result;
}

long Arg(int argc, char** argv, const char* name, long fallback)
{
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], name) == 0)
            return std::atol(argv[i + 1]);
    return fallback;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    long rounds = Arg(argc, argv, "--rounds", 5);
    long lines = Arg(argc, argv, "--lines", 50000);
    long longRun = Arg(argc, argv, "--long", 10000000);
    int qtArgc = 1;
    QApplication app(qtArgc, argv);

    std::vector<double> ratios, boxRates, wholeRates, boxStalls, wholeStalls;
    for (long r = 0; r < rounds; ++r) {
        COutBox box;
        box.resize(800, 400);
        box.show();
        _RESULT a = Run(box, lines);
        CWholeTextBox whole;
        whole.resize(800, 400);
        whole.show();
        _RESULT b = Run(whole, lines);
        ratios.push_back(a.linesPerSecond / b.linesPerSecond);
        boxRates.push_back(a.linesPerSecond);
        wholeRates.push_back(b.linesPerSecond);
        boxStalls.push_back(a.longestStallMs);
        wholeStalls.push_back(b.longestStallMs);
        std::printf("round %ld: output box %.0f lines/s (stall %.1f ms), whole text %.0f lines/s (stall %.1f ms)\n",
                    r + 1, a.linesPerSecond, a.longestStallMs, b.linesPerSecond, b.longestStallMs);
    }
    std::printf("output box: median %.0f lines/s, longest stall %.1f ms (goal >= 100000 lines/s, <= 50 ms)\n",
                Median(boxRates), *std::max_element(boxStalls.begin(), boxStalls.end()));
    std::printf("whole text: median %.0f lines/s, longest stall %.1f ms\n", Median(wholeRates),
                *std::max_element(wholeStalls.begin(), wholeStalls.end()));
    std::printf("median ratio output box / whole text: %.2f\n", Median(ratios));

    if (longRun > 0) {
        COutBox box;
        box.resize(800, 400);
        box.show();
        std::atomic<long> firstRss{0}, lastRss{0};
        _RESULT r = Run(box, longRun / kThreads, [&](long printed) {
            if (printed >= (1 << 20) && firstRss == 0)
                firstRss = RssKiB();
            lastRss = RssKiB();
        });
        long endRss = RssKiB();
        std::printf("long run: %ld lines at %.0f lines/s, longest stall %.1f ms; RSS %ld KiB after 1M lines, "
                    "%ld KiB at the end (growth %ld KiB)\n",
                    longRun, r.linesPerSecond, r.longestStallMs, firstRss.load(), endRss,
                    endRss - firstRss.load());
    }
    return 0;
}
