// The serial port list over a tty class folder built by the test.

#include "ports/SerialPorts.h"
#include "support/RunCommand.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class SerialPortList : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/telvane-ttyXXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
        fs::create_directories(root / "class");
        fs::create_directories(root / "by-id");
    }
    void TearDown() override { fs::remove_all(root); }

    // A tty entry; `device` is a folder under devices/ it links to (empty:
    // a virtual terminal with no device).
    void AddTty(const std::string& name, const std::string& device, const char* type = nullptr)
    {
        fs::path dir = root / "class" / name;
        fs::create_directories(dir);
        if (!device.empty()) {
            fs::create_directories(root / "devices" / device);
            fs::create_directory_symlink(root / "devices" / device, dir / "device");
        }
        if (type)
            std::ofstream(dir / "type") << type << "\n";
    }
    void Write(const fs::path& file, const std::string& text) { std::ofstream(file) << text; }

    bool List(std::vector<std::string>& names, std::vector<std::string>& friendly)
    {
        return EnumSerialPorts(names, friendly, (root / "class").string(), (root / "by-id").string());
    }

    fs::path root;
};

TEST_F(SerialPortList, HardwarePortsInNaturalOrderWithFriendlyNames)
{
    AddTty("tty0", "");
    AddTty("console", "");
    AddTty("ttyS0", "platform/serial8250/tty/ttyS0", "4");
    AddTty("ttyS1", "platform/serial8250/tty/ttyS1", "0");  // an empty UART slot
    AddTty("ttyS10", "platform/serial8250/tty/ttyS10", "4");
    AddTty("ttyS2", "platform/serial8250/tty/ttyS2", "4");
    AddTty("ttyUSB0", "usb1/1-1/1-1:1.0/ttyUSB0");
    Write(root / "devices/usb1/1-1/product", "FT232R USB UART\n");
    AddTty("ttyACM0", "usb1/1-2/1-2:1.0");
    Write(root / "devices/usb1/1-2/product", "Crate Controller\n");
    fs::create_symlink("../../ttyACM0", root / "by-id" / "usb-Divadiduv_CCB_0042-if00");

    std::vector<std::string> names = {"stale"}, friendly = {"stale"};
    ASSERT_TRUE(List(names, friendly));
    EXPECT_EQ(names, (std::vector<std::string>{"ttyACM0", "ttyS0", "ttyS2", "ttyS10", "ttyUSB0"}));
    EXPECT_EQ(friendly, (std::vector<std::string>{"usb-Divadiduv_CCB_0042-if00", "Serial port (ttyS0)",
                                                  "Serial port (ttyS2)", "Serial port (ttyS10)", "FT232R USB UART"}));
}

TEST_F(SerialPortList, NoPortsEmptiesTheListsAndSaysSo)
{
    AddTty("tty1", "");
    std::vector<std::string> names = {"stale"}, friendly = {"stale"};
    EXPECT_FALSE(List(names, friendly));
    EXPECT_TRUE(names.empty());
    EXPECT_TRUE(friendly.empty());
    EXPECT_FALSE(EnumSerialPorts(names, friendly, (root / "missing").string(), (root / "missing").string()));
}

TEST(SerialPortCli, PrintsOneLinePerPort)
{
    // The machine's own list, through the program, must match the library.
    std::vector<std::string> names, friendly;
    EnumSerialPorts(names, friendly);
    std::string expected;
    for (size_t i = 0; i < names.size(); ++i)
        expected += names[i] + "\t" + friendly[i] + "\n";
    const std::string cli = TelvaneCli();
    if (cli.empty())
        GTEST_SKIP() << "telvane-cli not built in this tree";
    const CommandResult listed = RunCommand(cli + " ports");
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(listed.out, expected);
    EXPECT_EQ(RunCommand(cli + " ports extra 2>/dev/null").status, 2) << "no arguments are taken";
}

}  // namespace
