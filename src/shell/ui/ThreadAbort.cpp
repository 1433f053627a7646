#include "shell/ui/ThreadAbort.h"

#include <QLabel>
#include <QListWidget>
#include <QTimer>
#include <QVBoxLayout>

CThreadAbort::CThreadAbort(std::vector<CAbortable*> workers, QWidget* parent)
    : QDialog(parent), m_workers(std::move(workers))
{
    setWindowTitle(tr("Thread Abort"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel("Aborting All Working Thread\n\nPlease Wait", this));
    m_list = new QListWidget(this);
    for (CAbortable* w : m_workers)
        m_list->addItem(QString::fromStdString(w->WorkerName()));
    layout->addWidget(m_list);
    m_timer = new QTimer(this);
    m_timer->setInterval(200);
    connect(m_timer, &QTimer::timeout, this, &CThreadAbort::poll);
}

bool CThreadAbort::allFinished() const
{
    for (CAbortable* w : m_workers)
        if (!w->IsFinished())
            return false;
    return true;
}

int CThreadAbort::exec()
{
    if (allFinished())
        return kAllFinishedAtOnce;
    m_timer->start();
    return QDialog::exec();
}

void CThreadAbort::poll()
{
    for (int i = 0; i < static_cast<int>(m_workers.size()); ++i) {
        CAbortable* w = m_workers[static_cast<size_t>(i)];
        if (w->IsFinished()) {
            m_list->item(i)->setForeground(palette().color(QPalette::Disabled, QPalette::Text));
            continue;
        }
        w->Abort();
    }
    if (allFinished()) {
        m_timer->stop();
        done(kAllFinishedAfterAbort);
    }
}
