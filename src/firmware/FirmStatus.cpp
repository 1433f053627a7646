#include "firmware/FirmStatus.h"

#include <cmath>

namespace {

size_t FieldBytes(char kind)
{
    switch (kind) {
    case 'C': return 1;
    case 'S': return 2;
    case 'L':
    case 'F': return 4;
    default: return 0;
    }
}

// The 4-byte floating format of the boards: a signed 16-bit mantissa and a
// 16-bit exponent, value = mantissa * 2^(exponent - 15).
float BoardFloat(uint32_t bits)
{
    const auto mantissa = static_cast<int16_t>(bits >> 16);
    const auto exponent = static_cast<int16_t>(bits & 0xFFFF);
    return static_cast<float>(std::ldexp(static_cast<double>(mantissa), exponent - 15));
}

}  // namespace

uint32_t _FIRMSTATUS::Version() const
{
    if (type != kLong || fields.size() < 3)
        return 0;
    return (fields[1].value << 16) + fields[2].value;
}

size_t StatusLayoutBytes(const char* layout)
{
    size_t total = 0;
    for (const char* p = layout; *p; ++p) {
        const size_t n = FieldBytes(*p);
        if (n == 0)
            return 0;
        total += n;
    }
    return total;
}

bool UnpackStatus(const char* layout, const uint8_t* bytes, size_t count, std::vector<_FIRMSTATUS::Field>& fields,
                  std::string& error)
{
    fields.clear();
    size_t at = 0;
    for (const char* p = layout; *p; ++p) {
        const size_t n = FieldBytes(*p);
        if (n == 0) {
            error = kStatusLayoutError;
            return false;
        }
        if (at + n > count) {
            error = "Status reply too short";
            return false;
        }
        uint32_t value = 0;
        for (size_t i = 0; i < n; ++i)
            value = (value << 8) | bytes[at + i];
        at += n;
        fields.push_back({*p, value, *p == 'F' ? BoardFloat(value) : 0.0f});
    }
    return true;
}
