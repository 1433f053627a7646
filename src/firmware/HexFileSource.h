#pragma once
// Reads image text through a buffer and cuts it into the tokens that both
// record syntaxes share: record starts, line ends and hexadecimal bytes.

#include "base/ByteStream.h"

#include <cstdint>
#include <memory>

enum class HexTokenKind : uint8_t {
    End,        // the stream ended where a token could start
    Failed,     // the stream reported a read error
    Cut,        // the stream ended inside a two-character token
    EndOfLine,  // CR or LF
    Byte,       // an upper-case hexadecimal digit and the character after it
    Record,     // the record mark; for typed marks value holds the type character
    Bad,        // anything else
};

struct CHexToken {
    HexTokenKind kind;
    uint8_t value;
};

class CHexTokenizer {
public:
    // mark starts a record; when typed, the character after the mark is
    // part of the token ("S1", "S9").
    CHexTokenizer(CByteStream& stream, char mark, bool typed);

    CHexToken Next();

    // Reads count byte tokens into out. Returns nullptr, or the error text
    // for whatever else was found inside the record.
    const char* ReadRecordBytes(uint8_t* out, unsigned count);

    // Characters taken from the stream so far.
    uint64_t Consumed() const { return m_consumedBefore + m_pos; }

private:
    static constexpr int kEnd = -1;
    static constexpr int kFailed = -2;
    static constexpr size_t kBufferSize = 64 * 1024;

    int Get()
    {
        if (m_pos == m_len && !Refill())
            return m_failed ? kFailed : kEnd;
        return m_buffer[m_pos++];
    }
    bool Refill();
    CHexToken ReadByteToken(int first);

    CByteStream& m_stream;
    const int m_mark;
    const bool m_typed;
    std::unique_ptr<uint8_t[]> m_buffer;
    size_t m_pos = 0;
    size_t m_len = 0;
    uint64_t m_consumedBefore = 0;
    bool m_failed = false;
};
