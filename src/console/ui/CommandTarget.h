#pragma once
// What a command window asks of the tool window it sends to; a tool window
// that answers AcceptsCommands() with true implements it. GUI thread only;
// nothing here waits for the link, except QueueRequest while the target's
// send queue is full.

#include "base/Fifo.h"
#include "links/PortMCData.h"

class CCommandTarget {
public:
    virtual ~CCommandTarget() = default;
    // Whether a request can be sent now (the link is open).
    virtual bool CanSendNow() = 0;
    virtual bool IsLinkOpen() = 0;
    virtual bool IsSendQueueFull() = 0;
    // Queues a copy of request; a request with Wait Reply gets exactly one
    // record on replyWriter. False when refused: nothing is queued.
    virtual bool QueueRequest(CFifoWr<_MCDATA>* replyWriter, const _MCDATA& request) = 0;
    // Ends the reply wait in progress with status -3.
    virtual void AbortReplyWait() = 0;
};
