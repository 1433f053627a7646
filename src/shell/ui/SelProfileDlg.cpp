#include "shell/ui/SelProfileDlg.h"

#include "shell/Profiles.h"
#include "shell/SettingsStore.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QVBoxLayout>

CSelProfileDlg::CSelProfileDlg(CSettingsBackend& settings, std::string statePath, const std::string& proposal,
                               QWidget* parent)
    : QDialog(parent), m_settings(settings), m_statePath(std::move(statePath))
{
    setWindowTitle(tr("New/Load Profile"));
    auto* layout = new QVBoxLayout(this);
    m_list = new QListWidget(this);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    auto* label = new QLabel(tr("Profile Name"), this);
    m_name = new QLineEdit(QString::fromStdString(proposal), this);
    label->setBuddy(m_name);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(m_list, 1);
    layout->addWidget(label);
    layout->addWidget(m_name);
    layout->addWidget(buttons);
    resize(320, 360);

    connect(buttons, &QDialogButtonBox::accepted, this, &CSelProfileDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CSelProfileDlg::reject);
    connect(m_list, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) { m_name->setText(item->text()); });
    connect(m_list, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
        m_name->setText(item->text());
        accept();
    });
    connect(m_list, &QListWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QListWidgetItem* item = m_list->itemAt(at);
        if (!item)
            return;
        m_list->setCurrentItem(item);
        QMenu menu(this);
        QAction* remove = menu.addAction(tr("Delete"));
        if (menu.exec(m_list->viewport()->mapToGlobal(at)) == remove)
            DeleteEntry(item);
    });
    fill();
}

void CSelProfileDlg::fill()
{
    m_list->clear();
    for (const auto& name : m_settings.ChildGroups(NormaliseGroup(ProfilesSection(m_statePath))))
        m_list->addItem(QString::fromStdString(name));
}

std::string CSelProfileDlg::Name() const
{
    return TrimProfileName(m_name->text().toStdString());
}

void CSelProfileDlg::DeleteEntry(QListWidgetItem* item)
{
    QString name = item->text();
    auto answer = QMessageBox::question(this, tr("Delete Profile"), QString("Delete Profile %1?").arg(name),
                                        QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Cancel);
    if (answer != QMessageBox::Ok)
        return;
    CSettingsStore store(m_settings, false);
    if (store.DeleteKey(ProfileSection(m_statePath, name.toStdString())))
        delete item;
}

void CSelProfileDlg::accept()
{
    ProfileNameCheck check = CheckProfileName(m_name->text().toStdString(), {});
    if (check == ProfileNameCheck::Empty)
        return;
    if (check != ProfileNameCheck::Ok) {
        QMessageBox::warning(this, windowTitle(), QString::fromStdString(ProfileNameMessage(check)));
        return;
    }
    QDialog::accept();
}
