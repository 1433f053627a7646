#pragma once
// A small blocking DAQ client over a loopback TCP socket, for the tests and
// the benchmark: sends request frames, reads reply frames with a time-out.

#include "DaqFrames.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

class CDaqTestClient {
public:
    CDaqTestClient() = default;
    ~CDaqTestClient() { Close(); }
    CDaqTestClient(const CDaqTestClient&) = delete;
    CDaqTestClient& operator=(const CDaqTestClient&) = delete;

    bool Connect(uint16_t port)
    {
        Close();
        m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const int one = 1;
        setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        return m_fd >= 0 && connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    void Close()
    {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = -1;
    }

    bool Send(const Bytes& bytes)
    {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            done += static_cast<size_t>(n);
        }
        return true;
    }

    // Reads exactly count bytes; false on time-out or when the server closed.
    bool Receive(Bytes& out, size_t count, int timeoutMs)
    {
        out.resize(count);
        size_t got = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (got < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd p{m_fd, POLLIN, 0};
            if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0)
                return false;
            const ssize_t n = recv(m_fd, out.data() + got, count - got, 0);
            if (n <= 0)
                return false;
            got += static_cast<size_t>(n);
        }
        return true;
    }

    // One whole reply frame; Reply{} (magic false) on failure.
    Reply ReadReply(int timeoutMs = 5000)
    {
        Bytes head, payload;
        if (!Receive(head, 12, timeoutMs))
            return Reply{};
        const uint32_t length = BE32(&head[4]);
        if (length < 12 || !Receive(payload, length - 12, timeoutMs))
            return Reply{};
        head.insert(head.end(), payload.begin(), payload.end());
        return Reply::Parse(head);
    }

    Reply Request(uint16_t id, const Bytes& payload, int timeoutMs = 5000)
    {
        if (!Send(RequestFrame(id, payload)))
            return Reply{};
        return ReadReply(timeoutMs);
    }

    // True when the server closed the connection within timeoutMs.
    bool ClosedByPeer(int timeoutMs)
    {
        pollfd p{m_fd, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0)
            return false;
        uint8_t b;
        const ssize_t n = recv(m_fd, &b, 1, MSG_DONTWAIT);
        return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
    }

private:
    int m_fd = -1;
};
