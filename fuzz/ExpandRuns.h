#pragma once
// Lets a short fuzz input stand for a large one: the byte 0x01 followed by
// a count byte k is replaced by k * 256 generated pieces, each made by
// piece(n) with a running number n, up to a total of maxSize bytes. Other
// bytes are copied.

#include <cstddef>
#include <cstdint>
#include <string>

template <class Piece>
std::string ExpandRuns(const uint8_t* data, size_t size, size_t maxSize, Piece piece)
{
    std::string out;
    size_t number = 0;
    for (size_t i = 0; i < size && out.size() < maxSize; ++i) {
        if (data[i] != 0x01 || i + 1 >= size) {
            out += static_cast<char>(data[i]);
            continue;
        }
        for (size_t n = size_t(data[++i]) * 256; n > 0 && out.size() < maxSize; --n)
            out += piece(number++);
    }
    return out;
}
