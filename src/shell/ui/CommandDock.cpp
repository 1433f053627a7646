#include "shell/ui/CommandDock.h"

#include "shell/CommandFile.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QVBoxLayout>

CCommandDock::CCommandDock(CMainFrameServices& frame, int id, QWidget* parent)
    : QDockWidget(tr("Command"), parent), m_frame(frame), m_id(id)
{
    setObjectName(QString("Command-%1").arg(id));
    auto* content = new QWidget(this);
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(2, 2, 2, 2);
    m_commands = new QComboBox(content);
    m_commands->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_commands->setMinimumContentsLength(24);
    m_body = new QWidget(content);
    layout->addWidget(m_commands);
    layout->addWidget(m_body, 1);
    setWidget(content);
}

void CCommandDock::RefillCommands(const CVa_Compiler* tables)
{
    std::string previous = m_commands->currentIndex() >= 0 ? m_commands->currentText().toStdString() : "";
    std::vector<std::string> names = CommandListNames(tables);
    m_commands->clear();
    for (const auto& name : names)
        m_commands->addItem(QString::fromStdString(name));
    if (previous.empty() || !tables)
        m_commands->setCurrentIndex(0);
    else
        m_commands->setCurrentIndex(FindCommandByPrefix(names, previous));
}

void CCommandDock::closeEvent(QCloseEvent* event)
{
    QDockWidget::closeEvent(event);
    Q_EMIT closedByOperator(this);
}
