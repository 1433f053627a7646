#pragma once
// A path whose last component may hold the wildcards '*' and '?', and the
// folder listings the walk works on.

#include <string>
#include <vector>

struct _PATHPATTERN {
    std::string folder; // "" (the current folder) or ending with '/'
    std::string name;   // the last component, wildcards allowed
};

_PATHPATTERN SplitPattern(const std::string& pattern);

// Case-sensitive; '*' and '?' are the only wildcards, and "*.*" matches every
// name, dots or not.
bool NameMatches(const std::string& pattern, const std::string& name);

enum class EObjectKind { File, Folder, Other };

struct _DIRENTRY {
    std::string name;
    EObjectKind kind; // of the entry itself: a symlink is Other
};

// The entries of the folder open as dirfd, "." and ".." left out, sorted by
// name. False with errno when the folder cannot be listed.
bool ListFolder(int dirfd, std::vector<_DIRENTRY>& entries);
