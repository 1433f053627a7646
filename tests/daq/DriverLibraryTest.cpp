#include "daq/Pu.h"
#include "daq/Vme.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

namespace {
// Names a driver library for the CVme objects of one test.
class DriverLibraryTest : public ::testing::Test {
protected:
    void Use(const std::string& path) { setenv("TELVANE_VME_LIBRARY", path.c_str(), 1); }
    void TearDown() override { unsetenv("TELVANE_VME_LIBRARY"); }
};

TEST_F(DriverLibraryTest, NamedLibraryIsLoadedAndCalled)
{
    Use(TEST_VME_DRIVER);
    CVme vme;
    ASSERT_TRUE(vme.Init(5)) << vme.ErrorText();
    EXPECT_EQ(vme.DriverPath(), TEST_VME_DRIVER);
    ASSERT_TRUE(vme.Write32(0x100, 0xCAFEF00D)) << vme.ErrorText();
    uint32_t value = 0;
    ASSERT_TRUE(vme.Read32(0x100, value));
    EXPECT_EQ(value, 0xCAFEF00Du);

    CPu pu(vme, 0x200);
    ASSERT_TRUE(vme.Write16(0x23A, 0x1203));
    ASSERT_TRUE(pu.WrDelay1(0x45)) << pu.ErrorText();
    uint16_t delays = 0;
    ASSERT_TRUE(vme.Read16(0x23A, delays));
    EXPECT_EQ(delays, 0x1205);

    EXPECT_FALSE(vme.Read32(0x20000, value));
    EXPECT_EQ(vme.Status(), 7);
    EXPECT_EQ(vme.ErrorText(), "CVme::Read(20000): Error 7\r\ntest driver: address out of range\r\n");

    ASSERT_TRUE(vme.Reset()) << vme.ErrorText();
    ASSERT_TRUE(vme.Read32(0x100, value));
    EXPECT_EQ(value, 0u) << "the library's bt_reset ran";
}

TEST_F(DriverLibraryTest, LibraryFailuresCarryTheirLabels)
{
    Use(TEST_VME_DRIVER);
    const struct {
        int logicalDevice;
        const char* text;
    } cases[] = {
        {9, "CVme::Init():bt_open(): Error 8\r\ntest driver: no such device\r\n"},
        {10, "CVme::Init():bt_set_info(BT_INFO_SWAP): Error 9\r\ntest driver: unexpected set-up call\r\n"},
        {11, "CVme::Init():bt_set_info(BT_INFO_DATAWIDTH): Error 9\r\ntest driver: unexpected set-up call\r\n"},
        {-1, "CVme::Init():bt_gen_name(): Error 87\r\nNo device name for logical device -1\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.logicalDevice);
        CVme vme;
        EXPECT_FALSE(vme.Init(c.logicalDevice));
        EXPECT_FALSE(vme.IsOpen()) << "a half-opened device is closed again";
        EXPECT_EQ(vme.ErrorText(), c.text);
    }
    CVme vme;
    ASSERT_TRUE(vme.Init(12));
    EXPECT_FALSE(vme.Reset());
    EXPECT_EQ(vme.ErrorText(), "CVme::Reset():bt_reset(): Error 9\r\ntest driver: unexpected set-up call\r\n");
}

TEST_F(DriverLibraryTest, MissingLibraryIsAnErrorNotAFallback)
{
    const std::string path = std::string(TELVANE_BINARY_DIR) + "/no-such-vme-driver.so";
    Use(path);
    CVme vme;
    EXPECT_FALSE(vme.Init(5));
    EXPECT_FALSE(vme.IsOpen());
    EXPECT_EQ(vme.Status(), 2);
    const std::string head = "CVme::Init():dlopen(" + path + "): Error 2\r\n";
    EXPECT_EQ(vme.ErrorText().substr(0, head.size()), head);
    EXPECT_NE(vme.ErrorText().find("no-such-vme-driver.so"), std::string::npos);
    EXPECT_EQ(vme.ErrorText().substr(vme.ErrorText().size() - 2), "\r\n");
}

TEST_F(DriverLibraryTest, LibraryLackingAFunctionIsRefused)
{
    Use(TEST_VME_DRIVER_NO_RESET);
    CVme vme;
    EXPECT_FALSE(vme.Init(5));
    EXPECT_FALSE(vme.IsOpen());
    EXPECT_EQ(vme.Status(), 11);
    EXPECT_EQ(vme.ErrorText(), std::string("CVme::Init():dlsym(bt_reset): Error 11\r\n") +
                                   TEST_VME_DRIVER_NO_RESET + " does not export bt_reset\r\n");
}

TEST_F(DriverLibraryTest, EmptyNameMeansTheSimulatedStand)
{
    Use("");
    CVme vme;
    ASSERT_TRUE(vme.Init(5)) << vme.ErrorText();
    EXPECT_EQ(vme.DriverPath(), "");
    uint16_t value = 0;
    EXPECT_FALSE(vme.Read16(0x20000, value));
    EXPECT_EQ(vme.ErrorText(),
              "CVme::Read(20000): Error 1\r\nVME bus error: no board answered at address 0x20000\r\n");
}
}  // namespace
