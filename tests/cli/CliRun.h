#pragma once
// Runs telvane-cli of this build tree as a process: arguments as given (no
// shell), standard input from a text, standard output and error apart, in
// a chosen folder.

#include "support/RunCommand.h"

#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

struct CliResult {
    int status = -1;  // exit status; -1 when the program did not exit normally
    std::string out;
    std::string err;
};

struct CliRunOptions {
    std::string input;           // written to standard input, then closed
    std::string folder;          // working folder; empty: the test's
    std::string outputFile;      // standard output goes to this file instead
    std::string program;         // empty: TelvaneCli()
};

inline CliResult RunCli(const std::vector<std::string>& arguments, const CliRunOptions& options = {})
{
    CliResult r;
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC))
        return r;
    const std::string program = options.program.empty() ? TelvaneCli() : options.program;
    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        if (options.outputFile.empty())
            dup2(out[1], 1);
        else {
            const int fd = open(options.outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(fd, 1);
        }
        dup2(err[1], 2);
        if (!options.folder.empty() && chdir(options.folder.c_str()) != 0)
            _exit(127);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    // Small inputs only: the pipe holds them before the program reads.
    if (!options.input.empty())
        (void)!write(in[1], options.input.data(), options.input.size());
    close(in[1]);
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* texts[2] = {&r.out, &r.err};
    int open = 2;
    while (open > 0 && poll(fds, 2, 30000) > 0) {
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !fds[i].revents)
                continue;
            char buffer[4096];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                texts[i]->append(buffer, static_cast<size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (auto& f : fds)
        if (f.fd >= 0)
            close(f.fd);
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

// The usage line a usage error ends with.
inline bool EndsWithUsage(const std::string& err, const std::string& command)
{
    const std::string start = "usage: telvane-cli " + command;
    const size_t at = err.rfind('\n', err.size() >= 2 ? err.size() - 2 : 0);
    const std::string last = at == std::string::npos ? err : err.substr(at + 1);
    return last.rfind(start, 0) == 0 && !err.empty() && err.back() == '\n';
}
