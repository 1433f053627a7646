#pragma once
// Intel HEX image files (data, end-of-file, extended segment and extended
// linear address records), with padding to whole flash pages.

#include "firmware/HexFileImage.h"

class CHexFile_mcs : public CHexImage {
public:
    static constexpr uint32_t kPageSize = 64;
    static constexpr uint8_t kFillByte = 0xFF;
    // Blocks from here up are not padded.
    static constexpr uint32_t kAlignLimit = 0x18000;

    CHexFile_mcs() : CHexImage(':', false) {}

    // Refuses an empty path with "File not found".
    bool Load(const std::string& path) override;

    // Pads the blocks below kAlignLimit with kFillByte to whole pages and
    // joins blocks that end and start in the same page.
    void AlignPages();

protected:
    const char* ReadRecords(CHexTokenizer& tokens) override;
};
