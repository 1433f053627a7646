#include "shell/StringTable.h"

#include <map>
#include <mutex>

namespace {

std::mutex& TableLock()
{
    static std::mutex lock;
    return lock;
}

std::map<int, std::string>& Table()
{
    static std::map<int, std::string> table;
    return table;
}

}  // namespace

void AddStrings(std::initializer_list<std::pair<int, const char*>> strings)
{
    std::lock_guard lock(TableLock());
    for (const auto& [id, text] : strings)
        Table()[id] = text;
}

std::string LoadString(int id)
{
    std::lock_guard lock(TableLock());
    auto it = Table().find(id);
    return it == Table().end() ? std::string() : it->second;
}

std::string StringName(const std::string& text)
{
    return text.substr(0, text.find('\n'));
}

std::string StringDescription(const std::string& text)
{
    size_t nl = text.find('\n');
    return nl == std::string::npos ? std::string() : text.substr(nl + 1);
}
