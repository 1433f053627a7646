#include "accesstool/PathPattern.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

_PATHPATTERN SplitPattern(const std::string& pattern)
{
    const auto slash = pattern.rfind('/');
    if (slash == std::string::npos)
        return {"", pattern};
    return {pattern.substr(0, slash + 1), pattern.substr(slash + 1)};
}

bool NameMatches(const std::string& pattern, const std::string& name)
{
    if (pattern == "*.*")
        return true;
    // fnmatch also knows bracket classes; a '[' in a name is meant literally.
    std::string literalBrackets;
    for (char c : pattern) {
        if (c == '[')
            literalBrackets += "[[]";
        else
            literalBrackets += c;
    }
    return fnmatch(literalBrackets.c_str(), name.c_str(), FNM_NOESCAPE) == 0;
}

namespace {
struct CDirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

EObjectKind KindOf(int dirfd, const char* name)
{
    struct stat st;
    if (fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return EObjectKind::Other;
    if (S_ISDIR(st.st_mode))
        return EObjectKind::Folder;
    if (S_ISREG(st.st_mode))
        return EObjectKind::File;
    return EObjectKind::Other;
}
} // namespace

bool ListFolder(int dirfd, std::vector<_DIRENTRY>& entries)
{
    entries.clear();
    // A descriptor of its own: readdir moves the offset, which a dup would share.
    const int listFd = openat(dirfd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listFd < 0)
        return false;
    std::unique_ptr<DIR, CDirCloser> dir(fdopendir(listFd)); // owns listFd from here
    if (!dir) {
        const int error = errno;
        close(listFd);
        errno = error;
        return false;
    }
    errno = 0;
    while (const dirent* entry = readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            entries.push_back({name, KindOf(dirfd, entry->d_name)});
        errno = 0;
    }
    if (errno != 0)
        return false;
    std::sort(entries.begin(), entries.end(),
              [](const _DIRENTRY& a, const _DIRENTRY& b) { return a.name < b.name; });
    return true;
}
