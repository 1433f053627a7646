#pragma once
// The watched side of a spy: the writers that want received records and
// those that want sent records, each list under its own lock. Every chunk of traffic
// becomes one record, copied by value into each subscriber's ring in the
// same order for all. A full ring holds the caller (the watched link's
// monitor) until its spy takes records; nothing is ever dropped.
//
// Threads: Distribute* run on the watched link's threads; Register may be
// called from any thread, the one that drains a full ring included: a
// distributor waiting on a full ring lets registrations through (and
// never touches a writer once its removal returned). A closed ring is
// passed over.

#include "base/FifoFanOut.h"
#include "links/PortMCData.h"

using CSpyWriter = CFifoWr<_MCDATA>;

// Whatever a spy can watch.
class CSpyTarget {
public:
    virtual ~CSpyTarget() = default;
    // Bit 0 of flags: the writer wants sent records, bit 1: received
    // records; 0 takes it off both lists.
    virtual void RegisterSpy(unsigned flags, CSpyWriter* writer) = 0;
};

class CSpyDistribution : public CSpyTarget {
public:
    enum Flags : unsigned { kWantSent = 1, kWantReceived = 2 };

    // Bit 0 set adds the writer to the sent list, clear removes it; bit 1
    // the same for the received list.
    void Register(unsigned flags, CSpyWriter* writer);
    void RegisterSpy(unsigned flags, CSpyWriter* writer) override { Register(flags, writer); }
    // The flags a spy registers with.
    static unsigned FlagsFor(bool printRX, bool printTX) { return (unsigned(printRX) & 1) << 1 | (unsigned(printTX) & 1); }

    // One received chunk as a record with direction 1.
    void DistributeReceived(const uint8_t* bytes, int count);
    // One sent chunk; tag is the CCB ID it went to, 0 when none.
    void DistributeSent(const uint8_t* bytes, int count, uint16_t tag = 0);
    // A ready record to the sent list (its direction set to 0).
    void DistributeSent(_MCDATA record);

    size_t SubscriberCount() const;

private:
    CFifoFanOut<_MCDATA> m_sent;
    CFifoFanOut<_MCDATA> m_received;
};

// The record a spy gets for a chunk of traffic: tag, direction, the bytes
// (at most 255 kept, as every traffic record holds them).
_MCDATA SpyRecord(int direction, const uint8_t* bytes, int count, uint16_t tag);
