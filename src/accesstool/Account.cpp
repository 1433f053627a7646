#include "accesstool/Account.h"

#include <cerrno>
#include <grp.h>
#include <pwd.h>
#include <vector>

namespace {
// The *_r look-ups report "no such name" as success with no result; their
// buffer grows until the record fits.
template <typename Record, typename LookUp>
std::optional<id_t> LookUpId(const std::string& name, LookUp lookUp, id_t Record::*idField)
{
    std::vector<char> buffer(1024);
    for (;;) {
        Record record{};
        Record* found = nullptr;
        const int rc = lookUp(name.c_str(), &record, buffer.data(), buffer.size(), &found);
        if (rc == ERANGE && buffer.size() < (1u << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (rc != 0) {
            errno = rc;
            return std::nullopt;
        }
        if (!found) {
            errno = ENOENT;
            return std::nullopt;
        }
        return found->*idField;
    }
}
} // namespace

void CAccount::SplitName(std::string_view name, std::string& domain, std::string& user)
{
    const auto slash = name.find('\\');
    if (slash == std::string_view::npos) {
        domain.clear();
        user = name;
    } else {
        domain = name.substr(0, slash);
        user = name.substr(slash + 1);
    }
}

std::optional<CAccount> CAccount::Find(std::string_view name)
{
    std::string domain, user;
    SplitName(name, domain, user);
    std::vector<std::string> forms;
    if (domain.empty())
        forms = {user};
    else
        forms = {domain + "\\" + user, user + "@" + domain};

    int lastError = ENOENT;
    for (const auto& form : forms) {
        if (auto uid = LookUpId<passwd>(form, getpwnam_r, &passwd::pw_uid))
            return CAccount(ACL_USER, *uid);
        if (errno != ENOENT)
            lastError = errno;
    }
    for (const auto& form : forms) {
        if (auto gid = LookUpId<group>(form, getgrnam_r, &group::gr_gid))
            return CAccount(ACL_GROUP, *gid);
        if (errno != ENOENT)
            lastError = errno;
    }
    errno = lastError;
    return std::nullopt;
}
