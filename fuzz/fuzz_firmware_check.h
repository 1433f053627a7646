#pragma once
// Checks shared by the image file fuzz targets; a broken rule aborts.

#include "firmware/HexFileImage.h"
#include "firmware/HexFileRead.h"

#include <cstdlib>
#include <cstring>
#include <vector>

inline void Require(bool condition)
{
    if (!condition)
        std::abort();
}

// After a good load: sorted, no overlap, no block ending where the next begins.
inline void CheckLoadedImage(const CHexImage& image)
{
    const auto& blocks = image.Blocks();
    Require(!blocks.empty());
    Require(!image.ErrorText().size());
    for (size_t i = 1; i < blocks.size(); ++i)
        Require(blocks[i].start > blocks[i - 1].end());
    Require(image.GetEnd() == blocks.back().end());
}

// Walks the image: chunks stay inside one block and one granule, carry the
// block's bytes, and add up to the total.
inline void CheckWalk(const CHexImage& image, uint32_t granule)
{
    CHexFileRead walk;
    walk.Reset(&image);
    std::vector<uint8_t> buffer(granule);
    uint32_t address, length;
    uint64_t delivered = 0;
    size_t block = 0;
    while (walk.GetNext(buffer.data(), address, length, granule)) {
        Require(length > 0 && length <= granule);
        Require(address / granule == (uint64_t{address} + length - 1) / granule);
        while (block < image.Blocks().size() && image.Blocks()[block].end() <= address)
            ++block;
        Require(block < image.Blocks().size());
        const _MEMBLK& b = image.Blocks()[block];
        Require(address >= b.start && uint64_t{address} + length <= b.end());
        Require(std::memcmp(buffer.data(), b.data.data() + (address - b.start), length) == 0);
        delivered += length;
    }
    Require(length == 0);
    Require(delivered == walk.Total() && delivered == walk.Delivered());
}
