#pragma once
// SHA-256 (FIPS 180-4) of a byte stream fed in pieces, for the image
// digests that operators compare with release notes. One object per
// thread; no time-outs.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

class CSha256 {
public:
    using Digest = std::array<uint8_t, 32>;

    CSha256() { Reset(); }

    void Reset();
    void Update(const void* data, size_t size);
    // The digest of everything fed since the last Reset; the object then
    // starts over.
    Digest Final();

    // Lower-case hexadecimal, as sha256sum prints it.
    static std::string Hex(const Digest& digest);

private:
    void Block(const uint8_t* block);

    std::array<uint32_t, 8> m_state{};
    std::array<uint8_t, 64> m_buffer{};
    size_t m_buffered = 0;
    uint64_t m_length = 0;
};
