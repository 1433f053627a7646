#pragma once
// The DAQ window's engine and server, driven from a command thread of their
// own: open, close, re-initialise and VME reset run there one after another,
// so that the window's thread never waits for the adapter, for a client's
// request in progress or for the re-initialise pause.
//
// Threads: the commands, Clients and CloseClient are called by the owner's
// thread. The command thread and the server's accept thread report through
// the events FIFO; the owner drains it on its own thread (its data event
// is an eventfd that a poll or a socket notifier can watch). Printing goes
// to the output given at construction from every one of these threads.
//
// Time-outs: re-initialise pauses kReinitPauseMs between Stop and Init.
// The destructor cuts that pause short, drops commands not yet started and
// closes the server, which waits for a client's request in progress (at
// most the engine's 1000 ms wait for a run).

#include "base/Event.h"
#include "base/Fifo.h"
#include "base/StdOut.h"
#include "daq/DaqEngine.h"
#include "daq/DaqServer.h"
#include "daq/DaqSettings.h"
#include "ports/ListenServer.h"

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

enum class DaqCommand { Open, Close, Reinit, VmeReset };

// What the command thread and the accept thread tell the owner.
struct _DAQEVENT {
    enum Kind { CommandDone, ClientAdded };
    Kind kind = CommandDone;
    DaqCommand command = DaqCommand::Close;
    bool ok = false;
    // The server's state after the command, and the port it listens on.
    bool open = false;
    uint16_t port = 0;
};

class CDaqControl {
public:
    static constexpr int kReinitPauseMs = 2000;
    static constexpr size_t kCommandSlots = 16;
    static constexpr size_t kEventSlots = 256;

    explicit CDaqControl(CStdOut& out);
    ~CDaqControl();
    CDaqControl(const CDaqControl&) = delete;
    CDaqControl& operator=(const CDaqControl&) = delete;

    // Queue a command without waiting; false when kCommandSlots commands are
    // already waiting. Open and Reinit take the settings the engine is set
    // up with; Open also those of the listening socket.
    bool Open(const CDaqSettings& settings, const ListenSettings& listen);
    bool Close();
    bool Reinit(const CDaqSettings& settings);
    bool VmeReset();

    CFifo<_DAQEVENT>& Events() { return m_events; }

    std::vector<_DAQCLIENTINFO> Clients() const { return m_server.Clients(); }
    bool CloseClient(uint64_t id) { return m_server.CloseClient(id); }
    size_t RemoveClosedClients() { return m_server.RemoveClosedClients(); }

    // Request and reply payload bytes since the last drain; the close
    // command sets both to 0.
    std::atomic<uint32_t>& ReceivedCounter() { return m_receivedRate; }
    std::atomic<uint32_t>& SentCounter() { return m_sentRate; }

private:
    struct Request {
        DaqCommand command = DaqCommand::Close;
        CDaqSettings settings;
        ListenSettings listen;
    };

    bool Post(const Request& request);
    void Run();
    _DAQEVENT Execute(const Request& request);
    // Prints the engine's error text when ok is false.
    bool Report(bool ok);

    CStdOut& m_out;
    std::atomic<uint32_t> m_receivedRate{0};
    std::atomic<uint32_t> m_sentRate{0};
    CDaqEngine m_engine;
    CDaqServer m_server{m_engine, m_out};
    CFifo<Request> m_commands{kCommandSlots + 1};
    CFifo<_DAQEVENT> m_events{kEventSlots + 1};
    CEvent m_stop{true, false};
    std::thread m_thread;
};
