#pragma once
// The text of one traffic record as the traffic boxes, the spy and the
// command line print it: TX and RX lines, tags, the 0xEC header skipped,
// two-byte codes 0xBE and 0x0F, replies decoded by the decode tables with
// a size warning, and text records.

#include "links/PortMCData.h"

#include <ctime>
#include <string>

class CStructList;

// The decode tables as the traffic text needs them.
class CTrafficDecoder {
public:
    virtual ~CTrafficDecoder() = default;
    // Whether a structure has that code; its size in bytes.
    virtual bool Knows(int32_t code, int& size) const = 0;
    // The decoded text; bytes beyond length count as zero.
    virtual std::string Decode(int32_t code, const uint8_t* bytes, size_t length) const = 0;
};

struct TrafficTextOptions {
    bool decode = true;   // "EnDecode"
    bool time = false;    // "EnTime": sent records start with "%H:%M:%S "
    std::time_t when = 0; // the time shown
};

// decoder may be null (nothing is decoded).
std::string TrafficText(const _MCDATA& record, const CTrafficDecoder* decoder, const TrafficTextOptions& options);

// Fills a record from frame bytes (at most 256 are kept).
_MCDATA TrafficRecord(int direction, const uint8_t* bytes, int count, int32_t status = _MCDATA::kGood);

// The compiled decode tables of a decode file as a traffic decoder.
class CStructListDecoder : public CTrafficDecoder {
public:
    explicit CStructListDecoder(const CStructList& structs) : m_structs(structs) {}
    bool Knows(int32_t code, int& size) const override;
    std::string Decode(int32_t code, const uint8_t* bytes, size_t length) const override;

private:
    const CStructList& m_structs;
};
