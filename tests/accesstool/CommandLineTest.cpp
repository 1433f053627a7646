#include "accesstool/AccessMask.h"
#include "accesstool/MyParam.h"

#include <gtest/gtest.h>
#include <initializer_list>
#include <sys/acl.h>
#include <vector>

namespace {
CMyParam ParseLine(std::initializer_list<const char*> params)
{
    std::vector<const char*> argv{"brenlock"};
    argv.insert(argv.end(), params);
    CMyParam result;
    result.Parse(int(argv.size()), argv.data());
    return result;
}
} // namespace

TEST(MaskLetters, EachLetterAddsItsBitsInAnyCase)
{
    const struct {
        const char* letters;
        uint32_t mask;
    } cases[] = {
        {"R", 0x80000000},  {"w", 0x40000000},    {"X", 0x20000000}, {"d", 0x00010000},
        {"P", 0x00040000},  {"o", 0x00080000},    {"A", 0x10000000}, {"RW", 0xC0000000},
        {"wr", 0xC0000000}, {"RWXDPO", 0xE00D0000}, {"rrr", 0x80000000}, {"", 0},
        {"N", 0xFFFFFFFF},  {"NR", 0xFFFFFFFF},   {"RN", 0xFFFFFFFF}, {"nA", 0xFFFFFFFF},
    };
    for (const auto& c : cases) {
        auto mask = ParseMaskLetters(c.letters);
        ASSERT_TRUE(mask.has_value()) << c.letters;
        EXPECT_EQ(*mask, c.mask) << c.letters;
    }
}

TEST(MaskLetters, AnyOtherLetterIsRefused)
{
    for (const char* letters : {"RZ", "Z", "R W", "R,W", "F", "rwx1", "-R"})
        EXPECT_FALSE(ParseMaskLetters(letters).has_value()) << letters;
}

TEST(MaskLetters, MapToPosixPermissions)
{
    const struct {
        uint32_t mask;
        unsigned perms;
    } cases[] = {
        {accessmask::Read, ACL_READ},
        {accessmask::Write, ACL_WRITE},
        {accessmask::Execute, ACL_EXECUTE},
        {accessmask::All, ACL_READ | ACL_WRITE | ACL_EXECUTE},
        {accessmask::Read | accessmask::Execute | accessmask::Delete, ACL_READ | ACL_EXECUTE},
        {accessmask::Delete | accessmask::ChangePermissions | accessmask::TakeOwnership, 0},
        {0, 0},
        {accessmask::Deny, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PosixPermsOf(c.mask), c.perms) << std::hex << c.mask;
}

TEST(CommandLine, DefaultsAndPositionalOrder)
{
    auto p = ParseLine({"RW", "nobody", "/data/*.txt"});
    EXPECT_FALSE(p.invalid);
    EXPECT_EQ(p.positionalCount, 3);
    EXPECT_EQ(p.accessMask, 0xC0000000u);
    EXPECT_FALSE(p.deny);
    EXPECT_EQ(p.inheritMask, 0u);
    EXPECT_EQ(p.EffectiveInheritMask(), 0xC0000000u);
    EXPECT_EQ(p.accountName, "nobody");
    EXPECT_EQ(p.pathPattern, "/data/*.txt");
    EXPECT_TRUE(p.filesEnabled);
    EXPECT_TRUE(p.foldersEnabled);
    EXPECT_EQ(p.mode, CMyParam::AddOrReplace);
    EXPECT_FALSE(p.subfolders);
}

TEST(CommandLine, FlagsAnywhereWithEitherPrefixInAnyCase)
{
    const struct {
        std::initializer_list<const char*> line;
        bool files, folders, subfolders;
        CMyParam::EMode mode;
        uint32_t inherit;
    } cases[] = {
        {{"/s", "R", "u", "p"}, true, true, true, CMyParam::AddOrReplace, 0},
        {{"R", "-S", "u", "p"}, true, true, true, CMyParam::AddOrReplace, 0},
        {{"R", "u", "/D", "p"}, false, true, false, CMyParam::AddOrReplace, 0},
        {{"R", "u", "p", "-f"}, true, false, false, CMyParam::AddOrReplace, 0},
        {{"/d", "/f", "R", "u", "p"}, false, false, false, CMyParam::AddOrReplace, 0},
        {{"/x", "R", "u", "p"}, true, true, false, CMyParam::ReplaceOnly, 0},
        {{"-N", "R", "u", "p"}, true, true, false, CMyParam::AddOnly, 0},
        {{"/x", "/n", "R", "u", "p"}, true, true, false, CMyParam::AddOnly, 0},
        {{"/n", "-X", "R", "u", "p"}, true, true, false, CMyParam::ReplaceOnly, 0},
        {{"/i=R", "RW", "u", "p"}, true, true, false, CMyParam::AddOrReplace, 0x80000000},
        {{"RW", "-I=wx", "u", "p"}, true, true, false, CMyParam::AddOrReplace, 0x60000000},
        {{"RW", "/i=N", "u", "p"}, true, true, false, CMyParam::AddOrReplace, 0xFFFFFFFF},
        {{"RW", "/i=", "u", "p"}, true, true, false, CMyParam::AddOrReplace, 0},
    };
    for (const auto& c : cases) {
        auto p = ParseLine(c.line);
        const std::string line = *c.line.begin() + std::string(" ...");
        EXPECT_FALSE(p.invalid) << line << " " << p.invalidText;
        EXPECT_EQ(p.positionalCount, 3) << line;
        EXPECT_EQ(p.filesEnabled, c.files) << line;
        EXPECT_EQ(p.foldersEnabled, c.folders) << line;
        EXPECT_EQ(p.subfolders, c.subfolders) << line;
        EXPECT_EQ(p.mode, c.mode) << line;
        EXPECT_EQ(p.inheritMask, c.inherit) << line;
        EXPECT_EQ(p.accountName, "u") << line;
        EXPECT_EQ(p.pathPattern, "p") << line;
    }
}

TEST(CommandLine, SlashParametersThatAreNoFlagAreLinuxPaths)
{
    const struct {
        const char* param;
        const char* pattern;
    } cases[] = {
        {"/srv/data/*.txt", "/srv/data/*.txt"},
        {"/s/data", "/s/data"},
        {"/i", "/i"},
        {"/ix", "/ix"},
        {"/sd", "/sd"},
        {"/q", "/q"},
        {"/", "/"},
        {"/srv/data/", "/srv/data"},
        {"/srv/data///", "/srv/data"},
        {"data/", "data"},
    };
    for (const auto& c : cases) {
        auto p = ParseLine({"R", "nobody", c.param});
        EXPECT_FALSE(p.invalid) << c.param;
        EXPECT_EQ(p.positionalCount, 3) << c.param;
        EXPECT_EQ(p.pathPattern, c.pattern) << c.param;
    }
}

TEST(CommandLine, AFourthPositionalIsRefused)
{
    auto p = ParseLine({"R", "nobody", "/a/x.txt", "/a/y.txt", "/a/z.txt"});
    EXPECT_TRUE(p.invalid);
    EXPECT_EQ(p.invalidText, "/a/y.txt") << "the first extra name is the offender";
    EXPECT_EQ(p.positionalCount, 3);
    EXPECT_EQ(p.pathPattern, "/a/x.txt");
}

TEST(CommandLine, DenyMask)
{
    auto p = ParseLine({"N", "DOM\\nobody", "x"});
    EXPECT_FALSE(p.invalid);
    EXPECT_TRUE(p.deny);
    EXPECT_EQ(p.accessMask, 0xFFFFFFFFu);
    EXPECT_EQ(p.accountName, "DOM\\nobody");
}

TEST(CommandLine, BadParametersNameTheFirstOffender)
{
    const struct {
        std::initializer_list<const char*> line;
        const char* offender;
    } cases[] = {
        {{"RZ", "u", "p"}, "RZ"},
        {{"-q", "R", "u", "p"}, "-q"},
        {{"R", "u", "p", "-sd"}, "-sd"},
        {{"-i", "R", "u", "p"}, "-i"},
        {{"-iR", "R", "u", "p"}, "-iR"},
        {{"-", "R", "u", "p"}, "-"},
        {{"/i=RZ", "R", "u", "p"}, "/i=RZ"},
        {{"-I=q", "R", "u", "p"}, "-I=q"},
        {{"-q", "RZ", "u", "p"}, "-q"},
        {{"RZ", "-q", "u", "p"}, "RZ"},
        // Masks that grant nothing would deny on POSIX: refused.
        {{"D", "u", "p"}, "D"},
        {{"dpo", "u", "p"}, "dpo"},
        {{"", "u", "p"}, ""},
        {{"/i=D", "RW", "u", "p"}, "/i=D"},
        {{"D"}, "D"},
    };
    for (const auto& c : cases) {
        auto p = ParseLine(c.line);
        EXPECT_TRUE(p.invalid) << c.offender;
        EXPECT_EQ(p.invalidText, c.offender);
    }
}

TEST(CommandLine, InvalidMaskStillTakesItsPlace)
{
    auto p = ParseLine({"RZ", "nobody", "/srv"});
    EXPECT_TRUE(p.invalid);
    EXPECT_EQ(p.accountName, "nobody");
    EXPECT_EQ(p.pathPattern, "/srv");
}

TEST(CommandLine, TooFewPositionalsAreCounted)
{
    EXPECT_EQ(ParseLine({}).positionalCount, 0);
    EXPECT_EQ(ParseLine({"/s", "R"}).positionalCount, 1);
    EXPECT_EQ(ParseLine({"R", "nobody"}).positionalCount, 2);
    EXPECT_FALSE(ParseLine({"R", "nobody"}).invalid);
}
