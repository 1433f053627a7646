#pragma once
// Real peers for the port tests: pseudo-terminal pairs, loopback servers.

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <mutex>
#include <netinet/tcp.h>
#include <poll.h>
#include <pty.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace porttest {

using Clock = std::chrono::steady_clock;

inline long msSince(Clock::time_point t0)
{
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count());
}

// A pseudo-terminal: the port under test opens the slave by its path, the
// test talks through the master.
class PtyPair {
public:
    PtyPair()
    {
        char name[128];
        if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0)
            throw std::runtime_error("openpty failed");
        m_path = name;
        // Kept open so that the master never sees the line hang up between
        // two opens of the port.
    }
    ~PtyPair()
    {
        if (m_slave >= 0)
            close(m_slave);
        if (m_master >= 0)
            close(m_master);
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& path() const { return m_path; }
    int master() const { return m_master; }
    // Hangs the line up as the port sees it: the far end goes away.
    void HangUp()
    {
        close(m_slave);
        m_slave = -1;
        close(m_master);
        m_master = -1;
    }

    void Send(const std::vector<uint8_t>& bytes) const
    {
        ASSERT_EQ(write(m_master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Reads exactly n bytes from the master, failing the test after 2 s.
    std::vector<uint8_t> Receive(size_t n) const
    {
        std::vector<uint8_t> out;
        auto t0 = Clock::now();
        while (out.size() < n && msSince(t0) < 2000) {
            pollfd p{m_master, POLLIN, 0};
            if (poll(&p, 1, 50) != 1)
                continue;
            uint8_t buf[256];
            ssize_t got = read(m_master, buf, std::min(sizeof buf, n - out.size()));
            if (got > 0)
                out.insert(out.end(), buf, buf + got);
        }
        return out;
    }
    // The slave's line settings as the driver holds them.
    termios Settings() const
    {
        termios t{};
        tcgetattr(m_master, &t);
        return t;
    }

private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_path;
};

// A loopback socket helper owning its descriptor.
class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() { Reset(); }
    Fd(Fd&& o) noexcept : m_fd(o.m_fd) { o.m_fd = -1; }
    Fd& operator=(Fd&& o) noexcept
    {
        Reset();
        m_fd = o.m_fd;
        o.m_fd = -1;
        return *this;
    }
    int get() const { return m_fd; }
    void Reset()
    {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd;
};

inline sockaddr_in Loopback(uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

inline uint16_t LocalPort(int fd)
{
    sockaddr_in a{};
    socklen_t size = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
    return ntohs(a.sin_port);
}

// A listening TCP socket on an ephemeral loopback port.
inline Fd Listen(uint16_t& port)
{
    Fd s(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    int one = 1;
    setsockopt(s.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a = Loopback(0);
    if (bind(s.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(s.get(), 8) != 0)
        throw std::runtime_error("listen failed");
    port = LocalPort(s.get());
    return s;
}

// A port number nobody listens on (bound briefly, then released).
inline uint16_t FreePort()
{
    uint16_t port;
    Fd s = Listen(port);
    return port;
}

inline Fd ConnectTo(uint16_t port)
{
    Fd s(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a = Loopback(port);
    if (connect(s.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        return Fd();
    int one = 1;
    setsockopt(s.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return s;
}

inline bool ReadAll(int fd, void* buffer, size_t n, int timeoutMs = 2000)
{
    auto* p = static_cast<uint8_t*>(buffer);
    size_t got = 0;
    auto t0 = Clock::now();
    while (got < n) {
        pollfd pf{fd, POLLIN, 0};
        int left = timeoutMs - static_cast<int>(msSince(t0));
        if (left <= 0 || poll(&pf, 1, left) != 1)
            return false;
        ssize_t r = read(fd, p + got, n - got);
        if (r <= 0)
            return false;
        got += static_cast<size_t>(r);
    }
    return true;
}

inline bool WriteAll(int fd, const void* buffer, size_t n)
{
    return send(fd, buffer, n, MSG_NOSIGNAL) == static_cast<ssize_t>(n);
}

// Items that a background thread hands to the test, in order.
template <class T>
class Collected {
public:
    void Add(T item)
    {
        std::lock_guard lock(m_lock);
        m_items.push_back(std::move(item));
        m_changed.notify_all();
    }
    // What has come once there are `count` items, or after timeoutMs.
    std::vector<T> WaitFor(size_t count, int timeoutMs = 3000)
    {
        std::unique_lock lock(m_lock);
        m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_items.size() >= count; });
        return m_items;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<T> m_items;
};

// Writes bytes at the far end of a line in one block. settle: waits until
// one read at the near end would find them all (a pseudo-terminal hands
// them over on a kernel worker).
inline void SendToNearEnd(int farEnd, const std::vector<uint8_t>& bytes, bool settle = true)
{
    ASSERT_EQ(write(farEnd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    if (settle)
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
}

// The far end of a TCP line under test: a loopback listener and the one
// connection it accepts.
class TcpFarEnd {
public:
    TcpFarEnd() : m_listener(Listen(m_port)) {}
    uint16_t port() const { return m_port; }
    // After the near end has connected.
    bool Accept()
    {
        m_peer = Fd(accept4(m_listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
        return m_peer.get() >= 0;
    }
    int fd() const { return m_peer.get(); }

private:
    uint16_t m_port = 0;
    Fd m_listener;
    Fd m_peer;
};

// A server thread on an ephemeral loopback port that runs `session` for
// each connection, one after the other, until destroyed.
class LoopbackServer {
public:
    using Session = std::function<void(const LoopbackServer& server, int fd)>;
    explicit LoopbackServer(Session session) : m_session(std::move(session))
    {
        m_listener = Listen(m_port);
        if (pipe2(m_stop, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        m_thread = std::thread([this] { Run(); });
    }
    ~LoopbackServer()
    {
        (void)!write(m_stop[1], "x", 1);
        m_thread.join();
        close(m_stop[0]);
        close(m_stop[1]);
    }
    uint16_t port() const { return m_port; }
    // Connections taken so far.
    int sessions() const { return m_sessions.load(); }
    // For sessions: false once the server is being destroyed.
    bool WaitReadable(int fd, int timeoutMs = 5000) const
    {
        pollfd p[2] = {{fd, POLLIN, 0}, {m_stop[0], POLLIN, 0}};
        return poll(p, 2, timeoutMs) > 0 && !(p[1].revents & POLLIN) && (p[0].revents & (POLLIN | POLLHUP));
    }

private:
    void Run()
    {
        for (;;) {
            pollfd p[2] = {{m_listener.get(), POLLIN, 0}, {m_stop[0], POLLIN, 0}};
            if (poll(p, 2, -1) <= 0 || (p[1].revents & POLLIN))
                return;
            Fd client(accept4(m_listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
            if (client.get() < 0)
                continue;
            ++m_sessions;
            m_session(*this, client.get());
        }
    }

    Session m_session;
    Fd m_listener;
    uint16_t m_port = 0;
    int m_stop[2] = {-1, -1};
    std::atomic<int> m_sessions{0};
    std::thread m_thread;
};

// Echoes every byte back until the peer closes or the server stops.
inline void EchoSession(const LoopbackServer& server, int fd)
{
    uint8_t buf[4096];
    while (server.WaitReadable(fd)) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0 || !WriteAll(fd, buf, static_cast<size_t>(n)))
            return;
    }
}

}  // namespace porttest
