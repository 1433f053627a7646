#include "accesstool/AccessScan.h"

#include "accesstool/AccessMask.h"
#include "accesstool/FileDescriptor.h"
#include "accesstool/ObjectAcl.h"

#include <cerrno>
#include <fcntl.h>
#include <vector>

CAccessScan::CAccessScan(const CMyParam& params, CToolOutput& out)
    : params_(params), out_(out), accessPerms_(PosixPermsOf(params.accessMask)),
      inheritPerms_(PosixPermsOf(params.EffectiveInheritMask()))
{
}

bool CAccessScan::Run()
{
    account_ = CAccount::Find(params_.accountName);
    if (!account_) {
        const int errnum = errno;
        if (errnum == ENOENT)
            out_.Error("scandir/UserExist", errnum, "no such user or group");
        else
            out_.Error("scandir/UserExist", errnum);
        return false;
    }
    const _PATHPATTERN pattern = SplitPattern(params_.pathPattern);
    // The folder the user named may be reached through symlinks; below it nothing is.
    CFileDescriptor folder(::open(pattern.folder.empty() ? "." : pattern.folder.c_str(),
                                  O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.IsOpen()) {
        Failed("scandir/FindAll", errno);
        return false;
    }
    CFolderWalk folders(std::move(folder));
    WalkTree(folders, pattern.folder, pattern.name);
    return !failed_ && matchedAny_;
}

void CAccessScan::WalkTree(CFolderWalk& folders, std::string path, const std::string& namePattern)
{
    // pending[i] belongs to the folder at depth i of the walk.
    std::vector<_PENDING> pending;
    pending.push_back({WorkFolder(folders.Current(), path, namePattern), 0, path.size()});
    while (!pending.empty()) {
        _PENDING& folder = pending.back();
        if (folder.next == folder.subfolders.size()) {
            pending.pop_back();
            folders.Leave();
            continue;
        }
        if (folders.Current() < 0) {
            // Closed on the way down, the folder is no longer the one listed.
            Failed("findalldir/FindAll", errno);
            folder.next = folder.subfolders.size();
            continue;
        }
        const std::string& name = folder.subfolders[folder.next++];
        if (!folders.Enter(name)) {
            Failed("scandir/FindAll", errno);
            continue;
        }
        path.resize(folder.pathLength);
        path += name;
        path += '/';
        const size_t pathLength = path.size();
        pending.push_back({WorkFolder(folders.Current(), path, namePattern), 0, pathLength});
    }
}

std::vector<std::string> CAccessScan::WorkFolder(int dirfd, const std::string& folderText,
                                                 const std::string& namePattern)
{
    std::vector<_DIRENTRY> entries;
    if (!ListFolder(dirfd, entries)) {
        Failed("scandir/FindAll", errno);
        return {};
    }
    bool matched = false;
    for (const auto& entry : entries) {
        if (!NameMatches(namePattern, entry.name))
            continue;
        matched = true;
        matchedAny_ = true;
        if ((entry.kind == EObjectKind::Folder && params_.foldersEnabled) ||
            (entry.kind == EObjectKind::File && params_.filesEnabled))
            WorkObject(dirfd, entry, folderText + entry.name);
    }
    // Nothing matching here is reported but is no failure: with /s most
    // folders may hold no match, and their subfolders are still worked.
    if (!matched)
        out_.Error("scandir/FindAll", ENOENT);
    std::vector<std::string> subfolders;
    if (params_.subfolders) {
        for (auto& entry : entries) {
            if (entry.kind == EObjectKind::Folder)
                subfolders.push_back(std::move(entry.name));
        }
    }
    return subfolders;
}

void CAccessScan::WorkObject(int dirfd, const _DIRENTRY& entry, const std::string& path)
{
    const bool folder = entry.kind == EObjectKind::Folder;
    CObjectAcl object;
    if (!object.Open(dirfd, entry.name, folder)) {
        Failed((folder ? "GetInfoDir(" : "GetInfo(") + path + ") invalid handle", object.LastError());
        return;
    }
    if (!object.Read()) {
        Failed("GetInfo", object.LastError());
        return;
    }
    const bool hasEntry = object.HasEntry(*account_);
    if ((hasEntry && params_.mode == CMyParam::AddOnly) ||
        (!hasEntry && params_.mode == CMyParam::ReplaceOnly))
        return;
    if (folder)
        out_.Folder(path);
    else
        out_.File(path);
    if (!object.Update(*account_, accessPerms_, inheritPerms_))
        Failed("Update", object.LastError());
}

void CAccessScan::Failed(std::string_view step, int errnum)
{
    out_.Error(step, errnum);
    failed_ = true;
}
