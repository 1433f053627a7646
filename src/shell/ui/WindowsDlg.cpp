#include "shell/ui/WindowsDlg.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

CWindowsDlg::CWindowsDlg(QMdiArea& area, QWidget* parent) : QDialog(parent), m_area(area)
{
    setWindowTitle(tr("Windows"));
    auto* layout = new QHBoxLayout(this);
    m_list = new QListWidget(this);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    auto* buttons = new QVBoxLayout;
    auto* activate = new QPushButton(tr("&Activate"), this);
    auto* close = new QPushButton(tr("&Close Window(s)"), this);
    auto* ok = new QPushButton(tr("OK"), this);
    buttons->addWidget(activate);
    buttons->addWidget(close);
    buttons->addStretch(1);
    buttons->addWidget(ok);
    layout->addWidget(m_list, 1);
    layout->addLayout(buttons);
    connect(activate, &QPushButton::clicked, this, &CWindowsDlg::activateSelected);
    connect(m_list, &QListWidget::itemDoubleClicked, this, &CWindowsDlg::activateSelected);
    connect(close, &QPushButton::clicked, this, &CWindowsDlg::closeSelected);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    fill();
}

void CWindowsDlg::fill()
{
    m_list->clear();
    for (QMdiSubWindow* w : m_area.subWindowList(QMdiArea::CreationOrder)) {
        auto* item = new QListWidgetItem(w->windowTitle(), m_list);
        item->setData(Qt::UserRole, QVariant::fromValue(static_cast<QObject*>(w)));
        if (w == m_area.currentSubWindow())
            m_list->setCurrentItem(item);
    }
}

void CWindowsDlg::activateSelected()
{
    QListWidgetItem* item = m_list->currentItem();
    if (!item)
        return;
    if (auto* w = qobject_cast<QMdiSubWindow*>(item->data(Qt::UserRole).value<QObject*>()))
        m_area.setActiveSubWindow(w);
    accept();
}

void CWindowsDlg::closeSelected()
{
    std::vector<QPointer<QMdiSubWindow>> chosen;
    for (QListWidgetItem* item : m_list->selectedItems())
        chosen.emplace_back(qobject_cast<QMdiSubWindow*>(item->data(Qt::UserRole).value<QObject*>()));
    for (auto& w : chosen)
        if (w)
            w->close();
    fill();
}
