#include "AclTestSupport.h"
#include "accesstool/Capabilities.h"
#include "accesstool/ObjectAcl.h"

#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
const CAccount kNobody(ACL_USER, kNobodyUid);
const CAccount kDaemon(ACL_USER, kDaemonUid);
const CAccount kNogroup(ACL_GROUP, kNogroupGid);

class ObjectAcl : public ::testing::Test {
protected:
    void SetUp() override
    {
        rootFd_ = open(tree_.Root().c_str(), O_RDONLY | O_DIRECTORY);
        ASSERT_GE(rootFd_, 0);
    }
    void TearDown() override { close(rootFd_); }

    CTempTree tree_;
    int rootFd_ = -1;
};

// Runs body in a child process (capability changes stay there); its exit code.
int InChild(int (*body)())
{
    const pid_t pid = fork();
    if (pid == 0)
        _exit(body());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
} // namespace

TEST_F(ObjectAcl, FileEntriesOfTheAccountAreReplacedAndTheMaskRecomputed)
{
    const std::string file = tree_.File("f.txt");
    ASSERT_EQ(Shell("setfacl -m u:nobody:rwx,u:daemon:r,m::r '" + file + "'"), 0);
    CObjectAcl object;
    ASSERT_TRUE(object.Open(rootFd_, "f.txt", false));
    ASSERT_TRUE(object.Read());
    EXPECT_TRUE(object.HasEntry(kNobody));
    EXPECT_TRUE(object.HasEntry(kDaemon));
    EXPECT_FALSE(object.HasEntry(kNogroup));
    ASSERT_TRUE(object.Update(kNobody, ACL_READ | ACL_WRITE, 0));
    EXPECT_EQ(Getfacl(file), "user::rw-\n"
                             "user:daemon:r--\n"
                             "user:nobody:rw-\n"
                             "group::r--\n"
                             "mask::rw-\n"
                             "other::r--\n\n");
    EXPECT_EQ(NamedEntryCount(file, ACL_TYPE_ACCESS), 2);
}

TEST_F(ObjectAcl, UserAndGroupOfTheSameIdAreDifferentAccounts)
{
    const std::string file = tree_.File("g.txt");
    ASSERT_EQ(Shell("setfacl -m g:nogroup:r '" + file + "'"), 0);
    CObjectAcl object;
    ASSERT_TRUE(object.Open(rootFd_, "g.txt", false));
    ASSERT_TRUE(object.Read());
    EXPECT_TRUE(object.HasEntry(kNogroup));
    EXPECT_FALSE(object.HasEntry(kNobody));
    ASSERT_TRUE(object.Update(kNobody, 0, 0));
    EXPECT_EQ(NamedEntryPerms(file, ACL_TYPE_ACCESS, ACL_GROUP, kNogroupGid), ACL_READ);
    EXPECT_EQ(NamedEntryPerms(file, ACL_TYPE_ACCESS, ACL_USER, kNobodyUid), 0u);
}

TEST_F(ObjectAcl, FolderGetsAccessAndDefaultEntries)
{
    const std::string folder = tree_.Folder("d");
    ASSERT_EQ(chmod(folder.c_str(), 0750), 0);
    CObjectAcl object;
    ASSERT_TRUE(object.Open(rootFd_, "d", true));
    ASSERT_TRUE(object.Read());
    ASSERT_TRUE(object.Update(kNogroup, ACL_READ | ACL_WRITE | ACL_EXECUTE, ACL_READ));
    // The new default ACL starts from the folder's own owner, group and other entries.
    EXPECT_EQ(Getfacl(folder), "user::rwx\n"
                               "group::r-x\n"
                               "group:nogroup:rwx\n"
                               "mask::rwx\n"
                               "other::---\n"
                               "default:user::rwx\n"
                               "default:group::r-x\n"
                               "default:group:nogroup:r--\n"
                               "default:mask::r-x\n"
                               "default:other::---\n\n");
}

TEST_F(ObjectAcl, FolderEntriesAreReplacedInBothLists)
{
    const std::string folder = tree_.Folder("d");
    ASSERT_EQ(Shell("setfacl -m u:nobody:rwx,d:u:nobody:rwx,d:u:daemon:x '" + folder + "'"), 0);
    CObjectAcl object;
    ASSERT_TRUE(object.Open(rootFd_, "d", true));
    ASSERT_TRUE(object.Read());
    ASSERT_TRUE(object.Update(kNobody, ACL_READ, 0));
    EXPECT_EQ(NamedEntryPerms(folder, ACL_TYPE_ACCESS, ACL_USER, kNobodyUid), ACL_READ);
    EXPECT_EQ(NamedEntryPerms(folder, ACL_TYPE_DEFAULT, ACL_USER, kNobodyUid), 0u);
    EXPECT_EQ(NamedEntryPerms(folder, ACL_TYPE_DEFAULT, ACL_USER, kDaemonUid), ACL_EXECUTE);
    EXPECT_EQ(NamedEntryCount(folder, ACL_TYPE_ACCESS), 1);
    EXPECT_EQ(NamedEntryCount(folder, ACL_TYPE_DEFAULT), 2);
}

TEST_F(ObjectAcl, OpenRefusesSymlinksAndWrongKinds)
{
    tree_.File("f");
    tree_.Folder("d");
    ASSERT_EQ(symlink(tree_.Path("f").c_str(), tree_.Path("lf").c_str()), 0);
    ASSERT_EQ(symlink(tree_.Path("d").c_str(), tree_.Path("ld").c_str()), 0);
    ASSERT_EQ(mkfifo(tree_.Path("p").c_str(), 0644), 0);
    const struct {
        const char* name;
        bool folder;
        int error;
    } cases[] = {
        {"lf", false, ELOOP}, {"ld", true, ENOTDIR}, {"ld", false, ELOOP}, {"f", true, ENOTDIR},
        {"d", false, EINVAL}, {"p", false, EINVAL}, {"none", false, ENOENT},
    };
    for (const auto& c : cases) {
        CObjectAcl object;
        EXPECT_FALSE(object.Open(rootFd_, c.name, c.folder)) << c.name;
        EXPECT_EQ(object.LastError(), c.error) << c.name;
    }
}

TEST_F(ObjectAcl, FailedWriteLeavesTheObjectAsItWas)
{
    const std::string file = tree_.File("locked");
    if (!SetImmutable(file, true))
        GTEST_SKIP() << "file system has no immutable attribute";
    const std::string before = Getfacl(file);
    CObjectAcl object;
    ASSERT_TRUE(object.Open(rootFd_, "locked", false));
    ASSERT_TRUE(object.Read());
    EXPECT_FALSE(object.Update(kNobody, ACL_READ, 0));
    EXPECT_EQ(object.LastError(), EPERM);
    SetImmutable(file, false);
    EXPECT_EQ(Getfacl(file), before);
}

TEST(Capabilities, EnableMakesAPermittedCapabilityEffective)
{
    const int code = InChild([] {
        CCapabilities caps;
        if (!caps.Load() || !caps.IsPermitted(CAP_FOWNER))
            return 10;
        caps.SetEffective(CAP_FOWNER, false);
        if (!caps.Store() || !caps.Load() || caps.IsEffective(CAP_FOWNER))
            return 11;
        if (!EnableCapability(CAP_FOWNER))
            return 12;
        CCapabilities after;
        return after.Load() && after.IsEffective(CAP_FOWNER) ? 0 : 13;
    });
    EXPECT_EQ(code, 0);
}

TEST(Capabilities, EnableFailsWhenNotPermitted)
{
    const int code = InChild([] {
        if (!DropCapability(CAP_FOWNER))
            return 10;
        errno = 0;
        if (EnableCapability(CAP_FOWNER))
            return 11;
        return errno == EPERM ? 0 : 12;
    });
    EXPECT_EQ(code, 0);
}
