#pragma once
// The chain of folders from the start folder down to the one being worked,
// each opened relative to its parent without following a symlink, with a
// bounded number of open descriptors however deep the tree is.
//
// A folder whose descriptor was closed to stay within the bound is opened
// again by name from its parent (opened again first when need be), with
// the same no-follow checks, and must still be the very folder that was
// entered (device and inode); otherwise the open fails with ESTALE.
//
// Threads: one walk serves one thread. No call waits for anything but the
// file system.

#include "accesstool/FileDescriptor.h"

#include <cstddef>
#include <string>
#include <sys/types.h>
#include <vector>

class CFolderWalk {
public:
    static constexpr size_t kMaxOpen = 64;

    // start: the open start folder, which stays open.
    explicit CFolderWalk(CFileDescriptor start, size_t maxOpen = kMaxOpen);

    // Opens the subfolder name of the current folder and makes it current.
    // False with errno when it cannot be opened as a folder (a symlink
    // included) or the current folder cannot be opened again.
    bool Enter(const std::string& name);
    // Makes the parent current again; nothing to do at the start folder.
    void Leave();
    // The descriptor of the current folder; -1 with errno when it cannot be
    // opened again.
    int Current();

    size_t Depth() const { return frames_.size() - 1; }
    size_t OpenCount() const { return open_.size(); }

private:
    struct Frame {
        std::string name;
        dev_t device;
        ino_t inode;
        CFileDescriptor fd;
    };

    bool Reopen(size_t index);
    void CloseBeyondBound();

    std::vector<Frame> frames_;
    // Indexes of the frames with an open descriptor, ascending.
    std::vector<size_t> open_;
    size_t maxOpen_;
};
