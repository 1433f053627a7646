#pragma once
// One file or folder whose ACLs are read, edited and written through a
// descriptor, so that a path swapped for a symlink mid-run cannot redirect
// the change outside the tree.

#include "accesstool/AclList.h"
#include "accesstool/FileDescriptor.h"

#include <string>

class CObjectAcl {
public:
    // Opens name inside the folder dirfd without following a symlink; the
    // object must still be a folder (or a regular file) once open.
    bool Open(int dirfd, const std::string& name, bool folder);
    // Reads the access ACL and, for a folder, its default ACL.
    bool Read();
    // Whether the access ACL has an entry of the account.
    bool HasEntry(const CAccount& account) const;
    // Replaces the account's entries: accessPerms in the access ACL and, for
    // a folder, inheritPerms in the default ACL. When the second write fails
    // the first is undone, so the object keeps its old ACLs.
    bool Update(const CAccount& account, unsigned accessPerms, unsigned inheritPerms);

    int LastError() const { return lastError_; }

private:
    bool Fail();
    std::string ProcPath() const;

    CFileDescriptor fd_;
    bool folder_ = false;
    CAclList access_;
    CAclList default_;
    int lastError_ = 0;
};
