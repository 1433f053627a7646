#include "AclTestSupport.h"
#include "accesstool/PathPattern.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

TEST(PathPattern, SplitsAtTheLastSlash)
{
    const struct {
        const char* pattern;
        const char* folder;
        const char* name;
    } cases[] = {
        {"/srv/data/*.txt", "/srv/data/", "*.txt"},
        {"data/x", "data/", "x"},
        {"*.txt", "", "*.txt"},
        {"/x", "/", "x"},
        {"/", "/", ""},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        auto split = SplitPattern(c.pattern);
        EXPECT_EQ(split.folder, c.folder) << c.pattern;
        EXPECT_EQ(split.name, c.name) << c.pattern;
    }
}

TEST(PathPattern, Wildcards)
{
    const struct {
        const char* pattern;
        const char* name;
        bool matches;
    } cases[] = {
        {"*.*", "README", true},
        {"*.*", ".hidden", true},
        {"*.*", "a.b.c", true},
        {"*", ".profile", true},
        {"*.txt", "a.txt", true},
        {"*.txt", "a.TXT", false},
        {"*.TXT", "a.txt", false},
        {"*.txt", "a.txt.bak", false},
        {"?.txt", "a.txt", true},
        {"?.txt", "ab.txt", false},
        {"a*", "a", true},
        {"exact", "exact", true},
        {"exact", "exactly", false},
        {"a[1].txt", "a[1].txt", true},
        {"a[1].txt", "a1.txt", false},
        {"[ab]", "a", false},
        {"x\\y", "x\\y", true},
        {"", "a", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NameMatches(c.pattern, c.name), c.matches) << c.pattern << " vs " << c.name;
}

TEST(PathPattern, ListsSortedEntriesWithTheirOwnKind)
{
    CTempTree tree;
    tree.File("b.txt");
    tree.File("a.txt");
    tree.Folder("sub");
    ASSERT_EQ(symlink(tree.Path("sub").c_str(), tree.Path("dirlink").c_str()), 0);
    ASSERT_EQ(symlink(tree.Path("a.txt").c_str(), tree.Path("filelink").c_str()), 0);
    ASSERT_EQ(mkfifo(tree.Path("pipe").c_str(), 0644), 0);

    const int dirfd = open(tree.Root().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(dirfd, 0);
    std::vector<_DIRENTRY> entries;
    ASSERT_TRUE(ListFolder(dirfd, entries));
    // Listing twice through the same descriptor gives the same result.
    std::vector<_DIRENTRY> again;
    ASSERT_TRUE(ListFolder(dirfd, again));
    close(dirfd);

    const struct {
        const char* name;
        EObjectKind kind;
    } expected[] = {
        {"a.txt", EObjectKind::File},    {"b.txt", EObjectKind::File},  {"dirlink", EObjectKind::Other},
        {"filelink", EObjectKind::Other}, {"pipe", EObjectKind::Other}, {"sub", EObjectKind::Folder},
    };
    ASSERT_EQ(entries.size(), std::size(expected));
    ASSERT_EQ(again.size(), std::size(expected));
    for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].name, expected[i].name);
        EXPECT_EQ(entries[i].kind, expected[i].kind) << entries[i].name;
        EXPECT_EQ(again[i].name, expected[i].name);
    }
}

TEST(PathPattern, ListingABadDescriptorFails)
{
    std::vector<_DIRENTRY> entries{{"stale", EObjectKind::File}};
    errno = 0;
    EXPECT_FALSE(ListFolder(-1, entries));
    EXPECT_EQ(errno, EBADF);
    EXPECT_TRUE(entries.empty());
}
