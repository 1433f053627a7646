#include "nodes/ui/ChildFrame_McSec.h"

#include "nodes/NodeGrid.h"
#include "nodes/ui/GraphPage.h"
#include "shell/ui/MainServices.h"
#include "shell/ui/OutBox.h"
#include "shell/ui/ToolWindows.h"

#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

// Grid ids of the pane; the link's settings use their own ids (800 up).
enum PaneId : int {
    kGroupLink = 18000,
    kGroupCommand = 18001,
    kGroupFirmware = 18002,
    kResetCounters = 18010,
    kClearHistograms = 18011,
    kResetLatchUp = 18012,
    kHexFile = 18020,
    kNode = 18021,
    kVerify = 18022,
};

constexpr const char* kFlagNames[] = {"Reset Counters\nReset the error counters of every node at the next read",
                                      "Clear Histograms\nClear the histograms of nodes 8 and 9 at the next read",
                                      "Reset Latch Up\nReset the latch-up state of every node at the next read"};
constexpr CNodePassFlags::Flag kFlags[] = {CNodePassFlags::ResetCounters, CNodePassFlags::ClearHistograms,
                                           CNodePassFlags::ResetLatchUp};
constexpr int kFlagIds[] = {kResetCounters, kClearHistograms, kResetLatchUp};

// A connect on the GUI thread waits this long at most (loopback and the
// crate network answer far sooner).

// Windows colour values are 0x00BBGGRR.
QColor fromBgr(uint32_t bgr) { return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF); }

QVariant shownValue(CPortCAN& link, const _PROPDEF& entry)
{
    CVariant value = entry.type == VarType::String ? CVariant::FromString("") : CVariant();
    link.GetProperty(entry.id, value);
    if (entry.type == VarType::String)
        return QString::fromStdString(value.text());
    if (entry.type == VarType::Bool)
        return value.number() != 0;
    return static_cast<qlonglong>(value.number());
}

}  // namespace

CChildFrame_McSec::CChildFrame_McSec(CMainFrameServices& frame, std::string profileName)
    : CChildFrame(frame, std::move(profileName)),
      m_tabs(new QTabWidget),
      m_grid(new QTableWidget(kNodeGridRows + 1, kNodeCount + 1)),
      m_graph(new CGraphPage),
      m_output(new COutBox),
      m_nodeInfo(new QLabel)
{
    m_monitor = std::make_unique<CNodeMonitor>(*m_output);

    auto* nodePage = new QWidget;
    auto* nodeLayout = new QVBoxLayout(nodePage);
    nodeLayout->addWidget(m_nodeInfo);
    for (auto [text, command] : {std::pair{"Open Link", kCmdOpen}, std::pair{"Read Nodes", kCmdRead},
                                 std::pair{"Update Firmware", kCmdUpdate}, std::pair{"Close Link", kCmdClose}}) {
        auto* button = new QPushButton(tr(text));
        connect(button, &QPushButton::clicked, this, [this, command] { OnToolbarCommand(command); });
        nodeLayout->addWidget(button);
    }
    nodeLayout->addStretch(1);

    m_grid->horizontalHeader()->hide();
    m_grid->verticalHeader()->hide();
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    fillGridLabels();

    m_tabs->addTab(nodePage, tr("Node"));
    m_tabs->addTab(m_grid, tr("Status"));
    m_tabs->addTab(m_graph, tr("Histograms"));
    m_tabs->addTab(m_output, tr("Output"));
    m_tabs->setCurrentWidget(m_grid);
    setWidget(m_tabs);
    setWindowTitle(QString::fromStdString(ProfileName()));
    m_nodeInfo->setText(tr("Connection node: not known"));
}

CChildFrame_McSec::~CChildFrame_McSec() { CloseWorkers(); }

void CChildFrame_McSec::fillGridLabels()
{
    auto fixed = [this](int row, int column, const QString& text) {
        auto* item = new QTableWidgetItem(text);
        item->setBackground(palette().button());
        item->setFont([&] {
            QFont f = font();
            f.setBold(true);
            return f;
        }());
        m_grid->setItem(row, column, item);
    };
    fixed(0, 0, kNodeGridCorner);
    for (int n = 0; n < kNodeCount; ++n)
        fixed(0, n + 1, QString::number(n));
    for (int r = 0; r < kNodeGridRows; ++r)
        fixed(r + 1, 0, kNodeGridLabels[static_cast<size_t>(r)]);
    m_grid->resizeColumnToContents(0);
}

void CChildFrame_McSec::redraw()
{
    const NodeMonitorData data = m_monitor->Data();
    const NodeGrid grid = BuildNodeGrid(data);
    for (int r = 0; r < kNodeGridRows; ++r)
        for (int n = 0; n < kNodeCount; ++n) {
            const NodeGridCell& cell = grid[static_cast<size_t>(r)][static_cast<size_t>(n)];
            auto* item = new QTableWidgetItem(QString::fromStdString(cell.text));
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            if (cell.colour != NodeCellColour::Plain) {
                item->setBackground(fromBgr(NodeCellBgr(cell.colour)));
                item->setForeground(QColor(Qt::black));
            }
            m_grid->setItem(r + 1, n + 1, item);
        }
    m_grid->resizeColumnsToContents();
    m_grid->resizeRowsToContents();
    m_graph->SetData({data.histograms.begin(), data.histograms.end()});
    m_nodeInfo->setText(data.connectionNode == kNodeUnknown
                            ? tr("Connection node: not known")
                            : tr("Connection node: %1").arg(data.connectionNode));
    if (IsPaneOwner())
        RefreshPane();
    Q_EMIT redrawn();
}

bool CChildFrame_McSec::OpenLink()
{
    return m_monitor->StartOpen([this](bool) {
        QMetaObject::invokeMethod(this, [this] { RefreshPane(); }, Qt::QueuedConnection);
    });
}

void CChildFrame_McSec::CloseLink()
{
    if (m_monitor->Link().Active())
        m_monitor->Close();
}

bool CChildFrame_McSec::Read()
{
    return m_monitor->StartReadPass([this](const NodePassResult&) {
        QMetaObject::invokeMethod(this, [this] { redraw(); }, Qt::QueuedConnection);
    });
}

void CChildFrame_McSec::UpdateFirmware()
{
    CommitPane();
    QWidget* parent = Frame().DialogParent();
    if (updateNode < 0 || updateNode >= kNodeCount) {
        QMessageBox::warning(parent, windowTitle(), "Invalid Node number");
        return;
    }
    const QString question =
        QString::asprintf("Update Firmware on node %d\nfile %s\n\nAre you sure ?", updateNode, firmFile.c_str());
    if (QMessageBox::question(parent, windowTitle(), question, QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
        return;
    m_tabs->setCurrentWidget(m_output);
    m_monitor->StartUpdate(NodeFlashJob{firmFile, updateNode, verifyFirmware}, nullptr);
}

void CChildFrame_McSec::CloseWorkers()
{
    if (m_monitor->Link().Active() && m_monitor->Link().IsOpen())
        m_monitor->Close();
}

void CChildFrame_McSec::BuildPane(CPropertiesWnd& pane)
{
    CPortCAN_All& link = m_monitor->Link();
    QComboBox& combo = pane.Combo();
    combo.clear();
    for (const _PROPOPT* o = CPortCAN_All::kProperties[0].options; o && o->name; ++o)
        combo.addItem(o->name, o->value);
    combo.setCurrentIndex(combo.findData(link.GetCANIOType()));

    CPropertyGrid& g = pane.Grid();
    CGridProperty* linkGroup = g.Add(nullptr, CGridProperty::Kind::Group, kGroupLink, "CAN Link", {});
    for (const _PROPDEF& entry : link.Properties()) {
        if (entry.id == CPortCAN_All::kCANIOType)
            continue;
        const QString name = QString::fromUtf8(entry.name);
        if (entry.options) {
            ChoiceOptions options;
            for (const _PROPOPT* o = entry.options; o->name; ++o)
                options.emplace_back(QString::fromUtf8(o->name), o->value);
            g.Add(linkGroup, CGridProperty::Kind::Choice, entry.id, name, shownValue(link, entry))->SetOptions(options);
        } else if (entry.type == VarType::String) {
            g.Add(linkGroup, CGridProperty::Kind::Text, entry.id, name, shownValue(link, entry));
        } else if (entry.type == VarType::Bool) {
            g.Add(linkGroup, CGridProperty::Kind::Bool, entry.id, name, shownValue(link, entry));
        } else {
            g.Add(linkGroup, CGridProperty::Kind::Number, entry.id, name, shownValue(link, entry));
        }
    }
    CGridProperty* commands = g.Add(nullptr, CGridProperty::Kind::Group, kGroupCommand, "Command McSec", {});
    for (size_t i = 0; i < std::size(kFlags); ++i)
        g.Add(commands, CGridProperty::Kind::Bool, kFlagIds[i], kFlagNames[i], false);
    CGridProperty* firmware =
        g.Add(nullptr, CGridProperty::Kind::Group, kGroupFirmware, "Firmware Update Properties", {});
    g.Add(firmware, CGridProperty::Kind::File, kHexFile, "Hex File\nThe node firmware (Intel HEX)",
          QString::fromStdString(firmFile))
        ->SetFileType("Hex File (*.hex);;All File (*)", "hex");
    g.Add(firmware, CGridProperty::Kind::Number, kNode, "Node\nThe node to update (0 to 9; -1 none)",
          static_cast<qlonglong>(updateNode));
    g.Add(firmware, CGridProperty::Kind::Bool, kVerify, "Verify Firmware\nRead the firmware back and compare",
          verifyFirmware);

    pane.SetButtons({{kCmdOpen, "Open Link\nOpen", {}},
                     {kCmdClose, "Close Link\nClose", {}},
                     {kCmdRead, "Read Nodes\nRead", {}},
                     {kCmdUpdate, "Update Firmware\nUpdate", {}}});
}

bool CChildFrame_McSec::SyncPane(CPropertyGrid& grid, bool commit)
{
    CPortCAN_All& link = m_monitor->Link();
    for (CGridProperty* p : grid.Properties()) {
        if (p->Id() >= kGroupLink || p->GetKind() == CGridProperty::Kind::Group)
            continue;
        const _PROPDEF* entry = nullptr;
        const PropertyList list = link.Properties();
        for (const _PROPDEF& e : list)
            if (e.id == p->Id())
                entry = &e;
        if (!entry)
            continue;
        if (commit && p->IsModified()) {
            const QVariant v = p->Value();
            const CVariant value = entry->type == VarType::String ? CVariant::FromString(v.toString().toStdString())
                                   : entry->type == VarType::Bool ? CVariant::FromBool(v.toBool())
                                                                  : CVariant::FromInt(static_cast<int32_t>(v.toLongLong()));
            if (!link.SetPropertyById(entry->id, value))
                return false;
        }
        const QVariant shown = shownValue(link, *entry);
        p->SetValue(shown);
        p->SetReference(shown);
    }
    for (size_t i = 0; i < std::size(kFlags); ++i) {
        bool pending = m_monitor->Flags().Pending() & kFlags[i];
        const bool was = pending;
        grid.Sync(kFlagIds[i], pending, commit);
        if (commit && pending && !was)
            m_monitor->Flags().Set(kFlags[i]);
    }
    grid.Sync(kHexFile, firmFile, commit);
    grid.Sync(kNode, updateNode, commit);
    grid.Sync(kVerify, verifyFirmware, commit);
    return true;
}

void CChildFrame_McSec::OnPaneComboChanged(int index)
{
    CPropertiesWnd& pane = Frame().PropertiesPane();
    const int type = pane.Combo().itemData(index).toInt();
    if (type == m_monitor->Link().GetCANIOType())
        return;
    CommitPane();
    m_monitor->Link().SetPropertyById(CPortCAN_All::kCANIOType, CVariant::FromInt(type));
    pane.Rebuild();
}

void CChildFrame_McSec::OnToolbarCommand(int id)
{
    switch (id) {
    case kCmdOpen:
        CommitPane();
        OpenLink();
        break;
    case kCmdClose:
        CloseLink();
        break;
    case kCmdRead:
        CommitPane();
        Read();
        break;
    case kCmdUpdate:
        UpdateFirmware();
        break;
    default:
        break;
    }
}

_COMMANDSTATE CChildFrame_McSec::ToolbarCommandState(int id)
{
    CPortCAN_All& link = m_monitor->Link();
    const bool chosen = link.Active() != nullptr;
    const bool open = chosen && link.IsOpen();
    switch (id) {
    case kCmdOpen: return {chosen && !open, false};
    case kCmdClose: return {open, false};
    case kCmdRead: return {chosen && !m_monitor->ReadPassRunning(), false};
    case kCmdUpdate: return {chosen && !m_monitor->UpdateRunning(), false};
    default: return {};
    }
}

void CChildFrame_McSec::ReadSettings(CSettingsStoreEx& store)
{
    CPortCAN_All& link = m_monitor->Link();
    int32_t type = 0;
    if (store.Read("CANIOType", type))
        link.SetPropertyById(CPortCAN_All::kCANIOType, CVariant::FromInt(type));
    for (const _PROPDEF& entry : link.Properties()) {
        if (entry.id == CPortCAN_All::kCANIOType)
            continue;
        if (entry.type == VarType::String) {
            std::string text;
            if (store.Read(entry.name, text))
                link.SetPropertyById(entry.id, CVariant::FromString(text));
        } else {
            int32_t number = 0;
            if (store.Read(entry.name, number))
                link.SetPropertyById(entry.id, entry.type == VarType::Bool ? CVariant::FromBool(number != 0)
                                                                          : CVariant::FromInt(number));
        }
    }
    store.Read("FirmFile", firmFile);
}

void CChildFrame_McSec::WriteSettings(CSettingsStoreEx& store)
{
    CPortCAN_All& link = m_monitor->Link();
    for (const _PROPDEF& entry : link.Properties()) {
        CVariant value = entry.type == VarType::String ? CVariant::FromString("") : CVariant();
        if (!link.GetProperty(entry.id, value))
            continue;
        if (entry.type == VarType::String)
            store.Write(entry.name, value.text());
        else
            store.Write(entry.name, static_cast<int32_t>(value.number()));
    }
    store.Write("FirmFile", firmFile);
}

void RegisterNodeWindows(CToolWindowRegistry& registry)
{
    registry.Add(kCmdMcSec, "New Divadiduv Seccondary Monitor",
                 [](CMainFrameServices& frame, const std::string& name) { return new CChildFrame_McSec(frame, name); });
}
