#pragma once
// Programs run by the benchmarks as whole processes, started directly with
// posix_spawnp (no shell in between, whose start-up would count on both
// sides of a comparison), standard input and error on /dev/null.
//
// Threads: any thread; each call waits for the program it started.

#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace bench {

// Runs the program with standard output on outFd (-1: /dev/null); true
// when it exits with status 0. cpuSeconds, when given, receives the user
// and system time the program took: on a shared machine that varies much
// less than the time it takes to finish.
inline bool RunProgram(const std::vector<std::string>& args, int outFd = -1, double* cpuSeconds = nullptr)
{
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (outFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, outFd, 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int failed = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed)
        return false;
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0) {
    }
    if (cpuSeconds) {
        auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec * 1e-6; };
        *cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace bench
