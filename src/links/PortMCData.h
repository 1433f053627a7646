#pragma once
// One traffic record or one request of a crate link.

#include <cstdint>

struct _MCDATA {
    enum Status : int32_t {
        kGood = 0,
        kReadTimeout = -1,
        kReplyTimeout = -2,
        kReplyAborted = -3,
        kReadFailed = -4,
    };
    enum Direction : int32_t { kSent = 0, kReceived = 1 };

    uint16_t tag = 0;        // non-zero: shown in "TX [%u]->"
    int32_t status = kGood;  // in a request: the timeout in ms
    int32_t waitReply = 0;   // in a request: await and deliver the reply
    int32_t direction = kSent;
    int32_t text = 0;        // non-zero: bytes hold a zero-terminated text
    uint8_t length = 0;
    uint8_t bytes[256] = {};
};
