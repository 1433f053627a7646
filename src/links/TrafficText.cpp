#include "links/TrafficText.h"

#include "language/StructData.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

// "%02X " for every byte, without a formatting call per byte.
void appendHex(std::string& out, const uint8_t* bytes, size_t count)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    const size_t at = out.size();
    out.resize(at + 3 * count);
    char* p = out.data() + at;
    for (size_t i = 0; i < count; ++i) {
        *p++ = kDigits[bytes[i] >> 4];
        *p++ = kDigits[bytes[i] & 15];
        *p++ = ' ';
    }
}

std::string receivedText(const _MCDATA& r, const CTrafficDecoder* decoder, bool decode)
{
    const char* prefix = r.status < 0 ? "RX ERROR->" : "RX->";
    const size_t length = r.length;
    const size_t start = length > 2 && r.bytes[0] == 0xEC ? 2 : 0;
    if (decode && decoder && start < length) {
        int32_t code = r.bytes[start];
        size_t codeBytes = 1;
        if ((code == 0xBE || code == 0x0F) && start + 1 < length) {
            code = (code << 8) | r.bytes[start + 1];
            codeBytes = 2;
        }
        const size_t payloadAt = start + codeBytes;
        const int rxSize = static_cast<int>(length - payloadAt);
        int codeSize = 0;
        if (decoder->Knows(code, codeSize)) {
            // Whatever the reply lacks decodes as zero.
            uint8_t padded[sizeof r.bytes] = {};
            std::memcpy(padded, r.bytes, length);
            const std::string decoded = decoder->Decode(code, padded + payloadAt, sizeof padded - payloadAt);
            char head[64];
            // A two-byte code keeps its leading zero: 0x0F04, not 0xF04.
            const char* format = codeBytes == 2 ? "Data decoded code=0x%04X\r\n" : "Data decoded code=0x%02X\r\n";
            std::snprintf(head, sizeof head, format, static_cast<unsigned>(code));
            std::string out = std::string(prefix) + head + decoded + "\r\n";
            if (rxSize != codeSize) {
                char warn[96];
                std::snprintf(warn, sizeof warn, "WARNING invalid size: codesize=%d rxsize=%d\r\n", codeSize, rxSize);
                out += warn;
            }
            return out;
        }
        if (code == 2 && r.status >= 0) {
            const char* text = reinterpret_cast<const char*>(r.bytes + payloadAt);
            return std::string(text, strnlen(text, length - payloadAt));
        }
    }
    std::string out = prefix;
    appendHex(out, r.bytes, length);
    return out + "\r\n";
}

}  // namespace

std::string TrafficText(const _MCDATA& record, const CTrafficDecoder* decoder, const TrafficTextOptions& options)
{
    std::string out;
    if (options.time && record.direction == _MCDATA::kSent) {
        std::tm local{};
        localtime_r(&options.when, &local);
        char stamp[16];
        std::strftime(stamp, sizeof stamp, "%H:%M:%S ", &local);
        out += stamp;
    }
    if (record.text) {
        const char* text = reinterpret_cast<const char*>(record.bytes);
        out += record.direction == _MCDATA::kReceived ? "RX->" : "TX->";
        return out + std::string(text, strnlen(text, sizeof record.bytes));
    }
    if (record.direction == _MCDATA::kSent) {
        if (record.tag) {
            char head[24];
            std::snprintf(head, sizeof head, "TX [%u]->", record.tag);
            out += head;
        } else {
            out += "TX->";
        }
        appendHex(out, record.bytes, record.length);
        return out + "\r\n";
    }
    return out + receivedText(record, decoder, options.decode);
}

_MCDATA TrafficRecord(int direction, const uint8_t* bytes, int count, int32_t status)
{
    _MCDATA r;
    r.direction = direction;
    r.status = status;
    const int kept = std::clamp(count, 0, static_cast<int>(sizeof r.bytes));
    r.length = static_cast<uint8_t>(std::min(kept, 255));
    if (kept > 0)
        std::memcpy(r.bytes, bytes, static_cast<size_t>(kept));
    return r;
}

bool CStructListDecoder::Knows(int32_t code, int& size) const
{
    const CStructData* s = m_structs.Find(code);
    if (!s)
        return false;
    size = s->Size();
    return true;
}

std::string CStructListDecoder::Decode(int32_t code, const uint8_t* bytes, size_t length) const
{
    return m_structs.DecodeText(code, bytes, length);
}
