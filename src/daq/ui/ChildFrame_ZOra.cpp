#include "daq/ui/ChildFrame_ZOra.h"

#include "ports/Ipv4Network.h"
#include "shell/ui/MainServices.h"
#include "shell/ui/OutBox.h"
#include "shell/ui/RateList.h"
#include "shell/ui/ToolWindows.h"

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QSocketNotifier>
#include <QSplitter>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// Property ids: the settings in table order from kSettingBase, then the
// listening rules, then the groups.
constexpr int kSettingBase = 2700;
constexpr int kBindAddress = 2730;
constexpr int kAllowClients = 2731;
constexpr int kMaxClients = 2732;
constexpr int kGroupPu = 2740;
constexpr int kGroupBoards = 2741;
constexpr int kGroupServer = 2742;
constexpr int kMaxClientLimit = 4096;

const char* const kDescriptions[CDaqSettings::Count] = {
    "PU base address",
    "PU register ConfIO",
    "PU register EnRW",
    "PU register ResetEn",
    "PU register ReTransmit",
    "PU register ActiveIO",
    "PU register RunMode",
    "PU event counter preset",
    "PU Delay1 (6 bits used)",
    "PU Delay2 (6 bits used)",
    "PU DelayEx (6 bits used)",
    "ROS base address",
    "delay board base address",
    "TTCvi base address",
    "pattern generator 1 base address",
    "pattern generator 2 base address",
    "TCP port of the DAQ server (0: any free port)",
    "largest run a client may ask for, in events",
};

bool IsHexSetting(size_t index)
{
    return index != CDaqSettings::ZOraPort && index != CDaqSettings::MaxRunEvents;
}

int PropertyId(size_t index) { return kSettingBase + static_cast<int>(index); }

QString HexText(uint32_t value) { return "0x" + QString::number(value, 16).toUpper(); }

// Hexadecimal digits with or without "0x" in front: the pane shows these
// values in hexadecimal, so bare digits are read that way too.
bool ParseHexText(const QString& text, uint32_t& value)
{
    QString digits = text.trimmed();
    if (digits.startsWith("0x", Qt::CaseInsensitive))
        digits = digits.mid(2);
    if (digits.isEmpty())
        return false;
    uint64_t v = 0;
    for (QChar c : digits) {
        const char ch = c.toLatin1();
        int digit = 0;
        if (ch >= '0' && ch <= '9')
            digit = ch - '0';
        else if (ch >= 'a' && ch <= 'f')
            digit = ch - 'a' + 10;
        else if (ch >= 'A' && ch <= 'F')
            digit = ch - 'A' + 10;
        else
            return false;
        v = v << 4 | static_cast<uint64_t>(digit);
        if (v > 0xFFFFFFFFu)
            return false;
    }
    value = static_cast<uint32_t>(v);
    return true;
}

}  // namespace

CChildFrame_ZOra::CChildFrame_ZOra(CMainFrameServices& frame, std::string profileName)
    : CChildFrame(frame, std::move(profileName))
{
    auto* body = new QWidget;
    auto* layout = new QVBoxLayout(body);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(4);
    m_state = new QLabel(body);
    m_clients = new CRateListCtrl;
    m_clients->setHeaderLabels({tr("Client"), tr("RX"), tr("TX")});
    m_clients->header()->resizeSection(0, 160);
    m_clients->setContextMenuPolicy(Qt::CustomContextMenu);
    m_out = new COutBox;
    auto* split = new QSplitter(Qt::Vertical, body);
    split->addWidget(m_clients);
    split->addWidget(m_out);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 2);
    layout->addWidget(m_state);
    layout->addWidget(split, 1);
    setWidget(body);
    connect(m_clients, &QWidget::customContextMenuRequested, this, &CChildFrame_ZOra::showClientMenu);

    m_timer = new QTimer(this);
    m_timer->setInterval(kTimerMs);
    connect(m_timer, &QTimer::timeout, this, &CChildFrame_ZOra::onTick);

    m_control = std::make_unique<CDaqControl>(*m_out);
    m_events = new QSocketNotifier(m_control->Events().DataEvent().fd(), QSocketNotifier::Read, this);
    connect(m_events, &QSocketNotifier::activated, this, &CChildFrame_ZOra::drainEvents);
    showState();
}

CChildFrame_ZOra::~CChildFrame_ZOra()
{
    // The rate line may already be gone with the main frame: only the
    // server is closed here.
    shutDown();
}

void CChildFrame_ZOra::OnOpened()
{
    if (CRateMeter* meter = RateMeter())
        meter->Attach(kRateFullScale, &m_control->ReceivedCounter(), kRateFullScale, &m_control->SentCounter());
}

void CChildFrame_ZOra::CloseWorkers()
{
    if (CRateMeter* meter = RateMeter())
        meter->Detach();
    shutDown();
}

void CChildFrame_ZOra::shutDown()
{
    if (!m_control)
        return;
    m_timer->stop();
    delete m_events;
    m_events = nullptr;
    m_control.reset();
    removeClientRows();
    m_open = false;
    m_pending = 0;
    m_port = 0;
    showState();
}

void CChildFrame_ZOra::OpenServer()
{
    if (!m_control || m_open || m_pending > 0)
        return;
    CommitPane();
    const uint32_t port = m_settings.Get(CDaqSettings::ZOraPort);
    if (port > 0xFFFF) {
        m_out->Print("ZOraPort %u is no TCP port\r\n", port);
        return;
    }
    ListenSettings listen = CDaqServer::DefaultSettings(static_cast<uint16_t>(port));
    listen.bindAddress = m_bindAddress;
    std::string bad;
    if (!ParseNetworkList(m_allowClients, listen.allowed, bad)) {
        m_out->Print("AllowClients: invalid network '%s'\r\n", bad.c_str());
        return;
    }
    listen.maxClients = m_maxClients;
    listen.openAccessHint = "set BindAddress or AllowClients in the properties to limit access";
    if (m_control->Open(m_settings, listen))
        ++m_pending;
    showState();
}

void CChildFrame_ZOra::CloseServer()
{
    if (m_control && (m_open || m_pending > 0) && m_control->Close())
        ++m_pending;
    showState();
}

void CChildFrame_ZOra::Reinitialise()
{
    if (!m_control || !m_open || m_pending > 0)
        return;
    CommitPane();
    if (m_control->Reinit(m_settings))
        ++m_pending;
    showState();
}

void CChildFrame_ZOra::ResetVme()
{
    if (m_control && m_open && m_pending == 0 && m_control->VmeReset())
        ++m_pending;
    showState();
}

void CChildFrame_ZOra::CloseClient(QTreeWidgetItem* row)
{
    if (const ClientRow* r = rowOf(row); r && m_control)
        m_control->CloseClient(r->id);
}

const CChildFrame_ZOra::ClientRow* CChildFrame_ZOra::rowOf(const QTreeWidgetItem* item) const
{
    for (const auto& r : m_rows)
        if (r->line->Item() == item)
            return r.get();
    return nullptr;
}

void CChildFrame_ZOra::drainEvents()
{
    if (!m_control)
        return;
    _DAQEVENT e;
    while (m_control->Events().TryRead(e)) {
        if (e.kind == _DAQEVENT::ClientAdded)
            continue;
        m_pending = std::max(0, m_pending - 1);
        m_open = e.open;
        m_port = e.port;
        if (m_open && !m_timer->isActive())
            m_timer->start();
        if (!m_open) {
            m_timer->stop();
            removeClientRows();
        }
    }
    if (m_open)
        addNewClients(m_control->Clients());
    showState();
}

void CChildFrame_ZOra::onTick()
{
    if (!m_control)
        return;
    const std::vector<_DAQCLIENTINFO> clients = m_control->Clients();
    for (const auto& row : m_rows) {
        auto it = std::find_if(clients.begin(), clients.end(), [&](const auto& c) { return c.id == row->id; });
        if (it != clients.end()) {
            row->received += static_cast<uint32_t>(it->received - row->receivedSeen);
            row->sent += static_cast<uint32_t>(it->sent - row->sentSeen);
            row->receivedSeen = it->received;
            row->sentSeen = it->sent;
        }
        row->line->Show();
    }
    m_control->RemoveClosedClients();
    std::erase_if(m_rows, [&](const std::unique_ptr<ClientRow>& row) {
        auto it = std::find_if(clients.begin(), clients.end(), [&](const auto& c) { return c.id == row->id; });
        if (it != clients.end() && it->open)
            return false;
        m_clients->RemoveLine(row->line);
        return true;
    });
    addNewClients(clients);
    showState();
}

void CChildFrame_ZOra::addNewClients(const std::vector<_DAQCLIENTINFO>& clients)
{
    for (const auto& c : clients) {
        if (!c.open || std::any_of(m_rows.begin(), m_rows.end(), [&](const auto& r) { return r->id == c.id; }))
            continue;
        auto row = std::make_unique<ClientRow>();
        row->id = c.id;
        row->receivedSeen = c.received;
        row->sentSeen = c.sent;
        row->line = m_clients->AddLine(QString::fromStdString(c.address));
        row->line->Attach(kRateFullScale, &row->received, kRateFullScale, &row->sent);
        m_rows.push_back(std::move(row));
    }
}

void CChildFrame_ZOra::removeClientRows()
{
    for (const auto& row : m_rows)
        m_clients->RemoveLine(row->line);
    m_rows.clear();
}

void CChildFrame_ZOra::showClientMenu(const QPoint& at)
{
    const ClientRow* row = rowOf(m_clients->itemAt(at));
    if (!row)
        return;
    // The row may go while the menu is open; the client is known by its id.
    const uint64_t id = row->id;
    QMenu menu(this);
    connect(menu.addAction(tr("Close Client")), &QAction::triggered, this, [this, id] {
        if (m_control)
            m_control->CloseClient(id);
    });
    menu.exec(m_clients->viewport()->mapToGlobal(at));
}

void CChildFrame_ZOra::showState()
{
    QString text;
    if (m_pending > 0)
        text = tr("Working...");
    else if (!m_open)
        text = tr("DAQ server closed");
    else if (m_rows.size() == 1)
        text = tr("DAQ server open on port %1, 1 client").arg(m_port);
    else
        text = tr("DAQ server open on port %1, %2 clients").arg(m_port).arg(m_rows.size());
    m_state->setText(text);
}

void CChildFrame_ZOra::BuildPane(CPropertiesWnd& pane)
{
    CPropertyGrid& g = pane.Grid();
    using Kind = CGridProperty::Kind;
    CGridProperty* pu = g.Add(nullptr, Kind::Group, kGroupPu, tr("PU"), {});
    CGridProperty* boards = g.Add(nullptr, Kind::Group, kGroupBoards, tr("Boards"), {});
    CGridProperty* server = g.Add(nullptr, Kind::Group, kGroupServer, tr("DAQ Server"), {});
    const auto table = CDaqSettings::Table();
    for (size_t i = 0; i < CDaqSettings::Count; ++i) {
        const _DAQSETTING& s = table[i];
        CGridProperty* group = i <= CDaqSettings::PU_DelayEx  ? pu
                               : i < CDaqSettings::ZOraPort ? boards
                                                            : server;
        QString text = QString("%1\n%2").arg(s.key, kDescriptions[i]);
        if (IsHexSetting(i)) {
            text += QString(" (%1 bits, hexadecimal)").arg(s.bits);
            g.Add(group, Kind::Text, PropertyId(i), text, HexText(m_settings.Get(static_cast<CDaqSettings::Index>(i))));
        } else {
            g.Add(group, Kind::Number, PropertyId(i), text,
                  static_cast<qlonglong>(m_settings.Get(static_cast<CDaqSettings::Index>(i))));
        }
    }
    g.Add(server, Kind::Text, kBindAddress, "BindAddress\nthe one IPv4 address to listen on; empty: every address",
          QString());
    g.Add(server, Kind::Text, kAllowClients,
          "AllowClients\nclient addresses or networks in CIDR form, separated by commas; empty: everyone", QString());
    g.Add(server, Kind::Number, kMaxClients,
          QString("MaxClients\nconnections beyond this many are refused (0: no limit, at most %1)")
              .arg(kMaxClientLimit),
          0);

    g.Tree()->resizeColumnToContents(0);

    QStyle* style = QApplication::style();
    pane.SetButtons({
        {kCmdOpen, tr("Open the DAQ server\nOpen"), style->standardIcon(QStyle::SP_MediaPlay)},
        {kCmdClose, tr("Close the DAQ server\nClose"), style->standardIcon(QStyle::SP_MediaStop)},
        {kCmdReinit, tr("Re-initialise the boards: Stop, 2 s, Init\nRe-init"),
         style->standardIcon(QStyle::SP_BrowserReload)},
        {kCmdVmeReset, tr("Reset the VME bus\nVME Reset"), style->standardIcon(QStyle::SP_DialogResetButton)},
    });
}

bool CChildFrame_ZOra::SyncPane(CPropertyGrid& grid, bool commit)
{
    bool valid = true;
    for (size_t i = 0; i < CDaqSettings::Count; ++i) {
        const auto index = static_cast<CDaqSettings::Index>(i);
        CGridProperty* p = grid.Find(PropertyId(i));
        if (!p)
            continue;
        if (IsHexSetting(i)) {
            if (commit && p->IsModified()) {
                uint32_t value = 0;
                if (!ParseHexText(p->Value().toString(), value) || !m_settings.Set(index, value)) {
                    valid = false;
                    continue;
                }
            }
            p->SetValue(HexText(m_settings.Get(index)));
            p->SetReference(p->Value());
        } else {
            uint32_t value = m_settings.Get(index);
            grid.Sync(PropertyId(i), value, commit);
            m_settings.Set(index, value);
        }
    }
    grid.Sync(kBindAddress, m_bindAddress, commit);
    grid.Sync(kAllowClients, m_allowClients, commit);
    grid.Sync(kMaxClients, m_maxClients, commit);
    return valid;
}

bool CChildFrame_ZOra::checkValue(CGridProperty& p) const
{
    const int id = p.Id();
    const qlonglong number = p.Value().toLongLong();
    const std::string text = p.Value().toString().toStdString();
    if (id >= kSettingBase && id < kSettingBase + static_cast<int>(CDaqSettings::Count)) {
        const auto index = static_cast<CDaqSettings::Index>(id - kSettingBase);
        if (index == CDaqSettings::ZOraPort)
            return number >= 0 && number <= 0xFFFF;
        if (index == CDaqSettings::MaxRunEvents)
            return number >= 1 && number <= 0xFFFFFFFFll;
        uint32_t value = 0;
        CDaqSettings check;
        if (!ParseHexText(p.Value().toString(), value) || !check.Set(index, value))
            return false;
        p.SetValue(HexText(value));
        return true;
    }
    if (id == kMaxClients)
        return number >= 0 && number <= kMaxClientLimit;
    if (id == kBindAddress) {
        uint32_t address = 0;
        return text.empty() || ParseIpv4(text, address);
    }
    if (id == kAllowClients) {
        std::vector<CIpv4Network> networks;
        std::string bad;
        if (!ParseNetworkList(text, networks, bad))
            return false;
        p.SetValue(QString::fromStdString(NetworkListText(networks)));
        return true;
    }
    return true;
}

void CChildFrame_ZOra::OnPropertyChanged(CGridProperty& property)
{
    if (checkValue(property))
        return;
    m_out->Print("%s: invalid value '%s'\r\n", property.Name().toUtf8().constData(),
                 property.ValueText().toUtf8().constData());
    property.SetValue(property.Reference());
}

void CChildFrame_ZOra::OnToolbarCommand(int id)
{
    switch (id) {
    case kCmdOpen: OpenServer(); break;
    case kCmdClose: CloseServer(); break;
    case kCmdReinit: Reinitialise(); break;
    case kCmdVmeReset: ResetVme(); break;
    default: break;
    }
}

_COMMANDSTATE CChildFrame_ZOra::ToolbarCommandState(int id)
{
    _COMMANDSTATE state;
    const bool idle = m_control && m_pending == 0;
    switch (id) {
    case kCmdOpen: state.enabled = idle && !m_open; break;
    case kCmdClose: state.enabled = m_control && (m_open || m_pending > 0); break;
    case kCmdReinit:
    case kCmdVmeReset: state.enabled = idle && m_open; break;
    default: state.enabled = false; break;
    }
    return state;
}

void CChildFrame_ZOra::ReadSettings(CSettingsStoreEx& store)
{
    m_settings.Load([&](const char* key, uint32_t& value) { return store.Read(key, value); });
    store.Read("BindAddress", m_bindAddress);
    store.Read("AllowClients", m_allowClients);
    int32_t maxClients = m_maxClients;
    if (store.Read("MaxClients", maxClients) && maxClients >= 0 && maxClients <= kMaxClientLimit)
        m_maxClients = maxClients;
}

void CChildFrame_ZOra::WriteSettings(CSettingsStoreEx& store)
{
    const auto table = CDaqSettings::Table();
    for (size_t i = 0; i < CDaqSettings::Count; ++i) {
        const uint32_t value = m_settings.Get(static_cast<CDaqSettings::Index>(i));
        switch (table[i].bits) {
        case 8: store.Write(table[i].key, static_cast<uint8_t>(value)); break;
        case 16: store.Write(table[i].key, static_cast<uint16_t>(value)); break;
        default: store.Write(table[i].key, value); break;
        }
    }
    store.Write("BindAddress", m_bindAddress);
    store.Write("AllowClients", m_allowClients);
    store.Write("MaxClients", m_maxClients);
}

void RegisterDaqWindows(CToolWindowRegistry& registry)
{
    registry.Add(kCmdZOra, "ZOra", [](CMainFrameServices& frame, const std::string& name) {
        return new CChildFrame_ZOra(frame, name);
    });
}
