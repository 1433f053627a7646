#include "shell/CommandFile.h"
#include "support/CapturedOut.h"
#include "support/TempDir.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

const char* kSmallFile = "#define Ping 0x10\n#define echo 0x11\nstruct Ping {\n char n;\n};\nstruct echo {\n char n;\n};\n";

// Moves the file's modification time, as an editor saving it does.
void Touch(const std::string& path, long seconds)
{
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    timespec times[2] = {st.st_atim, st.st_mtim};
    times[1].tv_sec += seconds;
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

}  // namespace

TEST(CommandFile, LoadPrintsItsProgressAndWatchesTheFile)
{
    CTempDir dir;
    std::string path = dir.File("cmd.dec");
    std::ofstream(path) << kSmallFile;
    CCommandFile file;
    file.SetPath(path);
    CCapturedOut out;
    ASSERT_TRUE(file.Load(out));
    EXPECT_EQ(out.Text(), "Loading Commands file: " + path + "\r\nRead Commands Success\r\n");
    EXPECT_EQ(file.Tables().Structs().size(), 2u);
    EXPECT_TRUE(file.IsWatching());

    EXPECT_FALSE(file.PollModified());
    Touch(path, 5);
    EXPECT_TRUE(file.PollModified());
    // Asked once per change: the watch stops until the next load.
    EXPECT_FALSE(file.PollModified());
    Touch(path, 10);
    EXPECT_FALSE(file.PollModified());
    ASSERT_TRUE(file.Load(out));
    EXPECT_FALSE(file.PollModified());
}

TEST(CommandFile, FailedLoadPrintsTheCompilerMessageAndEmptiesTheTables)
{
    CTempDir dir;
    std::string good = dir.File("good.dec"), bad = dir.File("bad.dec");
    std::ofstream(good) << kSmallFile;
    std::ofstream(bad) << "struct Ping {\n char n\n";
    CCommandFile file;
    CCapturedOut out;
    file.SetPath(good);
    ASSERT_TRUE(file.Load(out));
    out.Clear();

    file.SetPath(bad);
    EXPECT_FALSE(file.Load(out));
    EXPECT_EQ(out.Text().rfind("Loading Commands file: " + bad + "\r\n", 0), 0u) << out.Text();
    EXPECT_EQ(out.Text().find("Read Commands Success"), std::string::npos);
    EXPECT_GT(out.Text().size(), ("Loading Commands file: " + bad + "\r\n\r\n").size());
    EXPECT_EQ(out.Text().substr(out.Text().size() - 2), "\r\n");
    EXPECT_TRUE(file.Tables().Structs().empty());
    EXPECT_FALSE(file.IsLoaded());
    EXPECT_FALSE(file.IsWatching());
    EXPECT_EQ(CommandListNames(file.IsLoaded() ? &file.Tables() : nullptr), std::vector<std::string>{kRawCommandName});

    out.Clear();
    file.SetPath(dir.File("missing.dec"));
    EXPECT_FALSE(file.Load(out));
    EXPECT_NE(out.Text().find("Open File Error: " + dir.File("missing.dec") + "\r\n"), std::string::npos) << out.Text();
}

TEST(CommandFile, DebugDumpGoesToTheSameOutput)
{
    CTempDir dir;
    std::string path = dir.File("cmd.dec");
    std::ofstream(path) << kSmallFile;
    CCommandFile file;
    file.SetPath(path);
    CCapturedOut plain, debug;
    ASSERT_TRUE(file.Load(plain));
    ASSERT_TRUE(file.Load(debug, true));
    EXPECT_GT(debug.Text().size(), plain.Text().size());
    EXPECT_NE(debug.Text().find("Ping"), std::string::npos);
}

TEST(CommandFile, RelativePathBecomesAbsoluteOnlyWhenTheFileExists)
{
    CTempDir dir;
    std::ofstream(dir.File(kDefaultCommandFile)) << kSmallFile;
    auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    EXPECT_EQ(AbsoluteIfFound(kDefaultCommandFile), std::filesystem::canonical(dir.File(kDefaultCommandFile)).string());
    EXPECT_EQ(AbsoluteIfFound("missing.dec"), "missing.dec");
    EXPECT_EQ(AbsoluteIfFound(""), "");
    EXPECT_EQ(AbsoluteIfFound("/abs/missing.dec"), "/abs/missing.dec");
    std::filesystem::current_path(previous);
}

TEST(CommandFile, CommandListStartsWithRawCommandAndSortsIgnoringCase)
{
    CTempDir dir;
    std::string path = dir.File("cmd.dec");
    std::ofstream(path) << kSmallFile;
    CCommandFile file;
    file.SetPath(path);
    CCapturedOut out;
    ASSERT_TRUE(file.Load(out));
    auto names = CommandListNames(&file.Tables());
    EXPECT_EQ(names, (std::vector<std::string>{kRawCommandName, "echo", "Ping"}));
    EXPECT_EQ(FindCommandByPrefix(names, "PI"), 2);
    EXPECT_EQ(FindCommandByPrefix(names, "ec"), 1);
    EXPECT_EQ(FindCommandByPrefix(names, "Pong"), -1);
}
