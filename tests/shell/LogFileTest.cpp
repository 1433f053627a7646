#include "base/Error.h"
#include "shell/LogFile.h"
#include "support/ReadFile.h"
#include "support/TempDir.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

TEST(OutLogFile, AppendsToAnExistingFileUnchanged)
{
    CTempDir dir;
    std::string path = dir.File("traffic.log");
    std::ofstream(path) << "old\r\n";
    COutLogFile log;
    ASSERT_TRUE(log.Open(path));
    ASSERT_TRUE(log.Write("12%\r100%\r\n"));
    log.Close();
    EXPECT_EQ(ReadFile(path), "old\r\n12%\r100%\r\n");
}

TEST(OutLogFile, SecondWriterIsRefusedUntilTheFirstCloses)
{
    CTempDir dir;
    std::string path = dir.File("box.log");
    COutLogFile first, second;
    ASSERT_TRUE(first.Open(path));
    EXPECT_FALSE(second.Open(path));
    EXPECT_EQ(GetLastErr(), static_cast<uint32_t>(err::SharingViolation));
    EXPECT_FALSE(second.IsOpen());
    first.Close();
    EXPECT_TRUE(second.Open(path));
}

TEST(OutLogFile, MissingFolderAndClosedFileFail)
{
    CTempDir dir;
    COutLogFile log;
    EXPECT_FALSE(log.Open(dir.File("no/such/folder.log")));
    EXPECT_EQ(GetLastErr(), static_cast<uint32_t>(err::NotFound));
    EXPECT_FALSE(log.Write("x"));
    EXPECT_EQ(GetLastErr(), static_cast<uint32_t>(err::NotOpen));
}
