#include "shell/ui/PropertiesWnd.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

CPropertiesWnd::CPropertiesWnd(QWidget* parent) : QDockWidget(tr("Properties"), parent)
{
    setObjectName("Properties");
    auto* body = new QWidget(this);
    auto* layout = new QVBoxLayout(body);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(2);
    m_combo = new QComboBox(body);
    m_toolbar = new QToolBar(body);
    m_toolbar->setIconSize(QSize(16, 16));
    m_toolbar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_grid = new CPropertyGrid(body);
    m_empty = new QLabel(tr("The settings of the active tool window are shown here."), body);
    m_empty->setWordWrap(true);
    m_empty->setAlignment(Qt::AlignCenter);
    m_empty->setEnabled(false);
    layout->addWidget(m_combo);
    layout->addWidget(m_toolbar);
    layout->addWidget(m_empty, 1);
    layout->addWidget(m_grid, 1);
    m_grid->hide();
    setWidget(body);
    m_combo->hide();
    m_toolbar->hide();

    connect(m_combo, &QComboBox::activated, this, [this](int index) {
        if (m_owner)
            m_owner->OnPaneComboChanged(index);
    });
    connect(m_grid, &CPropertyGrid::propertyChanged, this, [this](CGridProperty* p) {
        if (m_owner && p)
            m_owner->OnPropertyChanged(*p);
    });
    connect(m_grid, &CPropertyGrid::fileBrowsed, this, [this](CGridProperty* p) {
        if (m_owner && p)
            m_owner->OnFileBrowsed(*p);
    });
    connect(m_grid, &CPropertyGrid::fileEditRequested, this, [this](CGridProperty* p) {
        if (m_owner && p)
            m_owner->OnFileEdit(*p);
    });
    m_stateTimer = new QTimer(this);
    m_stateTimer->setInterval(250);
    connect(m_stateTimer, &QTimer::timeout, this, &CPropertiesWnd::UpdateButtons);
}

void CPropertiesWnd::clear()
{
    m_grid->Clear();
    m_combo->clear();
    m_combo->hide();
    SetButtons({});
}

void CPropertiesWnd::SetOwner(CPaneOwner* owner)
{
    m_owner = owner;
    Rebuild();
}

void CPropertiesWnd::Rebuild()
{
    clear();
    m_grid->setVisible(m_owner != nullptr);
    m_empty->setVisible(m_owner == nullptr);
    if (!m_owner) {
        setWindowTitle(tr("Properties"));
        return;
    }
    setWindowTitle(tr("Properties") + " - " + m_owner->PaneTitle());
    m_owner->BuildPane(*this);
    m_combo->setVisible(m_combo->count() > 0);
    Sync(false);
    UpdateButtons();
}

bool CPropertiesWnd::Sync(bool commit)
{
    if (!m_owner)
        return true;
    // An editor still open holds the operator's last keystrokes.
    if (commit) {
        QTreeWidget* tree = m_grid->Tree();
        if (QWidget* editor = tree->indexWidget(tree->currentIndex()))
            Q_EMIT static_cast<QAbstractItemDelegate*>(tree->itemDelegate())->commitData(editor);
        if (QTreeWidgetItem* item = tree->currentItem())
            tree->closePersistentEditor(item, 1);
    }
    return m_owner->SyncPane(*m_grid, commit);
}

void CPropertiesWnd::SetButtons(const std::vector<_PANEBUTTON>& buttons)
{
    m_toolbar->clear();
    for (const auto& b : buttons) {
        if (b.id < kFirstPaneCommand || b.id > kLastPaneCommand)
            continue;
        int nl = b.text.indexOf('\n');
        QString tip = nl < 0 ? b.text : b.text.left(nl);
        QString label = nl < 0 ? b.text : b.text.mid(nl + 1);
        QAction* action = m_toolbar->addAction(b.icon, label);
        action->setToolTip(tip);
        action->setData(b.id);
        int id = b.id;
        connect(action, &QAction::triggered, this, [this, id] {
            if (m_owner)
                m_owner->OnToolbarCommand(id);
        });
    }
    m_toolbar->setVisible(!buttons.empty());
    if (buttons.empty())
        m_stateTimer->stop();
    else
        m_stateTimer->start();
}

void CPropertiesWnd::UpdateButtons()
{
    for (QAction* action : m_toolbar->actions()) {
        _COMMANDSTATE state = m_owner ? m_owner->ToolbarCommandState(action->data().toInt()) : _COMMANDSTATE{false};
        action->setEnabled(state.enabled);
        action->setCheckable(state.checked || action->isCheckable());
        action->setChecked(state.checked);
    }
}
