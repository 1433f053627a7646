// The removal of registered temporary files when a program is ended by
// SIGINT or SIGTERM, in a child process that the signal really ends.

#include "base/TempFiles.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

std::string MakeFolder()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "telvane-temp-XXXXXX").string();
    return mkdtemp(pattern.data()) ? pattern : std::string();
}

void Touch(const std::string& path) { close(open(path.c_str(), O_WRONLY | O_CREAT, 0600)); }

}  // namespace

TEST(TempFiles, RegisteredFilesGoWhenTheProgramIsEndedBySignal)
{
    for (int signal : {SIGTERM, SIGINT}) {
        const std::string folder = MakeFolder();
        ASSERT_FALSE(folder.empty());
        pid_t pid = fork();
        if (pid == 0) {
            if (!RemoveTempFilesOnTermination())
                _exit(90);
            std::vector<std::unique_ptr<CTempFileGuard>> guards;
            // More files than there are places: the later ones stay.
            for (int i = 0; i < 70; ++i) {
                const std::string path = folder + "/t" + std::to_string(i);
                Touch(path);
                guards.push_back(std::make_unique<CTempFileGuard>(path));
            }
            // Released, as an owner does once its file is renamed or kept.
            guards[3].reset();
            guards.push_back(std::make_unique<CTempFileGuard>(folder + "/reused"));
            Touch(folder + "/reused");
            raise(signal);
            _exit(91);
        }
        ASSERT_GT(pid, 0);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << "status " << status;
        std::vector<std::string> left;
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            left.push_back(entry.path().filename().string());
        std::sort(left.begin(), left.end());
        EXPECT_EQ(left, (std::vector<std::string>{"t3", "t64", "t65", "t66", "t67", "t68", "t69"}));
        std::filesystem::remove_all(folder);
    }
}
