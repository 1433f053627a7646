#pragma once
// Works a path pattern: every matching file and folder, and with /s every
// subfolder's matches, through descriptors that never follow a symlink.

#include "accesstool/Account.h"
#include "accesstool/MyParam.h"
#include "accesstool/PathPattern.h"
#include "accesstool/ToolOutput.h"

#include <optional>
#include <string>
#include <string_view>

class CAccessScan {
public:
    CAccessScan(const CMyParam& params, CToolOutput& out);

    // False when the account, a folder or any object failed; the run goes on
    // past failed objects and folders.
    bool Run();

private:
    void WorkPattern(int dirfd, const std::string& folderText, const std::string& namePattern);
    void WorkSubfolders(int dirfd, const std::string& folderText, const std::string& namePattern);
    void WorkObject(int dirfd, const _DIRENTRY& entry, const std::string& path);
    void Failed(std::string_view step, int errnum);

    const CMyParam& params_;
    CToolOutput& out_;
    std::optional<CAccount> account_;
    unsigned accessPerms_;
    unsigned inheritPerms_;
    bool failed_ = false;
};
