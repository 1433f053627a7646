#pragma once
// The settings store's backend on QSettings in INI format. GUI thread only.

#include "shell/SettingsStore.h"

#include <QSettings>
#include <QString>

class CQtSettings : public CSettingsBackend {
public:
    // The program's file: $XDG_CONFIG_HOME/Belmora/Telvane.ini.
    CQtSettings();
    // Another file, for tests and tools.
    explicit CQtSettings(const QString& iniPath);

    bool GroupExists(const std::string& group) const override;
    std::vector<std::string> ChildGroups(const std::string& group) const override;
    bool Read(const std::string& group, const std::string& key, SettingKind kind, SettingValue& value) const override;
    bool Write(const std::string& group, const std::string& key, const SettingValue& value) override;
    bool RemoveValue(const std::string& group, const std::string& key) override;
    bool RemoveGroup(const std::string& group) override;
    bool Flush() override;

    QString FileName() const { return m_settings.fileName(); }

private:
    mutable QSettings m_settings;
};
