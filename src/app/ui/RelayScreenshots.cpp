#include "RelayScreenshots.h"

#include "links/PortMCFrame.h"
#include "relay/ui/ChildFrameServer.h"
#include "relay/ui/ChildFrameSpy.h"
#include "shell/Profiles.h"
#include "shell/SettingsStore.h"
#include "shell/ui/MainFrame.h"

#include <QComboBox>
#include <QMdiArea>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
const char* kServerProfile = "Server YB0 S1";
const char* kSpyProfile = "Spy YB0 S1";
constexpr int kAnswerWaitMs = 2000;
}  // namespace

CRelayScreenshots::CRelayScreenshots(CMainFrame& frame, CSettingsBackend& settings, std::string bus,
                                     std::string decodeFile)
    : m_frame(frame), m_settings(settings), m_bus(std::move(bus)), m_decodeFile(std::move(decodeFile))
{
}

CRelayScreenshots::~CRelayScreenshots()
{
    for (int fd : m_clients)
        if (fd >= 0)
            close(fd);
}

void CRelayScreenshots::OpenServer()
{
    {
        CSettingsStore store(m_settings, false);
        store.CreateKey(ProfileSection(kStatePath, kServerProfile));
        store.Write("IOType", 1);
        store.Write("ComName", m_bus);
        store.Write("ServerPort", 0);
        store.Write("BindAddress", std::string("127.0.0.1"));
    }
    m_server = static_cast<CChildFrame_Server*>(m_frame.OpenToolWindow(kCmdServer, kServerProfile));
    if (!m_server || !m_server->Connect())
        return;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(m_server->Server().ListeningPort());
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int& fd : m_clients) {
        fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            close(fd);
            fd = -1;
        }
    }
}

void CRelayScreenshots::OpenSpy()
{
    {
        CSettingsStore store(m_settings, false);
        store.CreateKey(ProfileSection(kStatePath, kSpyProfile));
        store.Write("DecodeFile", m_decodeFile);
    }
    m_spy = static_cast<CChildFrame_Spy*>(m_frame.OpenToolWindow(kCmdSpy, kSpyProfile));
    if (!m_spy)
        return;
    m_spy->WatchWindow(kServerProfile);
    m_spy->RefreshPane();
    m_frame.PropertiesPane().Rebuild();
    Request(0, 1);
    Request(1, 1);
}

void CRelayScreenshots::ShowServer()
{
    if (m_server)
        m_server->mdiArea()->setActiveSubWindow(m_server);
}

void CRelayScreenshots::Request(int client, unsigned char sequence)
{
    const int fd = m_clients[client];
    if (fd < 0)
        return;
    const uint8_t payload[] = {mcframe::kHeader, sequence, 0xEA};
    const auto head = mcframe::BuildTcpHead(101, sizeof payload, 1000);
    uint8_t frame[mcframe::kTcpHeadSize + sizeof payload];
    std::copy(head.begin(), head.end(), frame);
    std::copy(payload, payload + sizeof payload, frame + mcframe::kTcpHeadSize);
    if (send(fd, frame, sizeof frame, MSG_NOSIGNAL) != ssize_t(sizeof frame))
        return;
    // The answer is read and dropped; the picture shows it in the spy.
    uint8_t answer[512];
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, kAnswerWaitMs) == 1)
        (void)!read(fd, answer, sizeof answer);
}
