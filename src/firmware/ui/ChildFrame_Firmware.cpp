#include "firmware/ui/ChildFrame_Firmware.h"

#include "base/NumberText.h"
#include "firmware/ui/FirmwareListCtrl.h"
#include "shell/Abortable.h"
#include "shell/SettingsStore.h"
#include "shell/StringTable.h"
#include "shell/ui/MainServices.h"
#include "shell/ui/OutBox.h"
#include "shell/ui/ThreadAbort.h"
#include "shell/ui/ToolWindows.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QMessageBox>
#include <QSplitter>
#include <QTimer>

#include <map>
#include <mutex>

namespace {

enum PropertyId {
    kGroupFirmware = 32850,
    kGetFile,
    kHexFile,
    kDestinations,
    kFirmType,
    kFirmWrite,
    kFirmVerify,
    kRdSecSize,
    kRepeat,
    kMcReset,
    kFlashTrb,
    kGroupLink,
};

const char kTitle[] = "Telvane";
const char kAbortQuestion[] = "Working Thread\n\n\nAbort all Thread ?";

// "101, 0x66 103": the list as the pane shows it.
std::string DestinationText(const std::vector<uint16_t>& ids)
{
    std::string text;
    for (uint16_t id : ids)
        text += (text.empty() ? "" : ", ") + std::to_string(id);
    return text;
}

bool ParseDestinations(const std::string& text, std::vector<uint16_t>& ids)
{
    std::vector<uint16_t> out;
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = text.find_first_of(", \t;", at);
        const std::string token = text.substr(at, end - at);
        if (!token.empty()) {
            const int32_t id = ParseNumberText(token);
            if (id <= 0 || id > 0xFFFF)
                return false;
            out.push_back(static_cast<uint16_t>(id));
        }
        if (end == std::string::npos)
            break;
        at = end + 1;
    }
    ids = std::move(out);
    return true;
}

// A row of the list as the wait box sees it.
class CRowWorker : public CAbortable {
public:
    CRowWorker(CFirmProgress& row, std::string name) : m_row(row), m_name(std::move(name)) {}
    std::string WorkerName() const override { return m_name; }
    bool IsFinished() const override { return m_row.IsFinished(); }
    void Abort() override { m_row.Abort(); }

private:
    CFirmProgress& m_row;
    std::string m_name;
};

}  // namespace

// Application values are taken from the settings when an update starts
// (workers never touch the settings store); the folder question goes to
// the GUI thread and the worker waits for its answer or its abort.
class CChildFrame_Firmware::CHost : public CFirmHost {
public:
    explicit CHost(CChildFrame_Firmware& window) : m_window(window) {}

    void Snapshot()
    {
        CSettingsStoreEx store(m_window.Frame().Settings(), true);
        std::lock_guard lock(m_lock);
        m_values.clear();
        if (!store.Open(m_window.Frame().StatePath()))
            return;
        for (const char* key : {kKeyHtmlPage, kKeyLinkRegExp, kKeyLinkRegExpRam, kKeyInstallDir}) {
            std::string value;
            if (store.Read(key, value))
                m_values[key] = value;
        }
    }

    std::string AppValue(const char* key, const std::string& fallback) override
    {
        std::lock_guard lock(m_lock);
        auto it = m_values.find(key);
        return it == m_values.end() ? fallback : it->second;
    }

    void SetAppValue(const char* key, const std::string& value) override
    {
        {
            std::lock_guard lock(m_lock);
            m_values[key] = value;
        }
        QMetaObject::invokeMethod(
            &m_window,
            [this, k = std::string(key), value] {
                CSettingsStoreEx store(m_window.Frame().Settings(), false);
                if (store.CreateKey(m_window.Frame().StatePath()))
                    store.Write(k, value);
            },
            Qt::QueuedConnection);
    }

    bool AskFolder(const std::string& message, const std::string& startFolder, CEvent& abort,
                   std::string& folder) override
    {
        struct Answer {
            CEvent done{true, false};
            bool chosen = false;
            std::string folder;
        };
        auto answer = std::make_shared<Answer>();
        QMetaObject::invokeMethod(
            &m_window,
            [this, answer, message, startFolder] {
                QWidget* parent = m_window.Frame().DialogParent();
                QMessageBox::information(parent, kTitle, QString::fromStdString(message));
                const QString chosen =
                    QFileDialog::getExistingDirectory(parent, QString(), QString::fromStdString(startFolder));
                answer->chosen = !chosen.isEmpty();
                answer->folder = chosen.toStdString();
                answer->done.Set();
            },
            Qt::QueuedConnection);
        if (WaitForAny({CWaitItem::Of(answer->done), CWaitItem::Of(abort)}, kInfinite) != 0)
            return false;
        folder = answer->folder;
        return answer->chosen;
    }

private:
    CChildFrame_Firmware& m_window;
    std::mutex m_lock;
    std::map<std::string, std::string> m_values;
};

CChildFrame_Firmware::CChildFrame_Firmware(CMainFrameServices& frame, const std::string& profileName)
    : CChildFrame(frame, profileName), m_host(std::make_unique<CHost>(*this))
{
    auto* splitter = new QSplitter(Qt::Vertical);
    m_list = new CFirmwareListCtrl(splitter);
    m_out = new COutBox(splitter);
    splitter->setStretchFactor(0, 2);
    splitter->setStretchFactor(1, 1);
    setWidget(splitter);
    setWindowTitle(QString::fromStdString(profileName));
    m_update = std::make_unique<CFirmUpdate>(profileName, m_out, *m_host);
    m_link.SetPropertyById(CPortMC_All::kIOType, CVariant::FromInt(CPortMC_All::kTcp));
    m_timer = new QTimer(this);
    connect(m_timer, &QTimer::timeout, this, [this] { refresh(); });
}

CChildFrame_Firmware::~CChildFrame_Firmware()
{
    m_update->AbortAll();
    m_update->Join();
}

void CChildFrame_Firmware::BuildPane(CPropertiesWnd& pane)
{
    CPropertyGrid& g = pane.Grid();
    CGridProperty* fw = g.AddGroup(kGroupFirmware);
    g.AddChoice(fw, kGetFile, {{"Auto", 0}, {"Manual", 1}}, m_settings.getFirmwareFile);
    g.AddFile(fw, kHexFile, m_settings.firmwareFile, "Hex File (*.s19 *.hex);;All File (*)", "s19");
    g.AddText(fw, kDestinations, DestinationText(m_settings.destinations));
    g.AddChoice(fw, kFirmType, {{"FLASH", 1}, {"RAM", 2}, {"FPGAFLASH", 3}}, m_settings.firmType);
    g.AddBool(fw, kFirmWrite, m_settings.firmWrite);
    g.AddBool(fw, kFirmVerify, m_settings.firmVerify);
    g.AddChoice(fw, kRdSecSize, {{"64 Byte", 64}, {"128 Byte", 128}}, m_settings.rdSecSize);
    g.AddNumber(fw, kRepeat, m_settings.repeat);
    g.AddBool(fw, kMcReset, m_settings.mcReset);
    g.AddChoice(fw, kFlashTrb, {{"Flash TRB6", 0}, {"Flash TRB7", 1}}, m_settings.flashTrb);

    CGridProperty* link = g.AddGroup(kGroupLink);
    for (const _PROPDEF& p : m_link.Properties()) {
        CVariant value;
        m_link.GetProperty(p.id, value);
        const QString name = QString::fromUtf8(p.name);
        if (p.options) {
            ChoiceOptions options;
            for (const _PROPOPT* o = p.options; o->name; ++o)
                options.emplace_back(QString::fromUtf8(o->name), o->value);
            CGridProperty* c = g.Add(link, CGridProperty::Kind::Choice, p.id, name, qlonglong(value.number()));
            c->SetOptions(std::move(options));
        } else if (p.type == VarType::String) {
            g.Add(link, CGridProperty::Kind::Text, p.id, name, QString::fromStdString(value.text()));
        } else if (p.type == VarType::Bool) {
            g.Add(link, CGridProperty::Kind::Bool, p.id, name, value.number() != 0);
        } else {
            g.Add(link, CGridProperty::Kind::Number, p.id, name, qlonglong(value.number()));
        }
    }
    pane.SetButtons({{kCmdStart, "Start Update\nStart", QIcon()}, {kCmdStop, "Stop Update\nStop", QIcon()}});
}

bool CChildFrame_Firmware::SyncPane(CPropertyGrid& grid, bool commit)
{
    _FIRMSETTINGS& s = m_settings;
    grid.Sync(kGetFile, s.getFirmwareFile, commit);
    grid.Sync(kHexFile, s.firmwareFile, commit);
    std::string destinations = DestinationText(s.destinations);
    grid.Sync(kDestinations, destinations, commit);
    if (commit && !ParseDestinations(destinations, s.destinations))
        return false;
    grid.Sync(kFirmType, s.firmType, commit);
    grid.Sync(kFirmWrite, s.firmWrite, commit);
    grid.Sync(kFirmVerify, s.firmVerify, commit);
    grid.Sync(kRdSecSize, s.rdSecSize, commit);
    grid.Sync(kRepeat, s.repeat, commit);
    grid.Sync(kMcReset, s.mcReset, commit);
    grid.Sync(kFlashTrb, s.flashTrb, commit);

    for (const _PROPDEF& p : m_link.Properties()) {
        CGridProperty* item = grid.Find(p.id);
        if (!item)
            continue;
        if (commit && item->IsModified()) {
            const QVariant& v = item->Value();
            const CVariant value = p.type == VarType::String ? CVariant::FromString(v.toString().toStdString())
                                                              : CVariant::FromInt(v.toInt());
            if (!m_link.SetPropertyById(p.id, value))
                return false;
        }
        CVariant value;
        m_link.GetProperty(p.id, value);
        const QVariant shown = p.type == VarType::String ? QVariant(QString::fromStdString(value.text()))
                               : p.type == VarType::Bool ? QVariant(value.number() != 0)
                                                         : QVariant(qlonglong(value.number()));
        item->SetValue(shown);
        item->SetReference(shown);
    }
    return true;
}

void CChildFrame_Firmware::OnPropertyChanged(CGridProperty& property)
{
    // Another link type lists other settings.
    if (property.Id() == CPortMC_All::kIOType) {
        CommitPane();
        QTimer::singleShot(0, this, [this] {
            if (IsPaneOwner())
                Frame().PropertiesPane().Rebuild();
        });
    }
}

void CChildFrame_Firmware::OnToolbarCommand(int command)
{
    if (command == kCmdStart)
        Start();
    else if (command == kCmdStop)
        Stop();
}

_COMMANDSTATE CChildFrame_Firmware::ToolbarCommandState(int command)
{
    const bool running = m_update->AnyUnfinished();
    return {command == kCmdStart ? !running : command == kCmdStop, false};
}

void CChildFrame_Firmware::Start()
{
    if (IsPaneOwner() && !CommitPane())
        return;
    if (m_settings.destinations.empty()) {
        QMessageBox::warning(Frame().DialogParent(), kTitle, "Destination List is Empty");
        return;
    }
    if (m_update->AnyUnfinished())
        return;
    m_host->Snapshot();
    m_update->Start(m_settings, m_link);
    m_list->SetRows(m_settings.destinations);
    refresh();
    m_timer->start(kRefreshMs);
}

bool CChildFrame_Firmware::AbortRunning()
{
    if (!m_update->AnyUnfinished())
        return true;
    const auto answer = QMessageBox::question(Frame().DialogParent(), kTitle, kAbortQuestion,
                                              QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Cancel);
    if (answer != QMessageBox::Ok)
        return false;
    m_update->AbortAll();
    std::vector<std::unique_ptr<CRowWorker>> rows;
    std::vector<CAbortable*> workers;
    for (size_t i = 0; i < m_update->RowCount(); ++i) {
        const std::string name = i == 0 ? "Load File" : std::to_string(m_settings.destinations[i - 1]);
        rows.push_back(std::make_unique<CRowWorker>(m_update->Row(i), name));
        workers.push_back(rows.back().get());
    }
    CThreadAbort wait(workers, Frame().DialogParent());
    wait.exec();
    return true;
}

void CChildFrame_Firmware::Stop()
{
    if (!AbortRunning())
        return;
    m_update->Join();
    m_timer->stop();
    m_update->Clear();
    m_list->ClearRows();
    m_out->Print("Disconnected\r\n");
}

void CChildFrame_Firmware::refresh()
{
    m_list->Refresh(*m_update);
    if (!m_update->AnyUnfinished())
        m_timer->stop();
}

void CChildFrame_Firmware::closeEvent(QCloseEvent* event)
{
    if (!AbortRunning()) {
        event->ignore();
        return;
    }
    CChildFrame::closeEvent(event);
}

void CChildFrame_Firmware::CloseWorkers()
{
    m_timer->stop();
    m_update->AbortAll();
    m_update->Join();
}

void CChildFrame_Firmware::ReadSettings(CSettingsStoreEx& store)
{
    _FIRMSETTINGS& s = m_settings;
    store.Read("GetFirmwareFile", s.getFirmwareFile);
    store.Read("FirmwareFile", s.firmwareFile);
    std::vector<uint32_t> ids;
    if (store.Read("Destinations", ids)) {
        s.destinations.clear();
        for (uint32_t id : ids)
            s.destinations.push_back(static_cast<uint16_t>(id));
    }
    store.Read("FirmType", s.firmType);
    store.Read("FirmWrite", s.firmWrite);
    store.Read("FirmVerify", s.firmVerify);
    store.Read("RdSecSize", s.rdSecSize);
    store.Read("Repeat", s.repeat);
    store.Read("MCReset", s.mcReset);
    store.Read("FlashTrb", s.flashTrb);
    store.Read("Timeout", s.timeout);
    store.Read("CmdTimeOut", s.cmdTimeOut);

    // The link type first: it decides which settings the link lists.
    int32_t ioType;
    if (store.Read(CPortMC_All::kProperties[0].name, ioType))
        m_link.SetPropertyById(CPortMC_All::kIOType, CVariant::FromInt(ioType));
    for (const _PROPDEF& p : m_link.Properties()) {
        if (p.id == CPortMC_All::kIOType)
            continue;
        if (p.type == VarType::String) {
            std::string text;
            if (store.Read(p.name, text))
                m_link.SetPropertyById(p.id, CVariant::FromString(text));
        } else {
            int32_t value;
            if (store.Read(p.name, value))
                m_link.SetPropertyById(p.id, CVariant::FromInt(value));
        }
    }
}

void CChildFrame_Firmware::WriteSettings(CSettingsStoreEx& store)
{
    const _FIRMSETTINGS& s = m_settings;
    store.Write("GetFirmwareFile", s.getFirmwareFile);
    store.Write("FirmwareFile", s.firmwareFile);
    store.Write("Destinations", std::vector<uint32_t>(s.destinations.begin(), s.destinations.end()));
    store.Write("FirmType", s.firmType);
    store.Write("FirmWrite", s.firmWrite);
    store.Write("FirmVerify", s.firmVerify);
    store.Write("RdSecSize", s.rdSecSize);
    store.Write("Repeat", s.repeat);
    store.Write("MCReset", s.mcReset);
    store.Write("FlashTrb", s.flashTrb);
    store.Write("Timeout", s.timeout);
    store.Write("CmdTimeOut", s.cmdTimeOut);
    for (const _PROPDEF& p : m_link.Properties()) {
        CVariant value;
        if (!m_link.GetProperty(p.id, value))
            continue;
        if (p.type == VarType::String)
            store.Write(p.name, value.text());
        else
            store.Write(p.name, static_cast<int32_t>(value.number()));
    }
}

void RegisterFirmwareWindows(CToolWindowRegistry& registry)
{
    AddStrings({
        {kGroupFirmware, "Firmware Properties"},
        {kGetFile, "Get File\nAuto: the image from the firmware release page; Manual: the Hex File"},
        {kHexFile, "Hex File\nThe image file used in Manual mode"},
        {kDestinations, "Destination List\nCCB ID of each crate to update (0x for hexadecimal)"},
        {kFirmType, "Firmware Type\nWhat is written: the flash, the RAM or an FPGA flash"},
        {kFirmWrite, "Write Firmware\nWrite the image"},
        {kFirmVerify, "Verify Firmware\nRead the image back and compare it"},
        {kRdSecSize, "Read Sector Size\nBytes per read when verifying a flash"},
        {kRepeat, "Repeat Cmd\nTries per command while writing and verifying"},
        {kMcReset, "Reset Divadiduv\nReset the crate after writing its flash"},
        {kFlashTrb, "Select TRB FPGA\nThe FPGA board an FPGAFLASH update addresses"},
        {kGroupLink, "Link\nThe link each worker copies"},
    });
    registry.Add(kCmdFirmwareUpdate, "&Firmware Update", [](CMainFrameServices& frame, const std::string& name) {
        return new CChildFrame_Firmware(frame, name);
    });
}
