// Trees far deeper than a recursive walk or one descriptor per level can
// take: the folder walk on its own, and the brenlock binary on such trees,
// with the descriptors it may open limited.

#include "AclTestSupport.h"
#include "accesstool/FolderWalk.h"
#include "accesstool/PathPattern.h"
#include "accesstool/ToolOutput.h"

#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const std::string kNoMatch = "scandir/FindAll error! (rc=2)\nNo such file or directory\r\n";

// Creates count nested folders named name below the folder at path
// (descriptor by descriptor, as the paths grow too long for the system),
// and a file named file in the deepest one when given.
void MakeChain(const std::string& path, const std::string& name, int count, const char* file = nullptr)
{
    CFileDescriptor folder(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    ASSERT_TRUE(folder.IsOpen()) << path;
    for (int i = 0; i < count; ++i) {
        ASSERT_EQ(mkdirat(folder.Get(), name.c_str(), 0755), 0) << i;
        folder = CFileDescriptor(openat(folder.Get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        ASSERT_TRUE(folder.IsOpen()) << i;
    }
    if (file) {
        CFileDescriptor made(openat(folder.Get(), file, O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
        ASSERT_TRUE(made.IsOpen());
    }
}

// Empties the folder at path, however deep: each subfolder is first moved
// up to the top, so that no path and no chain of descriptors grows.
void RemoveDeepTree(const std::string& path)
{
    CFileDescriptor top(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    std::vector<std::string> folders{"."};
    for (size_t hoisted = 0; !folders.empty();) {
        const std::string name = folders.back();
        folders.pop_back();
        CFileDescriptor folder(openat(top.Get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        std::vector<_DIRENTRY> entries;
        if (!folder.IsOpen() || !ListFolder(folder.Get(), entries))
            continue;
        for (const auto& entry : entries) {
            if (entry.kind != EObjectKind::Folder) {
                unlinkat(folder.Get(), entry.name.c_str(), 0);
                continue;
            }
            const std::string up = ".hoisted-" + std::to_string(hoisted++);
            if (renameat(folder.Get(), entry.name.c_str(), top.Get(), up.c_str()) == 0)
                folders.push_back(up);
        }
        if (name != ".")
            unlinkat(top.Get(), name.c_str(), AT_REMOVEDIR);
    }
}

// The device and inode of an open folder, and of what a path names.
std::pair<dev_t, ino_t> IdentityOf(int fd)
{
    struct stat st {};
    fstat(fd, &st);
    return {st.st_dev, st.st_ino};
}

std::pair<dev_t, ino_t> IdentityOf(const std::string& path)
{
    struct stat st {};
    lstat(path.c_str(), &st);
    return {st.st_dev, st.st_ino};
}

std::string Repeat(const std::string& text, int count)
{
    std::string out;
    for (int i = 0; i < count; ++i)
        out += text;
    return out;
}

class DeepTree : public ::testing::Test {
protected:
    ~DeepTree() override { RemoveDeepTree(tree_.Root()); }
    CFolderWalk WalkFromRoot(size_t maxOpen)
    {
        return CFolderWalk(CFileDescriptor(open(tree_.Root().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)), maxOpen);
    }

    CTempTree tree_;
};
} // namespace

TEST_F(DeepTree, WalkGoesDownAndBackWithinItsDescriptors)
{
    constexpr int kDepth = 300;
    MakeChain(tree_.Root(), "a", kDepth);
    for (size_t maxOpen : {2u, 3u, 8u}) {
        CFolderWalk walk = WalkFromRoot(maxOpen);
        for (int depth = 1; depth <= kDepth; ++depth) {
            ASSERT_TRUE(walk.Enter("a")) << depth;
            ASSERT_LE(walk.OpenCount(), maxOpen);
        }
        EXPECT_FALSE(walk.Enter("a")) << "the deepest folder has no subfolder";
        EXPECT_EQ(errno, ENOENT);
        for (int depth = kDepth; depth >= 0; --depth) {
            ASSERT_EQ(walk.Depth(), static_cast<size_t>(depth));
            const int fd = walk.Current();
            ASSERT_GE(fd, 0) << depth;
            EXPECT_EQ(IdentityOf(fd), IdentityOf(tree_.Root() + Repeat("/a", depth))) << depth;
            ASSERT_LE(walk.OpenCount(), maxOpen);
            walk.Leave();
        }
        walk.Leave();
        EXPECT_EQ(IdentityOf(walk.Current()), IdentityOf(tree_.Root())) << "the start folder stays";
    }
}

TEST_F(DeepTree, AClosedFolderSwappedMeanwhileIsNotOpenedAgain)
{
    CTempTree outside;
    MakeChain(outside.Root(), "a", 8);
    const struct {
        const char* what;
        std::function<void(const std::string& level2)> swap;
        int error;
    } cases[] = {
        {"a symlink to a like tree outside",
         [&](const std::string& level2) { ASSERT_EQ(symlink((outside.Root() + "/a").c_str(), level2.c_str()), 0); },
         ENOTDIR},
        {"another folder of the name", [&](const std::string&) { MakeChain(tree_.Path("a"), "a", 8); }, ESTALE},
    };
    for (const auto& c : cases) {
        RemoveDeepTree(tree_.Root());
        MakeChain(tree_.Root(), "a", 8);
        CFolderWalk walk = WalkFromRoot(2);
        for (int depth = 1; depth <= 8; ++depth)
            ASSERT_TRUE(walk.Enter("a"));
        const std::string level2 = tree_.Path("a/a");
        ASSERT_EQ(rename(level2.c_str(), tree_.Path("moved").c_str()), 0);
        c.swap(level2);
        walk.Leave();
        errno = 0;
        EXPECT_EQ(walk.Current(), -1) << c.what;
        EXPECT_EQ(errno, c.error) << c.what;
        EXPECT_FALSE(walk.Enter("a")) << c.what;
    }
}

TEST_F(DeepTree, BrenlockWalksNineteenThousandLevels)
{
    constexpr int kDepth = 19500;
    tree_.File("deep/f");
    MakeChain(tree_.Path("deep"), "d", kDepth, "f");
    // A recursive walk needs more stack than this, one descriptor per level
    // more descriptors.
    auto run = RunBrenlockBinary({"/s", "/f", "R", "nobody", tree_.Path("deep/f")}, [] {
        const rlimit stack{1 << 20, 1 << 20}, descriptors{256, 256};
        if (setrlimit(RLIMIT_STACK, &stack) != 0 || setrlimit(RLIMIT_NOFILE, &descriptors) != 0)
            _exit(99);
    });
    EXPECT_EQ(run.exitStatus, 0);
    const std::string top = tree_.Path("deep/");
    const std::string expected =
        top + "f\r\n" + Repeat(kNoMatch, kDepth - 1) + top + Repeat("d/", kDepth) + "f\r\n";
    EXPECT_TRUE(run.out == expected) << "output of " << run.out.size() << " bytes, not " << expected.size();

    CFileDescriptor folder(open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (int i = 0; i < kDepth; ++i)
        folder = CFileDescriptor(openat(folder.Get(), "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    CFileDescriptor file(openat(folder.Get(), "f", O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(file.IsOpen());
    EXPECT_EQ(NamedEntryPerms("/proc/self/fd/" + std::to_string(file.Get()), ACL_TYPE_ACCESS, ACL_USER, kNobodyUid),
              ACL_READ);
}

TEST_F(DeepTree, BrenlockGoesBackUpWithFewDescriptors)
{
    // Every level holds the way down, "a", and a folder "z" with a file
    // that is reached only on the way back up.
    constexpr int kDepth = 1500;
    MakeChain(tree_.Root(), "a", kDepth - 1);
    for (int i = 0; i < kDepth; ++i)
        tree_.File(Repeat("a/", i) + "z/f");
    auto run = RunBrenlockBinary({"/s", "/f", "R", "nobody", tree_.Path("f")}, [] {
        const rlimit few{100, 100};
        if (setrlimit(RLIMIT_NOFILE, &few) != 0)
            _exit(99);
    });
    EXPECT_EQ(run.exitStatus, 0);
    std::string expected = Repeat(kNoMatch, kDepth);
    for (int i = kDepth - 1; i >= 0; --i)
        expected += tree_.Root() + "/" + Repeat("a/", i) + "z/f\r\n";
    EXPECT_TRUE(run.out == expected) << run.out.substr(0, 2000);
    for (int i : {0, kDepth / 2, kDepth - 1})
        EXPECT_EQ(NamedEntryPerms(tree_.Root() + "/" + Repeat("a/", i) + "z/f", ACL_TYPE_ACCESS, ACL_USER,
                                  kNobodyUid),
                  ACL_READ)
            << i;
}
