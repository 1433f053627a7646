#include "accesstool/ToolOutput.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>

namespace {
std::string Printed(const std::function<void(CToolOutput&)>& print)
{
    char* buffer = nullptr;
    size_t size = 0;
    FILE* stream = open_memstream(&buffer, &size);
    {
        CToolOutput out(stream);
        print(out);
    }
    fclose(stream);
    std::string text(buffer, size);
    free(buffer);
    return text;
}
} // namespace

TEST(ToolOutput, UsageTextByteForByte)
{
    const std::string expected =
        "USE: BRENLOCK [/s] [/d | /f] [/x | /n] [/i=<Mask>] <Mask> <Name> <Files> \r\n"
        "Add Access user name to files and folders\r\n"
        "<Name>\tAccess user name\r\n"
        "<Mask>\tObject mask. RWXDPO | N | A\r\n\tR=Read\r\n\tW=Write\r\n\tX=Execute\r\n"
        "\tD=Delete\r\n\tP=Mod.Protection\r\n\tO=Proprietary\r\n\tA=All Access\r\n\tN=Deny Access\r\n"
        "/i=<Mask>\tFolder inherit mask\r\n"
        "/s\tSubdir scan\r\n"
        "/d\tAdd access user  to the FOLDERS only\r\n"
        "/f\tAdd access user to the FILES only\r\n"
        "/x\tReplase only if Name already exist\r\n"
        "/n\tAdd if Name non exist\r\n";
    EXPECT_EQ(Printed([](CToolOutput& out) { out.Usage(); }), expected);
}

TEST(ToolOutput, FixedTexts)
{
    const struct {
        std::function<void(CToolOutput&)> print;
        const char* text;
    } cases[] = {
        {[](CToolOutput& o) { o.InvalidParam("RZ"); }, "Invalid param: RZ\n"},
        {[](CToolOutput& o) { o.FailEnable("CAP_FOWNER"); }, "Fail Enable CAP_FOWNER\r\n"},
        {[](CToolOutput& o) { o.VolumeUnsupported(); }, "Disk not NTFS format\r\n"},
        {[](CToolOutput& o) { o.Folder("/srv/a b"); }, "[DIR] /srv/a b\r\n"},
        {[](CToolOutput& o) { o.File("rel/x.txt"); }, "rel/x.txt\r\n"},
        {[](CToolOutput& o) { o.Error("Update", EPERM); },
         "Update error! (rc=1)\nOperation not permitted\r\n"},
        {[](CToolOutput& o) { o.Error("scandir/FindAll", ENOENT); },
         "scandir/FindAll error! (rc=2)\nNo such file or directory\r\n"},
        {[](CToolOutput& o) { o.Error("GetInfo(/a) invalid handle", ELOOP); },
         "GetInfo(/a) invalid handle error! (rc=40)\nToo many levels of symbolic links\r\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Printed(c.print), c.text);
}
