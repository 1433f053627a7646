#pragma once
// "Load Commands File": an open-file dialog for command files with a
// "Debug" check box that asks for the compiled tables to be printed.
// GUI thread only.

#include <QFileDialog>

class QCheckBox;

class CFileDialog_Cmd : public QFileDialog {
    Q_OBJECT
public:
    CFileDialog_Cmd(const QString& path, QWidget* parent = nullptr);
    bool Debug() const;
    QCheckBox& DebugBox() { return *m_debug; }

private:
    QCheckBox* m_debug;
};
