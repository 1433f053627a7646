#include "console/ui/CommandWnd.h"

#include "base/NumberText.h"
#include "console/ui/CommandTarget.h"
#include "console/ui/ConsoleIds.h"
#include "language/StructData.h"
#include "shell/CommandFile.h"
#include "shell/SettingsStore.h"
#include "shell/StringTable.h"
#include "shell/ui/ChildFrame.h"
#include "shell/ui/MainServices.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <cstring>

SendProperties CCommandWnd::s_global;
CChildFrame* CCommandWnd::s_globalTarget = nullptr;
std::vector<CCommandWnd*> CCommandWnd::s_windows;

namespace {

constexpr int kStateTimerMs = 250;
constexpr int32_t kActiveWindowChoice = -1;
// On destruction a reply wait in progress is aborted; its record comes
// back at once, this is only the bound.
constexpr int kAbortReplyMs = 2000;

bool isArray(const _VA_ARG& field)
{
    return field.count > 1 && field.kind != VBSTR && !IsBitfieldKind(field.kind);
}

QString stringText(int id)
{
    return QString::fromStdString(LoadString(id));
}

std::vector<uint8_t> bytesOf(const SendProperties& p)
{
    std::vector<uint8_t> bytes(sizeof p);
    std::memcpy(bytes.data(), &p, sizeof p);
    return bytes;
}

}  // namespace

CCommandWnd::CCommandWnd(CMainFrameServices& frame, int id, QWidget* parent) : CCommandDock(frame, id, parent)
{
    auto* layout = new QVBoxLayout(&Body());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    m_toolbar = new QToolBar(&Body());
    m_toolbar->setIconSize(QSize(16, 16));
    m_toolbar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_grid = new CPropertyGrid(&Body());
    layout->addWidget(m_toolbar);
    layout->addWidget(m_grid, 1);
    createToolBar();

    connect(&CommandList(), &QComboBox::activated, this, &CCommandWnd::selectCommand);
    connect(m_grid, &CPropertyGrid::propertyChanged, this, &CCommandWnd::onPropertyChanged);
    m_repeatTimer = new QTimer(this);
    m_repeatTimer->setObjectName(QString::number(kCmdRepetitiveSend));
    connect(m_repeatTimer, &QTimer::timeout, this, &CCommandWnd::onRepeatTick);
    m_stateTimer = new QTimer(this);
    connect(m_stateTimer, &QTimer::timeout, this, &CCommandWnd::updateCommandStates);
    m_stateTimer->start(kStateTimerMs);

    m_replies.Notifier().SetCallback(
        [this](void*) { QMetaObject::invokeMethod(this, &CCommandWnd::onReply, Qt::QueuedConnection); }, nullptr);
    s_windows.push_back(this);
}

CCommandWnd::~CCommandWnd()
{
    m_repeatTimer->stop();
    m_replies.Notifier().Stop();
    std::erase(s_windows, this);
}

void CCommandWnd::closeEvent(QCloseEvent* event)
{
    m_repeatTimer->stop();
    m_repetitive = false;
    if (m_waiting) {
        // The target still holds the reply writer: it hands the aborted wait
        // back before the window goes. (When the main window goes, its tool
        // windows and their links go first.)
        if (CCommandTarget* t = commandTarget()) {
            t->AbortReplyWait();
            _MCDATA record;
            m_replies.Read(record, kAbortReplyMs);
        }
        m_waiting = false;
    }
    CCommandDock::closeEvent(event);
}

void CCommandWnd::createToolBar()
{
    QStyle* s = style();
    struct Button {
        int id;
        const char* text;
        QStyle::StandardPixmap icon;
        bool checkable;
        void (CCommandWnd::*run)();
    };
    const Button buttons[] = {
        {kCmdSendCommand, "Send Command\nSend", QStyle::SP_ArrowRight, false, &CCommandWnd::Send},
        {kCmdRepetitiveSend, "Repetitive Send\nRepetitive", QStyle::SP_BrowserReload, true,
         &CCommandWnd::StartRepetitive},
        {kCmdStop, "Stop\nStop", QStyle::SP_MediaStop, false, &CCommandWnd::Stop},
        {kCmdUseGlobal, "Use Global Send Property\nGlobal", QStyle::SP_DriveNetIcon, true, &CCommandWnd::ToggleGlobal},
    };
    for (const auto& b : buttons) {
        const QString text = b.text;
        QAction* a = m_toolbar->addAction(s->standardIcon(b.icon), text.section('\n', 1));
        a->setToolTip(text.section('\n', 0, 0));
        a->setCheckable(b.checkable);
        connect(a, &QAction::triggered, this, [this, run = b.run] { (this->*run)(); });
        m_actions[b.id] = a;
    }
    m_toolbar->addSeparator();
    QAction* sort = m_toolbar->addAction(s->standardIcon(QStyle::SP_ArrowDown), "Sort");
    sort->setToolTip("Sort Arguments");
    sort->setCheckable(true);
    connect(sort, &QAction::toggled, this, [this](bool on) {
        m_grid->Tree()->setSortingEnabled(on);
        if (on) {
            m_grid->Tree()->sortByColumn(0, Qt::AscendingOrder);
        } else {
            commitGrid();
            buildGrid();
        }
    });
    m_actions[kCmdSortArguments] = sort;
    QAction* expand = m_toolbar->addAction(s->standardIcon(QStyle::SP_ToolBarVerticalExtensionButton), "Expand");
    expand->setToolTip("Expand All");
    connect(expand, &QAction::triggered, this, [this] { m_grid->Tree()->expandAll(); });
    m_actions[kCmdExpandAll] = expand;
}

QAction* CCommandWnd::Action(int command) const
{
    auto it = m_actions.find(command);
    return it == m_actions.end() ? nullptr : it->second;
}

void CCommandWnd::RefillCommands(const CVa_Compiler* tables)
{
    m_tables = tables;
    const std::vector<std::string> names = CommandListNames(tables);
    QComboBox& list = CommandList();
    list.clear();
    for (const auto& name : names)
        list.addItem(QString::fromStdString(name));
    // The name saved with the window waits for the first command file.
    const std::string previous = m_loadedName.empty() ? m_commandName : m_loadedName;
    const int index = previous.empty() || !tables ? 0 : FindCommandByPrefix(names, previous);
    if (tables)
        m_loadedName.clear();
    list.setCurrentIndex(index);
    selectCommand(index);
}

void CCommandWnd::selectCommand(int index)
{
    m_command = nullptr;
    m_commandName = index >= 0 ? CommandList().itemText(index).toStdString() : std::string();
    if (m_tables && index >= 0 && m_commandName != kRawCommandName) {
        for (const auto& s : m_tables->Structs())
            if (s.Name() == m_commandName) {
                m_command = &s;
                break;
            }
    }
    layoutSlots();
    if (m_argsLoaded && m_loadedName.empty()) {
        // Arguments saved with the window go into its first grid only.
        for (size_t i = 0; i < m_args.size() && i < m_loadedArgs.size(); ++i)
            m_args[i] = m_loadedArgs[i];
        m_argsLoaded = false;
        m_loadedArgs.clear();
    }
    buildGrid();
}

void CCommandWnd::layoutSlots()
{
    m_firstSlot.clear();
    std::vector<std::string> args;
    if (m_command) {
        for (const _VA_ARG& field : m_command->Fields()) {
            m_firstSlot.push_back(args.size());
            const size_t slots = isArray(field) ? static_cast<size_t>(field.count) : 1;
            const std::string initial =
                field.enumRef && !field.enumRef->itemNames.empty() ? field.enumRef->itemNames.front() : "";
            args.insert(args.end(), slots, initial);
        }
    }
    m_args = std::move(args);
}

ChoiceOptions CCommandWnd::activeWindowOptions()
{
    ChoiceOptions options{{stringText(kStrActiveWindow).section('\n', 0, 0), kActiveWindowChoice}};
    m_choiceWindows.clear();
    for (CChildFrame* w : Frame().ToolWindows()) {
        if (!w->AcceptsCommands())
            continue;
        options.emplace_back(QString::fromStdString(w->ProfileName()), static_cast<int32_t>(m_choiceWindows.size()));
        m_choiceWindows.push_back(w);
    }
    // A target that is gone falls back to the active window.
    if (std::find(m_choiceWindows.begin(), m_choiceWindows.end(), target()) == m_choiceWindows.end())
        target() = nullptr;
    return options;
}

int32_t CCommandWnd::targetChoice() const
{
    auto it = std::find(m_choiceWindows.begin(), m_choiceWindows.end(), Target());
    return Target() && it != m_choiceWindows.end() ? static_cast<int32_t>(it - m_choiceWindows.begin())
                                                   : kActiveWindowChoice;
}

void CCommandWnd::buildGrid()
{
    m_building = true;
    m_grid->Clear();
    CGridProperty* send = m_grid->AddGroup(kStrSendProperties);
    ChoiceOptions windows = activeWindowOptions();
    m_grid->AddChoice(send, kStrActiveWindow, windows, targetChoice());
    m_grid->AddNumber(send, kStrCmdTimeout, Properties().timeoutMs);
    m_grid->AddBool(send, kStrWaitReply, Properties().waitReply != 0);
    CGridProperty* repetitive = m_grid->AddGroup(kStrRepetitiveProperties);
    m_grid->AddNumber(repetitive, kStrRepetitiveTime, m_period);
    buildArguments();
    m_building = false;
}

void CCommandWnd::buildArguments()
{
    if (m_command) {
        setWindowTitle(QString::fromStdString(m_command->Name()) + " Command");
        char title[64];
        std::snprintf(title, sizeof title, "Arguments (code 0x%02X)", static_cast<unsigned>(m_command->Code()));
        CGridProperty* group = m_grid->Add(nullptr, CGridProperty::Kind::Group, kStrArguments, title, {});
        for (int i = 0; i < m_command->FieldCount(); ++i) {
            const _VA_ARG& field = m_command->Field(i);
            std::string description = m_command->FieldTypeText(i);
            if (field.enumRef)
                description += " enum " + field.enumRef->name;
            const QString text = QString::fromStdString(field.name + "\n" + description);
            const size_t slot = m_firstSlot[static_cast<size_t>(i)];
            if (isArray(field)) {
                CGridProperty* parent = m_grid->Add(group, CGridProperty::Kind::Group, kArrayIdBase + i, text, {});
                for (int e = 0; e < field.count; ++e) {
                    char name[16];
                    std::snprintf(name, sizeof name, "[%d]", e);
                    m_grid->Add(parent, CGridProperty::Kind::Text, kSlotIdBase + static_cast<int>(slot) + e,
                                QString(name) + "\n" + QString::fromStdString(description), QString());
                }
            } else if (field.enumRef) {
                ChoiceOptions options;
                for (size_t k = 0; k < field.enumRef->itemNames.size(); ++k)
                    options.emplace_back(QString::fromStdString(field.enumRef->itemNames[k]), static_cast<int32_t>(k));
                CGridProperty* p =
                    m_grid->Add(group, CGridProperty::Kind::Choice, kSlotIdBase + static_cast<int>(slot), text, 0);
                p->SetOptions(options);
            } else {
                m_grid->Add(group, CGridProperty::Kind::Text, kSlotIdBase + static_cast<int>(slot), text, QString());
            }
        }
    } else if (m_commandName == kRawCommandName) {
        m_grid->Add(nullptr, CGridProperty::Kind::Group, kStrBufferData, stringText(kStrBufferData), {});
        for (size_t n = 0; n <= m_raw.size() && n < static_cast<size_t>(kMaxRawBytes); ++n)
            addRawEntry(static_cast<int>(n));
    }
    showModel();
}

void CCommandWnd::addRawEntry(int entry)
{
    CGridProperty* group = nullptr;
    for (int i = 0; i < m_grid->Tree()->topLevelItemCount(); ++i) {
        auto* item = static_cast<CGridProperty*>(m_grid->Tree()->topLevelItem(i));
        if (item->Id() == kStrBufferData)
            group = item;
    }
    if (!group)
        return;
    char name[16];
    std::snprintf(name, sizeof name, "[%d]", entry);
    const QString description = QString::fromStdString(StringDescription(LoadString(kStrRawData)));
    m_grid->Add(group, CGridProperty::Kind::Text, kRawIdBase + entry, QString(name) + "\n" + description, QString());
}

void CCommandWnd::setShown(CGridProperty* property, const QVariant& value)
{
    if (!property)
        return;
    property->SetValue(value);
    if (!m_repetitive)
        property->SetReference(value);
}

void CCommandWnd::showSendProperties()
{
    m_building = true;
    if (CGridProperty* choice = m_grid->Find(kStrActiveWindow)) {
        choice->SetOptions(activeWindowOptions());
        setShown(choice, static_cast<qlonglong>(targetChoice()));
    }
    setShown(m_grid->Find(kStrCmdTimeout), static_cast<qlonglong>(Properties().timeoutMs));
    setShown(m_grid->Find(kStrWaitReply), Properties().waitReply != 0);
    setShown(m_grid->Find(kStrRepetitiveTime), static_cast<qlonglong>(m_period));
    m_building = false;
}

void CCommandWnd::showModel()
{
    showSendProperties();
    m_building = true;
    for (size_t slot = 0; slot < m_args.size(); ++slot) {
        CGridProperty* p = m_grid->Find(kSlotIdBase + static_cast<int>(slot));
        if (!p)
            continue;
        if (p->GetKind() == CGridProperty::Kind::Choice) {
            QVariant value;
            if (p->ValueFromText(QString::fromStdString(m_args[slot]), value))
                setShown(p, value);
        } else {
            setShown(p, QString::fromStdString(m_args[slot]));
        }
    }
    for (size_t n = 0; n < m_raw.size(); ++n)
        setShown(m_grid->Find(kRawIdBase + static_cast<int>(n)), QString::number(m_raw[n]));
    m_building = false;
}

void CCommandWnd::commitGrid()
{
    if (CGridProperty* choice = m_grid->Find(kStrActiveWindow)) {
        const int32_t index = static_cast<int32_t>(choice->Value().toLongLong());
        target() = index >= 0 && static_cast<size_t>(index) < m_choiceWindows.size()
                       ? m_choiceWindows[static_cast<size_t>(index)]
                       : nullptr;
    }
    m_grid->Sync(kStrCmdTimeout, properties().timeoutMs, true);
    bool wait = properties().waitReply != 0;
    m_grid->Sync(kStrWaitReply, wait, true);
    properties().waitReply = wait;
    m_grid->Sync(kStrRepetitiveTime, m_period, true);
    for (size_t slot = 0; slot < m_args.size(); ++slot) {
        const CGridProperty* p = m_grid->Find(kSlotIdBase + static_cast<int>(slot));
        if (p)
            m_args[slot] = (p->GetKind() == CGridProperty::Kind::Choice ? p->ValueText() : p->Value().toString())
                               .toStdString();
    }
    showModel();
}

void CCommandWnd::onPropertyChanged(CGridProperty* property)
{
    if (m_building || !property)
        return;
    const int id = property->Id();
    if (id >= kRawIdBase && id < kRawIdBase + kMaxRawBytes) {
        onRawEntryChanged(id - kRawIdBase, property->Value().toString());
        return;
    }
    if (id != kStrActiveWindow && id != kStrCmdTimeout && id != kStrWaitReply)
        return;
    commitGrid();
    // Windows on the global send properties show every change at once.
    if (m_useGlobal)
        for (CCommandWnd* other : s_windows)
            if (other != this && other->m_useGlobal)
                other->showSendProperties();
}

void CCommandWnd::onRawEntryChanged(int entry, const QString& text)
{
    const int entries = static_cast<int>(m_raw.size()) + 1;
    const std::string value = text.trimmed().toStdString();
    if (entry == entries - 1) {
        // Typing into the empty last entry adds the next empty one.
        if (value.empty())
            return;
        m_raw.push_back(static_cast<uint8_t>(ParseNumberText(value)));
        if (static_cast<int>(m_raw.size()) < kMaxRawBytes)
            addRawEntry(entry + 1);
    } else if (entry < entries - 1) {
        if (value.empty() && entry == entries - 2) {
            // Cleared before the empty last entry: that one goes.
            m_raw.pop_back();
            delete m_grid->Find(kRawIdBase + entry + 1);
            return;
        }
        m_raw[static_cast<size_t>(entry)] = static_cast<uint8_t>(ParseNumberText(value));
    }
}

CChildFrame* CCommandWnd::resolveTarget()
{
    const std::vector<CChildFrame*> open = Frame().ToolWindows();
    if (std::find(open.begin(), open.end(), Target()) == open.end())
        return Frame().ActiveToolWindow();
    return Target();
}

CCommandTarget* CCommandWnd::commandTarget()
{
    CChildFrame* window = resolveTarget();
    return window && window->AcceptsCommands() ? dynamic_cast<CCommandTarget*>(window) : nullptr;
}

bool CCommandWnd::buildRequest(_MCDATA& request) const
{
    if (m_command) {
        std::vector<std::string> texts;
        for (int i = 0; i < m_command->FieldCount(); ++i) {
            const size_t first = m_firstSlot[static_cast<size_t>(i)];
            const size_t slots = isArray(m_command->Field(i)) ? static_cast<size_t>(m_command->Field(i).count) : 1;
            std::string joined;
            for (size_t k = 0; k < slots; ++k)
                joined += (k ? "," : "") + m_args[first + k];
            texts.push_back(joined);
        }
        return BuildCommandRequest(*m_command, texts, Properties(), request);
    }
    // With no byte entered one zero byte goes out.
    return BuildRawRequest(m_raw.empty() ? std::vector<uint8_t>{0} : m_raw, Properties(), request);
}

void CCommandWnd::Send()
{
    commitGrid();
    CCommandTarget* t = commandTarget();
    if (!t || !t->CanSendNow()) {
        m_waiting = false;
        m_repetitive = false;
        m_repeatTimer->stop();
        return;
    }
    _MCDATA request;
    if (!buildRequest(request))
        return;
    if (!Properties().waitReply) {
        if (!t->IsSendQueueFull())
            t->QueueRequest(&m_replyWriter, request);
        return;
    }
    m_waiting = true;
    m_waiting = t->QueueRequest(&m_replyWriter, request);
}

void CCommandWnd::StartRepetitive()
{
    commitGrid();
    m_repetitive = true;
    Send();
    if (m_repetitive && !Properties().waitReply)
        m_repeatTimer->start(static_cast<int>(m_period));
    updateCommandStates();
}

void CCommandWnd::onRepeatTick()
{
    if (Properties().waitReply || !m_repetitive)
        m_repeatTimer->stop();
    if (m_repetitive)
        Send();
}

void CCommandWnd::onReply()
{
    _MCDATA reply;
    while (m_replies.TryRead(reply)) {
        m_waiting = false;
        if (m_repetitive)
            m_repeatTimer->start(static_cast<int>(m_period));
    }
}

void CCommandWnd::Stop()
{
    commitGrid();
    if (m_waiting && !m_repetitive) {
        if (CCommandTarget* t = commandTarget())
            t->AbortReplyWait();
        m_waiting = false;
    }
    if (m_repetitive) {
        // A request already in flight completes.
        m_repeatTimer->stop();
        m_repetitive = false;
    }
    updateCommandStates();
}

void CCommandWnd::ToggleGlobal()
{
    commitGrid();
    m_useGlobal = !m_useGlobal;
    showSendProperties();
    updateCommandStates();
}

_COMMANDSTATE CCommandWnd::CommandState(int command)
{
    CCommandTarget* t = commandTarget();
    const bool canSend = t && t->CanSendNow() && (Target() || t->IsLinkOpen());
    switch (command) {
    case kCmdSendCommand: return {canSend && !m_waiting && !m_repetitive, false};
    case kCmdRepetitiveSend: return {canSend && !m_waiting && !m_repetitive, m_repetitive};
    case kCmdStop: return {t && t->CanSendNow() && (m_waiting || m_repetitive), false};
    case kCmdUseGlobal: return {true, m_useGlobal};
    default: return {true, false};
    }
}

void CCommandWnd::updateCommandStates()
{
    for (int command : {kCmdSendCommand, kCmdRepetitiveSend, kCmdStop, kCmdUseGlobal}) {
        const _COMMANDSTATE state = CommandState(command);
        QAction* a = Action(command);
        a->setEnabled(state.enabled);
        if (a->isCheckable())
            a->setChecked(state.checked);
    }
}

void CCommandWnd::ToolWindowsChanged(const std::vector<CChildFrame*>&)
{
    showSendProperties();
}

void CCommandWnd::LoadState(CSettingsStoreEx& store)
{
    store.Read("CmdName", m_loadedName);
    m_commandName = m_loadedName;
    if (store.Read("Args", m_loadedArgs))
        m_argsLoaded = true;
    store.Read("Repetitive", m_period);
    store.Read("Global", m_useGlobal);
    std::vector<uint8_t> bytes;
    // Blocks of any other size are not send properties.
    if (store.Read("SendProp", bytes) && bytes.size() == sizeof(SendProperties))
        std::memcpy(&m_own, bytes.data(), sizeof m_own);
    if (store.Read("gSendProp", bytes) && bytes.size() == sizeof(SendProperties))
        std::memcpy(&s_global, bytes.data(), sizeof s_global);
    if (store.Read("Buffer", bytes)) {
        bytes.resize(std::min(bytes.size(), static_cast<size_t>(kMaxRawBytes)));
        m_raw = bytes;
    }
    setWindowTitle(QString::fromStdString(m_commandName) + " Command");
}

void CCommandWnd::SaveState(CSettingsStoreEx& store)
{
    commitGrid();
    store.Write("CmdName", m_commandName);
    store.Write("Args", m_args);
    store.Write("Repetitive", m_period);
    store.Write("Global", m_useGlobal);
    store.Write("SendProp", bytesOf(m_own));
    store.Write("gSendProp", bytesOf(s_global));
    store.Write("Buffer", m_raw);
}
