// telvane-cli hex --walk with granules far larger than the image, under a
// limit of the address space that a buffer of one granule would break.

#include "support/RunCommand.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace {

// One S1 record of the bytes 0, 1, 2, ... at address.
std::string S1Record(uint16_t address, int count)
{
    std::string line = "S1";
    char hex[3];
    unsigned sum = 0;
    auto put = [&](unsigned byte) {
        std::snprintf(hex, sizeof hex, "%02X", byte & 0xFF);
        line += hex;
        sum += byte;
    };
    put(static_cast<unsigned>(count + 3));
    put(address >> 8);
    put(address & 0xFF);
    for (int i = 0; i < count; ++i)
        put(static_cast<unsigned>(i));
    put(~sum);
    return line + "\r\n";
}

}  // namespace

TEST(HexWalkCli, GranulesBeyondTheImageNeedNoMoreMemoryThanItsBlocks)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers reserve more address space than the limit allows";
#endif
    const std::string cli = TelvaneCli();
    if (cli.empty())
        GTEST_SKIP() << "telvane-cli is not built in " << TELVANE_BINARY_DIR;
    const std::string file = (std::filesystem::temp_directory_path() / "telvane-walk-17.s19").string();
    std::ofstream(file, std::ios::binary) << S1Record(0x1000, 17) << S1Record(0x2000, 3) << "S9030000FC\r\n";
    const struct {
        const char* granule;
        const char* chunks;
    } cases[] = {
        {"0x40000000", "0x00001000 17\n0x00002000 3\n"},
        {"0x40000", "0x00001000 17\n0x00002000 3\n"},
        {"16", "0x00001000 16\n0x00001010 1\n0x00002000 3\n"},
    };
    for (const auto& c : cases) {
        CommandResult r = RunCommand("ulimit -v 262144; '" + cli + "' hex '" + file + "' --walk " + c.granule);
        EXPECT_EQ(r.status, 0) << c.granule;
        EXPECT_EQ(r.out, std::string("Hex File Start 0x00001000 End 0x00002003\n") + c.chunks) << c.granule;
    }
    std::filesystem::remove(file);
}
