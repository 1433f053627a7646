#pragma once
// A program of the build tree run as a child process for a test: its
// standard output and error read line by line with a time-out, a signal to
// end it, its exit status. The destructor kills a child still running.

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

class CChildProcess {
public:
    explicit CChildProcess(const std::vector<std::string>& argv)
    {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0)
            return;
        m_pid = fork();
        if (m_pid == 0) {
            dup2(out[1], 1);
            dup2(out[1], 2);
            std::vector<char*> args;
            for (const std::string& a : argv)
                args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            execv(args[0], args.data());
            _exit(127);
        }
        close(out[1]);
        m_out = out[0];
    }
    ~CChildProcess()
    {
        if (m_pid > 0 && m_status == kRunning) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_out >= 0)
            close(m_out);
    }
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    // Reads until a line starting with `prefix` arrives; that line without
    // its end, or "" after timeoutMs or at the end of the output.
    std::string WaitLine(const std::string& prefix, int timeoutMs = 10000)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            for (size_t end; (end = m_pending.find('\n')) != std::string::npos;) {
                std::string line = m_pending.substr(0, end);
                m_pending.erase(0, end + 1);
                m_all += line + "\n";
                if (line.find(prefix) != std::string::npos)
                    return line;
            }
            if (!ReadMore(deadline))
                return "";
        }
    }

    // Sends sig and waits up to timeoutMs for the exit; the exit status, or
    // -1 when the child did not exit normally in time.
    int Stop(int sig, int timeoutMs = 10000)
    {
        kill(m_pid, sig);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (ReadMore(deadline)) {
        }
        return Wait(deadline);
    }
    // Waits for the exit without a signal.
    int Wait(int timeoutMs = 10000)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (ReadMore(deadline)) {
        }
        return Wait(deadline);
    }

    // Everything the child wrote so far.
    std::string Output() const { return m_all + m_pending; }

private:
    static constexpr int kRunning = -2;

    int Wait(std::chrono::steady_clock::time_point deadline)
    {
        while (m_status == kRunning) {
            int status = 0;
            const pid_t r = waitpid(m_pid, &status, WNOHANG);
            if (r == m_pid) {
                m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                break;
            }
            if (std::chrono::steady_clock::now() >= deadline)
                return -1;
            usleep(10000);
        }
        return m_status;
    }

    // False at the end of the output or at the deadline.
    bool ReadMore(std::chrono::steady_clock::time_point deadline)
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{m_out, POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0)
            return false;
        char buffer[4096];
        const ssize_t n = read(m_out, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        m_pending.append(buffer, static_cast<size_t>(n));
        return true;
    }

    pid_t m_pid = -1;
    int m_out = -1;
    int m_status = kRunning;
    std::string m_pending;
    std::string m_all;
};
