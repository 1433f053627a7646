#include "shell/ui/ProgressDlg.h"

#include "shell/SettingsStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

CProgressDlg::CProgressDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(tr("Copy"));
    setModal(false);
    auto* layout = new QVBoxLayout(this);
    m_text = new QLabel(this);
    m_bar = new QProgressBar(this);
    auto* abort = new QPushButton(tr("Abort"), this);
    layout->addWidget(m_text);
    layout->addWidget(m_bar);
    layout->addWidget(abort, 0, Qt::AlignRight);
    connect(abort, &QPushButton::clicked, this, &CProgressDlg::abortRequested);
    resize(360, height());
}

void CProgressDlg::StartFile(const QString& name)
{
    m_text->setText(QString("Updating %1").arg(name));
    m_bar->setRange(0, 100);
    m_bar->setValue(0);
}

void CProgressDlg::SetProgress(int64_t done, int64_t total)
{
    if (total <= 0) {
        m_bar->setRange(0, 0);
        return;
    }
    m_bar->setRange(0, 1000);
    m_bar->setValue(static_cast<int>(std::min<int64_t>(done, total) * 1000 / total));
}

CSelfUpdateFlow::CSelfUpdateFlow(CSettingsBackend& settings, std::string statePath, QWidget* parent)
    : QObject(parent), m_settings(settings), m_statePath(std::move(statePath)), m_parent(parent)
{
}

CSelfUpdateFlow::~CSelfUpdateFlow() = default;

bool CSelfUpdateFlow::Start()
{
    {
        CSettingsStore store(m_settings, true);
        m_page = kDefaultUpdatePage;
        if (store.Open(m_statePath)) {
            store.Read("HTML_UpdatePage", m_page);
            store.Read("InstallDir", m_installDir);
        }
    }
    if (m_installDir.empty() || !QFileInfo::exists(QString::fromStdString(ProgramFile(m_installDir)))) {
        QString start = QCoreApplication::applicationDirPath();
        if (start.isEmpty())
            start = QDir::homePath();
        // A window title has one line: the two lines of the question are
        // joined, and the program file looked for is named.
        QString caption = QString("%1 Application folder not found - Please Select (the folder of %1)")
                              .arg(QString::fromLatin1(kProgramName));
        QString dir = QFileDialog::getExistingDirectory(m_parent, caption, start);
        if (dir.isEmpty())
            return false;
        m_installDir = dir.toStdString();
        CSettingsStore store(m_settings, false);
        if (store.CreateKey(m_statePath))
            store.Write("InstallDir", m_installDir);
    }
    bool allowInsecure = false;
    if (!IsSecureUrl(m_page)) {
        auto answer = QMessageBox::warning(
            m_parent, "Update Telvane",
            QString("The update page is not a secure (https) address:\n%1\n\nDownload and run the updater from it?")
                .arg(QString::fromStdString(m_page)),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer != QMessageBox::Yes)
            return false;
        allowInsecure = true;
    }

    m_update = std::make_unique<CSelfUpdate>(m_page, m_installDir, allowInsecure);
    m_dialog = new CProgressDlg(m_parent);
    m_dialog->StartFile(kUpdaterName);
    connect(m_dialog, &CProgressDlg::abortRequested, this, [this] { m_update->Abort(); });
    if (m_parent) {
        QRect frame = m_parent->geometry();
        m_dialog->move(frame.center().x() - m_dialog->width() / 2, m_dialog->y());
    }
    m_dialog->show();
    m_poll = new QTimer(this);
    connect(m_poll, &QTimer::timeout, this,
            [this] { m_dialog->SetProgress(m_update->Transferred(), m_update->Total()); });
    m_poll->start(100);
    m_update->Start([this] { QMetaObject::invokeMethod(this, &CSelfUpdateFlow::onWorkerFinished, Qt::QueuedConnection); });
    return true;
}

void CSelfUpdateFlow::onWorkerFinished()
{
    m_poll->stop();
    m_dialog->close();
    m_dialog->deleteLater();
    if (!m_update->Succeeded()) {
        QMessageBox::critical(m_parent, "Update Telvane", QString::fromStdString(m_update->ErrorText()));
    } else {
        ProgramVersion version = ThisProgramVersion();
        QStringList args;
        for (const auto& a : UpdaterArguments(version, m_page, m_installDir))
            args << QString::fromStdString(a);
        QString updater = QString::fromStdString(m_update->UpdaterPath());
        if (!QProcess::startDetached(updater, args))
            QMessageBox::critical(m_parent, "Update Telvane",
                                  QString("Error to run:\n%1 %2\n")
                                      .arg(updater, QString::fromStdString(
                                                        UpdaterArgumentText(version, m_page, m_installDir))));
    }
    Q_EMIT finished();
}
