#pragma once

#include <string>

// Whether the file system holding the folder ("" = the current folder) stores
// POSIX ACLs. Only a definite "not supported" counts as no; other failures
// (a missing folder, say) are left for the walk to report.
bool VolumeSupportsAcls(const std::string& folder);
