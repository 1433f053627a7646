#include "shell/ui/TrafficViewPane.h"

#include "shell/ui/PropertyGrid.h"

#include <QMessageBox>
#include <QTimer>

namespace {
constexpr int kWatchPeriodMs = 1000;
const QString kDecodeFilter = "Decode File (*.dec);;All File (*)";
const QString kLogFilter = "Log File (*.log);;All File (*)";
}  // namespace

void AddTrafficViewGroup(CPropertyGrid& grid, const CTrafficView& view)
{
    CGridProperty* group = grid.AddGroup(kViewGroup);
    grid.AddBool(group, kViewPrintTX, view.printTX);
    grid.AddBool(group, kViewPrintRX, view.printRX);
    grid.AddBool(group, kViewTime, view.enTime);
    grid.AddBool(group, kViewDecode, view.enDecode);
    grid.AddFile(group, kViewDecodeFile, view.decodeFile, kDecodeFilter, "dec");
    grid.AddBool(group, kViewEnableLog, view.enLog);
    grid.AddFile(group, kViewLogFile, view.logFile, kLogFilter, "log");
}

void SyncTrafficView(CPropertyGrid& grid, CTrafficView& view, bool commit)
{
    grid.Sync(kViewPrintTX, view.printTX, commit);
    grid.Sync(kViewPrintRX, view.printRX, commit);
    grid.Sync(kViewTime, view.enTime, commit);
    grid.Sync(kViewDecode, view.enDecode, commit);
    grid.Sync(kViewDecodeFile, view.decodeFile, commit);
    grid.Sync(kViewEnableLog, view.enLog, commit);
    grid.Sync(kViewLogFile, view.logFile, commit);
}

CDecodeFileWatch::CDecodeFileWatch(QObject* owner, std::function<QWidget*()> dialogParent, QString title,
                                   Hooks hooks)
    : QObject(owner), m_timer(new QTimer(this)), m_dialogParent(std::move(dialogParent)), m_title(std::move(title)),
      m_hooks(std::move(hooks))
{
    connect(m_timer, &QTimer::timeout, this, &CDecodeFileWatch::check);
}

void CDecodeFileWatch::Start() { m_timer->start(kWatchPeriodMs); }

void CDecodeFileWatch::Stop() { m_timer->stop(); }

void CDecodeFileWatch::check()
{
    if (!m_hooks.changed())
        return;
    // Stopped while the question is open, so that it is asked once.
    m_timer->stop();
    const auto answer = QMessageBox::question(m_dialogParent(), m_title, "Decode File Modified\n\nReload ?",
                                              QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok);
    if (answer == QMessageBox::Ok)
        m_hooks.reload();
    else if (m_hooks.declined())
        Start();
}
