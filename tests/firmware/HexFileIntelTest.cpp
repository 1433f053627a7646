#include "HexFileTestUtil.h"
#include "firmware/HexFileMcs.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {
const std::string kEof = IntelRecord(1, 0, {});

std::string Linear(uint16_t upper) { return IntelRecord(4, 0, {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)}); }
std::string Segment(uint16_t segment)
{
    return IntelRecord(2, 0, {static_cast<uint8_t>(segment >> 8), static_cast<uint8_t>(segment)});
}
std::string Data(uint16_t address, const Bytes& bytes) { return IntelRecord(0, address, bytes); }

Bytes Fill(size_t n) { return Bytes(n, 0xFF); }

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const auto& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}
}  // namespace

TEST(HexFileIntel, RejectsMalformedFilesWithTheirTexts)
{
    const std::string good = Data(0x1000, Counting(16));
    const struct {
        const char* what;
        std::string text;
        const char* error;
    } cases[] = {
        {"bad checksum", IntelRecord(0, 0x1000, Counting(16), 1), "Sumcheck Error"},
        {"bad checksum of an ignored type", IntelRecord(5, 0, {0, 0, 1, 0}, -1), "Sumcheck Error"},
        {"bad checksum of the end record", IntelRecord(1, 0, {}, 1), "Sumcheck Error"},
        {"byte where a record starts", good + "00\n", "Bad File format"},
        {"blank before a record", " " + good, "Bad File format"},
        {"lower-case first digit", ":10100000a0" + good.substr(11), "Bad File format"},
        {"S-record in an Intel file", "S1051000010203E3\r\n", "Bad File format"},
        {"line end inside a record", good.substr(0, 11) + "\n" + good.substr(11), "Bad File format"},
        {"record start inside a record", good.substr(0, 11) + good, "Bad File format"},
        {"linear address with one byte", IntelRecord(4, 0, {0x01}), "Bad File format"},
        {"segment address without bytes", IntelRecord(2, 0, {}), "Bad File format"},
        {"file cut inside the data", good.substr(0, 30), "ReadFile Error"},
        {"file cut inside the head", ":1010", "ReadFile Error"},
        {"file cut after the mark", good + ":", "ReadFile Error"},
        {"file cut inside a byte", good.substr(0, 10), "ReadFile Error"},
        {"overlap", Data(0x1000, Counting(16)) + Data(0x1008, Counting(16)), "Invalid File, Overload Address"},
        {"overlap across linear bases", Linear(1) + Data(0, Counting(16)) + Linear(0) + Data(0xFFFF, Counting(2)),
         "Invalid File, Overload Address"},
        {"data passing 4 GiB", Linear(0xFFFF) + Data(0xFFF0, Counting(17)), "Invalid File, Overload Address"},
        {"data ending at 4 GiB", Linear(0xFFFF) + Data(0xFFF0, Counting(16)), "Invalid File, Overload Address"},
    };
    for (const auto& c : cases) {
        CHexFile_mcs image;
        EXPECT_FALSE(LoadText(image, c.text)) << c.what;
        EXPECT_EQ(image.ErrorText(), c.error) << c.what;
    }
}

TEST(HexFileIntel, PlacesRecordsByTheirBase)
{
    const struct {
        const char* what;
        std::string text;
        std::vector<BlockShape> shape;
    } cases[] = {
        {"linear base 0x0001", Linear(1) + Data(0x0010, Counting(4)) + kEof, {{0x10010, 4}}},
        {"segment base 0x1000", Segment(0x1000) + Data(0x0010, Counting(4)) + kEof, {{0x10010, 4}}},
        {"segment base 0x1234", Segment(0x1234) + Data(0, Counting(4)), {{0x12340, 4}}},
        {"base back to 0", Linear(1) + Data(0, Counting(4)) + Linear(0) + Data(0, Counting(4)),
         {{0, 4}, {0x10000, 4}}},
        {"extra base bytes ignored", IntelRecord(4, 0, {0x00, 0x02, 0x77}) + Data(0, Counting(1)), {{0x20000, 1}}},
        {"record crossing 64 KiB", Data(0xFFF8, Counting(16)), {{0xFFF8, 16}}},
        {"joined across linear bases", Data(0xFFF0, Counting(16)) + Linear(1) + Data(0, Counting(16)),
         {{0xFFF0, 32}}},
        {"last byte below 4 GiB", Linear(0xFFFF) + Data(0xFFF0, Counting(15)), {{0xFFFFFFF0, 15}}},
        {"other types ignored", IntelRecord(3, 0, {0, 0, 1, 0}) + IntelRecord(5, 0, {0, 0, 1, 0}) +
                                    IntelRecord(0x42, 0x1234, {9}) + Data(0x20, Counting(2)),
         {{0x20, 2}}},
        {"no end record", Data(0x20, Counting(2)), {{0x20, 2}}},
        {"nothing after the end record is read", Data(0x20, Counting(2)) + kEof + "garbage\n:ZZ" + Data(0x22, {1}),
         {{0x20, 2}}},
        {"no data", kEof, {{0, 0}}},
        {"CR LF line ends", ":0400100000010203E6\r\n:00000001FF\r\n", {{0x10, 4}}},
        {"255-byte record", Data(0x100, Counting(255)), {{0x100, 255}}},
    };
    for (const auto& c : cases) {
        CHexFile_mcs image;
        ASSERT_TRUE(LoadText(image, c.text)) << c.what << ": " << image.ErrorText();
        EXPECT_EQ(Shape(image), c.shape) << c.what;
        EXPECT_EQ(image.GetEnd(), c.shape.back().start + c.shape.back().length) << c.what;
    }
}

TEST(HexFileIntel, StopsCountingAtTheEndRecord)
{
    const std::string head = Linear(1) + Data(0x10, Counting(4)) + kEof;
    CHexFile_mcs image;
    ASSERT_TRUE(LoadText(image, head + Data(0, Counting(8)) + "not read"));
    // The line end after the end record is not read either.
    EXPECT_EQ(image.CharsRead(), head.size() - 1);
    EXPECT_EQ(image.DataByteCount(), 4u);
    EXPECT_EQ(image.Blocks()[0].data, Counting(4));
}

TEST(HexFileIntel, AlignPagesFillsWholePages)
{
    const struct {
        const char* what;
        std::string text;
        std::vector<BlockShape> shape;
        Bytes firstBlock;
    } cases[] = {
        {"one block inside a page", Data(0x1005, Counting(10)), {{0x1000, 64}},
         Concat({Fill(5), Counting(10), Fill(49)})},
        {"gap inside one page filled", Data(0x1000, Counting(8)) + Data(0x1020, Counting(8, 8)), {{0x1000, 64}},
         Concat({Counting(8), Fill(24), Counting(8, 8), Fill(24)})},
        {"several blocks in one page", Data(0x1001, {1}) + Data(0x1003, {3}) + Data(0x1005, {5}), {{0x1000, 64}},
         Concat({Fill(1), {1}, Fill(1), {3}, Fill(1), {5}, Fill(58)})},
        {"neighbouring pages join", Data(0x1000, Counting(8)) + Data(0x1050, Counting(4)), {{0x1000, 128}},
         Concat({Counting(8), Fill(72), Counting(4), Fill(44)})},
        {"distant pages stay apart", Data(0x1000, Counting(8)) + Data(0x1080, Counting(8)),
         {{0x1000, 64}, {0x1080, 64}}, Concat({Counting(8), Fill(56)})},
        {"whole pages unchanged", Data(0x2000, Counting(128)), {{0x2000, 128}}, Counting(128)},
        {"block at the limit unchanged", Data(0x8005, Counting(3)) + Linear(1) + Data(0x8005, Counting(3)),
         {{0x8000, 64}, {0x18005, 3}}, Concat({Fill(5), Counting(3), Fill(56)})},
        {"block crossing the limit padded", Linear(1) + Data(0x7FF0, Counting(0x20)), {{0x17FC0, 0x80}},
         Concat({Fill(0x30), Counting(0x20), Fill(0x30)})},
        {"neighbour in the next page stays apart",
         Linear(1) + Data(0x7FF8, Counting(8)) + Data(0x8010, Counting(8)), {{0x17FC0, 64}, {0x18010, 8}},
         Concat({Fill(0x38), Counting(8)})},
        {"block below the limit joins one above in its page",
         Linear(1) + Data(0x7FF0, Counting(0x14)) + Data(0x8020, Counting(4)), {{0x17FC0, 0x80}},
         Concat({Fill(0x30), Counting(0x14), Fill(0x1C), Counting(4), Fill(0x1C)})},
        {"no data stays one empty block", kEof, {{0, 0}}, {}},
    };
    for (const auto& c : cases) {
        CHexFile_mcs image;
        ASSERT_TRUE(LoadText(image, c.text)) << c.what << ": " << image.ErrorText();
        image.AlignPages();
        EXPECT_EQ(Shape(image), c.shape) << c.what;
        ASSERT_FALSE(image.Blocks().empty()) << c.what;
        EXPECT_EQ(image.Blocks()[0].data, c.firstBlock) << c.what;
    }
}

TEST(HexFileIntel, AlignPagesNeverFillsMoreThanAPageAfterAFailedLoad)
{
    // Overlapping blocks stay in the image after the failed load; filling
    // must not take their negative gap for a huge one.
    CHexFile_mcs image;
    ASSERT_FALSE(LoadText(image, Data(0x1000, Counting(0x30)) + Data(0x1010, Counting(0x30)) +
                                     Data(0x0FF0, Counting(0x14))));
    uint64_t before = 0;
    for (const auto& b : image.Blocks())
        before += b.data.size();
    image.AlignPages();
    uint64_t after = 0;
    for (const auto& b : image.Blocks())
        after += b.data.size();
    EXPECT_LE(after, before + 2 * 64 * image.Blocks().size());
}

namespace {
// Intel HEX text of total data bytes from address 0 (each byte the low
// byte of its address), made while it is read: one linear address record
// per 64 KiB, then the same data records every time.
class CGeneratedIntel : public CByteStream {
public:
    explicit CGeneratedIntel(uint64_t total) : m_total(total)
    {
        for (uint32_t address = 0; address < 0x10000; address += kRecordBytes)
            m_segment += Data(static_cast<uint16_t>(address), Counting(kRecordBytes, static_cast<uint8_t>(address)));
    }
    long Read(void* buffer, size_t size) override
    {
        if (m_pos == m_text.size()) {
            if (m_address >= m_total)
                return 0;
            const uint64_t bytes = std::min<uint64_t>(0x10000, m_total - m_address);
            m_text = Linear(static_cast<uint16_t>(m_address >> 16)) +
                     m_segment.substr(0, bytes / kRecordBytes * kRecordLine);
            if (uint32_t rest = static_cast<uint32_t>(bytes % kRecordBytes))
                m_text += Data(static_cast<uint16_t>(bytes - rest), Counting(rest, static_cast<uint8_t>(bytes - rest)));
            m_address += bytes;
            m_pos = 0;
        }
        size_t n = std::min(size, m_text.size() - m_pos);
        std::memcpy(buffer, m_text.data() + m_pos, n);
        m_pos += n;
        return static_cast<long>(n);
    }

private:
    static constexpr uint32_t kRecordBytes = 128;
    static constexpr size_t kRecordLine = 1 + 2 * (4 + kRecordBytes + 1) + 1;
    uint64_t m_total;
    uint64_t m_address = 0;
    std::string m_segment;
    std::string m_text;
    size_t m_pos = 0;
};
}  // namespace

TEST(HexFileIntel, RefusesImagesOver64MiB)
{
    CHexFile_mcs image;
    CGeneratedIntel exact(CHexImage::kMaxImageBytes);
    ASSERT_TRUE(image.LoadFrom(exact)) << image.ErrorText();
    ASSERT_EQ(Shape(image), (std::vector<BlockShape>{{0, 64u << 20}}));
    EXPECT_EQ(image.Blocks()[0].data[0x123457], 0x57);

    // Loading adds to the blocks present: one more byte is too many.
    EXPECT_FALSE(LoadText(image, Linear(0x400) + Data(0, {1})));
    EXPECT_EQ(image.ErrorText(), "Buffer too small");
    image.Clear();
    EXPECT_TRUE(LoadText(image, Linear(0x400) + Data(0, {1}))) << image.ErrorText();
}
