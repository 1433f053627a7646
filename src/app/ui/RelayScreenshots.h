#pragma once
// The server and spy windows for the pictures: a server window on a
// simulated crate's primary bus with two clients, and a spy watching it.
// GUI thread; the clients' requests wait for their answers (the server
// answers on its own threads).

#include <string>

class CMainFrame;
class CSettingsBackend;
class CChildFrame_Server;
class CChildFrame_Spy;

class CRelayScreenshots {
public:
    CRelayScreenshots(CMainFrame& frame, CSettingsBackend& settings, std::string bus, std::string decodeFile);
    ~CRelayScreenshots();
    CRelayScreenshots(const CRelayScreenshots&) = delete;
    CRelayScreenshots& operator=(const CRelayScreenshots&) = delete;

    // Opens and connects the server window and connects two clients.
    void OpenServer();
    // Opens the spy on the server; each client sends a status request.
    void OpenSpy();
    // Brings the server window to the front.
    void ShowServer();

private:
    void Request(int client, unsigned char sequence);

    CMainFrame& m_frame;
    CSettingsBackend& m_settings;
    std::string m_bus;
    std::string m_decodeFile;
    CChildFrame_Server* m_server = nullptr;
    CChildFrame_Spy* m_spy = nullptr;
    int m_clients[2] = {-1, -1};
};
