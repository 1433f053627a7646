#pragma once
// Helpers of the GUI tests: a tool window kind for the tests, answering
// the next modal dialog, and a settings file of the test's own.

#include "shell/ui/ChildFrame.h"
#include "shell/ui/MainServices.h"
#include "shell/ui/PropertiesWnd.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>

#include <functional>
#include <string>
#include <vector>

// A tool window with three settings shown in the properties pane; it
// records what the pane asked of it in a log shared by all test windows.
class CTestWindow : public CChildFrame {
public:
    enum { kGroup = 9000, kTimeout = 9001, kEnabled = 9002, kHost = 9003 };

    CTestWindow(CMainFrameServices& frame, const std::string& name, std::vector<std::string>& log)
        : CChildFrame(frame, name), m_log(log)
    {
        setWidget(new QWidget);
    }

    void BuildPane(CPropertiesWnd& pane) override
    {
        CPropertyGrid& g = pane.Grid();
        CGridProperty* group = g.Add(nullptr, CGridProperty::Kind::Group, kGroup, "Link", {});
        g.Add(group, CGridProperty::Kind::Number, kTimeout, "CmdTimeOut\nReply wait in ms", 0);
        g.Add(group, CGridProperty::Kind::Bool, kEnabled, "Enabled\nSend commands", false);
        g.Add(group, CGridProperty::Kind::Text, kHost, "Host\nCrate server", QString());
        m_log.push_back(ProfileName() + " build");
    }

    bool SyncPane(CPropertyGrid& grid, bool commit) override
    {
        grid.Sync(kTimeout, timeout, commit);
        grid.Sync(kEnabled, enabled, commit);
        grid.Sync(kHost, host, commit);
        m_log.push_back(ProfileName() + (commit ? " commit" : " refresh"));
        return true;
    }

    void OnToolWindowClosed(CChildFrame* other) override { closedOthers.push_back(other); }

    int32_t timeout = 1000;
    bool enabled = true;
    std::string host = "127.0.0.1";
    std::vector<CChildFrame*> closedOthers;

protected:
    void ReadSettings(CSettingsStoreEx& store) override
    {
        store.Read("CmdTimeOut", timeout);
        store.Read("Enabled", enabled);
        store.Read("Host", host);
    }
    void WriteSettings(CSettingsStoreEx& store) override
    {
        store.Write("CmdTimeOut", timeout);
        store.Write("Enabled", enabled);
        store.Write("Host", host);
    }

private:
    std::vector<std::string>& m_log;
};

// Runs action on the next modal widget that opens within timeoutMs.
inline void OnNextModal(std::function<void(QWidget*)> action, int timeoutMs = 5000)
{
    auto* timer = new QTimer;
    auto* clock = new QElapsedTimer;
    clock->start();
    QObject::connect(timer, &QTimer::timeout, [timer, clock, action, timeoutMs] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal && clock->elapsed() < timeoutMs)
            return;
        timer->stop();
        timer->deleteLater();
        delete clock;
        if (modal)
            action(modal);
    });
    timer->start(10);
}

// The text of a message box, and a click on one of its buttons.
inline QString AnswerMessageBox(QWidget* modal, QMessageBox::StandardButton button)
{
    auto* box = qobject_cast<QMessageBox*>(modal);
    if (!box)
        return QString("(not a message box: %1)").arg(modal->metaObject()->className());
    QString text = box->text();
    if (QAbstractButton* b = box->button(button))
        b->click();
    else
        box->reject();
    return text;
}
