#include "ports/PortIO_Socket.h"

#include "base/Error.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {
const _PROPOPT kSocketTypeOptions[] = {
    {"TCP", CPortIO_Socket::kTcp}, {"UDP", CPortIO_Socket::kUdp}, {"Server", CPortIO_Socket::kServer}, {nullptr, 0}};
const _PROPOPT kProxyTypeOptions[] = {
    {"SOCKS4", CPortIO_Socket::kSocks4}, {"SOCKS5", CPortIO_Socket::kSocks5}, {"HTTP", CPortIO_Socket::kHttp}, {nullptr, 0}};

CPropertyCursor s_cursor;

bool failWith(uint32_t code)
{
    SetLastErr(code);
    return false;
}

std::string formatAddress(const sockaddr_in& a)
{
    const auto* b = reinterpret_cast<const uint8_t*>(&a.sin_addr.s_addr);
    char text[32];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u:%u", b[0], b[1], b[2], b[3], ntohs(a.sin_port));
    return text;
}

// Resolves an IPv4 address; 11001 when the name is unknown.
bool resolve(const std::string& host, uint16_t port, sockaddr_in& out)
{
    out = sockaddr_in{};
    out.sin_family = AF_INET;
    out.sin_port = htons(port);
    if (inet_pton(AF_INET, host.c_str(), &out.sin_addr) == 1)
        return true;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (host.empty() || getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found)
        return failWith(err::HostNotFound);
    out.sin_addr = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return true;
}

bool integerFromValue(const CVariant& value, int64_t low, int64_t high, int64_t& out)
{
    return value.ToNumber(out) && out >= low && out <= high;
}

// The SOCKS5 reply codes as socket errors.
uint32_t socksReplyError(uint8_t code)
{
    switch (code) {
    case 0x02: return err::AccessDenied;
    case 0x03: return err::NetUnreachable;
    case 0x04: return err::HostUnreachable;
    case 0x05: return err::ConnRefused;
    case 0x06: return err::ConnTimedOut;
    case 0x07:
    case 0x08: return err::NotSupported;
    default: return err::BadFrame;
    }
}

std::vector<std::string_view> splitColons(std::string_view text)
{
    std::vector<std::string_view> parts;
    for (;;) {
        size_t colon = text.find(':');
        parts.push_back(text.substr(0, colon));
        if (colon == std::string_view::npos)
            return parts;
        text.remove_prefix(colon + 1);
    }
}

bool equalsNoCase(std::string_view a, const char* b)
{
    return a.size() == std::strlen(b) && strncasecmp(a.data(), b, a.size()) == 0;
}
}  // namespace

const _PROPDEF CPortIO_Socket::kProperties[] = {
    {"SocketType", kSocketType, VarType::Int, kSocketTypeOptions},
    {"Host", kHost, VarType::String, nullptr},
    {"Port", kPort, VarType::UInt16, nullptr},
    {"PortUDP", kPortUDP, VarType::UInt16, nullptr},
    {"EnProxy", kEnProxy, VarType::Bool, nullptr},
    {"Proxy", kProxy, VarType::String, nullptr},
    {"ProxyPort", kProxyPort, VarType::UInt16, nullptr},
    {"ProxyType", kProxyType, VarType::Int32, kProxyTypeOptions},
    {"OpenAsync", kOpenAsync, VarType::Bool, nullptr},
    {nullptr, 0, VarType::Null, nullptr},
};

CPortIO_Socket::CPortIO_Socket() : CPortIO_Fd(CPortReader::Policy{.errorCallback = false, .waitForOpen = true}) {}

CPortIO_Socket::~CPortIO_Socket() { Close(); }

bool CPortIO_Socket::GetNextProperty(_PROPDEF& entry, bool restart) { return s_cursor.Next(Properties(), entry, restart); }

void CPortIO_Socket::ListProperties(PropertyList& out) { AppendProperties(out, kProperties); }

CPortIO_Socket::Settings CPortIO_Socket::CopySettings() const
{
    std::lock_guard lock(m_settingsLock);
    return m_settings;
}

bool CPortIO_Socket::GetProperty(int32_t id, CVariant& value)
{
    const Settings s = CopySettings();
    auto choice = [&value](const _PROPOPT* options, int32_t number, CVariant typed) {
        const _PROPOPT* option = value.isString() ? FindOptionByValue(options, number) : nullptr;
        value = option ? CVariant::FromString(option->name) : typed;
    };
    switch (id) {
    case kSocketType: choice(kSocketTypeOptions, s.socketType, CVariant::FromInt(s.socketType)); break;
    case kHost: value = CVariant::FromString(s.host); break;
    case kPort: value = CVariant::FromUInt16(s.port); break;
    case kPortUDP: value = CVariant::FromUInt16(s.portUdp); break;
    case kEnProxy: value = CVariant::FromBool(s.proxyEnabled); break;
    case kProxy: value = CVariant::FromString(s.proxyHost); break;
    case kProxyPort: value = CVariant::FromUInt16(s.proxyPort); break;
    case kProxyType: choice(kProxyTypeOptions, s.proxyType, CVariant::FromInt32(s.proxyType)); break;
    case kOpenAsync: value = CVariant::FromBool(s.openAsync); break;
    default: return failWith(err::BadParam);
    }
    return true;
}

bool CPortIO_Socket::SetProperty(std::string_view name, const CVariant& value)
{
    return SetPropertyByName(kProperties, name, value);
}

bool CPortIO_Socket::SetPropertyById(int32_t id, const CVariant& value)
{
    // Choices given as their option name are taken by that name.
    auto choice = [&value](const _PROPOPT* options, int32_t& out) {
        if (value.isString())
            if (const _PROPOPT* option = FindOption(options, value.text())) {
                out = option->value;
                return true;
            }
        int64_t n;
        if (!value.ToNumber(n) || !FindOptionByValue(options, static_cast<int32_t>(n)))
            return false;
        out = static_cast<int32_t>(n);
        return true;
    };
    std::string text;
    int64_t n = 0;
    int32_t option = 0;
    std::lock_guard lock(m_settingsLock);
    Settings& s = m_settings;
    switch (id) {
    case kSocketType:
        if (!choice(kSocketTypeOptions, option))
            return failWith(err::BadParam);
        s.socketType = option;
        break;
    case kHost:
    case kProxy:
        if (!value.ToText(text))
            return failWith(err::BadParam);
        (id == kHost ? s.host : s.proxyHost) = text;
        break;
    case kPort:
    case kPortUDP:
    case kProxyPort:
        if (!integerFromValue(value, 0, 0xFFFF, n))
            return failWith(err::BadParam);
        (id == kPort ? s.port : id == kPortUDP ? s.portUdp : s.proxyPort) = static_cast<uint16_t>(n);
        break;
    case kEnProxy:
    case kOpenAsync:
        if (!value.ToNumber(n))
            return failWith(err::BadParam);
        (id == kEnProxy ? s.proxyEnabled : s.openAsync) = n != 0;
        break;
    case kProxyType:
        if (!choice(kProxyTypeOptions, option))
            return failWith(err::BadParam);
        s.proxyType = option;
        break;
    default:
        return failWith(err::BadParam);
    }
    SetLastErr(err::Success);
    return true;
}

bool CPortIO_Socket::OpenSpec(std::string_view openText)
{
    const std::vector<std::string_view> parts = splitColons(openText);
    bool ok;
    if (parts.size() >= 2 && equalsNoCase(parts[1], "server")) {
        ok = SetPropertyById(kSocketType, CVariant::FromInt(kServer)) &&
             SetPropertyById(kPort, CVariant::FromString(parts[0]));
    } else if (parts.size() >= 4 && equalsNoCase(parts[3], "datagram")) {
        ok = SetPropertyById(kSocketType, CVariant::FromInt(kUdp)) &&
             SetPropertyById(kHost, CVariant::FromString(parts[0])) &&
             SetPropertyById(kPort, CVariant::FromString(parts[1])) &&
             SetPropertyById(kPortUDP, CVariant::FromString(parts[2]));
    } else {
        ok = SetPropertyById(kSocketType, CVariant::FromInt(kTcp)) &&
             SetPropertyById(kHost, CVariant::FromString(parts[0])) &&
             (parts.size() < 2 || SetPropertyById(kPort, CVariant::FromString(parts[1])));
    }
    return ok && Open();
}

bool CPortIO_Socket::SetOpenCallback(PortOpenCallback callback, void* context)
{
    std::lock_guard lock(m_settingsLock);
    m_openCallback = callback;
    m_openContext = context;
    SetLastErr(err::Success);
    return true;
}

bool CPortIO_Socket::Open()
{
    PrepareOpen();
    m_openResult = err::Success;
    m_peerClosed = false;
    if (!CopySettings().openAsync)
        return Connect();
    std::lock_guard lock(m_openThreadLock);
    m_opening = true;
    m_openThread = std::thread([this] { BackgroundOpen(); });
    SetLastErr(err::Success);
    return true;
}

void CPortIO_Socket::BackgroundOpen()
{
    // The open callback may throw (a crate-list miss); its text must reach
    // whoever asks IsOpen, not end the program.
    const bool ok = CatchToLastError([this] {
        if (!Connect())
            return false;
        PortOpenCallback callback;
        void* context;
        {
            std::lock_guard lock(m_settingsLock);
            callback = m_openCallback;
            context = m_openContext;
        }
        return !callback || callback(this, context);
    });
    if (!ok) {
        const uint32_t code = GetLastErr() == err::Success ? err::Aborted : GetLastErr();
        const std::string text = LastErrText();
        Close();
        std::lock_guard lock(m_stateLock);
        m_openErrorText = text;
        m_openResult = code;
    } else {
        m_openResult = err::Success;
    }
    m_opening = false;
}

void CPortIO_Socket::StopWorkers()
{
    std::thread opener;
    {
        std::lock_guard lock(m_openThreadLock);
        if (m_openThread.joinable() && m_openThread.get_id() != std::this_thread::get_id())
            opener = std::move(m_openThread);
    }
    if (opener.joinable())
        opener.join();
}

bool CPortIO_Socket::IsOpen()
{
    if (m_opening)
        return failWith(err::IoPending);
    if (m_peerClosed)
        return failWith(err::ConnReset);
    if (const uint32_t result = m_openResult; result != err::Success) {
        std::lock_guard lock(m_stateLock);
        SetLastErr(result, m_openErrorText);
    } else {
        SetLastErr(err::Success);
    }
    std::shared_lock fdLock(m_fdLock);
    return fd() >= 0;
}

bool CPortIO_Socket::ReadyForReader()
{
    if (m_opening)
        return true;
    std::shared_lock fdLock(m_fdLock);
    return fd() >= 0;
}

void CPortIO_Socket::SetConnected(Role role, const sockaddr_in& described)
{
    sockaddr_in local{};
    socklen_t size = sizeof local;
    {
        std::shared_lock fdLock(m_fdLock);
        getsockname(fd(), reinterpret_cast<sockaddr*>(&local), &size);
    }
    std::lock_guard lock(m_stateLock);
    m_role = role;
    m_description = formatAddress(described);
    m_localPort = ntohs(local.sin_port);
}

void CPortIO_Socket::AfterClose()
{
    std::lock_guard lock(m_stateLock);
    m_role = Role::Closed;
    m_description.clear();
    m_localPort = 0;
}

std::string CPortIO_Socket::GetDescription() const
{
    std::lock_guard lock(m_stateLock);
    return m_description;
}

uint16_t CPortIO_Socket::GetLocalPort() const
{
    std::lock_guard lock(m_stateLock);
    return m_localPort;
}

bool CPortIO_Socket::Connect()
{
    // Nothing else reads or writes while the connection is set up.
    std::lock_guard readLock(m_readLock);
    std::lock_guard writeLock(m_writeLock);
    const Settings s = CopySettings();
    bool ok;
    switch (s.socketType) {
    case kUdp: ok = OpenDatagram(s); break;
    case kServer: ok = OpenListener(s); break;
    default: ok = OpenClient(s); break;
    }
    if (!ok) {
        uint32_t code = GetLastErr();
        Close();
        SetLastErr(code);
        return false;
    }
    SetLastErr(err::Success);
    return true;
}

bool CPortIO_Socket::ConnectStream(const sockaddr_in& address)
{
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (s < 0) {
        SetLastErrFromErrno();
        return false;
    }
    Attach(s);
    int one = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::shared_lock fdLock(m_fdLock);
    if (::connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        return true;
    if (errno != EINPROGRESS) {
        SetLastErrFromErrno();
        return false;
    }
    int woke = WaitForAny({CWaitItem::Of(m_abort), CWaitItem::Fd(s, POLLOUT)}, kInfinite);
    if (woke == 0)
        return failWith(err::Aborted);
    if (woke != 1)
        return false;
    int error = 0;
    socklen_t size = sizeof error;
    getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &size);
    if (error != 0) {
        SetLastErrFromErrno(error);
        return false;
    }
    return true;
}

bool CPortIO_Socket::OpenClient(const Settings& s)
{
    if (!s.proxyEnabled) {
        sockaddr_in address;
        if (!resolve(s.host, s.port, address) || !ConnectStream(address))
            return false;
        SetConnected(Role::Client, address);
        return true;
    }
    sockaddr_in proxy;
    if (!resolve(s.proxyHost, s.proxyPort, proxy) || !ConnectStream(proxy))
        return false;
    if (s.proxyType != kSocks5)
        return failWith(err::ProxyType);
    if (!Socks5Handshake(s.host, s.port))
        return false;
    SetConnected(Role::Client, proxy);
    return true;
}

bool CPortIO_Socket::Socks5Handshake(const std::string& host, uint16_t port)
{
    // The name travels with a one-byte length: a longer one cannot be sent.
    if (host.empty() || host.size() > 255)
        return failWith(err::BadParam);
    static const uint8_t kGreeting[] = {0x05, 0x01, 0x00};
    if (!Write(kGreeting, sizeof kGreeting))
        return false;
    uint8_t answer[2];
    if (!ReadExact(answer, 2, kProxyTimeoutMs))
        return false;
    if (answer[0] != 0x05 || answer[1] != 0x00)
        return failWith(answer[0] == 0x05 && answer[1] == 0xFF ? err::AccessDenied : err::BadFrame);

    std::vector<uint8_t> request = {0x05, 0x01, 0x00, 0x03, static_cast<uint8_t>(host.size())};
    request.insert(request.end(), host.begin(), host.end());
    request.push_back(static_cast<uint8_t>(port >> 8));
    request.push_back(static_cast<uint8_t>(port & 0xFF));
    if (!Write(request.data(), static_cast<int>(request.size())))
        return false;

    uint8_t head[4];
    if (!ReadExact(head, 4, kProxyTimeoutMs))
        return false;
    if (head[0] != 0x05)
        return failWith(err::BadFrame);
    if (head[1] != 0x00)
        return failWith(socksReplyError(head[1]));
    // The bound address that follows is read off so that it cannot be
    // taken for the peer's first bytes; its size depends on its type.
    uint8_t rest[255 + 2];
    int restSize;
    switch (head[3]) {
    case 0x01: restSize = 4 + 2; break;
    case 0x04: restSize = 16 + 2; break;
    case 0x03: {
        uint8_t length;
        if (!ReadExact(&length, 1, kProxyTimeoutMs))
            return false;
        restSize = length + 2;
        break;
    }
    default: return failWith(err::BadFrame);
    }
    return ReadExact(rest, restSize, kProxyTimeoutMs);
}

bool CPortIO_Socket::OpenDatagram(const Settings& s)
{
    sockaddr_in peer;
    if (!resolve(s.host, s.port, peer))
        return false;
    int sock = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (sock < 0) {
        SetLastErrFromErrno();
        return false;
    }
    Attach(sock);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(s.portUdp);
    if (::bind(sock, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        SetLastErrFromErrno();
        return false;
    }
    {
        std::lock_guard lock(m_stateLock);
        m_peer = peer;
    }
    SetConnected(Role::Datagram, peer);
    return true;
}

bool CPortIO_Socket::OpenListener(const Settings& s)
{
    int sock = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (sock < 0) {
        SetLastErrFromErrno();
        return false;
    }
    Attach(sock);
    // A server restarted at once must not find its port still taken.
    int one = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(s.port);
    if (::bind(sock, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 || ::listen(sock, 5) != 0) {
        SetLastErrFromErrno();
        return false;
    }
    socklen_t size = sizeof local;
    getsockname(sock, reinterpret_cast<sockaddr*>(&local), &size);
    SetConnected(Role::Listener, local);
    return true;
}

bool CPortIO_Socket::Accept(CPortIO_Socket& listener)
{
    PrepareOpen();
    sockaddr_in peer{};
    int accepted = -1;
    {
        std::shared_lock listenerLock(listener.m_fdLock);
        const int lfd = listener.fd();
        if (lfd < 0)
            return failWith(err::NotOpen);
        for (;;) {
            socklen_t size = sizeof peer;
            accepted = ::accept4(lfd, reinterpret_cast<sockaddr*>(&peer), &size, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (accepted >= 0)
                break;
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN) {
                SetLastErrFromErrno();
                return false;
            }
            int woke = WaitForAny({CWaitItem::Of(listener.m_abort), CWaitItem::Of(m_abort), CWaitItem::Fd(lfd, POLLIN)},
                                  kInfinite);
            if (woke == 0 || woke == 1)
                return failWith(err::Aborted);
            if (woke != 2)
                return false;
        }
    }
    int one = 1;
    setsockopt(accepted, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    Attach(accepted);
    SetConnected(Role::Accepted, peer);
    SetLastErr(err::Success);
    return true;
}

bool CPortIO_Socket::WaitForData(int timeoutMs)
{
    if (HasKept()) {
        m_dataReady.Set();
        SetLastErr(err::Success);
        return true;
    }
    m_dataReady.Reset();
    uint32_t events = 0;
    int ready = WaitReadable(timeoutMs, true, &events);
    if (ready <= 0)
        return ready == 0;
    Role role;
    {
        std::lock_guard lock(m_stateLock);
        role = m_role;
    }
    const bool peerMayHaveClosed = (events & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) != 0;
    if (peerMayHaveClosed && (role == Role::Client || role == Role::Accepted)) {
        // Readable with nothing to read: the peer closed the connection.
        // Later waits fail as aborted too, as after Close.
        std::shared_lock fdLock(m_fdLock);
        uint8_t byte;
        ssize_t n = fd() < 0 ? 0 : ::recv(fd(), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
            m_peerClosed = true;
            m_abort.Set();
            return failWith(err::Aborted);
        }
    }
    m_dataReady.Set();
    SetLastErr(err::Success);
    return true;
}

ssize_t CPortIO_Socket::ReadSome(int fd, void* buffer, size_t max)
{
    Role role;
    sockaddr_in peer;
    {
        std::lock_guard lock(m_stateLock);
        role = m_role;
        peer = m_peer;
    }
    if (role != Role::Datagram)
        return ::recv(fd, buffer, max, MSG_DONTWAIT);
    sockaddr_in from{};
    socklen_t size = sizeof from;
    ssize_t n = ::recvfrom(fd, buffer, max, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &size);
    if (n > 0 && (from.sin_addr.s_addr != peer.sin_addr.s_addr || from.sin_port != peer.sin_port))
        return 0;
    return n;
}

ssize_t CPortIO_Socket::WriteSome(int fd, const void* buffer, size_t count)
{
    Role role;
    sockaddr_in peer;
    {
        std::lock_guard lock(m_stateLock);
        role = m_role;
        peer = m_peer;
    }
    ssize_t n = role == Role::Datagram
                    ? ::sendto(fd, buffer, count, MSG_NOSIGNAL | MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&peer),
                               sizeof peer)
                    : ::send(fd, buffer, count, MSG_NOSIGNAL | MSG_DONTWAIT);
    // A peer that has gone shows as a reset connection, not a broken pipe.
    if (n < 0 && errno == EPIPE)
        errno = ECONNRESET;
    return n;
}

int CPortIO_Socket::Read(void* buffer, int max) { return ReadWithin(buffer, max, kInfinite); }

int CPortIO_Socket::ReadWithin(void* buffer, int max, int timeoutMs)
{
    std::unique_lock<std::recursive_mutex> readLock;
    if (!LockForRead(readLock))
        return -1;
    if (const int kept = TakeKept(buffer, max); kept > 0) {
        SetLastErr(err::Success);
        return kept;
    }
    int n = ReadBlocking(buffer, max, timeoutMs);
    if (n < 0)
        return -1;
    Monitor(1, buffer, n);
    SetLastErr(err::Success);
    return n;
}

int CPortIO_Socket::ReadExactStep(void* buffer, int max, int timeoutMs)
{
    Role role;
    {
        std::lock_guard lock(m_stateLock);
        role = m_role;
    }
    int n = ReadWithin(buffer, max, timeoutMs);
    if (n == 0 && role != Role::Datagram) {
        SetLastErr(err::ConnReset);
        return -1;
    }
    return n;
}
