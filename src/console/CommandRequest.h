#pragma once
// Requests as the command window builds them: a command of the command
// file with its argument texts, or raw bytes, under the send properties.
//
// Threads: plain functions; the command tables are only read.

#include "links/PortMCData.h"

#include <cstdint>
#include <string>
#include <vector>

class CStructData;

// Tag, "Cmd Timeout (ms)" and "Wait Reply", stored as these 12 bytes.
struct SendProperties {
    uint32_t tag = 0;
    uint32_t timeoutMs = 1000;
    uint32_t waitReply = 1;
};
static_assert(sizeof(SendProperties) == 12);

// The code's non-zero bytes, most significant first (a code of 0 is one
// zero byte), then the arguments encoded by the command's structure into
// zeroed bytes. False with 87 when it does not fit a request.
bool BuildCommandRequest(const CStructData& command, const std::vector<std::string>& arguments,
                         const SendProperties& properties, _MCDATA& request);

// The bytes as they are. False with 87 when there are more than a request
// holds.
bool BuildRawRequest(const std::vector<uint8_t>& bytes, const SendProperties& properties, _MCDATA& request);
