#pragma once
// The property grid: groups of properties (boolean "True"/"False",
// number, text, choice with numeric values, file name with browse and edit
// actions), each known by the number of its string (name before the first
// newline, description after it) and marked while its value differs from
// its reference value. GUI thread only.

#include <QTreeWidget>
#include <QVariant>
#include <QWidget>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class QLabel;

using ChoiceOptions = std::vector<std::pair<QString, int32_t>>;

class CGridProperty : public QTreeWidgetItem {
public:
    enum class Kind { Group, Bool, Number, Text, Choice, File };

    CGridProperty(Kind kind, int id, const QString& name, const QString& description);

    Kind GetKind() const { return m_kind; }
    int Id() const { return m_id; }
    QString Name() const { return text(0); }
    const QString& Description() const { return m_description; }

    // Bool: bool; Number and Choice: qlonglong; Text and File: QString.
    const QVariant& Value() const { return m_value; }
    void SetValue(const QVariant& value);
    const QVariant& Reference() const { return m_reference; }
    void SetReference(const QVariant& value);
    // Shown as modified while the value differs from the reference.
    bool IsModified() const { return m_value != m_reference; }

    // The text shown for the value ("True"/"False", the option's name...).
    QString ValueText() const;
    // Parses the text an operator typed or picked; false when it is no
    // valid value of this property.
    bool ValueFromText(const QString& text, QVariant& value) const;

    const ChoiceOptions& Options() const { return m_options; }
    void SetOptions(ChoiceOptions options);
    const QString& Filter() const { return m_filter; }
    const QString& DefaultExtension() const { return m_defaultExt; }
    void SetFileType(const QString& filter, const QString& defaultExt);

private:
    void updateLook();

    Kind m_kind;
    int m_id;
    QString m_description;
    QVariant m_value;
    QVariant m_reference;
    ChoiceOptions m_options;
    QString m_filter;
    QString m_defaultExt;
};

class CPropertyGrid : public QWidget {
    Q_OBJECT
public:
    explicit CPropertyGrid(QWidget* parent = nullptr);

    void Clear();
    // Name and description come from the string table (shell/StringTable.h).
    CGridProperty* AddGroup(int id);
    CGridProperty* AddBool(CGridProperty* group, int id, bool value);
    CGridProperty* AddNumber(CGridProperty* group, int id, int64_t value);
    CGridProperty* AddText(CGridProperty* group, int id, const std::string& value);
    CGridProperty* AddChoice(CGridProperty* group, int id, ChoiceOptions options, int32_t value);
    // filter as "Command File (*.dec);;All File (*)".
    CGridProperty* AddFile(CGridProperty* group, int id, const std::string& path, const QString& filter,
                           const QString& defaultExt);
    // The same with the name and description given directly.
    CGridProperty* Add(CGridProperty* group, CGridProperty::Kind kind, int id, const QString& text,
                       const QVariant& value);

    CGridProperty* Find(int id) const;
    std::vector<CGridProperty*> Properties() const;

    // Sets a property's value as the operator does (marked modified,
    // propertyChanged sent); false when the value does not fit.
    bool Edit(int id, const QVariant& value);

    // Synchronise one property with a window field: commit copies a
    // modified property into the field, refresh shows the field. Either way
    // the value becomes the reference, so nothing shows as modified. False
    // when there is no such property.
    bool Sync(int id, bool& field, bool commit);
    bool Sync(int id, int32_t& field, bool commit);
    bool Sync(int id, uint32_t& field, bool commit);
    bool Sync(int id, int64_t& field, bool commit);
    bool Sync(int id, std::string& field, bool commit);

    QTreeWidget* Tree() const { return m_tree; }

Q_SIGNALS:
    void propertyChanged(CGridProperty* property);
    // The file property's browse dialog chose a file; its edit action.
    void fileBrowsed(CGridProperty* property);
    void fileEditRequested(CGridProperty* property);

private:
    friend class CPropertyDelegate;
    void showDescription(QTreeWidgetItem* item);
    template <class T>
    bool syncNumber(int id, T& field, bool commit);

    QTreeWidget* m_tree;
    QLabel* m_description;
};
