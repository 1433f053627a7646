#pragma once
// Works a path pattern: every matching file and folder, and with /s every
// subfolder's matches, through descriptors that never follow a symlink.
// The tree is walked without recursion, in memory that grows with its depth
// and the names waiting to be walked, and with a bounded number of open
// descriptors.

#include "accesstool/Account.h"
#include "accesstool/FolderWalk.h"
#include "accesstool/MyParam.h"
#include "accesstool/PathPattern.h"
#include "accesstool/ToolOutput.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

class CAccessScan {
public:
    CAccessScan(const CMyParam& params, CToolOutput& out);

    // False when the account, a folder or any object failed, or when the
    // pattern matched nothing anywhere; the run goes on past failed objects
    // and folders.
    bool Run();

private:
    // A folder on the way down and its subfolders still to be walked.
    struct _PENDING {
        std::vector<std::string> subfolders;
        size_t next = 0;
        size_t pathLength = 0; // of its text, ending with '/'
    };

    void WalkTree(CFolderWalk& folders, std::string path, const std::string& namePattern);
    // Works the matches of the current folder; the subfolders, with /s.
    std::vector<std::string> WorkFolder(int dirfd, const std::string& folderText, const std::string& namePattern);
    void WorkObject(int dirfd, const _DIRENTRY& entry, const std::string& path);
    void Failed(std::string_view step, int errnum);

    const CMyParam& params_;
    CToolOutput& out_;
    std::optional<CAccount> account_;
    unsigned accessPerms_;
    unsigned inheritPerms_;
    bool failed_ = false;
    bool matchedAny_ = false;
};
