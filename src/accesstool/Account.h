#pragma once
// The account the entries are written for: a user or, failing that, a group
// of the system's account databases.

#include <optional>
#include <string>
#include <string_view>
#include <sys/acl.h>
#include <sys/types.h>

class CAccount {
public:
    CAccount(acl_tag_t tag, id_t id) : tag_(tag), id_(id) {}

    // "DOMAIN\user" splits at the first backslash; without one the domain is empty.
    static void SplitName(std::string_view name, std::string& domain, std::string& user);

    // Users before groups; with a domain "DOMAIN\user" and then "user@DOMAIN".
    // Nothing with errno set (ENOENT when no account has the name).
    static std::optional<CAccount> Find(std::string_view name);

    acl_tag_t Tag() const { return tag_; } // ACL_USER or ACL_GROUP
    id_t Id() const { return id_; }

private:
    acl_tag_t tag_;
    id_t id_;
};
