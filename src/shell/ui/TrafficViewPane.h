#pragma once
// The "View Properties" group of the windows that print traffic records
// (connection window, spy), and the one-second watch of their decode file.
//
// Threads: GUI thread only.

#include "shell/TrafficView.h"

#include <QObject>
#include <QString>
#include <functional>

class CGridProperty;
class CPropertyGrid;
class QTimer;
class QWidget;

// String ids of the group and its properties.
enum TrafficViewId : int {
    kViewGroup = 1414,
    kViewPrintTX = 1413,
    kViewPrintRX = 1415,
    kViewDecode = 1416,
    kViewDecodeFile = 1417,
    kViewTime = 1418,
    kViewEnableLog = 1419,
    kViewLogFile = 1420,
};

// Adds the group after what the grid holds.
void AddTrafficViewGroup(CPropertyGrid& grid, const CTrafficView& view);
// Commits the group's values into view (commit) or shows view's values.
void SyncTrafficView(CPropertyGrid& grid, CTrafficView& view, bool commit);

// Asks the loaded decode file once a second whether it changed on disk;
// on a change the watch stops and asks "Decode File Modified\n\nReload ?".
// OK calls reload; Cancel calls declined, whose true starts the watch
// again.
class CDecodeFileWatch : public QObject {
public:
    struct Hooks {
        std::function<bool()> changed;
        std::function<void()> reload;
        std::function<bool()> declined;
    };

    CDecodeFileWatch(QObject* owner, std::function<QWidget*()> dialogParent, QString title, Hooks hooks);
    void Start();
    void Stop();

private:
    void check();

    QTimer* m_timer;
    std::function<QWidget*()> m_dialogParent;
    QString m_title;
    Hooks m_hooks;
};
