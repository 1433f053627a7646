#include "console/ui/ChildFrame_MC.h"

#include "base/Error.h"
#include "console/ConnectionPane.h"
#include "console/ui/ConsoleIds.h"
#include "shell/RateMeter.h"
#include "shell/ui/MainServices.h"
#include "shell/ui/PropertiesWnd.h"

#include <QApplication>
#include <QComboBox>
#include <QStyle>
#include <QTimer>

#include <cstdio>
#include <vector>

namespace {

constexpr int kTimerMs = 1000;
// While the send queue is full the GUI thread shows the traffic that
// frees it, checking this often.
constexpr int kQueueSpaceWaitMs = 10;


CGridProperty::Kind kindOf(const _PROPDEF& e)
{
    if (e.options)
        return CGridProperty::Kind::Choice;
    switch (e.type) {
    case VarType::Bool: return CGridProperty::Kind::Bool;
    case VarType::String: return CGridProperty::Kind::Text;
    default: return CGridProperty::Kind::Number;
    }
}

// A setting's number; a choice may come back as its option's name.
bool numberOf(const _PROPDEF& e, const CVariant& value, int32_t& number)
{
    int64_t n;
    if (value.ToNumber(n)) {
        number = static_cast<int32_t>(n);
        return true;
    }
    if (const _PROPOPT* o = e.options ? FindOption(e.options, value.text()) : nullptr) {
        number = o->value;
        return true;
    }
    return false;
}

ChoiceOptions choicesOf(const _PROPOPT* options)
{
    ChoiceOptions choices;
    for (const _PROPOPT* o = options; o && o->name; ++o)
        choices.emplace_back(QString::fromUtf8(o->name), o->value);
    return choices;
}

}  // namespace

int CChildFrame_MC::EventsOut::PrintV(const char* format, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n < 0)
        return n;
    std::vector<char> text(static_cast<size_t>(n) + 1);
    std::vsnprintf(text.data(), text.size(), format, args);
    return m_window.Print("%s", text.data());
}

CChildFrame_MC::CChildFrame_MC(CMainFrameServices& frame, const std::string& profileName)
    : CChildFrame(frame, profileName)
{
    m_box = new COutBox_MC(this);
    setWidget(m_box);
    m_engine = std::make_unique<CConnectionEngine>(m_events);
    CTrafficBox& traffic = m_engine->Box();
    traffic.SetSink(m_box);
    traffic.Queue().Notifier().SetCallback([&traffic](void*) { traffic.Drain(); }, nullptr);

    m_linkTimer = new QTimer(this);
    connect(m_linkTimer, &QTimer::timeout, this, [this] { m_engine->PollLink(); });
    m_linkTimer->start(kTimerMs);
    m_decodeWatch = new CDecodeFileWatch(
        this, [this] { return Frame().DialogParent(); }, "Telvane",
        {[this] { return m_engine->DecodeFileChanged(); }, [this] { loadDecodeFile(); },
         // Declined: the watch rests until the next load.
         [] { return false; }});
}

CChildFrame_MC::~CChildFrame_MC()
{
    CloseWorkers();
    // Room for the records still on their way to the box.
    m_box->Flush();
    m_engine.reset();
}

void CChildFrame_MC::CloseWorkers()
{
    m_linkTimer->stop();
    m_decodeWatch->Stop();
    if (RateMeter())
        RateMeter()->Detach();
    m_box->Flush();
    m_engine->Disconnect();
}

void CChildFrame_MC::OnOpened()
{
    applyView();
    loadDecodeFile();
}

bool CChildFrame_MC::Connect()
{
    CommitPane();
    const bool opened = m_engine->Connect();
    if (opened && RateMeter())
        RateMeter()->Attach(kRateFullScale, &m_engine->RxCounter(), kRateFullScale, &m_engine->TxCounter());
    applyLinkParameterRules();
    return opened;
}

void CChildFrame_MC::Disconnect()
{
    m_box->Flush();
    m_engine->Disconnect();
    if (RateMeter())
        RateMeter()->Detach();
    applyLinkParameterRules();
}

void CChildFrame_MC::RegisterSpy(unsigned flags, CFifoWr<_MCDATA>* writer)
{
    constexpr unsigned kWantsSent = 1, kWantsReceived = 2;
    CFifoWrList& tap = m_engine->Tap();
    if (flags & kWantsSent)
        tap.Add(_MCDATA::kSent, writer);
    else
        tap.Remove(_MCDATA::kSent, writer);
    if (flags & kWantsReceived)
        tap.Add(_MCDATA::kReceived, writer);
    else
        tap.Remove(_MCDATA::kReceived, writer);
}

bool CChildFrame_MC::QueueRequest(CFifoWr<_MCDATA>* replyWriter, const _MCDATA& request)
{
    if (!CommitPane()) {
        Print("Invalid Parameter\n");
        return false;
    }
    while (m_engine->IsQueueFull()) {
        m_box->Flush();
        WaitForAny({CWaitItem::Of(m_engine->QueueSpaceEvent())}, kQueueSpaceWaitMs);
    }
    return m_engine->Queue(replyWriter, request);
}

void CChildFrame_MC::applyView()
{
    m_box->Flush();
    m_engine->SetPrintTX(m_view.printTX);
    m_engine->SetPrintRX(m_view.printRX);
    CTrafficBox& traffic = m_engine->Box();
    traffic.SetEnDecode(m_view.enDecode);
    traffic.SetEnTime(m_view.enTime);
    traffic.SetLogFile(m_view.logFile);
    traffic.SetEnLog(m_view.enLog);
}

void CChildFrame_MC::loadDecodeFile()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool loaded = m_engine->LoadDecodeFile(m_view.decodeFile);
    QApplication::restoreOverrideCursor();
    m_view.decodeFile = m_engine->DecodeFile();
    RefreshPane();
    if (loaded)
        m_decodeWatch->Start();
    else
        m_decodeWatch->Stop();
}

const _PROPDEF* CChildFrame_MC::linkParameter(int id) const
{
    for (const _PROPDEF& e : m_parameters)
        if (e.id == id)
            return &e;
    return nullptr;
}

void CChildFrame_MC::BuildPane(CPropertiesWnd& pane)
{
    CPortMC_All& link = m_engine->Link();
    QComboBox& combo = pane.Combo();
    for (const _PROPOPT* o = CPortMC_All::kProperties[0].options; o && o->name; ++o) {
        combo.addItem(QString::fromUtf8(o->name), o->value);
        if (o->value == link.GetIOType())
            combo.setCurrentIndex(combo.count() - 1);
    }

    CPropertyGrid& grid = pane.Grid();
    m_parameters.clear();
    CGridProperty* connection = grid.AddGroup(kStrConnectionProperties);
    for (const _PROPDEF& e : link.Properties()) {
        if (e.id == CPortMC_All::kIOType)
            continue;
        m_parameters.push_back(e);
        CGridProperty* p = grid.Add(connection, kindOf(e), e.id, QString::fromUtf8(e.name), {});
        if (e.options)
            p->SetOptions(choicesOf(e.options));
        showLinkParameter(*p);
    }
    updateSectorOptions();

    AddTrafficViewGroup(grid, m_view);

    QStyle* s = style();
    pane.SetButtons({{kCmdConnect, "Connect\nConnect", s->standardIcon(QStyle::SP_MediaPlay)},
                     {kCmdDisconnect, "Disconnect\nDisconnect", s->standardIcon(QStyle::SP_MediaStop)}});
    applyLinkParameterRules();
}

void CChildFrame_MC::showLinkParameter(CGridProperty& property)
{
    const _PROPDEF* e = linkParameter(property.Id());
    CVariant value;
    if (!e || !m_engine->Link().GetProperty(e->id, value))
        return;
    QVariant shown;
    int32_t number = 0;
    std::string text;
    switch (property.GetKind()) {
    case CGridProperty::Kind::Bool:
        shown = numberOf(*e, value, number) && number != 0;
        break;
    case CGridProperty::Kind::Number:
    case CGridProperty::Kind::Choice:
        numberOf(*e, value, number);
        shown = static_cast<qlonglong>(number);
        break;
    default:
        value.ToText(text);
        shown = QString::fromStdString(text);
        break;
    }
    property.SetValue(shown);
    property.SetReference(shown);
}

bool CChildFrame_MC::commitLinkParameter(CGridProperty& property)
{
    const _PROPDEF* e = linkParameter(property.Id());
    if (!e)
        return true;
    CVariant value;
    switch (property.GetKind()) {
    case CGridProperty::Kind::Bool: value = CVariant::FromBool(property.Value().toBool()); break;
    case CGridProperty::Kind::Number:
        value = CVariant::FromString(std::to_string(property.Value().toLongLong()));
        break;
    case CGridProperty::Kind::Choice:
        value = e->type == VarType::String ? CVariant::FromString(property.ValueText().toStdString())
                                           : CVariant::FromInt(static_cast<int32_t>(property.Value().toLongLong()));
        break;
    default: value = CVariant::FromString(property.Value().toString().toStdString()); break;
    }
    // A value the link refuses stays in the pane, marked, until it is fixed.
    if (!m_engine->Link().SetPropertyById(e->id, value))
        return false;
    showLinkParameter(property);
    return true;
}

void CChildFrame_MC::updateSectorOptions()
{
    if (!IsPaneOwner())
        return;
    CPropertyGrid& grid = Frame().PropertiesPane().Grid();
    CGridProperty* sector = grid.Find(CPortMC_Tcp::kSector);
    CGridProperty* portType = grid.Find(CPortMC_Tcp::kPortType);
    const _PROPDEF* e = linkParameter(CPortMC_Tcp::kSector);
    if (!sector || !portType || !e)
        return;
    ChoiceOptions options;
    for (const auto& [name, value] : SectorOptions(static_cast<int32_t>(portType->Value().toLongLong())))
        options.emplace_back(QString::fromStdString(name), value);
    sector->SetOptions(options.empty() ? choicesOf(e->options) : options);
}

void CChildFrame_MC::applyLinkParameterRules()
{
    if (!IsPaneOwner())
        return;
    CPropertiesWnd& pane = Frame().PropertiesPane();
    CPropertyGrid& grid = pane.Grid();
    const bool linkFree = !m_engine->IsOpen() && !m_engine->Opened();
    auto valueOf = [&grid](int32_t id) -> int32_t {
        const CGridProperty* p = grid.Find(id);
        if (!p)
            return 0;
        return p->GetKind() == CGridProperty::Kind::Bool ? p->Value().toBool()
                                                        : static_cast<int32_t>(p->Value().toLongLong());
    };
    pane.Combo().setEnabled(linkFree);
    for (const _PROPDEF& e : m_parameters) {
        CGridProperty* p = grid.Find(e.id);
        if (!p)
            continue;
        const _PARAMSTATE state = LinkParameterState(e.id, linkFree, valueOf, {!p->isDisabled(), !p->isHidden()});
        p->setDisabled(!state.editable);
        p->setHidden(!state.shown);
    }
}

bool CChildFrame_MC::SyncPane(CPropertyGrid& grid, bool commit)
{
    bool valid = true;
    for (const _PROPDEF& e : m_parameters) {
        CGridProperty* p = grid.Find(e.id);
        if (!p)
            continue;
        if (commit && p->IsModified())
            valid = commitLinkParameter(*p) && valid;
        else
            showLinkParameter(*p);
    }
    SyncTrafficView(grid, m_view, commit);
    if (commit)
        applyView();
    updateSectorOptions();
    applyLinkParameterRules();
    return valid;
}

void CChildFrame_MC::OnPropertyChanged(CGridProperty& property)
{
    CPropertyGrid& grid = Frame().PropertiesPane().Grid();
    const int id = property.Id();
    if (linkParameter(id)) {
        commitLinkParameter(property);
        if (id == CPortMC_Tcp::kPortType)
            updateSectorOptions();
        applyLinkParameterRules();
        return;
    }
    switch (id) {
    case kStrPrintTX:
        grid.Sync(id, m_view.printTX, true);
        m_box->Flush();
        m_engine->SetPrintTX(m_view.printTX);
        break;
    case kStrPrintRX:
        grid.Sync(id, m_view.printRX, true);
        m_box->Flush();
        m_engine->SetPrintRX(m_view.printRX);
        break;
    case kStrDecodeData:
        grid.Sync(id, m_view.enDecode, true);
        m_engine->Box().SetEnDecode(m_view.enDecode);
        break;
    case kStrPrintTime:
        grid.Sync(id, m_view.enTime, true);
        m_engine->Box().SetEnTime(m_view.enTime);
        break;
    case kStrEnableLog:
        grid.Sync(id, m_view.enLog, true);
        m_engine->Box().SetEnLog(m_view.enLog);
        break;
    case kStrLogFile:
        // Logging to the new file starts when "Enable Log" is turned on again.
        m_view.enLog = false;
        grid.Sync(kStrEnableLog, m_view.enLog, false);
        grid.Sync(id, m_view.logFile, true);
        m_engine->ChangeLogFile(m_view.logFile);
        break;
    case kStrDecodeFile: {
        const std::string previous = m_view.decodeFile;
        grid.Sync(id, m_view.decodeFile, true);
        if (m_view.decodeFile != previous)
            loadDecodeFile();
        break;
    }
    default: break;
    }
}

void CChildFrame_MC::OnFileBrowsed(CGridProperty&)
{
    // The browsed name arrived as a property change already.
}

void CChildFrame_MC::OnFileEdit(CGridProperty& property)
{
    Frame().OpenInEditor(property.Value().toString().toStdString());
}

void CChildFrame_MC::OnPaneComboChanged(int index)
{
    CPropertiesWnd& pane = Frame().PropertiesPane();
    const int32_t ioType = pane.Combo().itemData(index).toInt();
    if (ioType == m_engine->Link().GetIOType())
        return;
    m_engine->Link().SetPropertyById(CPortMC_All::kIOType, CVariant::FromInt(ioType));
    // Another link lists other parameters.
    QTimer::singleShot(0, this, [this] {
        if (IsPaneOwner())
            Frame().PropertiesPane().Rebuild();
    });
}

void CChildFrame_MC::OnToolbarCommand(int command)
{
    if (command == kCmdConnect)
        Connect();
    else if (command == kCmdDisconnect)
        Disconnect();
}

_COMMANDSTATE CChildFrame_MC::ToolbarCommandState(int command)
{
    const CConnectionEngine::CommandState state = m_engine->QueryCommandState();
    if (state.changed)
        applyLinkParameterRules();
    if (command == kCmdConnect)
        return {state.connectEnabled, false};
    if (command == kCmdDisconnect)
        return {state.disconnectEnabled, false};
    return {false, false};
}

void CChildFrame_MC::ReadSettings(CSettingsStoreEx& store)
{
    CPortMC_All& link = m_engine->Link();
    int32_t ioType;
    if (store.Read("IOType", ioType))
        link.SetPropertyById(CPortMC_All::kIOType, CVariant::FromInt(ioType));
    for (const _PROPDEF& e : link.Properties()) {
        if (e.id == CPortMC_All::kIOType)
            continue;
        if (e.type == VarType::String) {
            std::string text;
            if (store.Read(e.name, text))
                link.SetPropertyById(e.id, CVariant::FromString(text));
        } else {
            int32_t number;
            if (store.Read(e.name, number))
                link.SetPropertyById(e.id, e.type == VarType::Bool ? CVariant::FromBool(number != 0)
                                                                   : CVariant::FromInt(number));
        }
    }
    m_view.Read(store);
    applyView();
}

void CChildFrame_MC::WriteSettings(CSettingsStoreEx& store)
{
    CPortMC_All& link = m_engine->Link();
    for (const _PROPDEF& e : link.Properties()) {
        CVariant value;
        if (!link.GetProperty(e.id, value))
            continue;
        if (e.type == VarType::String) {
            std::string text;
            value.ToText(text);
            store.Write(e.name, text);
        } else if (int32_t number; numberOf(e, value, number)) {
            store.Write(e.name, number);
        }
    }
    m_view.Write(store);
}
