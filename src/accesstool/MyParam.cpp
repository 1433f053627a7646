#include "accesstool/MyParam.h"

#include "accesstool/AccessMask.h"

namespace {
char Lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

bool IsInheritFlag(std::string_view flag)
{
    return flag.size() >= 2 && Lower(flag[0]) == 'i' && flag[1] == '=';
}
} // namespace

void CMyParam::Parse(int argc, const char* const argv[])
{
    for (int i = 1; i < argc; ++i)
        ParseParam(argv[i]);
    Finish();
}

void CMyParam::ParseParam(std::string_view param)
{
    if (!param.empty() && param[0] == '-') {
        if (!ApplyFlag(param))
            MarkInvalid(param);
        return;
    }
    // Absolute paths begin with '/' too: only the known flags count as flags.
    if (!param.empty() && param[0] == '/' && IsSlashFlag(param.substr(1))) {
        if (!ApplyFlag(param))
            MarkInvalid(param);
        return;
    }
    TakePositional(param);
}

bool CMyParam::IsSlashFlag(std::string_view flag)
{
    if (IsInheritFlag(flag))
        return true;
    if (flag.size() != 1)
        return false;
    const char c = Lower(flag[0]);
    return c == 's' || c == 'd' || c == 'f' || c == 'x' || c == 'n';
}

bool CMyParam::ApplyFlag(std::string_view param)
{
    const std::string_view flag = param.substr(1);
    if (IsInheritFlag(flag)) {
        auto mask = ParseMaskLetters(flag.substr(2));
        if (!mask)
            return false;
        inheritMask = *mask;
        inheritParam_ = param;
        return true;
    }
    if (flag.size() != 1)
        return false;
    switch (Lower(flag[0])) {
    case 's': subfolders = true; return true;
    case 'd': filesEnabled = false; return true;
    case 'f': foldersEnabled = false; return true;
    case 'x': mode = ReplaceOnly; return true;
    case 'n': mode = AddOnly; return true;
    default: return false;
    }
}

void CMyParam::TakePositional(std::string_view param)
{
    switch (positionalCount) {
    case 0: {
        maskParam_ = param;
        auto mask = ParseMaskLetters(param);
        if (mask) {
            accessMask = *mask;
            deny = accessMask == accessmask::Deny;
        } else {
            MarkInvalid(param);
        }
        break;
    }
    case 1:
        accountName = param;
        break;
    case 2:
        while (param.size() > 1 && param.back() == '/')
            param.remove_suffix(1);
        pathPattern = param;
        break;
    default:
        // An unquoted pattern that the shell expanded arrives as many names;
        // working only the first would look like success.
        MarkInvalid(param);
        return;
    }
    ++positionalCount;
}

void CMyParam::Finish()
{
    if (invalid)
        return;
    if (positionalCount >= 1 && PosixPermsOf(accessMask) == 0 && !deny)
        MarkInvalid(maskParam_);
    else if (!inheritParam_.empty() && inheritMask != 0 && inheritMask != accessmask::Deny &&
             PosixPermsOf(inheritMask) == 0)
        MarkInvalid(inheritParam_);
}

void CMyParam::MarkInvalid(std::string_view param)
{
    if (invalid)
        return;
    invalid = true;
    invalidText = param;
}
