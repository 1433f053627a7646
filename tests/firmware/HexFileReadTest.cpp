#include "HexFileTestUtil.h"
#include "firmware/HexFile.h"
#include "firmware/HexFileMcs.h"
#include "firmware/HexFileRead.h"

#include <gtest/gtest.h>

namespace {
struct Chunk {
    uint32_t address;
    uint32_t length;
    bool operator==(const Chunk&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Chunk& c)
{
    char text[40];
    std::snprintf(text, sizeof text, "{0x%X, %u}", c.address, c.length);
    return os << text;
}

// Walks the whole image; checks every chunk's bytes against the image.
std::vector<Chunk> Walk(const CHexImage& image, uint32_t granule)
{
    CHexFileRead walk;
    walk.Reset(&image);
    std::vector<uint8_t> buffer(granule);
    std::vector<Chunk> chunks;
    uint32_t address, length;
    while (walk.GetNext(buffer.data(), address, length, granule)) {
        chunks.push_back({address, length});
        EXPECT_EQ(walk.Delivered(), [&] {
            uint32_t sum = 0;
            for (const auto& c : chunks)
                sum += c.length;
            return sum;
        }());
        bool found = false;
        for (const auto& b : image.Blocks()) {
            if (address >= b.start && uint64_t{address} + length <= b.end()) {
                EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + length, b.data.begin() + (address - b.start)))
                    << "bytes of the chunk at " << address;
                found = true;
            }
        }
        EXPECT_TRUE(found) << "chunk at " << address << " lies inside one block";
        if (chunks.size() > 100000)
            break;
    }
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(walk.Delivered(), walk.Total());
    return chunks;
}
}  // namespace

TEST(HexFileRead, ChunksNeverCrossAGranuleOrABlock)
{
    const struct {
        const char* what;
        std::string text;
        uint32_t granule;
        std::vector<Chunk> chunks;
    } cases[] = {
        {"unaligned block, granule 64", S1(0x1010, Counting(0x80)) + S1(0x1090, Counting(0x80)), 64,
         {{0x1010, 48}, {0x1040, 64}, {0x1080, 64}, {0x10C0, 64}, {0x1100, 16}}},
        {"aligned block, granule 256", S2(0x80000, Counting(0xC0)) + S2(0x800C0, Counting(0xC0)), 256,
         {{0x80000, 256}, {0x80100, 128}}},
        {"two blocks, granule 128", S1(0x100, Counting(4)) + S1(0x17E, Counting(4)), 128,
         {{0x100, 4}, {0x17E, 2}, {0x180, 2}}},
        {"block shorter than the granule", S1(0x2003, Counting(5)), 64, {{0x2003, 5}}},
        {"granule 1", S1(0x10, Counting(3)), 1, {{0x10, 1}, {0x11, 1}, {0x12, 1}}},
        {"no data", S1(0, {}), 64, {}},
    };
    for (const auto& c : cases) {
        CHexFile image;
        ASSERT_TRUE(LoadText(image, c.text)) << c.what << ": " << image.ErrorText();
        EXPECT_EQ(Walk(image, c.granule), c.chunks) << c.what;
    }
}

TEST(HexFileRead, ReportsTheCurrentAddressWhenDone)
{
    CHexFile image;
    ASSERT_TRUE(LoadText(image, S1(0x1000, Counting(0x10)) + S1(0x3000, Counting(0x10))));
    CHexFileRead walk;
    walk.Reset(&image);
    EXPECT_EQ(walk.Total(), 0x20u);
    EXPECT_EQ(walk.Delivered(), 0u);
    uint8_t buffer[256];
    uint32_t address = 0, length = 0;
    ASSERT_TRUE(walk.GetNext(buffer, address, length, 256));
    ASSERT_TRUE(walk.GetNext(buffer, address, length, 256));
    EXPECT_EQ(address, 0x3000u);
    EXPECT_FALSE(walk.GetNext(buffer, address, length, 256));
    EXPECT_EQ(address, 0x3010u);
    EXPECT_EQ(length, 0u);
    EXPECT_FALSE(walk.GetNext(buffer, address, length, 256)) << "stays at the end";

    // Reset starts over at the first block.
    walk.Reset(&image);
    EXPECT_EQ(walk.Delivered(), 0u);
    ASSERT_TRUE(walk.GetNext(buffer, address, length, 256));
    EXPECT_EQ(address, 0x1000u);
}

TEST(HexFileRead, NothingToWalk)
{
    uint8_t buffer[64];
    uint32_t address = 1, length = 1;
    CHexFileRead walk;
    walk.Reset(nullptr);
    EXPECT_FALSE(walk.GetNext(buffer, address, length, 64));
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(walk.Total(), 0u);

    CHexFile cleared;
    walk.Reset(&cleared);
    EXPECT_FALSE(walk.GetNext(buffer, address, length, 64));

    CHexFile image;
    ASSERT_TRUE(LoadText(image, S1(0x40, Counting(8))));
    walk.Reset(&image);
    EXPECT_FALSE(walk.GetNext(buffer, address, length, 0)) << "granule 0 would never advance";
    EXPECT_EQ(walk.Delivered(), 0u);
}

TEST(HexFileRead, IntelWalkHandsOutWholePagesAfterAlignment)
{
    CHexFile_mcs image;
    ASSERT_TRUE(LoadText(image, IntelRecord(0, 0x0105, Counting(0x50)) + IntelRecord(0, 0x0400, Counting(3))));
    image.AlignPages();
    CHexFileRead_mcs walk;
    walk.Reset(&image);
    EXPECT_EQ(walk.Total(), 0xC0u);
    uint8_t page[CHexFileRead_mcs::kGranule];
    uint32_t address, length;
    std::vector<Chunk> chunks;
    while (walk.GetNext(page, address, length))
        chunks.push_back({address, length});
    EXPECT_EQ(chunks, (std::vector<Chunk>{{0x100, 64}, {0x140, 64}, {0x400, 64}}));
    EXPECT_EQ(page[0], 0);
    EXPECT_EQ(page[3], 0xFF);
    EXPECT_EQ(walk.Delivered(), 0xC0u);
}
