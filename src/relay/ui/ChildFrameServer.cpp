#include "relay/ui/ChildFrameServer.h"

#include "relay/ServerProfile.h"
#include "relay/ui/LinkPane.h"
#include "shell/ui/MainServices.h"
#include "shell/ui/RateList.h"

#include <QComboBox>
#include <QContextMenuEvent>
#include <QMenu>
#include <QTimer>

#include <cstdarg>

namespace {

constexpr int kTimerMs = 1000;
constexpr int kConnectionGroup = 9801;
constexpr int kServerGroup = 9802;

const char* const kIOTypes[] = {"COM Port Primary", "COM Port Secondary", "TCP/IP Port"};

}  // namespace

// The engine's texts go to "Main Events" with the window's prefix.
class CChildFrame_Server::Output : public CStdOut {
public:
    explicit Output(CChildFrame& window) : m_window(window) {}
    int PrintV(const char* format, va_list args) override
    {
        char text[1024];
        std::vsnprintf(text, sizeof text, format, args);
        return m_window.Print("%s", text);
    }

private:
    CChildFrame& m_window;
};

CChildFrame_Server::CChildFrame_Server(CMainFrameServices& frame, const std::string& profileName)
    : CChildFrame(frame, profileName),
      m_output(std::make_unique<Output>(*this)),
      m_server(std::make_unique<CRelayServer>(*m_output, static_cast<CRelayObserver*>(this))),
      m_list(new CRateListCtrl)
{
    m_server->Link().SetPropertyById(CPortMC_All::kIOType, CVariant::FromInt(CPortMC_All::kPrimary));
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_list, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QTreeWidgetItem* item = m_list->itemAt(at);
        if (!item)
            return;
        const int row = m_list->indexOfTopLevelItem(item);
        QMenu menu(this);
        menu.addAction(tr("Close Client"), this, [this, row] { CloseClientAt(row); });
        menu.exec(m_list->viewport()->mapToGlobal(at));
    });
    setWidget(m_list);
    m_timer = new QTimer(this);
    connect(m_timer, &QTimer::timeout, this, &CChildFrame_Server::Tick);
}

CChildFrame_Server::~CChildFrame_Server()
{
    CloseWorkers();
}

void CChildFrame_Server::CloseWorkers()
{
    Disconnect();
}

bool CChildFrame_Server::Connect()
{
    CommitPane();
    if (!m_server->Connect())
        return false;
    if (CRateMeter* own = RateMeter())
        own->Attach(kRateFullScale, &m_server->LinkReceivedBytes(), kRateFullScale, &m_server->LinkSentBytes());
    m_timer->start(kTimerMs);
    return true;
}

void CChildFrame_Server::Disconnect()
{
    if (!m_server->IsConnected())
        return;
    m_timer->stop();
    m_server->Disconnect();
    if (CRateMeter* own = RateMeter())
        own->Detach();
    SyncClientLines();
}

void CChildFrame_Server::CloseClientAt(int row)
{
    for (const auto& [id, line] : m_lines) {
        if (m_list->indexOfTopLevelItem(line->Item()) == row) {
            m_server->CloseClient(id);
            return;
        }
    }
}

void CChildFrame_Server::Tick()
{
    m_server->Tick();
    SyncClientLines();
    m_list->SampleAll();
}

void CChildFrame_Server::SyncClientLines()
{
    const auto clients = m_server->Clients();
    for (auto it = m_lines.begin(); it != m_lines.end();) {
        const bool present = std::any_of(clients.begin(), clients.end(),
                                         [&](const auto& c) { return c->socket->Id() == it->first; });
        if (present) {
            ++it;
            continue;
        }
        m_list->RemoveLine(it->second);
        it = m_lines.erase(it);
    }
    for (const auto& c : clients) {
        const uint64_t id = c->socket->Id();
        if (m_lines.count(id))
            continue;
        CRateItemData* line = m_list->AddLine(QString::fromStdString(c->title));
        line->Attach(kRateFullScale, &c->receivedBytes, kRateFullScale, &c->sentBytes);
        m_lines[id] = line;
    }
}

void CChildFrame_Server::RegisterSpy(unsigned flags, CFifoWr<_MCDATA>* writer)
{
    m_server->Spies().Register(flags, writer);
}

// ---- engine events, on its threads ----

void CChildFrame_Server::ClientAdded(const std::shared_ptr<_CLIENTDATA>& client)
{
    Print("Client %s connected\r\n", client->title.c_str());
    QMetaObject::invokeMethod(this, [this] { SyncClientLines(); }, Qt::QueuedConnection);
}

void CChildFrame_Server::ClientRefused(const std::string& address, const char* reason)
{
    Print("Client %s refused: %s\r\n", address.c_str(), reason);
}

void CChildFrame_Server::ClientClosed(const _CLIENTDATA& client, const char* reason)
{
    Print("Client %s disconnected: %s\r\n", client.title.c_str(), reason);
}

void CChildFrame_Server::StopRequested()
{
    QMetaObject::invokeMethod(this, [this] { Disconnect(); }, Qt::QueuedConnection);
}

// ---- properties pane ----

PropertyList CChildFrame_Server::LinkEntries()
{
    PropertyList entries;
    for (const _PROPDEF& e : m_server->Link().Properties())
        if (e.id != CPortMC_All::kIOType && !IsLeftOutOfServerProfile(e.id))
            entries.push_back(e);
    return entries;
}

void CChildFrame_Server::BuildPane(CPropertiesWnd& pane)
{
    QComboBox& combo = pane.Combo();
    combo.clear();
    for (const char* type : kIOTypes)
        combo.addItem(type);
    combo.setCurrentIndex(m_server->Link().GetIOType() - 1);
    combo.setEnabled(!m_server->IsConnected());

    CPropertyGrid& grid = pane.Grid();
    CRelayServer& s = *m_server;
    CGridProperty* link = grid.Add(nullptr, CGridProperty::Kind::Group, kConnectionGroup, "Connection Properties", {});
    AddSettings(grid, link, LinkEntries(),
                {[&s](int32_t id, CVariant& v) { return s.Link().GetProperty(id, v); },
                 [&s](int32_t id, const CVariant& v) { return s.Link().SetPropertyById(id, v); }});
    CGridProperty* server = grid.Add(nullptr, CGridProperty::Kind::Group, kServerGroup, "Server Properties", {});
    AddSettings(grid, server, CRelaySettings::Properties(),
                {[&s](int32_t id, CVariant& v) { return s.Settings().GetProperty(id, v); },
                 [&s](int32_t id, const CVariant& v) { return s.Settings().SetPropertyById(id, v); }});
    pane.SetButtons({{kCmdConnect, tr("Connect\nConnect"), {}}, {kCmdDisconnect, tr("Disconnect\nDisconnect"), {}}});
}

bool CChildFrame_Server::SyncPane(CPropertyGrid& grid, bool commit)
{
    CRelayServer& s = *m_server;
    const bool linkOk = SyncSettings(grid, LinkEntries(),
                                     {[&s](int32_t id, CVariant& v) { return s.Link().GetProperty(id, v); },
                                      [&s](int32_t id, const CVariant& v) { return s.Link().SetPropertyById(id, v); }},
                                     commit);
    const bool serverOk =
        SyncSettings(grid, CRelaySettings::Properties(),
                     {[&s](int32_t id, CVariant& v) { return s.Settings().GetProperty(id, v); },
                      [&s](int32_t id, const CVariant& v) { return s.Settings().SetPropertyById(id, v); }},
                     commit);
    return linkOk && serverOk;
}

void CChildFrame_Server::OnPaneComboChanged(int index)
{
    if (m_server->IsConnected() || index < 0 || index + 1 == m_server->Link().GetIOType())
        return;
    CommitPane();
    m_server->Link().SetPropertyById(CPortMC_All::kIOType, CVariant::FromInt(index + 1));
    Frame().PropertiesPane().Rebuild();
}

void CChildFrame_Server::OnToolbarCommand(int id)
{
    if (id == kCmdConnect)
        Connect();
    else if (id == kCmdDisconnect)
        Disconnect();
}

_COMMANDSTATE CChildFrame_Server::ToolbarCommandState(int id)
{
    const CRelayServer::LinkState link = m_server->UpdateLinkState();
    // A link that ended (its open failed, or it dropped) ends the server.
    if (m_server->IsConnected() && !link.open && !link.pending)
        QMetaObject::invokeMethod(this, [this] { Disconnect(); }, Qt::QueuedConnection);
    _COMMANDSTATE state;
    if (id == kCmdConnect)
        state.enabled = link.CanConnect() && !m_server->IsConnected();
    else if (id == kCmdDisconnect)
        state.enabled = link.CanDisconnect() && m_server->IsConnected();
    return state;
}

// ---- profile ----

void CChildFrame_Server::ReadSettings(CSettingsStoreEx& store)
{
    ProfileValue found;
    LoadServerProfile(m_server->Link(), m_server->Settings(),
                      [&](const std::string& key, bool isText) -> const ProfileValue* {
                          found = ProfileValue{key, isText, 0, {}};
                          const bool stored = isText ? store.Read(key, found.text) : store.Read(key, found.number);
                          return stored ? &found : nullptr;
                      });
}

void CChildFrame_Server::WriteSettings(CSettingsStoreEx& store)
{
    for (const ProfileValue& v : SaveServerProfile(m_server->Link(), m_server->Settings())) {
        if (v.isText)
            store.Write(v.key, v.text);
        else
            store.Write(v.key, v.number);
    }
}
