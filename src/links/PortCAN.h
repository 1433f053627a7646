#pragma once
// The CAN link: CAN messages to the secondary boards of a crate and their
// replies, tunnelled through a crate link or exchanged with a CAN gateway.
// Results: true for success; false with the thread's last error: 87 bad
// count or length; 13 unrecognised reply, bad head or failed set-up
// answer; 22 the gateway refused the set-up; 29 write error reported by
// the gateway or the board; 234 more records than the caller has room
// for; errors of the crate link or the socket pass through.

#include "base/Hook.h"
#include "ports/PortIO.h"

#include <cstdint>
#include <mutex>
#include <string_view>

// A CAN message as callers hand it over (11 bytes).
struct CanMessage {
    uint8_t idA;      // identifier byte A (the node)
    uint8_t idB;      // identifier byte B
    uint8_t control;  // bits 0-3 data length (0..8), bit 4 a reply is expected
    uint8_t data[8];

    int Length() const { return control & 0x0F; }
    bool ReplyExpected() const { return (control & 0x10) != 0; }
};
static_assert(sizeof(CanMessage) == 11);

// A received CAN record (13 bytes; the gateway's wire record too).
struct CanRecord {
    uint8_t status;   // gateway: status; tunnel: identifier byte A of the request
    uint8_t type;     // identifier and frame-type bits
    uint8_t id;       // identifier byte
    uint8_t counter;  // reception counter
    uint8_t length;
    uint8_t data[8];

    // ((type >> 3) & 0x1C) | (type & 3): 3 for a monitor reply.
    uint8_t FrameType() const { return static_cast<uint8_t>(((type >> 3) & 0x1C) | (type & 3)); }
};
static_assert(sizeof(CanRecord) == 13);

class CPortCAN;

// Called on the reader thread when an unsolicited message is waiting; it
// is expected to call ReceiveMessages.
using CanReaderCallback = void (*)(CPortCAN* link, void* context);

class CPortCAN {
public:
    CPortCAN() = default;
    CPortCAN(const CPortCAN&) = delete;
    CPortCAN& operator=(const CPortCAN&) = delete;

    // The slot order of these operations is fixed.
    virtual ~CPortCAN();
    // Starts the reader for unsolicited messages.
    virtual bool AsyncRead(CanReaderCallback callback, void* context) = 0;
    virtual bool GetNextProperty(_PROPDEF& entry, bool restart) = 0;
    virtual bool GetProperty(int32_t id, CVariant& value) = 0;
    virtual bool SetProperty(std::string_view name, const CVariant& value) = 0;
    virtual bool SetPropertyById(int32_t id, const CVariant& value) = 0;
    virtual bool Open() = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() = 0;
    virtual bool SendMessages(const CanMessage* messages, int count) = 0;
    // count in: room in records; out: records received (or needed, with 234).
    virtual bool ReceiveMessages(CanRecord* records, int& count) = 0;
    // One message and, when it expects one, its reply.
    virtual bool Command(const CanMessage* message, int count, CanRecord* reply, int& replyCount) = 0;
    virtual void SetMonitor(void* context, PortMonitor monitor) = 0;

    // Added after the fixed slots: waits while a background open is still
    // under way; false with 1460 at the deadline, else as IsOpen.
    bool WaitUntilOpen(int timeoutMs);
    // Appends the settings in walk order.
    virtual void ListProperties(PropertyList& out) = 0;
    // The settings in walk order; safe on any thread.
    PropertyList Properties() { return PropertiesOf(*this); }
    // Pause and resume the reader (counted).
    virtual bool PauseReader() = 0;
    virtual bool ResumeReader() = 0;

protected:
    // The caller's reader callback, run from the link's own reader thread.
    void SetReaderCallback(CanReaderCallback callback, void* context);
    void CallReaderCallback();

private:
    CHook<CanReaderCallback> m_reader;
};

// A message for node `idA` with the given data.
CanMessage MakeCanMessage(uint8_t idA, uint8_t idB, bool replyExpected, const uint8_t* data, int length);
