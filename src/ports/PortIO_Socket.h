#pragma once
// An IPv4 socket port: a TCP client (optionally through a SOCKS5 proxy), a
// UDP endpoint bound to one peer, or a listening TCP server whose pending
// connections are taken by Accept into fresh port objects.
//
// With "OpenAsync" on, Open starts the connect on a thread of its own and
// IsOpen reports 997 until it ends. A peer that closes the connection fails
// a pending WaitForData with 995 and a ReadExact with 10054; once a wait has
// seen it, IsOpen reports false with 10054.

#include "ports/PortIO_Fd.h"

#include <atomic>
#include <mutex>
#include <netinet/in.h>
#include <string>
#include <thread>

class CPortIO_Socket : public CPortIO_Fd {
public:
    enum PropertyId : int32_t {
        kSocketType = 101,
        kHost = 102,
        kPort = 103,
        kPortUDP = 104,
        kProxy = 105,
        kProxyPort = 106,
        kProxyType = 107,
        kEnProxy = 108,
        kOpenAsync = 109,
    };
    enum SocketType : int32_t { kTcp = 0, kUdp = 1, kServer = 2 };
    enum ProxyType : int32_t { kSocks4 = 0, kSocks5 = 1, kHttp = 2 };

    static const _PROPDEF kProperties[];
    // Each wait of the SOCKS5 handshake.
    static constexpr int kProxyTimeoutMs = 60000;

    CPortIO_Socket();
    ~CPortIO_Socket() override;

    bool GetNextProperty(_PROPDEF& entry, bool restart) override;
    void ListProperties(PropertyList& out) override;
    bool GetProperty(int32_t id, CVariant& value) override;
    bool SetProperty(std::string_view name, const CVariant& value) override;
    bool SetPropertyById(int32_t id, const CVariant& value) override;
    // "port:server", "host:port:localport:datagram" or "host:port".
    bool OpenSpec(std::string_view openText) override;
    bool Open() override;
    // Returns -1 on failure; 0 when the peer closed the connection, or for
    // a datagram from anyone but the peer.
    int Read(void* buffer, int max) override;
    bool WaitForData(int timeoutMs) override;
    bool IsOpen() override;
    bool SetOpenCallback(PortOpenCallback callback, void* context) override;

    // Takes the next pending connection of a listening port into this
    // (closed first) object. False when the listener holds no socket.
    bool Accept(CPortIO_Socket& listener);

    // The connected address "a.b.c.d:port" (the proxy's when proxied, the
    // local one for a server); empty when closed.
    std::string GetDescription() const;
    // The bound local port (server and UDP ports bound to port 0 get one
    // from the system); 0 when closed.
    uint16_t GetLocalPort() const;

protected:
    ssize_t ReadSome(int fd, void* buffer, size_t max) override;
    ssize_t WriteSome(int fd, const void* buffer, size_t count) override;
    int ReadExactStep(void* buffer, int max, int timeoutMs) override;
    bool ReadyForReader() override;
    void AfterClose() override;
    void StopWorkers() override;

private:
    // Read, waiting up to timeoutMs for the first byte.
    int ReadWithin(void* buffer, int max, int timeoutMs);

    struct Settings {
        int32_t socketType = kTcp;
        std::string host;
        uint16_t port = 0;
        uint16_t portUdp = 0;
        bool proxyEnabled = false;
        std::string proxyHost;
        uint16_t proxyPort = 0;
        int32_t proxyType = kSocks4;
        bool openAsync = false;
    };
    enum class Role { Closed, Client, Datagram, Listener, Accepted };

    Settings CopySettings() const;
    bool Connect();
    bool ConnectStream(const sockaddr_in& address);
    bool OpenClient(const Settings& s);
    bool OpenDatagram(const Settings& s);
    bool OpenListener(const Settings& s);
    bool Socks5Handshake(const std::string& host, uint16_t port);
    void SetConnected(Role role, const sockaddr_in& described);
    void BackgroundOpen();

    mutable std::mutex m_settingsLock;
    Settings m_settings;
    PortOpenCallback m_openCallback = nullptr;
    void* m_openContext = nullptr;

    // Guarded by m_stateLock.
    mutable std::mutex m_stateLock;
    Role m_role = Role::Closed;
    sockaddr_in m_peer{};
    std::string m_description;
    uint16_t m_localPort = 0;

    std::mutex m_openThreadLock;
    std::thread m_openThread;
    std::atomic<bool> m_opening{false};
    std::atomic<uint32_t> m_openResult{0};
    std::string m_openErrorText;  // guarded by m_stateLock; set with m_openResult
    // The peer closed the connection: the port no longer counts as open.
    std::atomic<bool> m_peerClosed{false};
};
