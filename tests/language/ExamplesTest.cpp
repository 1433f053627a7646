#include "language/VaCompiler.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kExamples = std::string(TELVANE_SOURCE_DIR) + "/examples/";

TEST(ExamplesTest, ReplyFileLayouts)
{
    CVa_Compiler c;
    c.Clear();
    ASSERT_EQ(c.Compile(kExamples + "Cb_v126.dec", false), 1) << c.GetErrorText();
    const CStructList& s = c.Structs();
    // The status layouts the firmware update reads: long 200 bytes, short 79.
    EXPECT_EQ(s.SizeOf(0x13), 200);
    EXPECT_EQ(s.SizeOf(0xE9), 79);
    const CStructData* longStatus = s.Find(0x13);
    ASSERT_NE(longStatus, nullptr);
    EXPECT_EQ(longStatus->Field(1).name, "fw_major");
    EXPECT_EQ(longStatus->Field(2).name, "fw_minor");
    EXPECT_EQ(s.SizeOf(0xBE61), 6);
    EXPECT_EQ(s.SizeOf(0xBE0A), 2);
    EXPECT_EQ(s.SizeOf(0x0F04), 1);
    EXPECT_EQ(s.SizeOf(0xF4), 67);
    EXPECT_TRUE(s.Exists(0x3F));
    EXPECT_EQ(s.SizeOf(0x3F), 0);
    // Every field names an enum that exists.
    for (const auto& st : s) {
        for (const auto& f : st.Fields())
            EXPECT_TRUE(f.enumName.empty() || f.enumRef) << st.Name() << "." << f.name;
    }
}

TEST(ExamplesTest, CommandFileNeedsSharedCodes)
{
    CVa_Compiler c;
    c.Clear();
    EXPECT_EQ(c.Compile(kExamples + "Cb_v126_cmd.dec", false), 0);
    EXPECT_NE(c.GetErrorText().find(":Duplicate structure code"), std::string::npos);
    c.Clear();
    ASSERT_EQ(c.Compile(kExamples + "Cb_v126_cmd.dec", true), 1) << c.GetErrorText();
    const CStructList& s = c.Structs();
    EXPECT_EQ(s.IndexOf(0xEA, "Status") >= 0, true);
    EXPECT_EQ(s.IndexOf(0xEA, "GetNode") >= 0, true);
    EXPECT_EQ(s.SizeOf(0xF5, "ReadMem"), 6);
    EXPECT_EQ(s.SizeOf(0xEE, "Script"), 35);
    EXPECT_EQ(s.SizeOf(0xBF65, "JtagBus"), 2);
    EXPECT_EQ(s.SizeOf(0xC5, "CanTunnel"), 11);
    for (const auto& st : s) {
        for (const auto& f : st.Fields())
            EXPECT_TRUE(f.enumName.empty() || f.enumRef) << st.Name() << "." << f.name;
    }
}

}  // namespace
