#pragma once
// The traffic tap of a connection: the writers subscribed to the frames its
// link sends and to those it receives. A post writes the record to every
// subscriber of its direction and blocks while a subscriber's queue is
// full, so that no subscriber loses a record.
//
// Threads: any. Each list has its own mutex, held while a post writes, so
// once Remove returns the writer is no longer touched. A post waiting on a
// full queue lets Add and Remove through, so a subscriber may leave while
// its own queue is full.

#include "base/FifoFanOut.h"
#include "links/PortMCData.h"

class CFifoWrList {
public:
    using Writer = CFifoWr<_MCDATA>;

    // direction: _MCDATA::kSent or _MCDATA::kReceived. Adding a writer that
    // is already listed, or removing one that is not, does nothing.
    void Add(int direction, Writer* writer) { listOf(direction).Set(writer, true); }
    void Remove(int direction, Writer* writer) { listOf(direction).Set(writer, false); }
    bool Contains(int direction, Writer* writer) const { return listOf(direction).Contains(writer); }

    // To every subscriber of record.direction, in the order they subscribed.
    void Post(const _MCDATA& record) { listOf(record.direction).Post(record); }

private:
    using List = CFifoFanOut<_MCDATA>;
    List& listOf(int direction) { return direction == _MCDATA::kSent ? m_sent : m_received; }
    const List& listOf(int direction) const { return direction == _MCDATA::kSent ? m_sent : m_received; }

    List m_sent;
    List m_received;
};
