#pragma once
// The CAN link to a CAN gateway over TCP. Messages: a 12-byte head (magic
// 0x5555AAAA, record count, kind: 0 CAN data, 1 gateway configuration;
// least significant byte first) and 13-byte records, at most 64 a message.
// Once the socket connects, the link configures the gateway; the open
// fails when the gateway does not accept every configuration record.

#include "links/PortCAN.h"
#include "ports/PortIO_Socket.h"

#include <atomic>
#include <mutex>

class CPortCAN_Node : public CPortCAN {
public:
    static constexpr int kMaxRecords = 64;
    static constexpr int kRecordTimeoutMs = 1000;
    static constexpr int kDefaultHeadTimeoutMs = 5000;

    CPortCAN_Node();
    ~CPortCAN_Node() override;

    bool AsyncRead(CanReaderCallback callback, void* context) override;
    bool PauseReader() override { return m_socket.PauseReader(); }
    bool ResumeReader() override { return m_socket.ResumeReader(); }
    // The socket's settings.
    bool GetNextProperty(_PROPDEF& entry, bool restart) override;
    void ListProperties(PropertyList& out) override;
    bool GetProperty(int32_t id, CVariant& value) override;
    bool SetProperty(std::string_view name, const CVariant& value) override;
    bool SetPropertyById(int32_t id, const CVariant& value) override;
    // Starts the connect; the set-up runs once connected (IsOpen reports
    // 997 until then).
    bool Open() override;
    void Close() override;
    bool IsOpen() override;
    // One data message of count records (1 to 64), then the gateway's
    // acknowledge: a write-error answer fails with 29, anything else with 13.
    bool SendMessages(const CanMessage* messages, int count) override;
    bool ReceiveMessages(CanRecord* records, int& count) override;
    bool Command(const CanMessage* message, int count, CanRecord* reply, int& replyCount) override;
    // Traffic hook on the socket: the gateway messages as sent and read.
    void SetMonitor(void* context, PortMonitor monitor) override;

    // The wait for a message head (5000 ms unless changed).
    void SetHeadTimeout(int ms) { m_headTimeoutMs = ms; }

private:
    // The socket, with the one option the set-up sets itself.
    class CGatewaySocket : public CPortIO_Socket {
    public:
        bool SetNoDelay();
    };
    struct Head {
        uint32_t magic, count, kind;
    };

    static bool SetUpCallback(CPortIO* port, void* context);
    static void ReaderTrampoline(CPortIO* port, void* context);
    bool SetUp();
    bool WriteMessage(uint32_t kind, const CanRecord* records, int count);
    // A head and its records; 13 for a bad magic or more than 64 records
    // (nothing more is read then).
    bool ReadMessage(Head& head, CanRecord* records, int headTimeoutMs);
    bool ReadMessageUntraced(Head& head, CanRecord* records, int headTimeoutMs);
    // After a failed exchange the stream may be out of step (the rest of a
    // bad message, a late reply): what is waiting is dropped before the
    // next message goes out.
    void NoteFailure();
    void DropStaleInput();

    CGatewaySocket m_socket;
    std::mutex m_commandLock;
    std::recursive_mutex m_receiveLock;
    std::atomic<int> m_headTimeoutMs{kDefaultHeadTimeoutMs};
    std::atomic<bool> m_staleInput{false};
};
