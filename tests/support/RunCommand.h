#pragma once
// Runs programs of the build tree (telvane-cli, telvane-sim) and reference
// tools from tests, through the shell.

#include <cstdio>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

struct CommandResult {
    int status = -1;  // exit status, -1 when the command did not exit normally
    std::string out;  // standard output
};

// Runs a shell command line; standard error goes where the line says.
inline CommandResult RunCommand(const std::string& commandLine)
{
    CommandResult r;
    FILE* pipe = popen(commandLine.c_str(), "r");
    if (!pipe)
        return r;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        r.out.append(buffer, n);
    int status = pclose(pipe);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

// telvane-cli of this build tree; empty when it is not built here.
inline std::string TelvaneCli()
{
    const std::string path = std::string(TELVANE_BINARY_DIR) + "/src/cli/telvane-cli";
    return access(path.c_str(), X_OK) == 0 ? path : std::string();
}
