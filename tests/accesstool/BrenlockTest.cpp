// Runs the real brenlock binary on temporary trees and reads the ACLs back
// with getfacl and acl_get_file.

#include "AclTestSupport.h"
#include "accesstool/ToolOutput.h"

#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const std::string kNoMatch = "scandir/FindAll error! (rc=2)\nNo such file or directory\r\n";
const std::string kPlainFile = "user::rw-\ngroup::r--\nother::r--\n\n";

std::optional<unsigned> UserPerms(const std::string& path, acl_type_t type = ACL_TYPE_ACCESS)
{
    return NamedEntryPerms(path, type, ACL_USER, kNobodyUid);
}

class Brenlock : public ::testing::Test {
protected:
    _RUNRESULT Run(const std::vector<std::string>& args) { return RunBrenlockBinary(args); }

    CTempTree tree_;
};
} // namespace

TEST_F(Brenlock, AddsEntriesToMatchingFilesAndFolders)
{
    const auto a = tree_.File("data/a.txt");
    const auto b = tree_.File("data/b.dat");
    const auto dir = tree_.Folder("data/dir.txt");
    const auto nested = tree_.File("data/sub/c.txt");

    auto run = Run({"RW", "nobody", tree_.Path("data/*.txt")});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.out, a + "\r\n[DIR] " + dir + "\r\n");
    EXPECT_EQ(Getfacl(a), "user::rw-\nuser:nobody:rw-\ngroup::r--\nmask::rw-\nother::r--\n\n");
    EXPECT_EQ(Getfacl(dir), "user::rwx\nuser:nobody:rw-\ngroup::r-x\nmask::rwx\nother::r-x\n"
                            "default:user::rwx\ndefault:user:nobody:rw-\ndefault:group::r-x\n"
                            "default:mask::rwx\ndefault:other::r-x\n\n");
    EXPECT_EQ(Getfacl(b), kPlainFile);
    EXPECT_EQ(Getfacl(nested), kPlainFile);
}

TEST_F(Brenlock, LettersMapToPermissions)
{
    const struct {
        const char* mask;
        unsigned perms;
    } cases[] = {
        {"R", ACL_READ},           {"w", ACL_WRITE},  {"X", ACL_EXECUTE}, {"A", ACL_READ | ACL_WRITE | ACL_EXECUTE},
        {"RDPO", ACL_READ},        {"xr", ACL_READ | ACL_EXECUTE},        {"N", 0},
        {"RWN", 0},
    };
    for (const auto& c : cases) {
        const auto file = tree_.File(std::string("m-") + c.mask);
        auto run = Run({c.mask, "nobody", file});
        EXPECT_EQ(run.exitStatus, 0) << c.mask;
        EXPECT_EQ(run.out, file + "\r\n");
        EXPECT_EQ(UserPerms(file), c.perms) << c.mask;
    }
}

TEST_F(Brenlock, DenyWritesEntriesWithoutPermissions)
{
    const auto folder = tree_.Folder("deny");
    auto run = Run({"/i=R", "N", "nobody", folder});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.out, "[DIR] " + folder + "\r\n");
    EXPECT_EQ(UserPerms(folder), 0u);
    EXPECT_EQ(UserPerms(folder, ACL_TYPE_DEFAULT), ACL_READ);
    EXPECT_NE(Getfacl(folder).find("\nuser:nobody:---\n"), std::string::npos);

    auto both = Run({"N", "nobody", folder});
    EXPECT_EQ(both.exitStatus, 0);
    EXPECT_EQ(UserPerms(folder), 0u);
    EXPECT_EQ(UserPerms(folder, ACL_TYPE_DEFAULT), 0u);
}

TEST_F(Brenlock, InheritMaskGoesToTheDefaultAcl)
{
    const auto folder = tree_.Folder("share");
    auto run = Run({"/i=R", "RW", "nobody", folder});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(UserPerms(folder), ACL_READ | ACL_WRITE);
    EXPECT_EQ(UserPerms(folder, ACL_TYPE_DEFAULT), ACL_READ);

    // What the kernel then gives new objects: files and subfolders alike get
    // the inherit mask, POSIX has no separate rights for the two.
    const auto newFile = tree_.File("share/new.txt");
    const auto newFolder = tree_.Folder("share/newdir");
    EXPECT_EQ(UserPerms(newFile), ACL_READ);
    EXPECT_EQ(UserPerms(newFolder), ACL_READ);
    EXPECT_EQ(UserPerms(newFolder, ACL_TYPE_DEFAULT), ACL_READ);
}

TEST_F(Brenlock, GroupAccounts)
{
    const auto file = tree_.File("g.txt");
    auto run = Run({"RX", "nogroup", file});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(Getfacl(file), "user::rw-\ngroup::r--\ngroup:nogroup:r-x\nmask::r-x\nother::r--\n\n");
}

TEST_F(Brenlock, ReplaceOnlyAndAddOnly)
{
    const auto has = tree_.File("has.txt");
    const auto lacks = tree_.File("lacks.txt");
    ASSERT_EQ(Shell("setfacl -m u:nobody:r '" + has + "'"), 0);

    auto replace = Run({"/x", "RWX", "nobody", tree_.Path("*.txt")});
    EXPECT_EQ(replace.exitStatus, 0);
    EXPECT_EQ(replace.out, has + "\r\n");
    EXPECT_EQ(UserPerms(has), ACL_READ | ACL_WRITE | ACL_EXECUTE);
    EXPECT_EQ(UserPerms(lacks), std::nullopt);

    auto add = Run({"-n", "W", "nobody", tree_.Path("*.txt")});
    EXPECT_EQ(add.exitStatus, 0);
    EXPECT_EQ(add.out, lacks + "\r\n");
    EXPECT_EQ(UserPerms(has), ACL_READ | ACL_WRITE | ACL_EXECUTE);
    EXPECT_EQ(UserPerms(lacks), ACL_WRITE);
    EXPECT_EQ(NamedEntryCount(has, ACL_TYPE_ACCESS), 1);
}

TEST_F(Brenlock, FilesOnlyAndFoldersOnly)
{
    const auto file = tree_.File("x/f1");
    const auto folder = tree_.Folder("x/f2");
    auto filesOnly = Run({"/f", "R", "nobody", tree_.Path("x/f*")});
    EXPECT_EQ(filesOnly.out, file + "\r\n");
    EXPECT_EQ(UserPerms(file), ACL_READ);
    EXPECT_EQ(UserPerms(folder), std::nullopt);

    auto foldersOnly = Run({"/d", "W", "nobody", tree_.Path("x/f*")});
    EXPECT_EQ(foldersOnly.out, "[DIR] " + folder + "\r\n");
    EXPECT_EQ(UserPerms(file), ACL_READ);
    EXPECT_EQ(UserPerms(folder), ACL_WRITE);

    auto neither = Run({"/d", "/f", "X", "nobody", tree_.Path("x/f*")});
    EXPECT_EQ(neither.exitStatus, 0);
    EXPECT_EQ(neither.out, "");
}

TEST_F(Brenlock, SubfolderWalk)
{
    const auto b = tree_.File("s1/b.txt");
    const auto c = tree_.File("s1/deep/c.txt");
    const auto d = tree_.File("s2/d.dat");
    tree_.File("top.dat");
    auto run = Run({"/s", "/f", "R", "nobody", tree_.Path("*.txt")});
    EXPECT_EQ(run.exitStatus, 0);
    // A folder without a match is reported and its subfolders are still worked.
    EXPECT_EQ(run.out, kNoMatch + b + "\r\n" + c + "\r\n" + kNoMatch);
    EXPECT_EQ(UserPerms(b), ACL_READ);
    EXPECT_EQ(UserPerms(c), ACL_READ);
    EXPECT_EQ(UserPerms(d), std::nullopt);
}

TEST_F(Brenlock, SymlinksAreNeverFollowed)
{
    CTempTree outside;
    const auto outFile = outside.File("o.txt");
    const auto outFolder = outside.Folder("d.txt");
    const auto outInner = outside.File("d.txt/inner.txt");
    const auto in = tree_.File("in.txt");
    ASSERT_EQ(symlink(outFile.c_str(), tree_.Path("link.txt").c_str()), 0);
    ASSERT_EQ(symlink(outFolder.c_str(), tree_.Path("dirlink.txt").c_str()), 0);
    ASSERT_EQ(symlink(outside.Root().c_str(), tree_.Path("walk").c_str()), 0);
    const std::string before = Getfacl(outFile) + Getfacl(outFolder) + Getfacl(outInner) + Getfacl(outside.Root());

    auto run = Run({"/s", "A", "nobody", tree_.Path("*.txt")});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.out, in + "\r\n");
    EXPECT_EQ(Getfacl(outFile) + Getfacl(outFolder) + Getfacl(outInner) + Getfacl(outside.Root()), before);
    EXPECT_EQ(UserPerms(in), ACL_READ | ACL_WRITE | ACL_EXECUTE);
}

TEST_F(Brenlock, AFailedObjectDoesNotStopTheRun)
{
    const auto a = tree_.File("a.txt");
    const auto b = tree_.File("b.txt");
    const auto c = tree_.File("c.txt");
    if (!SetImmutable(b, true))
        GTEST_SKIP() << "file system has no immutable attribute";
    auto run = Run({"R", "nobody", tree_.Path("*.txt")});
    SetImmutable(b, false);
    EXPECT_EQ(run.exitStatus, 3);
    EXPECT_EQ(run.out, a + "\r\n" + b + "\r\nUpdate error! (rc=1)\nOperation not permitted\r\n" + c + "\r\n");
    EXPECT_EQ(UserPerms(a), ACL_READ);
    EXPECT_EQ(Getfacl(b), kPlainFile);
    EXPECT_EQ(UserPerms(c), ACL_READ);
}

TEST_F(Brenlock, BadCommandLinesPrintTheUsage)
{
    const std::string usage = CToolOutput::UsageText();
    const struct {
        std::vector<std::string> args;
        std::string invalid;
    } cases[] = {
        {{}, ""},
        {{"R", "nobody"}, ""},
        {{"/s", "R", "nobody"}, ""},
        {{"RZ", "nobody", "/tmp/*"}, "RZ"},
        {{"-q", "R", "nobody", "/tmp/*"}, "-q"},
        {{"R", "nobody", "/tmp/*", "-i"}, "-i"},
        {{"-i=RQ", "R", "nobody", "/tmp/*"}, "-i=RQ"},
        {{"D", "nobody", "/tmp/*"}, "D"},
        {{"/i=PO", "R", "nobody", "/tmp/*"}, "/i=PO"},
        {{"R", "nobody", "/tmp/a.txt", "/tmp/b.txt"}, "/tmp/b.txt"},
    };
    for (const auto& c : cases) {
        auto run = Run(c.args);
        EXPECT_EQ(run.exitStatus, 1) << c.invalid;
        EXPECT_EQ(run.out, (c.invalid.empty() ? "" : "Invalid param: " + c.invalid + "\n") + usage);
    }
}

TEST_F(Brenlock, HelpAloneIsAnAnswerNotAnError)
{
    for (const char* help : {"--help", "-h", "/?"}) {
        auto run = Run({help});
        EXPECT_EQ(run.exitStatus, 0) << help;
        EXPECT_EQ(run.out, CToolOutput::UsageText()) << help;
    }
    auto run = Run({"--help", "R", "nobody", "/tmp/*"});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.out.rfind("Invalid param: --help\n", 0), 0u) << run.out;
}

TEST_F(Brenlock, AShellExpandedPatternIsRefusedAndChangesNothing)
{
    // brenlock R nobody *.txt, the pattern unquoted: the shell passes every name.
    const auto a = tree_.File("a.txt");
    const auto b = tree_.File("b.txt");
    const auto c = tree_.File("c.txt");
    auto run = Run({"R", "nobody", a, b, c});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.out, "Invalid param: " + b + "\n" + CToolOutput::UsageText());
    for (const auto& file : {a, b, c})
        EXPECT_EQ(Getfacl(file), kPlainFile) << file;
}

TEST_F(Brenlock, APatternThatMatchesNothingAnywhereFails)
{
    tree_.File("s1/b.dat");
    tree_.File("s2/deep/c.dat");
    const struct {
        std::vector<std::string> flags;
        int exitStatus;
        std::string out;
    } cases[] = {
        {{}, 3, kNoMatch},
        // every folder of the walk reports its missing match
        {{"/s"}, 3, kNoMatch + kNoMatch + kNoMatch + kNoMatch},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.flags;
        for (const std::string& a : {std::string("R"), std::string("nobody"), tree_.Path("*.txt")})
            args.push_back(a);
        auto run = Run(args);
        EXPECT_EQ(run.exitStatus, c.exitStatus) << c.flags.size();
        EXPECT_EQ(run.out, c.out) << c.flags.size();
    }
}

TEST_F(Brenlock, UnknownAccountsChangeNothing)
{
    const auto file = tree_.File("f.txt");
    for (const char* name : {"no-such-account-x", "NODOMAIN\\nobody"}) {
        auto run = Run({"R", name, file});
        EXPECT_EQ(run.exitStatus, 3) << name;
        EXPECT_EQ(run.out, "scandir/UserExist error! (rc=2)\nno such user or group\r\n");
    }
    EXPECT_EQ(Getfacl(file), kPlainFile);
}

TEST_F(Brenlock, FolderChecks)
{
    const struct {
        std::string pattern;
        int exitStatus;
        std::string out;
    } cases[] = {
        {"/proc/*.none", 3, "Disk not NTFS format\r\n"},
        {tree_.Path("*.none"), 3, kNoMatch},
        {tree_.Path("missing/*.txt"), 3, kNoMatch},
    };
    for (const auto& c : cases) {
        auto run = Run({"R", "nobody", c.pattern});
        EXPECT_EQ(run.exitStatus, c.exitStatus) << c.pattern;
        EXPECT_EQ(run.out, c.out) << c.pattern;
    }
}

TEST_F(Brenlock, WithoutCapFownerNothingIsTouched)
{
    const auto file = tree_.File("f.txt");
    auto run = RunBrenlockBinary({"R", "nobody", file}, [] {
        if (!DropCapability(CAP_FOWNER))
            _exit(99);
    });
    EXPECT_EQ(run.exitStatus, 3);
    EXPECT_EQ(run.out, "Fail Enable CAP_FOWNER\r\n");
    EXPECT_EQ(Getfacl(file), kPlainFile);
}

TEST_F(Brenlock, RelativePatternsAndTrailingSlashes)
{
    const auto folder = tree_.Folder("data/sub");
    const auto file = tree_.File("top.txt");
    const std::string root = tree_.Root();
    const auto inRoot = [&root] {
        if (chdir(root.c_str()) != 0)
            _exit(98);
    };
    auto dirRun = RunBrenlockBinary({"R", "nobody", "data/sub/"}, inRoot);
    EXPECT_EQ(dirRun.exitStatus, 0);
    EXPECT_EQ(dirRun.out, "[DIR] data/sub\r\n");
    EXPECT_EQ(UserPerms(folder), ACL_READ);

    auto fileRun = RunBrenlockBinary({"W", "nobody", "*.txt"}, inRoot);
    EXPECT_EQ(fileRun.exitStatus, 0);
    EXPECT_EQ(fileRun.out, "top.txt\r\n");
    EXPECT_EQ(UserPerms(file), ACL_WRITE);
}
