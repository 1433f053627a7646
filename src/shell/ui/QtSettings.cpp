#include "shell/ui/QtSettings.h"

#include <QStringList>
#include <QVariant>

namespace {

QString Q(const std::string& s)
{
    return QString::fromStdString(s);
}

QString KeyPath(const std::string& group, const std::string& key)
{
    return group.empty() ? Q(key) : Q(group) + '/' + Q(key);
}

// Scopes QSettings to a group for one call.
class CGroupScope {
public:
    CGroupScope(QSettings& s, const std::string& group) : m_s(s)
    {
        if (!group.empty())
            m_s.beginGroup(Q(group));
    }
    ~CGroupScope()
    {
        while (!m_s.group().isEmpty())
            m_s.endGroup();
    }

private:
    QSettings& m_s;
};

}  // namespace

CQtSettings::CQtSettings() : m_settings(QSettings::IniFormat, QSettings::UserScope, "Belmora", "Telvane") {}

CQtSettings::CQtSettings(const QString& iniPath) : m_settings(iniPath, QSettings::IniFormat) {}

bool CQtSettings::GroupExists(const std::string& group) const
{
    CGroupScope scope(m_settings, group);
    return !m_settings.childKeys().isEmpty() || !m_settings.childGroups().isEmpty();
}

std::vector<std::string> CQtSettings::ChildGroups(const std::string& group) const
{
    CGroupScope scope(m_settings, group);
    std::vector<std::string> names;
    for (const QString& name : m_settings.childGroups())
        names.push_back(name.toStdString());
    return names;
}

bool CQtSettings::Read(const std::string& group, const std::string& key, SettingKind kind, SettingValue& value) const
{
    QVariant v = m_settings.value(KeyPath(group, key));
    if (!v.isValid())
        return false;
    switch (kind) {
    case SettingKind::Integer: {
        bool ok = false;
        qlonglong n = v.toLongLong(&ok);
        if (!ok)
            return false;
        value = static_cast<int64_t>(n);
        return true;
    }
    case SettingKind::String:
        if (!v.canConvert<QString>())
            return false;
        value = v.toString().toStdString();
        return true;
    case SettingKind::StringList: {
        std::vector<std::string> list;
        for (const QString& s : v.toStringList())
            list.push_back(s.toStdString());
        value = std::move(list);
        return true;
    }
    case SettingKind::Bytes: {
        if (v.typeId() != QMetaType::QByteArray)
            return false;
        QByteArray b = v.toByteArray();
        value = std::vector<uint8_t>(b.begin(), b.end());
        return true;
    }
    }
    return false;
}

bool CQtSettings::Write(const std::string& group, const std::string& key, const SettingValue& value)
{
    QVariant v;
    if (auto n = std::get_if<int64_t>(&value)) {
        v = static_cast<qlonglong>(*n);
    } else if (auto s = std::get_if<std::string>(&value)) {
        v = Q(*s);
    } else if (auto l = std::get_if<std::vector<std::string>>(&value)) {
        QStringList list;
        for (const auto& s : *l)
            list << Q(s);
        v = list;
    } else if (auto b = std::get_if<std::vector<uint8_t>>(&value)) {
        v = QByteArray(reinterpret_cast<const char*>(b->data()), static_cast<qsizetype>(b->size()));
    }
    m_settings.setValue(KeyPath(group, key), v);
    return m_settings.status() == QSettings::NoError;
}

bool CQtSettings::RemoveValue(const std::string& group, const std::string& key)
{
    QString path = KeyPath(group, key);
    if (!m_settings.contains(path))
        return false;
    m_settings.remove(path);
    return true;
}

bool CQtSettings::RemoveGroup(const std::string& group)
{
    if (group.empty() || !GroupExists(group))
        return false;
    m_settings.remove(Q(group));
    return true;
}

bool CQtSettings::Flush()
{
    m_settings.sync();
    return m_settings.status() == QSettings::NoError;
}
