#pragma once
// The "Output" pane: the "Main Events" box and the "Transfer Rate" list,
// with Copy and Clear All acting on the box. GUI thread only (the box
// itself takes prints from any thread).

#include "shell/ui/OutBox.h"
#include "shell/ui/RateList.h"

#include <QDockWidget>

class QTabWidget;

class COutputWnd : public QDockWidget {
    Q_OBJECT
public:
    explicit COutputWnd(QWidget* parent = nullptr);

    COutBox& MainEvents() { return *m_events; }
    CRateListCtrl& RateList() { return *m_rates; }
    QTabWidget& Tabs() { return *m_tabs; }

    // Copy and Clear All act on the active tab when it is an output box.
    COutBox* ActiveBox() const;
    void Copy();
    void ClearAll();

private:
    QTabWidget* m_tabs;
    COutBox* m_events;
    CRateListCtrl* m_rates;
    QAction* m_copy;
    QAction* m_clear;
};
