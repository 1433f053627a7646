#include "shell/SettingsStore.h"

#include "base/Error.h"

#include <charconv>
#include <set>

std::string NormaliseGroup(const std::string& path)
{
    size_t begin = path.find_first_not_of('/');
    if (begin == std::string::npos)
        return {};
    size_t end = path.find_last_not_of('/');
    return path.substr(begin, end - begin + 1);
}

namespace {

bool IsBelow(const std::string& group, const std::string& parent)
{
    return parent.empty() || (group.size() > parent.size() && group.compare(0, parent.size(), parent) == 0 &&
                              group[parent.size()] == '/');
}

bool ParseInteger(const std::string& text, int64_t& out)
{
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

// The conversions an INI-style store needs: numbers may come back as text.
bool Convert(const SettingValue& stored, SettingKind kind, SettingValue& out)
{
    switch (kind) {
    case SettingKind::Integer:
        if (auto n = std::get_if<int64_t>(&stored)) {
            out = *n;
            return true;
        }
        if (auto s = std::get_if<std::string>(&stored)) {
            int64_t n = 0;
            if (!ParseInteger(*s, n))
                return false;
            out = n;
            return true;
        }
        return false;
    case SettingKind::String:
        if (auto s = std::get_if<std::string>(&stored)) {
            out = *s;
            return true;
        }
        if (auto n = std::get_if<int64_t>(&stored)) {
            out = std::to_string(*n);
            return true;
        }
        return false;
    case SettingKind::StringList:
        if (auto l = std::get_if<std::vector<std::string>>(&stored)) {
            out = *l;
            return true;
        }
        if (auto s = std::get_if<std::string>(&stored)) {
            out = std::vector<std::string>{*s};
            return true;
        }
        return false;
    case SettingKind::Bytes:
        if (auto b = std::get_if<std::vector<uint8_t>>(&stored)) {
            out = *b;
            return true;
        }
        return false;
    }
    return false;
}

}  // namespace

bool CMemorySettings::GroupExists(const std::string& group) const
{
    for (const auto& [name, values] : m_groups)
        if (!values.empty() && (name == group || IsBelow(name, group)))
            return true;
    return false;
}

std::vector<std::string> CMemorySettings::ChildGroups(const std::string& group) const
{
    std::set<std::string> children;
    for (const auto& [name, values] : m_groups) {
        if (values.empty() || !IsBelow(name, group))
            continue;
        std::string rest = name.substr(group.empty() ? 0 : group.size() + 1);
        children.insert(rest.substr(0, rest.find('/')));
    }
    return {children.begin(), children.end()};
}

bool CMemorySettings::Read(const std::string& group, const std::string& key, SettingKind kind,
                           SettingValue& value) const
{
    auto g = m_groups.find(group);
    if (g == m_groups.end())
        return false;
    auto v = g->second.find(key);
    return v != g->second.end() && Convert(v->second, kind, value);
}

bool CMemorySettings::Write(const std::string& group, const std::string& key, const SettingValue& value)
{
    m_groups[group][key] = value;
    return true;
}

bool CMemorySettings::RemoveValue(const std::string& group, const std::string& key)
{
    auto g = m_groups.find(group);
    return g != m_groups.end() && g->second.erase(key) > 0;
}

bool CMemorySettings::RemoveGroup(const std::string& group)
{
    bool removed = false;
    for (auto it = m_groups.begin(); it != m_groups.end();) {
        if (it->first == group || IsBelow(it->first, group)) {
            it = m_groups.erase(it);
            removed = true;
        } else {
            ++it;
        }
    }
    return removed;
}

CSettingsStore::CSettingsStore(CSettingsBackend& backend, bool readOnly) : m_backend(backend), m_readOnly(readOnly) {}

CSettingsStore::~CSettingsStore()
{
    Close();
}

bool CSettingsStore::CreateKey(const std::string& path)
{
    Close();
    if (m_readOnly) {
        SetLastErr(err::AccessDenied);
        return false;
    }
    m_section = NormaliseGroup(path);
    m_open = true;
    return true;
}

bool CSettingsStore::Open(const std::string& path)
{
    Close();
    std::string group = NormaliseGroup(path);
    if (!m_backend.GroupExists(group)) {
        SetLastErr(err::NotFound);
        return false;
    }
    m_section = group;
    m_open = true;
    return true;
}

void CSettingsStore::Close()
{
    if (m_dirty)
        m_backend.Flush();
    m_dirty = false;
    m_open = false;
}

bool CSettingsStore::DeleteValue(const std::string& name)
{
    if (!m_open || m_readOnly)
        return false;
    m_dirty = true;
    return m_backend.RemoveValue(m_section, name);
}

bool CSettingsStore::DeleteKey(const std::string& path)
{
    if (m_readOnly)
        return false;
    std::string group = NormaliseGroup(path);
    if (!m_backend.GroupExists(group)) {
        SetLastErr(err::NotFound);
        return false;
    }
    bool removed = m_backend.RemoveGroup(group);
    m_backend.Flush();
    return removed;
}

bool CSettingsStore::writeValue(const std::string& name, const SettingValue& value)
{
    if (!m_open || m_readOnly) {
        SetLastErr(m_readOnly ? err::AccessDenied : err::NotOpen);
        return false;
    }
    m_dirty = true;
    return m_backend.Write(m_section, name, value);
}

bool CSettingsStore::readInteger(const std::string& name, int64_t& value)
{
    SettingValue v;
    if (!m_open || !m_backend.Read(m_section, name, SettingKind::Integer, v))
        return false;
    value = std::get<int64_t>(v);
    return true;
}

bool CSettingsStore::Write(const std::string& name, int32_t value)
{
    return writeValue(name, static_cast<int64_t>(value));
}

bool CSettingsStore::Write(const std::string& name, uint32_t value)
{
    return writeValue(name, static_cast<int64_t>(value));
}

bool CSettingsStore::Write(const std::string& name, const std::string& value)
{
    return writeValue(name, value);
}

bool CSettingsStore::Write(const std::string& name, const std::vector<std::string>& value)
{
    return writeValue(name, value);
}

bool CSettingsStore::Write(const std::string& name, const std::vector<int32_t>& value)
{
    std::vector<std::string> texts;
    for (int32_t v : value)
        texts.push_back(std::to_string(v));
    return writeValue(name, texts);
}

bool CSettingsStore::Write(const std::string& name, const std::vector<uint32_t>& value)
{
    std::vector<std::string> texts;
    for (uint32_t v : value)
        texts.push_back(std::to_string(v));
    return writeValue(name, texts);
}

bool CSettingsStore::Write(const std::string& name, const std::vector<uint8_t>& bytes)
{
    return writeValue(name, bytes);
}

bool CSettingsStore::Read(const std::string& name, int32_t& value)
{
    int64_t n = 0;
    if (!readInteger(name, n))
        return false;
    value = static_cast<int32_t>(n);
    return true;
}

bool CSettingsStore::Read(const std::string& name, uint32_t& value)
{
    int64_t n = 0;
    if (!readInteger(name, n))
        return false;
    value = static_cast<uint32_t>(n);
    return true;
}

bool CSettingsStore::Read(const std::string& name, bool& value)
{
    int64_t n = 0;
    if (!readInteger(name, n))
        return false;
    value = n != 0;
    return true;
}

bool CSettingsStore::Read(const std::string& name, std::string& value)
{
    SettingValue v;
    if (!m_open || !m_backend.Read(m_section, name, SettingKind::String, v))
        return false;
    value = std::get<std::string>(v);
    return true;
}

bool CSettingsStore::Read(const std::string& name, std::vector<std::string>& value)
{
    SettingValue v;
    if (!m_open || !m_backend.Read(m_section, name, SettingKind::StringList, v))
        return false;
    value = std::get<std::vector<std::string>>(v);
    return true;
}

namespace {

template <class T>
bool ParseList(const std::vector<std::string>& texts, std::vector<T>& out)
{
    std::vector<T> numbers;
    for (const auto& t : texts) {
        int64_t n = 0;
        if (!ParseInteger(t, n))
            return false;
        numbers.push_back(static_cast<T>(n));
    }
    out = std::move(numbers);
    return true;
}

}  // namespace

bool CSettingsStore::Read(const std::string& name, std::vector<int32_t>& value)
{
    std::vector<std::string> texts;
    return Read(name, texts) && ParseList(texts, value);
}

bool CSettingsStore::Read(const std::string& name, std::vector<uint32_t>& value)
{
    std::vector<std::string> texts;
    return Read(name, texts) && ParseList(texts, value);
}

bool CSettingsStore::Read(const std::string& name, std::vector<uint8_t>& bytes)
{
    SettingValue v;
    if (!m_open || !m_backend.Read(m_section, name, SettingKind::Bytes, v))
        return false;
    bytes = std::get<std::vector<uint8_t>>(v);
    return true;
}

bool CSettingsStoreEx::Read(const std::string& name, uint16_t& value)
{
    int64_t n = 0;
    if (!readInteger(name, n))
        return false;
    value = static_cast<uint16_t>(static_cast<uint32_t>(n));
    return true;
}

bool CSettingsStoreEx::Read(const std::string& name, uint8_t& value)
{
    int64_t n = 0;
    if (!readInteger(name, n))
        return false;
    value = static_cast<uint8_t>(static_cast<uint32_t>(n));
    return true;
}

bool CSettingsStoreEx::Write(const std::string& name, uint16_t value)
{
    return writeValue(name, static_cast<int64_t>(static_cast<uint32_t>(value)));
}

bool CSettingsStoreEx::Write(const std::string& name, uint8_t value)
{
    return writeValue(name, static_cast<int64_t>(static_cast<uint32_t>(value)));
}
