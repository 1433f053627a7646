#include "base/Error.h"
#include "shell/Profiles.h"
#include "shell/SettingsStore.h"

#include <gtest/gtest.h>

TEST(SettingsStore, NarrowValuesRoundTripAsThirtyTwoBitIntegers)
{
    CMemorySettings backend;
    {
        CSettingsStoreEx store(backend, false);
        ASSERT_TRUE(store.CreateKey("Workspace/Profiles/ZOra 1/"));
        EXPECT_TRUE(store.Write("Byte", uint8_t{200}));
        EXPECT_TRUE(store.Write("Word", uint16_t{65535}));
        EXPECT_TRUE(store.Write("Wide", int32_t{0x12345}));
    }
    CSettingsStoreEx store(backend, true);
    ASSERT_TRUE(store.Open("Workspace/Profiles/ZOra 1/"));
    uint8_t b = 0;
    uint16_t w = 0;
    int32_t stored = 0;
    EXPECT_TRUE(store.Read("Byte", b));
    EXPECT_EQ(b, 200);
    EXPECT_TRUE(store.Read("Word", w));
    EXPECT_EQ(w, 65535);
    EXPECT_TRUE(store.Read("Word", stored));
    EXPECT_EQ(stored, 65535);  // zero-extended, not sign-extended
    EXPECT_TRUE(store.Read("Wide", w));
    EXPECT_EQ(w, 0x2345);  // narrowed on reading
}

TEST(SettingsStore, MissingValuesAndSectionsKeepTheCurrentValue)
{
    CMemorySettings backend;
    CSettingsStoreEx store(backend, true);
    EXPECT_FALSE(store.Open("Workspace/Profiles/Nobody/"));
    EXPECT_EQ(GetLastErr(), static_cast<uint32_t>(err::NotFound));
    int32_t timeout = 1000;
    std::string name = "keep";
    EXPECT_FALSE(store.Read("CmdTimeOut", timeout));
    EXPECT_FALSE(store.Read("Name", name));
    EXPECT_EQ(timeout, 1000);
    EXPECT_EQ(name, "keep");

    CSettingsStore writer(backend, false);
    ASSERT_TRUE(writer.CreateKey("Workspace/Profiles/Somebody"));
    ASSERT_TRUE(writer.Write("Other", 1));
    writer.Close();
    ASSERT_TRUE(store.Open("Workspace/Profiles/Somebody/"));
    EXPECT_FALSE(store.Read("CmdTimeOut", timeout));
    EXPECT_EQ(timeout, 1000);
}

TEST(SettingsStore, ReadOnlyStoreRefusesWrites)
{
    CMemorySettings backend;
    CSettingsStore store(backend, true);
    EXPECT_FALSE(store.CreateKey("Workspace"));
    EXPECT_FALSE(store.Write("CommandFile", "x.dec"));
    EXPECT_FALSE(backend.GroupExists("Workspace"));
}

TEST(SettingsStore, ListsBytesAndTextRoundTrip)
{
    CMemorySettings backend;
    CSettingsStore store(backend, false);
    ASSERT_TRUE(store.CreateKey(kStatePath));
    const std::vector<uint32_t> ids = {600, 602};
    const std::vector<int32_t> signedIds = {-1, 7};
    const std::vector<uint8_t> bytes = {0, 0xFF, 0x55};
    const std::vector<std::string> texts = {"a", "", "c d"};
    ASSERT_TRUE(store.Write("CommandList", ids));
    ASSERT_TRUE(store.Write("Signed", signedIds));
    ASSERT_TRUE(store.Write("State", bytes));
    ASSERT_TRUE(store.Write("Texts", texts));
    ASSERT_TRUE(store.Write("CommandFile", "/x/Cb_v126_cmd.dec"));
    ASSERT_TRUE(store.Write("On", true));
    ASSERT_TRUE(store.Write("Empty", std::vector<uint32_t>{}));

    std::vector<uint32_t> idsBack;
    std::vector<int32_t> signedBack;
    std::vector<uint8_t> bytesBack;
    std::vector<std::string> textsBack;
    std::string file;
    bool on = false;
    std::vector<uint32_t> emptyBack = {1};
    EXPECT_TRUE(store.Read("CommandList", idsBack));
    EXPECT_TRUE(store.Read("Signed", signedBack));
    EXPECT_TRUE(store.Read("State", bytesBack));
    EXPECT_TRUE(store.Read("Texts", textsBack));
    EXPECT_TRUE(store.Read("CommandFile", file));
    EXPECT_TRUE(store.Read("On", on));
    EXPECT_TRUE(store.Read("Empty", emptyBack));
    EXPECT_EQ(idsBack, ids);
    EXPECT_EQ(signedBack, signedIds);
    EXPECT_EQ(bytesBack, bytes);
    EXPECT_EQ(textsBack, texts);
    EXPECT_EQ(file, "/x/Cb_v126_cmd.dec");
    EXPECT_TRUE(on);
    EXPECT_TRUE(emptyBack.empty());

    // A list that is no list of numbers leaves the variable alone.
    std::vector<uint32_t> untouched = {9};
    EXPECT_FALSE(store.Read("Texts", untouched));
    EXPECT_EQ(untouched, std::vector<uint32_t>{9});
}

TEST(SettingsStore, NumbersStoredAsTextReadBackAsNumbers)
{
    // INI files give every value back as text.
    CMemorySettings backend;
    backend.Write("Workspace", "ApplicationLook", std::string("216"));
    backend.Write("Workspace", "Bad", std::string("21x"));
    CSettingsStore store(backend, true);
    ASSERT_TRUE(store.Open("Workspace"));
    uint32_t look = 214, bad = 5;
    EXPECT_TRUE(store.Read("ApplicationLook", look));
    EXPECT_EQ(look, 216u);
    EXPECT_FALSE(store.Read("Bad", bad));
    EXPECT_EQ(bad, 5u);
}

TEST(SettingsStore, DeletingAProfileRemovesItsNestedSections)
{
    CMemorySettings backend;
    CSettingsStore store(backend, false);
    for (const char* section : {"Workspace/Profiles/A/", "Workspace/Profiles/A/Links/1", "Workspace/Profiles/A b/",
                                "Workspace/Profiles/B/"}) {
        ASSERT_TRUE(store.CreateKey(section));
        ASSERT_TRUE(store.Write("Value", 1));
    }
    EXPECT_EQ(backend.ChildGroups("Workspace/Profiles"), (std::vector<std::string>{"A", "A b", "B"}));
    EXPECT_TRUE(store.DeleteKey(ProfileSection(kStatePath, "A")));
    EXPECT_FALSE(backend.GroupExists("Workspace/Profiles/A/Links/1"));
    EXPECT_FALSE(backend.GroupExists("Workspace/Profiles/A"));
    EXPECT_EQ(backend.ChildGroups("Workspace/Profiles"), (std::vector<std::string>{"A b", "B"}));
    EXPECT_FALSE(store.DeleteKey(ProfileSection(kStatePath, "A")));
}
