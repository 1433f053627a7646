#include "shell/ui/CommandFileDlg.h"

#include <QCheckBox>
#include <QGridLayout>

CFileDialog_Cmd::CFileDialog_Cmd(const QString& path, QWidget* parent)
    : QFileDialog(parent, tr("Load Commands File"), path, "Command File (*.dec);;All File (*)")
{
    // The check box needs the dialog's own widgets, not the desktop's.
    setOption(QFileDialog::DontUseNativeDialog);
    setFileMode(QFileDialog::ExistingFile);
    setAcceptMode(QFileDialog::AcceptOpen);
    setDefaultSuffix("dec");
    if (!path.isEmpty())
        selectFile(path);
    m_debug = new QCheckBox(tr("Debug"), this);
    if (auto* grid = qobject_cast<QGridLayout*>(layout()))
        grid->addWidget(m_debug, grid->rowCount(), 0, 1, grid->columnCount());
}

bool CFileDialog_Cmd::Debug() const
{
    return m_debug->isChecked();
}
