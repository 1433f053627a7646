#pragma once
// The profile dialog "New/Load Profile": the saved profiles, a "Profile
// Name" field, delete by right click. GUI thread only.

#include <QDialog>

#include <string>

class CSettingsBackend;
class QLineEdit;
class QListWidget;
class QListWidgetItem;

class CSelProfileDlg : public QDialog {
    Q_OBJECT
public:
    CSelProfileDlg(CSettingsBackend& settings, std::string statePath, const std::string& proposal,
                   QWidget* parent = nullptr);

    // The chosen name, blanks trimmed.
    std::string Name() const;
    QListWidget& List() { return *m_list; }
    QLineEdit& NameField() { return *m_name; }
    // Asks "Delete Profile %s?" and deletes the profile with everything
    // below it on OK; the entry stays when the profile cannot be deleted.
    void DeleteEntry(QListWidgetItem* item);

    void accept() override;

private:
    void fill();

    CSettingsBackend& m_settings;
    std::string m_statePath;
    QListWidget* m_list;
    QLineEdit* m_name;
};
