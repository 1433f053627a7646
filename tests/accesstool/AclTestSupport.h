#pragma once
// Temporary trees, the acl package's getfacl and libacl read-backs, and runs
// of the real brenlock binary, shared by the access tool's tests.

#include <optional>
#include <functional>
#include <string>
#include <sys/acl.h>
#include <sys/types.h>
#include <vector>

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it.
class CTempTree {
public:
    CTempTree();
    ~CTempTree();
    CTempTree(const CTempTree&) = delete;
    CTempTree& operator=(const CTempTree&) = delete;

    const std::string& Root() const { return root_; }
    std::string Path(const std::string& relative) const { return root_ + "/" + relative; }
    // Creates the file (and its folders) with mode 0644.
    std::string File(const std::string& relative) const;
    // Creates the folder (and its parents) with mode 0755.
    std::string Folder(const std::string& relative) const;

private:
    std::string root_;
};

// getfacl -c -p of the path: the entries, one a line, header left out.
std::string Getfacl(const std::string& path);
// Runs a shell command (setfacl, chattr); its exit status.
int Shell(const std::string& command);

// The permissions of the named entry (ACL_USER or ACL_GROUP, id) in the
// path's ACL of that type, read with acl_get_file; nothing when it has none.
std::optional<unsigned> NamedEntryPerms(const std::string& path, acl_type_t type, acl_tag_t tag, id_t id);
// The number of named entries (users and groups) of that type.
int NamedEntryCount(const std::string& path, acl_type_t type);

struct _RUNRESULT {
    int exitStatus = -1; // -1 when it did not exit normally
    std::string out;
};

// Runs the brenlock binary with the arguments; beforeExec runs in the child.
_RUNRESULT RunBrenlockBinary(const std::vector<std::string>& args,
                             const std::function<void()>& beforeExec = {});

// Removes the capability from every set of the calling process, the bounding
// set included, so that it stays gone across exec even for root.
bool DropCapability(int cap);

// Sets or clears the immutable attribute; false when the file system cannot.
bool SetImmutable(const std::string& path, bool on);

constexpr id_t kNobodyUid = 65534;
constexpr id_t kNogroupGid = 65534;
constexpr id_t kDaemonUid = 1;
