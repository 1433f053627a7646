#pragma once
// The long status reply (code 0x13 of examples/Cb_v126.dec) decoded by hand
// with std::to_chars: the fastest plain code that gives the same text as the
// decode tables, the reference of the decoding benchmark. A test holds it
// to the same text as the tables on many replies.
//
// Threads: no shared state; one object per thread.

#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>

class CStatusHandDecoder {
public:
    // p points to the 200 bytes after the code.
    std::string Decode(const uint8_t* p)
    {
        std::string out;
        out.reserve(1536);
        m_p = p;
        Decimal(out, "ccb_id=", S16());
        Decimal(out, "fw_major=", S16());
        Decimal(out, "fw_minor=", S16());
        Hex(out, "fw_flags=0x", U16(), 4);
        out += "run_mode=";
        RunMode(out, *m_p++);
        out += "\r\n";
        const unsigned bits = *m_p++;
        Decimal(out, "power_on=", bits & 1);
        Decimal(out, "jtag_on=", (bits >> 1) & 1);
        Decimal(out, "offline=", (bits >> 2) & 1);
        Decimal(out, "busy=", (bits >> 3) & 1);
        Decimal(out, "reserved=", bits >> 4);
        out += "serial=";
        for (int i = 0; i < 8; ++i) {
            if (i)
                out += ',';
            if (*m_p)
                out += static_cast<char>(*m_p);
            ++m_p;
        }
        out += "\r\n";
        Decimal(out, "uptime=", U32());
        Decimal(out, "error_count=", static_cast<int32_t>(U32()));
        Hex(out, "flash_id=0x", U32(), 6);
        Decimal(out, "boot_count=", S16());
        for (int i = 0; i < 5; ++i) {
            out += "counters[";
            Number(out, i);
            Decimal(out, "]=", static_cast<int32_t>(U32()));
        }
        Floats(out, "supply=", 8, 3);
        Floats(out, "current=", 8, 3);
        for (int i = 0; i < 7; ++i) {
            out += "temperature[";
            Number(out, i);
            out += "]=";
            Fixed(out, Dsp(), 1);
            out += "\r\n";
        }
        out += "dac=";
        for (int i = 0; i < 6; ++i) {
            if (i)
                out += ',';
            Number(out, S16());
        }
        out += "\r\nreference=";
        Fixed(out, Dsp(), 4);
        out += "\r\nboard_state=";
        for (int i = 0; i < 4; ++i) {
            if (i)
                out += ',';
            BoardState(out, *m_p++);
        }
        out += "\r\n";
        Floats(out, "board_temperature=", 8, 1);
        Hex(out, "crc=0x", U16(), 4);
        Decimal(out, "sequence=", S16());
        return out;
    }

private:
    template <class Integer>
    static void Number(std::string& out, Integer v)
    {
        char buffer[16];
        out.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, v).ptr);
    }
    template <class Integer>
    static void Decimal(std::string& out, const char* head, Integer v)
    {
        out += head;
        Number(out, v);
        out += "\r\n";
    }
    // Upper-case digits, zero-padded to at least `width`.
    static void Hex(std::string& out, const char* head, uint32_t v, int width)
    {
        static const char kDigits[] = "0123456789ABCDEF";
        char buffer[8];
        int n = 0;
        do {
            buffer[7 - n++] = kDigits[v & 15];
            v >>= 4;
        } while (v);
        out += head;
        if (n < width)
            out.append(static_cast<size_t>(width - n), '0');
        out.append(buffer + 8 - n, static_cast<size_t>(n));
        out += "\r\n";
    }
    static void Fixed(std::string& out, double v, int precision)
    {
        char buffer[400];
        out.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::fixed, precision).ptr);
    }
    void Floats(std::string& out, const char* head, int n, int precision)
    {
        out += head;
        for (int i = 0; i < n; ++i) {
            if (i)
                out += ',';
            Fixed(out, Dsp(), precision);
        }
        out += "\r\n";
    }
    unsigned U16()
    {
        unsigned v = (m_p[0] << 8) | m_p[1];
        m_p += 2;
        return v;
    }
    int S16() { return static_cast<int16_t>(U16()); }
    uint32_t U32()
    {
        uint32_t high = U16();
        return (high << 16) | U16();
    }
    double Dsp()
    {
        int mantissa = S16();
        int exponent = S16();
        return std::ldexp(mantissa, exponent - 15);
    }
    static void RunMode(std::string& out, int v)
    {
        switch (v) {
        case 0: out += "BOOT"; break;
        case 1: out += "APPLICATION"; break;
        case 2: out += "MAINTENANCE"; break;
        case 16: out += "SAFE"; break;
        default: Number(out, v);
        }
    }
    static void BoardState(std::string& out, int v)
    {
        switch (v) {
        case 0: out += "ABSENT"; break;
        case 1: out += "PRESENT"; break;
        case 2: out += "POWERED"; break;
        case 255: out += "FAULT"; break;
        default: Number(out, v);
        }
    }

    const uint8_t* m_p = nullptr;
};
