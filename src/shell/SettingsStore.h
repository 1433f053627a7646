#pragma once
// The settings store: typed values in named sections over a key/value
// backend (QSettings in the program, memory in tests). Sections are paths
// such as "Workspace/Profiles/Crate 1/". One store is used by one thread
// at a time; backend calls do not wait.

#include <cstdint>
#include <map>
#include <string>
#include <variant>
#include <vector>

enum class SettingKind { Integer, String, StringList, Bytes };
using SettingValue = std::variant<int64_t, std::string, std::vector<std::string>, std::vector<uint8_t>>;

// Groups are paths separated by '/' with no '/' at either end; "" is the
// root. A group exists while it holds a value or a group.
class CSettingsBackend {
public:
    virtual ~CSettingsBackend() = default;
    virtual bool GroupExists(const std::string& group) const = 0;
    // Names of the groups directly below group.
    virtual std::vector<std::string> ChildGroups(const std::string& group) const = 0;
    // False when the value is missing or does not convert to kind.
    virtual bool Read(const std::string& group, const std::string& key, SettingKind kind,
                      SettingValue& value) const = 0;
    virtual bool Write(const std::string& group, const std::string& key, const SettingValue& value) = 0;
    virtual bool RemoveValue(const std::string& group, const std::string& key) = 0;
    // Removes the group with everything below it.
    virtual bool RemoveGroup(const std::string& group) = 0;
    // Makes the writes so far durable.
    virtual bool Flush() = 0;
};

class CMemorySettings : public CSettingsBackend {
public:
    bool GroupExists(const std::string& group) const override;
    std::vector<std::string> ChildGroups(const std::string& group) const override;
    bool Read(const std::string& group, const std::string& key, SettingKind kind, SettingValue& value) const override;
    bool Write(const std::string& group, const std::string& key, const SettingValue& value) override;
    bool RemoveValue(const std::string& group, const std::string& key) override;
    bool RemoveGroup(const std::string& group) override;
    bool Flush() override { return true; }

private:
    std::map<std::string, std::map<std::string, SettingValue>> m_groups;
};

// "a/b/" and "/a/b" name the group "a/b".
std::string NormaliseGroup(const std::string& path);

// Reads leave the variable unchanged when a value is missing or the
// section is not open, and return false. A store made read-only refuses
// every write.
class CSettingsStore {
public:
    CSettingsStore(CSettingsBackend& backend, bool readOnly);
    virtual ~CSettingsStore();
    CSettingsStore(const CSettingsStore&) = delete;
    CSettingsStore& operator=(const CSettingsStore&) = delete;

    // Makes path the current section for writing.
    virtual bool CreateKey(const std::string& path);
    // Makes path the current section; false when it does not exist.
    virtual bool Open(const std::string& path);
    // Flushes the writes made since the section was opened.
    virtual void Close();
    virtual bool DeleteValue(const std::string& name);
    // Removes a section with all sections below it; false when missing.
    virtual bool DeleteKey(const std::string& path);

    virtual bool Write(const std::string& name, int32_t value);
    virtual bool Write(const std::string& name, uint32_t value);
    virtual bool Write(const std::string& name, const std::string& value);
    virtual bool Write(const std::string& name, const std::vector<std::string>& value);
    virtual bool Write(const std::string& name, const std::vector<int32_t>& value);
    virtual bool Write(const std::string& name, const std::vector<uint32_t>& value);
    virtual bool Write(const std::string& name, const std::vector<uint8_t>& bytes);
    virtual bool Read(const std::string& name, int32_t& value);
    virtual bool Read(const std::string& name, uint32_t& value);
    virtual bool Read(const std::string& name, std::string& value);
    virtual bool Read(const std::string& name, std::vector<std::string>& value);
    virtual bool Read(const std::string& name, std::vector<int32_t>& value);
    virtual bool Read(const std::string& name, std::vector<uint32_t>& value);
    virtual bool Read(const std::string& name, std::vector<uint8_t>& bytes);

    bool Write(const std::string& name, const char* value) { return Write(name, std::string(value)); }
    bool Write(const std::string& name, bool value) { return Write(name, static_cast<int32_t>(value)); }
    bool Read(const std::string& name, bool& value);

    const std::string& Section() const { return m_section; }
    bool IsOpen() const { return m_open; }
    CSettingsBackend& Backend() { return m_backend; }

protected:
    bool readInteger(const std::string& name, int64_t& value);
    bool writeValue(const std::string& name, const SettingValue& value);

private:
    CSettingsBackend& m_backend;
    bool m_readOnly;
    bool m_open = false;
    bool m_dirty = false;
    std::string m_section;
};

// Adds 8- and 16-bit values, stored as 32-bit integers (zero-extended) and
// narrowed again when read.
class CSettingsStoreEx : public CSettingsStore {
public:
    using CSettingsStore::CSettingsStore;
    using CSettingsStore::Read;
    using CSettingsStore::Write;

    virtual bool Read(const std::string& name, uint16_t& value);
    virtual bool Read(const std::string& name, uint8_t& value);
    virtual bool Write(const std::string& name, uint16_t value);
    virtual bool Write(const std::string& name, uint8_t value);
};
