#pragma once
// "Thread Abort": shows "Aborting All Working Thread\n\nPlease Wait" while
// the listed workers stop. Every 200 ms each unfinished worker is asked to
// abort (which only sets its abort event) and the dialog closes once all
// have finished; the GUI thread keeps running meanwhile. GUI thread only.

#include "shell/Abortable.h"

#include <QDialog>

#include <vector>

class QListWidget;
class QTimer;

class CThreadAbort : public QDialog {
    Q_OBJECT
public:
    // exec() answers these.
    static constexpr int kAllFinishedAtOnce = 2;
    static constexpr int kAllFinishedAfterAbort = 1;

    CThreadAbort(std::vector<CAbortable*> workers, QWidget* parent = nullptr);
    int exec() override;

private:
    bool allFinished() const;
    void poll();

    std::vector<CAbortable*> m_workers;
    QListWidget* m_list;
    QTimer* m_timer;
};
