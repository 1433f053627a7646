#pragma once
// Motorola S-record image files (S1 and S2 data records).

#include "firmware/HexFileImage.h"

class CHexFile : public CHexImage {
public:
    CHexFile() : CHexImage('S', true) {}

protected:
    const char* ReadRecords(CHexTokenizer& tokens) override;
};
