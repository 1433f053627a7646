#pragma once
// The crate relay: one crate link shared by many TCP clients that speak the
// crate server's protocol (12-byte head 0x55 0x55, CCB ID, length, timeout
// or status). Each client's commands run on the one link, serialised by
// the link's command lock, and the replies go back to that client only.
// Traffic of the link feeds the spy distribution and the byte counters.
//
// Threads: Connect, Disconnect, Tick, CloseClient and UpdateLinkState on the
// owner's thread (a window's GUI thread, the command line's main thread).
// The listener's accept thread adds clients; each client's thread serves
// its frames; the link's reader thread takes unsolicited frames.
//
// Time-outs: a begun frame must arrive within "FrameDeadline" per read; a
// command waits the client's timeout, at most "MaxCmdTimeOut"; replies the
// client leaves unread for "WriteDeadline" close it.
//
// The link's reader, which takes unsolicited frames, stays paused while
// commands follow each other and resumes once the link has been idle for
// kIdleResumeMs; frames that arrive meanwhile are taken before the next
// command. Pausing the reader for every single command would cost two
// thread hand-overs per command.
//
// Failures: a crate that does not answer in time gives that client status -1
// and 0x02; a request the link refuses (too long, reply too large, bad
// reply) gives it status -1 and 0x03 and the server goes on; a failure of
// the link itself answers 0x03 too, closes the link and asks the owner to
// Disconnect (StopRequested).

#include "base/Event.h"
#include "base/StdOut.h"
#include "links/PortMC_All.h"
#include "ports/ListenServer.h"
#include "relay/RelaySettings.h"
#include "relay/SpyDistribution.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CRelayServer;

// One accepted client.
struct _CLIENTDATA {
    std::shared_ptr<CListenClient> socket;
    std::string title;                       // "%u.%u.%u.%u:%u"
    std::atomic<uint32_t> sentBytes{0};      // payload bytes of replies; drained by the rate line
    std::atomic<uint32_t> receivedBytes{0};  // payload bytes of commands; drained by the rate line
    CRelayServer* owner = nullptr;
};

// What the owner hears of the clients, beyond the output texts.
class CRelayObserver {
public:
    virtual ~CRelayObserver() = default;
    // Accept thread: a client was added to the table.
    virtual void ClientAdded(const std::shared_ptr<_CLIENTDATA>& client);
    // Owner's thread (Tick, Disconnect): a client left the table.
    virtual void ClientRemoved(const std::shared_ptr<_CLIENTDATA>& client);
    // Accept thread: a connection refused before any byte was read.
    virtual void ClientRefused(const std::string& address, const char* reason);
    // The client's thread: its connection ended, with the reason's text.
    virtual void ClientClosed(const _CLIENTDATA& client, const char* reason);
    // A client's thread, once after the link failed: the owner should call
    // Disconnect on its own thread.
    virtual void StopRequested();
};

class CRelayServer : private CListenHandler {
public:
    struct LinkState {
        bool open = false;
        bool pending = false;  // a background open is still connecting
        bool CanConnect() const { return !open && !pending; }
        bool CanDisconnect() const { return open; }
    };

    // out: the window's output (the texts of the server); observer may be null.
    explicit CRelayServer(CStdOut& out, CRelayObserver* observer = nullptr);
    ~CRelayServer() override;
    CRelayServer(const CRelayServer&) = delete;
    CRelayServer& operator=(const CRelayServer&) = delete;

    // Configure these while disconnected.
    CPortMC_All& Link() { return m_link; }
    CRelaySettings& Settings() { return m_settings; }
    CSpyDistribution& Spies() { return m_spies; }

    // Ends the warning line for open access: how this owner's user limits it.
    void SetOpenAccessHint(std::string hint) { m_openAccessHint = std::move(hint); }

    // Opens the link and starts listening. False (after printing "Open
    // Error:" or "AsyncRead Error:" with the error text) leaves everything
    // closed.
    bool Connect();
    // Closes the link, every client and the listener; "Disconnected\r\n".
    void Disconnect();
    bool IsConnected() const { return m_connected; }
    // The listener's port (the system's choice for "ServerPort" 0); 0 when
    // disconnected.
    uint16_t ListeningPort() const { return m_listener.Port(); }

    // The one-second tick: removes the clients whose connection has ended.
    void Tick();
    // Closes the client with that listener id; the next Tick removes it.
    bool CloseClient(uint64_t id);
    std::vector<std::shared_ptr<_CLIENTDATA>> Clients() const;

    // Reports the outcome of a background open once it is known ("Open
    // ->%d" with the error text) and tells which commands apply.
    LinkState UpdateLinkState();
    // Set by a link failure; reset by Connect.
    CEvent& StopRequested() { return m_stopRequested; }

    // The link's payload bytes; drained by the owner's rate line.
    std::atomic<uint32_t>& LinkSentBytes() { return m_linkSent; }
    std::atomic<uint32_t>& LinkReceivedBytes() { return m_linkReceived; }

private:
    // CListenHandler
    size_t HeadSize() const override;
    ListenHeadCheck CheckHead(const uint8_t* head) override;
    void OnFrame(CListenClient& client, const uint8_t* head, std::vector<uint8_t>& body) override;
    bool OnConnect(CListenClient& client) override;
    void OnClose(CListenClient& client, ListenCloseReason reason, uint32_t error) override;
    void OnRefuse(const std::string& address, ListenRefuseReason reason) override;
    void OnWarning(const std::string& line) override;

    static void OnLinkMonitor(void* context, int direction, const uint8_t* bytes, int count);
    static void OnLinkFrame(CPortMC* link, void* context);
    // Reads one unsolicited frame; 0xE8 frames of the primary link go
    // straight back to the crate. False when no frame could be read.
    bool TakeUnsolicited(CPortMC& link);
    CPortIO* ActivePort();

    // One command on the link with its reader paused: the reply, or false
    // with the last error.
    bool RunCommand(const uint8_t* command, int count, uint8_t* reply, int& replyCount, int timeoutMs,
                    uint16_t ccbid);
    void IdleLoop();
    void StartIdleWatch();
    void StopIdleWatch();

    // The 13-byte answer of a failed command: status -1 and one byte.
    void SendFailure(CListenClient& client, _CLIENTDATA& data, uint16_t ccbid, uint8_t code);
    void LinkFailed(uint32_t error);
    void RemoveAll();

    CStdOut& m_out;
    CRelayObserver* m_observer;
    CPortMC_All m_link;
    CRelaySettings m_settings;
    CSpyDistribution m_spies;
    CListenServer m_listener;

    std::string m_openAccessHint;
    int32_t m_maxCmdTimeOut = 60000;  // copied at Connect for the client threads
    bool m_connected = false;
    bool m_openPending = false;
    std::atomic<bool> m_linkFailed{false};
    CEvent m_stopRequested{true, false};

    static constexpr int kIdleResumeMs = 20;
    std::mutex m_linkUse;  // one unsolicited check and command at a time
    std::mutex m_pauseLock;
    std::condition_variable m_pauseChanged;
    int m_inFlight = 0;         // guarded by m_pauseLock
    bool m_readerPaused = false;  // guarded by m_pauseLock
    bool m_stopIdle = false;      // guarded by m_pauseLock
    std::thread m_idleThread;

    std::atomic<uint32_t> m_linkSent{0};
    std::atomic<uint32_t> m_linkReceived{0};

    mutable std::mutex m_clientsLock;
    std::vector<std::shared_ptr<_CLIENTDATA>> m_clients;  // guarded by m_clientsLock
};

// Whether a failed Command leaves the link usable: the request itself was
// refused (87, 234) or the crate's reply was bad (13).
bool IsRequestError(uint32_t error);
