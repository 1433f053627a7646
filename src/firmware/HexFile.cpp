#include "firmware/HexFile.h"

namespace {
// Skips the bytes of a header or termination record: neither its text,
// its entry address nor its checksum matter here.
const char* SkipRecord(CHexTokenizer& tokens, uint8_t* buffer)
{
    uint8_t count;
    if (const char* error = tokens.ReadRecordBytes(&count, 1))
        return error;
    return tokens.ReadRecordBytes(buffer, count);
}
}  // namespace

const char* CHexFile::ReadRecords(CHexTokenizer& tokens)
{
    uint8_t record[256];
    for (;;) {
        CHexToken token{};
        if (const char* error = NextRecord(tokens, token))
            return error;
        if (token.kind == HexTokenKind::End)
            return nullptr;

        unsigned addressBytes;
        switch (token.value) {
        case '0':
        case '8':
        case '9':
            if (const char* error = SkipRecord(tokens, record))
                return error;
            continue;
        case '1':
            addressBytes = 2;
            break;
        case '2':
            addressBytes = 3;
            break;
        default:
            return kHexBadFormat;
        }

        uint8_t count;
        if (const char* error = tokens.ReadRecordBytes(&count, 1))
            return error;
        // The count covers the address, the data and the checksum.
        if (count < addressBytes + 1)
            return kHexBadFormat;
        if (const char* error = tokens.ReadRecordBytes(record, count))
            return error;

        unsigned sum = count;
        for (unsigned i = 0; i + 1 < count; ++i)
            sum += record[i];
        if (static_cast<uint8_t>(~sum) != record[count - 1])
            return kHexSumcheckError;

        uint32_t address = 0;
        for (unsigned i = 0; i < addressBytes; ++i)
            address = address << 8 | record[i];
        const char* error = nullptr;
        if (!AddData(address, record + addressBytes, count - addressBytes - 1, error))
            return error;
    }
}
