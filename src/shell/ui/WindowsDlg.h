#pragma once
// "Windows...": the open tool windows, to activate or close. GUI thread.

#include <QDialog>

class QListWidget;
class QMdiArea;

class CWindowsDlg : public QDialog {
    Q_OBJECT
public:
    CWindowsDlg(QMdiArea& area, QWidget* parent = nullptr);
    QListWidget& List() { return *m_list; }

private:
    void fill();
    void activateSelected();
    void closeSelected();

    QMdiArea& m_area;
    QListWidget* m_list;
};
