#pragma once
// The TCP side shared by the simulator's front ends: a listener whose
// clients each get a thread running the owner's serve function. A client
// whose serve function returned is shut down and reaped later, so that a
// concurrent unasked send never writes to a descriptor number reused by
// another socket.

#include "base/Event.h"

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct CSimTcpClient {
    virtual ~CSimTcpClient() = default;
    int fd = -1;
    std::thread thread;
    std::mutex writeLock;  // guards every write, `done` and the owner's fields
    bool done = false;
};

class CSimTcpServer {
public:
    using NewClient = std::function<std::unique_ptr<CSimTcpClient>()>;
    // Serves one client until it is to be dropped.
    using Serve = std::function<void(CSimTcpClient&)>;

    CSimTcpServer(NewClient newClient, Serve serve);
    ~CSimTcpServer();
    CSimTcpServer(const CSimTcpServer&) = delete;
    CSimTcpServer& operator=(const CSimTcpServer&) = delete;

    // Listens on address (port 0: an ephemeral port); false with the last error.
    bool Start(uint16_t port, const std::string& address);
    void Stop();
    uint16_t Port() const { return m_port; }
    int ClientCount();

    // Writes the bytes whole to a client still being served.
    bool Send(CSimTcpClient& client, const std::vector<uint8_t>& bytes);
    // Calls f for every client while holding the client list.
    void ForEachClient(const std::function<void(CSimTcpClient&)>& f);
    // Set while stopping; serve functions wait on it.
    CEvent& StopEvent() { return m_stop; }

private:
    void acceptLoop();
    void reapLocked();

    NewClient m_newClient;
    Serve m_serve;
    int m_listen = -1;
    uint16_t m_port = 0;
    std::thread m_acceptThread;
    CEvent m_stop{true, false};
    std::mutex m_clientsLock;
    std::list<std::unique_ptr<CSimTcpClient>> m_clients;
};
