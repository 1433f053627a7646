#pragma once
// A listening TCP server for framed request protocols, with the access
// rules a server on an experiment's network needs: bind address, allowlist
// of client networks, client limit, read deadline for a begun frame, length
// limit checked on the head before anything is allocated, and a write
// deadline for clients that stop reading. It knows nothing of the protocol:
// a handler tells it the head size and the body length a head announces,
// and receives whole frames.
//
// Threads: one accept thread, and one thread per client that reads its
// frames, runs the handler on them and writes its queued output. A client
// thread never waits on another client: a stalled client only ever holds up
// itself, and is closed at the write deadline.
//
// Time-outs: an idle client may wait for ever between frames. Once the
// first byte of a head is there, the whole head must arrive within
// readDeadlineMs, and then the whole body within readDeadlineMs again.
// Output that the client does not take for writeDeadlineMs (no byte
// accepted by its socket) closes it; while output is waiting, no further
// request is read from that client.
//
// Stop (or the destructor) ends every thread and joins it; a handler that
// blocks in OnFrame must be released by its owner first.

#include "base/Event.h"
#include "ports/Ipv4Network.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct ListenSettings {
    // Dotted IPv4 address to listen on; empty or "0.0.0.0": every address.
    std::string bindAddress;
    // 0: an ephemeral port (see CListenServer::Port).
    uint16_t port = 0;
    // Client networks let in; empty: every client.
    std::vector<CIpv4Network> allowed;
    // Connections beyond this many open clients are closed at accept; 0: no limit.
    int maxClients = 16;
    int readDeadlineMs = 500;
    int writeDeadlineMs = 5000;
    // Heads announcing a longer body close the client before any allocation.
    uint64_t maxBodyLength = 65536;
    // Output queued by Send beyond this closes the client.
    size_t maxQueuedBytes = size_t{1} << 20;
    // SO_SNDBUF of accepted sockets; 0 keeps the system's own sizing.
    int sendBufferBytes = 0;
    // Ends the warning line given when everyone on every address may
    // connect: how the owner's user limits access.
    std::string openAccessHint = "set a bind address or an allowlist of client networks to limit access";
};

enum class ListenCloseReason {
    PeerClosed,     // the client closed or reset the connection
    ReadDeadline,   // a begun head or body did not arrive in time
    TooLong,        // the head announced a body above maxBodyLength
    BadHead,        // the handler refused the head
    Stalled,        // output not taken for writeDeadlineMs
    OutputLimit,    // more than maxQueuedBytes waiting
    ClosedByOwner,  // CListenClient::Close
    Stopping,       // the server stops
    Failed,         // a socket call failed (the reason's error code is kept)
};
enum class ListenRefuseReason { NotAllowed, TooManyClients };

// English text for the log lines of the owners: "peer closed", ...
const char* ListenCloseText(ListenCloseReason reason);
const char* ListenRefuseText(ListenRefuseReason reason);

// What the handler makes of a complete head.
struct ListenHeadCheck {
    enum Action { Body, Skip, Close };
    Action action = Body;
    // With Body: how many bytes follow the head (0 allowed).
    uint64_t bodyLength = 0;

    static ListenHeadCheck Frame(uint64_t length) { return {Body, length}; }
    static ListenHeadCheck Ignore() { return {Skip, 0}; }
    static ListenHeadCheck Refuse() { return {Close, 0}; }
};

class CListenServer;

// One accepted client. Owned by shared pointers: the server's table holds
// one until the client's thread has ended, owners may keep others.
class CListenClient : public std::enable_shared_from_this<CListenClient> {
public:
    CListenClient(const CListenClient&) = delete;
    CListenClient& operator=(const CListenClient&) = delete;
    ~CListenClient();

    // "a.b.c.d:port" of the peer.
    const std::string& Address() const { return m_addressText; }
    uint32_t PeerAddress() const { return m_peerAddress; }  // host byte order
    uint16_t PeerPort() const { return m_peerPort; }
    // Counts the server's clients from 1.
    uint64_t Id() const { return m_id; }

    // Queues bytes for the client and writes what its socket takes at once;
    // the client's thread writes the rest. Safe from any thread. False when
    // the client is closed, or when the queue would exceed maxQueuedBytes
    // (the client is then closed).
    bool Send(const void* bytes, size_t count);
    // Asks the client's thread to close the connection; safe from any
    // thread, the handler's callbacks included. The peer sees it at once.
    void Close();
    // False once a close was asked for or the connection ended.
    bool IsOpen() const { return !m_closing.load(); }
    // True once the client's thread has ended: no callback for this client
    // runs any more.
    bool IsFinished() const { return m_finished.load(); }

    // The owner's record for this client, set in OnConnect.
    void SetContext(void* context) { m_context = context; }
    void* Context() const { return m_context; }

private:
    friend class CListenServer;
    using Clock = std::chrono::steady_clock;
    enum class ReadResult { Done, Deadline, PeerClosed, Closed, Stopped, Failed };

    CListenClient(CListenServer& server, int fd, uint32_t peerAddress, uint16_t peerPort, uint64_t id);

    void Run();
    // Reads one frame whose first byte is waiting; false ends the client
    // with the reason (and error code) set.
    bool ServeFrame(std::vector<uint8_t>& head, ListenCloseReason& reason, uint32_t& error);
    ReadResult ReadWithin(uint8_t* buffer, size_t count, Clock::time_point deadline, uint32_t& error);
    // Writes queued output without blocking; false on a socket failure
    // (m_error set).
    bool FlushLocked();
    void Finish(ListenCloseReason reason, uint32_t error);
    void RequestClose(ListenCloseReason reason);

    CListenServer& m_server;
    const int m_fd;
    const uint32_t m_peerAddress;
    const uint16_t m_peerPort;
    const uint64_t m_id;
    const std::string m_addressText;
    void* m_context = nullptr;

    CEvent m_closeRequest{true, false};
    CEvent m_outputQueued{false, false};
    std::atomic<bool> m_closing{false};
    std::atomic<bool> m_finished{false};

    // Guarded by m_outLock; the descriptor is closed under it too.
    std::mutex m_outLock;
    std::vector<uint8_t> m_out;
    size_t m_outSent = 0;
    Clock::time_point m_lastProgress{};
    bool m_fdClosed = false;
    ListenCloseReason m_closeReason = ListenCloseReason::ClosedByOwner;
    uint32_t m_error = 0;
};

// The protocol side. Callbacks run on the server's threads (named below)
// and must not call Stop.
class CListenHandler {
public:
    virtual ~CListenHandler() = default;
    // Bytes of every frame's head; at least 1, fixed while running.
    virtual size_t HeadSize() const = 0;
    // A client thread: what follows this complete head.
    virtual ListenHeadCheck CheckHead(const uint8_t* head) = 0;
    // A client thread: one whole frame. body may be moved from.
    virtual void OnFrame(CListenClient& client, const uint8_t* head, std::vector<uint8_t>& body) = 0;
    // The accept thread, before the client's thread starts: false closes
    // the client at once (OnClose is not called then).
    virtual bool OnConnect(CListenClient& client);
    // The client's thread, last callback for that client; error is the
    // program's code for Failed, else 0.
    virtual void OnClose(CListenClient& client, ListenCloseReason reason, uint32_t error);
    // The accept thread: a connection closed before any byte was read.
    virtual void OnRefuse(const std::string& address, ListenRefuseReason reason);
    // Start's caller thread: one line (no line end) about open access.
    virtual void OnWarning(const std::string& line);
};

class CListenServer {
public:
    CListenServer() = default;
    ~CListenServer();
    CListenServer(const CListenServer&) = delete;
    CListenServer& operator=(const CListenServer&) = delete;

    // Binds, listens and starts accepting; false with the last error (87
    // bad bind address, 10048 address in use, ...). The handler must
    // outlive the server's run. Calls OnWarning first when every address
    // listens with no allowlist.
    bool Start(const ListenSettings& settings, CListenHandler& handler);
    // Stops accepting, ends every client (reason Stopping) and joins all
    // threads. Safe to call twice; not from the server's own threads.
    void Stop();
    bool IsRunning() const { return m_running; }

    // The bound port (the system's choice for port 0); 0 when stopped.
    uint16_t Port() const { return m_port; }
    // Clients still open. One that is closing no longer holds its place,
    // so a client told of a close may be followed by a new one at the limit.
    int ClientCount();
    std::vector<std::shared_ptr<CListenClient>> Clients();
    // Closes every client (ClosedByOwner); they end on their threads.
    void CloseAll();

    const ListenSettings& Settings() const { return m_settings; }

    // The warning line for open access, empty when access is limited.
    static std::string OpenAccessWarning(const ListenSettings& settings, uint16_t port);

private:
    friend class CListenClient;
    struct Entry {
        std::shared_ptr<CListenClient> client;
        std::thread thread;
    };

    void AcceptLoop();
    void AcceptOne();
    // Joins the threads of ended clients; under m_clientsLock.
    void ReapLocked();

    ListenSettings m_settings;
    CListenHandler* m_handler = nullptr;
    int m_listenFd = -1;
    uint16_t m_port = 0;
    bool m_running = false;
    uint64_t m_nextId = 1;
    CEvent m_stop{true, false};
    std::thread m_acceptThread;

    std::mutex m_clientsLock;
    std::list<Entry> m_clients;
};
