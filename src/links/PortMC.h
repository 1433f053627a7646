#pragma once
// The crate link: binary commands to a crate's control board and their
// replies, over the primary bus, the secondary bus or a crate server.
// Results: true for success; false with the thread's last error: 13 bad
// CRC, head or reply; 87 payload above 240 bytes; 234 reply larger than
// the buffer (the count tells the size needed); 1460 time-out; 10054
// connection reset; errors of the embedded port pass through.

#include "base/Hook.h"
#include "ports/PortIO.h"

#include <cstdint>
#include <mutex>
#include <shared_mutex>
#include <string_view>

class CPortMC;

// Called on the port's reader thread when unsolicited data is waiting; it
// is expected to call ReceiveFrame.
using LinkReaderCallback = void (*)(CPortMC* link, void* context);

class CPortMC {
public:
    // Frame reads after the start byte wait at most this long.
    static constexpr int kFrameByteTimeoutMs = 500;
    static constexpr int kReplyBufferSize = 260;

    CPortMC(const CPortMC&) = delete;
    CPortMC& operator=(const CPortMC&) = delete;

    // The slot order of these operations is fixed.
    virtual ~CPortMC();
    // Starts the port's reader with `callback`.
    virtual bool AsyncRead(LinkReaderCallback callback, void* context);
    // The link's own settings, then those of its port.
    virtual bool GetNextProperty(_PROPDEF& entry, bool restart) = 0;
    virtual bool GetProperty(int32_t id, CVariant& value);
    virtual bool SetProperty(std::string_view name, const CVariant& value);
    virtual bool SetPropertyById(int32_t id, const CVariant& value);
    virtual bool Open();
    virtual void Close();
    virtual bool IsOpen();
    // Frames and writes one payload (at most 240 bytes).
    virtual bool SendFrame(const uint8_t* bytes, int count, int timeoutMs) = 0;
    // Reads one frame; count in: buffer size, out: payload length.
    virtual bool ReceiveFrame(uint8_t* buffer, int& count, int timeoutMs) = 0;
    // One command and its reply (without the 0xEC and sequence bytes).
    // ccbid -1 keeps the link's CCB ID (the primary link ignores it).
    virtual bool Command(const uint8_t* command, int count, uint8_t* reply, int& replyCount, int timeoutMs,
                         int ccbid = -1);
    // Traffic hook: direction 0 payload sent, 1 payload received.
    virtual void SetMonitor(void* context, PortMonitor monitor);

    // Added after the fixed slots: waits while a background open is still
    // connecting; false with 1460 at the deadline, else as IsOpen.
    bool WaitUntilOpen(int timeoutMs);
    // Appends the settings in walk order: the link's own, then its port's.
    virtual void ListProperties(PropertyList& out) { m_port->ListProperties(out); }
    // The settings in walk order; safe on any thread.
    PropertyList Properties() { return PropertiesOf(*this); }
    // Pause and resume the port's reader (counted).
    virtual bool PauseReader() { return m_port->PauseReader(); }
    virtual bool ResumeReader() { return m_port->ResumeReader(); }

protected:
    // port: the embedded port; null for a link that forwards to others.
    explicit CPortMC(CPortIO* port) : m_port(port) {}

    bool SetOwnProperty(const _PROPDEF* table, std::string_view name, const CVariant& value);

    // Secondary and TCP links take a Command's ccbid as their CCB ID.
    virtual void TakeCommandCcbid(int ccbid);

    void Monitor(int direction, const uint8_t* bytes, int count);
    // Writes all bytes to the port.
    bool WriteBytes(const void* bytes, int count);
    // The serial frame reception shared by both buses.
    bool ReceiveSerialFrame(uint8_t* buffer, int& count, int timeoutMs);

    CPortIO* m_port;
    std::recursive_mutex m_commandLock;  // a bridge command runs inside a send
    std::mutex m_receiveLock;

private:
    static void ReaderTrampoline(CPortIO* port, void* context);
    // Drops whatever a failed exchange left waiting (a late reply, the
    // rest of a broken frame) so that the next reply is read in step.
    void DropStaleInput();

    CHook<PortMonitor> m_monitor;
    CHook<LinkReaderCallback> m_reader;

    uint8_t m_sequence = 0;     // guarded by m_commandLock
    bool m_staleInput = false;  // guarded by m_commandLock
};

// Copies every setting of `source`, in walk order, into `target` by id.
// Safe while other threads walk or copy the same classes.
void CopySettings(CPortMC& source, CPortMC& target);

// Value of an integer setting given in any convertible form.
bool VariantToInt(const CVariant& value, int32_t& out);
