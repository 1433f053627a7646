#pragma once
// "Update Telvane": asks for the install folder when it is unknown, asks
// before using a plain http update page, downloads the updater on a worker
// while the modeless progress dialog "Copy" shows "Updating %s" with an
// "Abort" button, and starts the updater without waiting. GUI thread only;
// the worker's end arrives through a queued call.

#include "shell/SelfUpdate.h"

#include <QDialog>

#include <memory>

class CSettingsBackend;
class QLabel;
class QProgressBar;
class QTimer;

class CProgressDlg : public QDialog {
    Q_OBJECT
public:
    explicit CProgressDlg(QWidget* parent = nullptr);
    // Shows the file being copied and resets the bar.
    void StartFile(const QString& name);
    void SetProgress(int64_t done, int64_t total);

Q_SIGNALS:
    void abortRequested();

private:
    QLabel* m_text;
    QProgressBar* m_bar;
};

class CSelfUpdateFlow : public QObject {
    Q_OBJECT
public:
    CSelfUpdateFlow(CSettingsBackend& settings, std::string statePath, QWidget* parent);
    ~CSelfUpdateFlow() override;
    // Runs the questions on the GUI thread and starts the download; false
    // when the operator ended it before the download.
    bool Start();

Q_SIGNALS:
    void finished();

private:
    void onWorkerFinished();

    CSettingsBackend& m_settings;
    std::string m_statePath;
    QWidget* m_parent;
    std::string m_page;
    std::string m_installDir;
    std::unique_ptr<CSelfUpdate> m_update;
    CProgressDlg* m_dialog = nullptr;
    QTimer* m_poll = nullptr;
};
