#include "shell/ui/ToolWindows.h"

void CToolWindowRegistry::Add(int commandId, const std::string& menuText, ToolWindowMaker make)
{
    for (auto& kind : m_kinds)
        if (kind.commandId == commandId) {
            kind = {commandId, menuText, std::move(make)};
            return;
        }
    m_kinds.push_back({commandId, menuText, std::move(make)});
}

const _TOOLWINDOWKIND* CToolWindowRegistry::Find(int commandId) const
{
    for (const auto& kind : m_kinds)
        if (kind.commandId == commandId)
            return &kind;
    return nullptr;
}
