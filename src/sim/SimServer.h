#pragma once
// The crate server: TCP clients send framed requests whose head names the
// board (CCB ID) and the time the server may wait for it; the server
// answers with the board's reply, or with status -1 and the byte 0x02 when
// the board stays silent for that long.

#include "base/Event.h"
#include "sim/SimCrateBoard.h"

#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class CSimServer {
public:
    using Lookup = std::function<CSimBoard*(uint16_t ccbid)>;

    explicit CSimServer(Lookup lookup);
    ~CSimServer();
    CSimServer(const CSimServer&) = delete;
    CSimServer& operator=(const CSimServer&) = delete;

    // Listens on 127.0.0.1 (port 0: an ephemeral port); false with the last error.
    bool Start(uint16_t port, const std::string& address = "127.0.0.1");
    void Stop();
    uint16_t Port() const { return m_port; }

    // Sends one unasked frame to every client that has talked to ccbid.
    int Emit(uint16_t ccbid, std::span<const uint8_t> payload);
    int ClientCount();

private:
    struct Client {
        int fd = -1;
        std::thread thread;
        std::mutex writeLock;
        int lastCcbid = -1;
        bool done = false;
    };

    void acceptLoop();
    void serve(Client& client);
    bool send(Client& client, const std::vector<uint8_t>& bytes);
    void reapLocked();

    Lookup m_lookup;
    int m_listen = -1;
    uint16_t m_port = 0;
    std::thread m_acceptThread;
    CEvent m_stop{true, false};
    std::mutex m_clientsLock;
    std::list<std::unique_ptr<Client>> m_clients;
};
