#include "firmware/HexFileSource.h"

#include "firmware/HexFileImage.h"

#include <array>

namespace {
// A byte must start with 0-9 or A-F; its second character is read more
// leniently (lower case too), anything else there counts as 0 and the
// record's checksum catches it.
constexpr int kNotDigit = -1;

constexpr std::array<int8_t, 256> MakeDigitTable(bool lowerCase, int8_t other)
{
    std::array<int8_t, 256> table{};
    for (int c = 0; c < 256; ++c) {
        if (c >= '0' && c <= '9')
            table[c] = static_cast<int8_t>(c - '0');
        else if (c >= 'A' && c <= 'F')
            table[c] = static_cast<int8_t>(c - 'A' + 10);
        else if (lowerCase && c >= 'a' && c <= 'f')
            table[c] = static_cast<int8_t>(c - 'a' + 10);
        else
            table[c] = other;
    }
    return table;
}

constexpr auto kFirstDigit = MakeDigitTable(false, kNotDigit);
constexpr auto kSecondDigit = MakeDigitTable(true, 0);
}  // namespace

CHexTokenizer::CHexTokenizer(CByteStream& stream, char mark, bool typed)
    : m_stream(stream), m_mark(static_cast<unsigned char>(mark)), m_typed(typed),
      m_buffer(new uint8_t[kBufferSize])
{
}

bool CHexTokenizer::Refill()
{
    if (m_failed)
        return false;
    m_consumedBefore += m_len;
    m_pos = 0;
    m_len = 0;
    long n = m_stream.Read(m_buffer.get(), kBufferSize);
    if (n < 0) {
        m_failed = true;
        return false;
    }
    m_len = static_cast<size_t>(n);
    return n > 0;
}

CHexToken CHexTokenizer::ReadByteToken(int first)
{
    int second = Get();
    if (second == kFailed)
        return {HexTokenKind::Failed, 0};
    if (second == kEnd)
        return {HexTokenKind::Cut, 0};
    return {HexTokenKind::Byte, static_cast<uint8_t>(kFirstDigit[first] << 4 | kSecondDigit[second])};
}

CHexToken CHexTokenizer::Next()
{
    int c = Get();
    if (c == kEnd)
        return {HexTokenKind::End, 0};
    if (c == kFailed)
        return {HexTokenKind::Failed, 0};
    if (c == '\r' || c == '\n')
        return {HexTokenKind::EndOfLine, 0};
    if (kFirstDigit[c] != kNotDigit)
        return ReadByteToken(c);
    if (c != m_mark)
        return {HexTokenKind::Bad, 0};
    if (!m_typed)
        return {HexTokenKind::Record, 0};
    int type = Get();
    if (type == kFailed)
        return {HexTokenKind::Failed, 0};
    if (type == kEnd)
        return {HexTokenKind::Cut, 0};
    return {HexTokenKind::Record, static_cast<uint8_t>(type)};
}

const char* CHexTokenizer::ReadRecordBytes(uint8_t* out, unsigned count)
{
    for (unsigned i = 0; i < count; ++i) {
        int first = Get();
        if (first >= 0 && kFirstDigit[first] != kNotDigit) {
            int second = Get();
            if (second >= 0) {
                out[i] = static_cast<uint8_t>(kFirstDigit[first] << 4 | kSecondDigit[second]);
                continue;
            }
            return kHexReadFileError;
        }
        return first < 0 ? kHexReadFileError : kHexBadFormat;
    }
    return nullptr;
}
