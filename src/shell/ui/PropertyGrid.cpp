#include "shell/ui/PropertyGrid.h"

#include "base/Property.h"
#include "shell/StringTable.h"

#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QStyledItemDelegate>
#include <QToolButton>
#include <QVBoxLayout>

CGridProperty::CGridProperty(Kind kind, int id, const QString& name, const QString& description)
    : m_kind(kind), m_id(id), m_description(description)
{
    setText(0, name);
    setToolTip(0, description);
    if (kind == Kind::Group) {
        setFirstColumnSpanned(true);
        QFont f = font(0);
        f.setBold(true);
        setFont(0, f);
        setFlags(Qt::ItemIsEnabled);
    } else {
        setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable);
    }
}

void CGridProperty::SetValue(const QVariant& value)
{
    m_value = value;
    updateLook();
}

void CGridProperty::SetReference(const QVariant& value)
{
    m_reference = value;
    updateLook();
}

void CGridProperty::SetOptions(ChoiceOptions options)
{
    m_options = std::move(options);
    updateLook();
}

void CGridProperty::SetFileType(const QString& filter, const QString& defaultExt)
{
    m_filter = filter;
    m_defaultExt = defaultExt;
}

QString CGridProperty::ValueText() const
{
    switch (m_kind) {
    case Kind::Group:
        return {};
    case Kind::Bool:
        return m_value.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    case Kind::Number:
        return QString::number(m_value.toLongLong());
    case Kind::Choice:
        for (const auto& [name, number] : m_options)
            if (number == m_value.toLongLong())
                return name;
        return QString::number(m_value.toLongLong());
    case Kind::Text:
    case Kind::File:
        return m_value.toString();
    }
    return {};
}

bool CGridProperty::ValueFromText(const QString& text, QVariant& value) const
{
    switch (m_kind) {
    case Kind::Group:
        return false;
    case Kind::Bool:
        if (text == "True" || text == "False") {
            value = text == "True";
            return true;
        }
        return false;
    case Kind::Number: {
        int64_t n = 0;
        if (!CVariant::FromString(text.toStdString()).ToNumber(n))
            return false;
        value = static_cast<qlonglong>(n);
        return true;
    }
    case Kind::Choice:
        for (const auto& [name, number] : m_options)
            if (name == text) {
                value = static_cast<qlonglong>(number);
                return true;
            }
        return false;
    case Kind::Text:
    case Kind::File:
        value = text;
        return true;
    }
    return false;
}

void CGridProperty::updateLook()
{
    setText(1, ValueText());
    QFont f = font(0);
    f.setBold(m_kind == Kind::Group || IsModified());
    setFont(0, f);
    QFont v = font(1);
    v.setBold(IsModified());
    setFont(1, v);
}

// Editors of the value column: a choice list for booleans and choices, a
// line for numbers and text, a line with browse and edit buttons for files.
class CPropertyDelegate : public QStyledItemDelegate {
public:
    explicit CPropertyDelegate(CPropertyGrid* grid) : QStyledItemDelegate(grid), m_grid(grid) {}

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex& index) const override
    {
        CGridProperty* p = property(index);
        if (!p || index.column() != 1)
            return nullptr;
        switch (p->GetKind()) {
        case CGridProperty::Kind::Group:
            return nullptr;
        case CGridProperty::Kind::Bool:
        case CGridProperty::Kind::Choice: {
            auto* combo = new QComboBox(parent);
            if (p->GetKind() == CGridProperty::Kind::Bool)
                combo->addItems({"True", "False"});
            else
                for (const auto& option : p->Options())
                    combo->addItem(option.first);
            connect(combo, &QComboBox::activated, this, [this, combo] {
                Q_EMIT const_cast<CPropertyDelegate*>(this)->commitData(combo);
            });
            return combo;
        }
        case CGridProperty::Kind::Number:
        case CGridProperty::Kind::Text:
            return new QLineEdit(parent);
        case CGridProperty::Kind::File:
            return fileEditor(parent, p);
        }
        return nullptr;
    }

    void setEditorData(QWidget* editor, const QModelIndex& index) const override
    {
        CGridProperty* p = property(index);
        if (!p)
            return;
        if (auto* combo = qobject_cast<QComboBox*>(editor))
            combo->setCurrentText(p->ValueText());
        else if (auto* line = editor->findChild<QLineEdit*>(); line && !qobject_cast<QLineEdit*>(editor))
            line->setText(p->ValueText());
        else if (auto* direct = qobject_cast<QLineEdit*>(editor))
            direct->setText(p->ValueText());
    }

    void setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex& index) const override
    {
        CGridProperty* p = property(index);
        if (!p)
            return;
        QString text;
        if (auto* combo = qobject_cast<QComboBox*>(editor))
            text = combo->currentText();
        else if (auto* line = qobject_cast<QLineEdit*>(editor))
            text = line->text();
        else if (auto* inner = editor->findChild<QLineEdit*>())
            text = inner->text();
        QVariant value;
        if (p->ValueFromText(text, value))
            m_grid->Edit(p->Id(), value);
    }

private:
    CGridProperty* property(const QModelIndex& index) const
    {
        return static_cast<CGridProperty*>(m_grid->m_tree->itemFromIndex(index));
    }

    QWidget* fileEditor(QWidget* parent, CGridProperty* p) const
    {
        auto* box = new QWidget(parent);
        box->setAutoFillBackground(true);
        auto* layout = new QHBoxLayout(box);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        auto* line = new QLineEdit(box);
        auto* browse = new QToolButton(box);
        browse->setText("...");
        browse->setToolTip(tr("Browse"));
        auto* edit = new QToolButton(box);
        edit->setText(tr("Edit"));
        edit->setToolTip(tr("Open the file in the text editor"));
        layout->addWidget(line, 1);
        layout->addWidget(browse);
        layout->addWidget(edit);
        box->setFocusProxy(line);
        CPropertyGrid* grid = m_grid;
        int id = p->Id();
        connect(browse, &QToolButton::clicked, box, [grid, id, line] {
            CGridProperty* prop = grid->Find(id);
            if (!prop)
                return;
            QFileDialog dialog(grid, prop->Name(), line->text(), prop->Filter());
            dialog.setDefaultSuffix(prop->DefaultExtension());
            dialog.setFileMode(QFileDialog::AnyFile);
            if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
                return;
            line->setText(dialog.selectedFiles().first());
            grid->Edit(id, line->text());
            Q_EMIT grid->fileBrowsed(grid->Find(id));
        });
        connect(edit, &QToolButton::clicked, box, [grid, id] {
            if (CGridProperty* prop = grid->Find(id))
                Q_EMIT grid->fileEditRequested(prop);
        });
        return box;
    }

    CPropertyGrid* m_grid;
};

CPropertyGrid::CPropertyGrid(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    m_tree = new QTreeWidget(this);
    m_tree->setColumnCount(2);
    m_tree->setHeaderHidden(true);
    m_tree->setAlternatingRowColors(true);
    m_tree->setEditTriggers(QAbstractItemView::AllEditTriggers);
    m_tree->setItemDelegate(new CPropertyDelegate(this));
    m_tree->header()->setSectionResizeMode(0, QHeaderView::Interactive);
    m_tree->header()->setStretchLastSection(true);
    m_tree->header()->resizeSection(0, 150);
    m_description = new QLabel(this);
    m_description->setWordWrap(true);
    m_description->setTextFormat(Qt::PlainText);
    m_description->setMinimumHeight(48);
    m_description->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    m_description->setFrameShape(QFrame::StyledPanel);
    layout->addWidget(m_tree, 1);
    layout->addWidget(m_description);
    connect(m_tree, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) { showDescription(item); });
}

void CPropertyGrid::showDescription(QTreeWidgetItem* item)
{
    auto* p = static_cast<CGridProperty*>(item);
    m_description->setText(p ? p->Name() + "\n" + p->Description() : QString());
}

void CPropertyGrid::Clear()
{
    m_tree->clear();
    m_description->clear();
}

CGridProperty* CPropertyGrid::Add(CGridProperty* group, CGridProperty::Kind kind, int id, const QString& text,
                                  const QVariant& value)
{
    int nl = text.indexOf('\n');
    QString name = nl < 0 ? text : text.left(nl);
    QString description = nl < 0 ? QString() : text.mid(nl + 1);
    auto* p = new CGridProperty(kind, id, name, description);
    if (group)
        group->addChild(p);
    else
        m_tree->addTopLevelItem(p);
    if (kind == CGridProperty::Kind::Group) {
        p->setExpanded(true);
    } else {
        p->SetValue(value);
        p->SetReference(value);
    }
    return p;
}

namespace {

QString StringText(int id)
{
    std::string text = LoadString(id);
    return text.empty() ? QString::number(id) : QString::fromStdString(text);
}

}  // namespace

CGridProperty* CPropertyGrid::AddGroup(int id)
{
    return Add(nullptr, CGridProperty::Kind::Group, id, StringText(id), {});
}

CGridProperty* CPropertyGrid::AddBool(CGridProperty* group, int id, bool value)
{
    return Add(group, CGridProperty::Kind::Bool, id, StringText(id), value);
}

CGridProperty* CPropertyGrid::AddNumber(CGridProperty* group, int id, int64_t value)
{
    return Add(group, CGridProperty::Kind::Number, id, StringText(id), static_cast<qlonglong>(value));
}

CGridProperty* CPropertyGrid::AddText(CGridProperty* group, int id, const std::string& value)
{
    return Add(group, CGridProperty::Kind::Text, id, StringText(id), QString::fromStdString(value));
}

CGridProperty* CPropertyGrid::AddChoice(CGridProperty* group, int id, ChoiceOptions options, int32_t value)
{
    CGridProperty* p = Add(group, CGridProperty::Kind::Choice, id, StringText(id), static_cast<qlonglong>(value));
    p->SetOptions(std::move(options));
    return p;
}

CGridProperty* CPropertyGrid::AddFile(CGridProperty* group, int id, const std::string& path, const QString& filter,
                                      const QString& defaultExt)
{
    CGridProperty* p = Add(group, CGridProperty::Kind::File, id, StringText(id), QString::fromStdString(path));
    p->SetFileType(filter, defaultExt);
    return p;
}

std::vector<CGridProperty*> CPropertyGrid::Properties() const
{
    std::vector<CGridProperty*> all;
    for (QTreeWidgetItemIterator it(m_tree); *it; ++it)
        all.push_back(static_cast<CGridProperty*>(*it));
    return all;
}

CGridProperty* CPropertyGrid::Find(int id) const
{
    for (CGridProperty* p : Properties())
        if (p->Id() == id && p->GetKind() != CGridProperty::Kind::Group)
            return p;
    return nullptr;
}

namespace {

// The value in the property's own type; false when it does not fit.
bool Normalise(const CGridProperty& p, const QVariant& value, QVariant& out)
{
    if (value.typeId() == QMetaType::QString)
        return p.ValueFromText(value.toString(), out);
    switch (p.GetKind()) {
    case CGridProperty::Kind::Group:
        return false;
    case CGridProperty::Kind::Bool:
        out = value.toBool();
        return true;
    case CGridProperty::Kind::Number:
        out = value.toLongLong();
        return true;
    case CGridProperty::Kind::Choice:
        for (const auto& option : p.Options())
            if (option.second == value.toLongLong()) {
                out = static_cast<qlonglong>(option.second);
                return true;
            }
        return false;
    case CGridProperty::Kind::Text:
    case CGridProperty::Kind::File:
        out = value.toString();
        return true;
    }
    return false;
}

}  // namespace

bool CPropertyGrid::Edit(int id, const QVariant& value)
{
    CGridProperty* p = Find(id);
    QVariant checked;
    if (!p || !Normalise(*p, value, checked))
        return false;
    if (checked == p->Value())
        return true;
    p->SetValue(checked);
    Q_EMIT propertyChanged(p);
    return true;
}

template <class T>
bool CPropertyGrid::syncNumber(int id, T& field, bool commit)
{
    CGridProperty* p = Find(id);
    if (!p)
        return false;
    if (commit && p->IsModified())
        field = static_cast<T>(p->Value().toLongLong());
    p->SetValue(static_cast<qlonglong>(field));
    p->SetReference(p->Value());
    return true;
}

bool CPropertyGrid::Sync(int id, int32_t& field, bool commit)
{
    return syncNumber(id, field, commit);
}

bool CPropertyGrid::Sync(int id, uint32_t& field, bool commit)
{
    return syncNumber(id, field, commit);
}

bool CPropertyGrid::Sync(int id, int64_t& field, bool commit)
{
    return syncNumber(id, field, commit);
}

bool CPropertyGrid::Sync(int id, bool& field, bool commit)
{
    CGridProperty* p = Find(id);
    if (!p)
        return false;
    if (commit && p->IsModified())
        field = p->Value().toBool();
    p->SetValue(field);
    p->SetReference(field);
    return true;
}

bool CPropertyGrid::Sync(int id, std::string& field, bool commit)
{
    CGridProperty* p = Find(id);
    if (!p)
        return false;
    if (commit && p->IsModified())
        field = p->Value().toString().toStdString();
    p->SetValue(QString::fromStdString(field));
    p->SetReference(p->Value());
    return true;
}
