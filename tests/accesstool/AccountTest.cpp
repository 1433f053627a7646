#include "AclTestSupport.h"
#include "accesstool/Account.h"

#include <cerrno>
#include <gtest/gtest.h>

TEST(Account, SplitAtTheFirstBackslash)
{
    const struct {
        const char* name;
        const char* domain;
        const char* user;
    } cases[] = {
        {"nobody", "", "nobody"},
        {"LAB\\nobody", "LAB", "nobody"},
        {"LAB\\sub\\x", "LAB", "sub\\x"},
        {"\\nobody", "", "nobody"},
        {"LAB\\", "LAB", ""},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        std::string domain = "stale", user = "stale";
        CAccount::SplitName(c.name, domain, user);
        EXPECT_EQ(domain, c.domain) << c.name;
        EXPECT_EQ(user, c.user) << c.name;
    }
}

TEST(Account, UsersBeforeGroups)
{
    const struct {
        const char* name;
        acl_tag_t tag;
        id_t id;
    } cases[] = {
        {"nobody", ACL_USER, kNobodyUid},
        {"daemon", ACL_USER, kDaemonUid}, // also a group: the user wins
        {"root", ACL_USER, 0},
        {"nogroup", ACL_GROUP, kNogroupGid},
    };
    for (const auto& c : cases) {
        auto account = CAccount::Find(c.name);
        ASSERT_TRUE(account.has_value()) << c.name;
        EXPECT_EQ(account->Tag(), c.tag) << c.name;
        EXPECT_EQ(account->Id(), c.id) << c.name;
    }
}

TEST(Account, UnknownNamesAreNotFound)
{
    // With a domain only the domain forms count, never the bare user part.
    for (const char* name : {"no-such-account-x", "", "NODOMAIN\\nobody", "NODOMAIN\\nogroup", "Nobody"}) {
        errno = 0;
        EXPECT_FALSE(CAccount::Find(name).has_value()) << name;
        EXPECT_EQ(errno, ENOENT) << name;
    }
}
