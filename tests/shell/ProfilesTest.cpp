#include "shell/Profiles.h"

#include <gtest/gtest.h>

TEST(Profiles, NameRules)
{
    const std::vector<std::string> open = {"Crate 1", "Firmware"};
    struct Case {
        const char* name;
        ProfileNameCheck check;
    } cases[] = {
        {"Crate 2", ProfileNameCheck::Ok},
        {"crate 1", ProfileNameCheck::InUse},
        {"  FIRMWARE\t", ProfileNameCheck::InUse},
        {"Crate 10", ProfileNameCheck::Ok},
        {"", ProfileNameCheck::Empty},
        {" \t ", ProfileNameCheck::Empty},
        {"a/b", ProfileNameCheck::Separator},
        {"a\\b", ProfileNameCheck::Separator},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CheckProfileName(c.name, open), c.check) << c.name;
    EXPECT_EQ(ProfileNameMessage(ProfileNameCheck::InUse), "Name Already in use");
    EXPECT_EQ(ProfileNameMessage(ProfileNameCheck::Ok), "");
    EXPECT_EQ(TrimProfileName("\t Spy 1 "), "Spy 1");
}

TEST(Profiles, SectionPaths)
{
    EXPECT_EQ(ProfileSection(kStatePath, "Crate 1"), "Workspace/Profiles/Crate 1/");
    EXPECT_EQ(ProfilesSection(kStatePath), "Workspace/Profiles/");
    EXPECT_EQ(CommandWindowSection(kStatePath, 601), "Workspace/Command-601");
}

TEST(Profiles, CommandWindowIdIsTheSmallestFreeFrom600)
{
    struct Case {
        std::vector<int> used;
        int next;
    } cases[] = {
        {{}, 600}, {{600}, 601}, {{600, 602}, 601}, {{602, 600, 601}, 603}, {{601}, 600}, {{599, 700}, 600},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NextCommandWindowId(c.used), c.next) << testing::PrintToString(c.used);
}
