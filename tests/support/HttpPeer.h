#pragma once
// Starts tests/support/http_peer.py (a Python http.server) on a free loopback
// port for the length of a test, and stops it again.

#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

class CHttpPeer {
public:
    // Files under /files/ are served from rootDir.
    explicit CHttpPeer(const std::string& rootDir = ".")
    {
        int toPeer[2], fromPeer[2];
        if (pipe2(toPeer, O_CLOEXEC) != 0 || pipe2(fromPeer, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        std::string script = std::string(TELVANE_SOURCE_DIR) + "/tests/support/http_peer.py";
        m_pid = fork();
        if (m_pid == 0) {
            dup2(toPeer[0], 0);
            dup2(fromPeer[1], 1);
            execlp("python3", "python3", script.c_str(), "--root", rootDir.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(toPeer[0]);
        close(fromPeer[1]);
        m_stdin = toPeer[1];
        m_stdout = fromPeer[0];
        if (m_pid < 0 || !ReadPort())
            throw std::runtime_error("the HTTP test server did not start");
    }
    ~CHttpPeer()
    {
        close(m_stdin);
        close(m_stdout);
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
    }
    CHttpPeer(const CHttpPeer&) = delete;
    CHttpPeer& operator=(const CHttpPeer&) = delete;

    int Port() const { return m_port; }
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(m_port) + path; }

private:
    bool ReadPort()
    {
        std::string line;
        pollfd p{m_stdout, POLLIN, 0};
        while (line.find('\n') == std::string::npos) {
            if (poll(&p, 1, 10000) <= 0)
                return false;
            char c[64];
            ssize_t n = read(m_stdout, c, sizeof c);
            if (n <= 0)
                return false;
            line.append(c, static_cast<size_t>(n));
        }
        m_port = std::atoi(line.c_str());
        return m_port > 0;
    }

    pid_t m_pid = -1;
    int m_stdin = -1;
    int m_stdout = -1;
    int m_port = 0;
};
