#include "shell/ui/OutputWnd.h"

#include <QAction>
#include <QStyle>
#include <QTabWidget>
#include <QToolBar>
#include <QVBoxLayout>

COutputWnd::COutputWnd(QWidget* parent) : QDockWidget(tr("Output"), parent)
{
    setObjectName("Output");
    auto* body = new QWidget(this);
    auto* layout = new QVBoxLayout(body);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* bar = new QToolBar(body);
    bar->setIconSize(QSize(16, 16));
    bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_copy = bar->addAction(style()->standardIcon(QStyle::SP_FileDialogDetailedView), tr("Copy"), this,
                            &COutputWnd::Copy);
    m_clear = bar->addAction(style()->standardIcon(QStyle::SP_DialogResetButton), tr("Clear All"), this,
                             &COutputWnd::ClearAll);
    m_tabs = new QTabWidget(body);
    m_tabs->setTabPosition(QTabWidget::South);
    m_tabs->setDocumentMode(true);
    m_events = new COutBox(m_tabs);
    m_rates = new CRateListCtrl(m_tabs);
    m_tabs->addTab(m_events, tr("Main Events"));
    m_tabs->addTab(m_rates, tr("Transfer Rate"));
    layout->addWidget(bar);
    layout->addWidget(m_tabs, 1);
    setWidget(body);

    auto updateActions = [this] {
        COutBox* box = ActiveBox();
        m_copy->setEnabled(box && box->HasSelection());
        m_clear->setEnabled(box != nullptr);
    };
    connect(m_tabs, &QTabWidget::currentChanged, this, updateActions);
    connect(m_events, &QPlainTextEdit::selectionChanged, this, updateActions);
    updateActions();
}

COutBox* COutputWnd::ActiveBox() const
{
    return qobject_cast<COutBox*>(m_tabs->currentWidget());
}

void COutputWnd::Copy()
{
    if (COutBox* box = ActiveBox())
        box->CopySelection();
}

void COutputWnd::ClearAll()
{
    if (COutBox* box = ActiveBox())
        box->Clear();
}
