#pragma once
// Settings described by property tables (a crate link's, the server's own)
// shown in the property grid and committed back by id. A choice shows its
// option names whatever the setting's value type. GUI thread only.

#include "base/Property.h"
#include "shell/ui/PropertyGrid.h"

#include <functional>

// Reads and writes one object's settings by id.
struct SettingAccess {
    std::function<bool(int32_t id, CVariant& value)> get;
    std::function<bool(int32_t id, const CVariant& value)> set;
};

// Adds a property per entry under group, with the object's values.
void AddSettings(CPropertyGrid& grid, CGridProperty* group, const PropertyList& entries, const SettingAccess& access);
// commit: modified properties go to the object (false when it refused
// one; that property keeps its edit). refresh: the grid shows the object.
bool SyncSettings(CPropertyGrid& grid, const PropertyList& entries, const SettingAccess& access, bool commit);
