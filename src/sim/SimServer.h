#pragma once
// The crate server: TCP clients send framed requests whose head names the
// board (CCB ID) and the time the server may wait for it; the server
// answers with the board's reply, or with status -1 and the byte 0x02 when
// the board stays silent for that long.

#include "base/Event.h"
#include "sim/SimCrateBoard.h"
#include "sim/SimTcpServer.h"

#include <functional>
#include <string>

class CSimServer {
public:
    using Lookup = std::function<CSimBoard*(uint16_t ccbid)>;

    explicit CSimServer(Lookup lookup);
    ~CSimServer();
    CSimServer(const CSimServer&) = delete;
    CSimServer& operator=(const CSimServer&) = delete;

    // Listens on 127.0.0.1 (port 0: an ephemeral port); false with the last error.
    bool Start(uint16_t port, const std::string& address = "127.0.0.1") { return m_tcp.Start(port, address); }
    void Stop() { m_tcp.Stop(); }
    uint16_t Port() const { return m_tcp.Port(); }

    // Sends one unasked frame to every client that has talked to ccbid.
    int Emit(uint16_t ccbid, std::span<const uint8_t> payload);
    int ClientCount() { return m_tcp.ClientCount(); }

private:
    struct Client : CSimTcpClient {
        int lastCcbid = -1;
    };

    void serve(Client& client);

    Lookup m_lookup;
    CSimTcpServer m_tcp;
};
