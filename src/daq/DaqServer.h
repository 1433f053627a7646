#pragma once
// The DAQ server: the DAQ protocol on the shared listening server, every
// request executed by the engine on its client's own thread.
//
// Threads: Open and Close on the owner's thread, never from a log line or
// another server callback. Clients, CloseClient, RemoveClosedClients and the
// totals from any thread (the client table has its own lock). Log lines are
// printed from the server's threads, so the output must take prints from
// several threads. Time-outs: a begun head and then its payload must each
// arrive within 500 ms; a reply the client does not take is dropped with
// the client at the listening server's write deadline.

#include "base/StdOut.h"
#include "daq/DaqEngine.h"
#include "ports/ListenServer.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// One connected client and its byte counts (payload bytes).
struct _CLIENTDT {
    std::shared_ptr<CListenClient> client;
    std::atomic<uint64_t> received{0};
    std::atomic<uint64_t> sent{0};
};

// A copy of a client's state for lists.
struct _DAQCLIENTINFO {
    uint64_t id = 0;
    std::string address;
    uint64_t received = 0;
    uint64_t sent = 0;
    bool open = false;
};

class CDaqServer : private CListenHandler {
public:
    static constexpr int kReadDeadlineMs = 500;

    // The listening settings of the DAQ server on `port`, with the limits of
    // its protocol: the longest request and the longest reply.
    static ListenSettings DefaultSettings(uint16_t port);

    CDaqServer(CDaqEngine& engine, CStdOut& out);
    ~CDaqServer() override;
    CDaqServer(const CDaqServer&) = delete;
    CDaqServer& operator=(const CDaqServer&) = delete;

    // Listens, writes "DAQ server opened\r\n" and runs the engine's Init.
    // A failed Init closes the server again. The protocol limits of
    // DefaultSettings replace those of `settings`.
    bool Open(const ListenSettings& settings);
    // Closes the listener and every client, stops the engine and writes
    // "DAQ server closed\r\n"; nothing when not open.
    void Close();
    bool IsOpen() const { return m_listen.IsRunning(); }
    uint16_t Port() const { return m_listen.Port(); }

    std::vector<_DAQCLIENTINFO> Clients() const;
    // Closes the client's connection; its row stays until
    // RemoveClosedClients. False for an unknown id.
    bool CloseClient(uint64_t id);
    // Forgets the clients whose connection has ended; returns how many.
    size_t RemoveClosedClients();

    // Request and reply payload bytes of every client since Open.
    uint64_t TotalReceived() const { return m_totalReceived.load(); }
    uint64_t TotalSent() const { return m_totalSent.load(); }

private:
    size_t HeadSize() const override;
    ListenHeadCheck CheckHead(const uint8_t* head) override;
    void OnFrame(CListenClient& client, const uint8_t* head, std::vector<uint8_t>& body) override;
    bool OnConnect(CListenClient& client) override;
    void OnClose(CListenClient& client, ListenCloseReason reason, uint32_t error) override;
    void OnRefuse(const std::string& address, ListenRefuseReason reason) override;
    void OnWarning(const std::string& line) override;

    static void OnNotify(void* context, int direction, const uint8_t* payload, size_t length);
    size_t RemoveClosedLocked();

    CDaqEngine& m_engine;
    CStdOut& m_out;
    CListenServer m_listen;

    mutable std::mutex m_clientsLock;
    std::vector<std::shared_ptr<_CLIENTDT>> m_clients;

    std::atomic<uint64_t> m_totalReceived{0};
    std::atomic<uint64_t> m_totalSent{0};
};
