#include "accesstool/FolderWalk.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace {
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Which folders keep their descriptors: at depth d with k trailing zero
// bits the level is k, and the lowest levels close first. What stays open
// is spaced more widely the further up it lies, so going back up opens
// few folders again.
int LevelOf(size_t depth)
{
    return depth == 0 ? 64 : __builtin_ctzll(depth);
}
} // namespace

CFolderWalk::CFolderWalk(CFileDescriptor start, size_t maxOpen) : maxOpen_(maxOpen < 2 ? 2 : maxOpen)
{
    struct stat st {};
    ::fstat(start.Get(), &st);
    frames_.push_back({"", st.st_dev, st.st_ino, std::move(start)});
    open_.push_back(0);
}

bool CFolderWalk::Enter(const std::string& name)
{
    const int parent = Current();
    if (parent < 0)
        return false;
    CFileDescriptor fd(::openat(parent, name.c_str(), kFolderFlags));
    struct stat st {};
    if (!fd.IsOpen() || ::fstat(fd.Get(), &st) != 0)
        return false;
    frames_.push_back({name, st.st_dev, st.st_ino, std::move(fd)});
    open_.push_back(frames_.size() - 1);
    CloseBeyondBound();
    return true;
}

void CFolderWalk::Leave()
{
    if (frames_.size() < 2)
        return;
    if (open_.back() == frames_.size() - 1)
        open_.pop_back();
    frames_.pop_back();
}

int CFolderWalk::Current()
{
    const size_t top = frames_.size() - 1;
    if (!frames_[top].fd.IsOpen()) {
        // The deepest open folder lies above; the chain below it is opened
        // again one folder after the other.
        for (size_t index = open_.back() + 1; index <= top; ++index) {
            if (!Reopen(index))
                return -1;
        }
    }
    return frames_[top].fd.Get();
}

bool CFolderWalk::Reopen(size_t index)
{
    Frame& frame = frames_[index];
    CFileDescriptor fd(::openat(frames_[index - 1].fd.Get(), frame.name.c_str(), kFolderFlags));
    struct stat st {};
    if (!fd.IsOpen() || ::fstat(fd.Get(), &st) != 0)
        return false;
    if (st.st_dev != frame.device || st.st_ino != frame.inode) {
        errno = ESTALE;
        return false;
    }
    frame.fd = std::move(fd);
    open_.push_back(index);
    CloseBeyondBound();
    return true;
}

void CFolderWalk::CloseBeyondBound()
{
    // The start folder and the folder just opened stay open.
    while (open_.size() > maxOpen_) {
        size_t victim = 1;
        for (size_t i = 2; i + 1 < open_.size(); ++i) {
            if (LevelOf(open_[i]) < LevelOf(open_[victim]))
                victim = i;
        }
        frames_[open_[victim]].fd = CFileDescriptor();
        open_.erase(open_.begin() + static_cast<long>(victim));
    }
}
