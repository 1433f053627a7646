#include "HexFileTestUtil.h"
#include "base/Event.h"
#include "firmware/HexFile.h"
#include "firmware/HexFileMcs.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <unistd.h>

namespace {
const std::string kHeader = SRecord('0', 0, {'h', 'd', 'r'}, 2);
const std::string kEnd = SRecord('9', 0, {}, 2);

std::string LowerFirstDigitOfData(std::string line)
{
    // "S1" count(2) address(4): the first data byte starts at column 8.
    line[8] = 'a';
    return line;
}

std::string WithoutLineEnd(std::string line)
{
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    return line;
}
}  // namespace

TEST(HexFileSrec, RejectsMalformedFilesWithTheirTexts)
{
    const std::string good = S1(0x1000, Counting(16));
    const struct {
        const char* what;
        std::string text;
        const char* error;
    } cases[] = {
        {"S3 record", kHeader + SRecord('3', 0x1000, Counting(4), 4) + kEnd, "Bad File format"},
        {"S5 count record", good + SRecord('5', 1, {}, 2), "Bad File format"},
        {"S7 record", SRecord('7', 0, {}, 4), "Bad File format"},
        {"lower-case s", "s" + good.substr(1), "Bad File format"},
        {"lower-case first digit of a byte", LowerFirstDigitOfData(good), "Bad File format"},
        {"blank between records", good + " " + S1(0x1010, Counting(4)), "Bad File format"},
        {"blank before the line end", WithoutLineEnd(good) + " \r\n", "Bad File format"},
        {"byte where a record starts", good + "0102\r\n", "Bad File format"},
        {"line end inside a record", good.substr(0, 20) + "\r\n" + good.substr(20), "Bad File format"},
        {"record start inside a record", good.substr(0, 20) + good, "Bad File format"},
        {"S1 count too short for address and checksum", "S1021000ED\r\n", "Bad File format"},
        {"S2 count too short for address and checksum", "S203001000EC\r\n", "Bad File format"},
        {"bad character in a header", "S003ZZ00\r\n", "Bad File format"},
        {"lone S at the end", good + "S", "Bad File format"},
        {"half a byte where a record starts", good + "1", "Bad File format"},
        {"file cut inside the data", good + good.substr(0, 21), "ReadFile Error"},
        {"file cut inside a byte", good.substr(0, 9), "ReadFile Error"},
        {"file cut after the type", "S1", "ReadFile Error"},
        {"file cut inside a header", SRecord('0', 0, {'a', 'b'}, 2).substr(0, 8), "ReadFile Error"},
        {"bad checksum", kHeader + SRecord('1', 0x1000, Counting(16), 2, 1) + kEnd, "Sumcheck Error"},
        {"bad checksum in S2", SRecord('2', 0x123456, Counting(3), 3, -1), "Sumcheck Error"},
        {"non-hex second character", "S10410000GDC\r\n", "Sumcheck Error"},
        {"overlap", S1(0x1000, Counting(16)) + S1(0x1008, Counting(16)), "Invalid File, Overload Address"},
        {"same start twice", S1(0x1000, Counting(4)) + S1(0x1000, Counting(4)), "Invalid File, Overload Address"},
        {"overlap after joining", S1(0x1000, Counting(16)) + S1(0x2000, Counting(4)) + S1(0x1010, Counting(16)) +
                                      S1(0x101F, Counting(2)),
         "Invalid File, Overload Address"},
    };
    for (const auto& c : cases) {
        CHexFile image;
        EXPECT_FALSE(LoadText(image, c.text)) << c.what;
        EXPECT_EQ(image.ErrorText(), c.error) << c.what;
        EXPECT_FALSE(image.Blocks().empty()) << c.what << ": the blocks read so far stay";
    }
}

TEST(HexFileSrec, LoadsWellFormedFiles)
{
    const struct {
        const char* what;
        std::string text;
        std::vector<BlockShape> shape;
    } cases[] = {
        {"header and termination only", kHeader + kEnd, {{0, 0}}},
        {"empty file", "", {{0, 0}}},
        {"only line ends", "\r\n\n\r", {{0, 0}}},
        {"two records in order", S1(0x1000, Counting(16)) + S1(0x1010, Counting(16)), {{0x1000, 32}}},
        {"two records reversed", S1(0x1010, Counting(16)) + S1(0x1000, Counting(16)), {{0x1000, 32}}},
        {"chain out of order", S1(0x1020, Counting(8)) + S1(0x1000, Counting(16)) + S1(0x1010, Counting(16)),
         {{0x1000, 40}}},
        {"blocks sorted", S1(0x3000, Counting(2)) + S1(0x1000, Counting(2)) + S1(0x2000, Counting(2)),
         {{0x1000, 2}, {0x2000, 2}, {0x3000, 2}}},
        {"last line without line end", kHeader + WithoutLineEnd(S1(0x1000, Counting(4))), {{0x1000, 4}}},
        {"LF line ends and blank lines", "\n\n" + WithoutLineEnd(S1(0x10, Counting(4))) + "\n\n", {{0x10, 4}}},
        {"S2 addresses", S2(0x123456, Counting(10)) + S2(0x123460, Counting(6)) + SRecord('8', 0, {}, 3),
         {{0x123456, 16}}},
        {"S1 and S2 mixed", S1(0xFFF0, Counting(16)) + S2(0x10000, Counting(16)), {{0xFFF0, 32}}},
        {"header checksum is not checked", SRecord('0', 0, {'x'}, 2, 5) + S1(0, Counting(1)), {{0, 1}}},
        {"termination checksum is not checked", S1(0, Counting(1)) + SRecord('9', 0, {}, 2, 7), {{0, 1}}},
        {"records after termination still read", S1(0, Counting(1)) + kEnd + S1(1, Counting(1)), {{0, 2}}},
        {"empty data record joins", S1(0x1000, Counting(4)) + S1(0x1004, {}) + S1(0x1004, Counting(4)),
         {{0x1000, 8}}},
        {"empty record before data is dropped", S1(0x5000, {}) + S1(0x1000, Counting(4)), {{0x1000, 4}}},
        {"empty record last stays", S1(0x1000, Counting(4)) + S1(0x3000, {}), {{0x1000, 4}, {0x3000, 0}}},
        {"empty record last at a junction", S1(0x1000, Counting(4)) + S1(0x1008, Counting(4)) +
                                                S1(0x1004, Counting(4)) + S1(0x1004, {}),
         {{0x1000, 12}}},
        {"full 252-byte record", S1(0x100, Counting(252)), {{0x100, 252}}},
    };
    for (const auto& c : cases) {
        CHexFile image;
        ASSERT_TRUE(LoadText(image, c.text)) << c.what << ": " << image.ErrorText();
        EXPECT_EQ(image.ErrorText(), "") << c.what;
        EXPECT_EQ(Shape(image), c.shape) << c.what;
        EXPECT_EQ(image.GetStart(), c.shape.front().start) << c.what;
        EXPECT_EQ(image.GetEnd(), c.shape.back().start + c.shape.back().length) << c.what;
    }
}

TEST(HexFileSrec, JoinedBlocksKeepByteOrder)
{
    CHexFile image;
    ASSERT_TRUE(LoadText(image, S1(0x1010, Counting(16, 0x10)) + S1(0x1020, Counting(5, 0x20)) +
                                    S1(0x1000, Counting(16, 0x00))));
    ASSERT_EQ(image.Blocks().size(), 1u);
    EXPECT_EQ(image.Blocks()[0].data, Counting(0x25));
    EXPECT_EQ(image.DataByteCount(), 37u);
}

TEST(HexFileSrec, CountsCharactersAndDataBytes)
{
    const std::string text = kHeader + S1(0x1000, Counting(16)) + S2(0x20000, Counting(7)) + kEnd;
    CHexFile image;
    ASSERT_TRUE(LoadText(image, text));
    EXPECT_EQ(image.CharsRead(), text.size());
    EXPECT_EQ(image.DataByteCount(), 23u);

    // A failed load stops counting where it stopped reading.
    const std::string bad = S1(0x1000, Counting(4)) + "S3";
    ASSERT_FALSE(LoadText(image, bad));
    EXPECT_EQ(image.CharsRead(), bad.size());
    EXPECT_EQ(image.DataByteCount(), 27u) << "the data byte count runs on until Clear";

    image.Clear();
    EXPECT_EQ(image.CharsRead(), 0u);
    EXPECT_EQ(image.DataByteCount(), 0u);
    EXPECT_TRUE(image.Blocks().empty());
    EXPECT_EQ(image.GetEnd(), 0u);
}

TEST(HexFileSrec, LoadingAddsToThePresentBlocks)
{
    CHexFile image;
    ASSERT_TRUE(LoadText(image, S1(0x1000, Counting(16))));
    ASSERT_TRUE(LoadText(image, S1(0x1010, Counting(16, 16))));
    EXPECT_EQ(Shape(image), (std::vector<BlockShape>{{0x1000, 32}}));
    EXPECT_EQ(image.Blocks()[0].data, Counting(32));

    EXPECT_FALSE(LoadText(image, S1(0x1008, Counting(2))));
    EXPECT_EQ(image.ErrorText(), "Invalid File, Overload Address");
    image.Clear();
    ASSERT_TRUE(LoadText(image, S1(0x1008, Counting(2))));
    EXPECT_EQ(Shape(image), (std::vector<BlockShape>{{0x1008, 2}}));
}

TEST(HexFileSrec, LoadReportsFileErrors)
{
    char dir[] = "/tmp/telvane-hexXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/image.s19";

    CHexFile srec;
    EXPECT_FALSE(srec.Load(path));
    EXPECT_EQ(srec.ErrorText(), "No such file or directory");
    EXPECT_FALSE(srec.Load(""));
    EXPECT_EQ(srec.ErrorText(), "No such file or directory");
    // A directory opens but cannot be read.
    EXPECT_FALSE(srec.Load(dir));
    EXPECT_EQ(srec.ErrorText(), "ReadFile Error");

    CHexFile_mcs intel;
    EXPECT_FALSE(intel.Load(""));
    EXPECT_EQ(intel.ErrorText(), "File not found");

    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    const std::string text = kHeader + S1(0x2000, Counting(3));
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    srec.Clear();
    ASSERT_TRUE(srec.Load(path)) << srec.ErrorText();
    EXPECT_EQ(Shape(srec), (std::vector<BlockShape>{{0x2000, 3}}));

    // LoadFrom starts at the stream's current position.
    CFileStream stream;
    ASSERT_TRUE(stream.Open(path));
    char skip[64];
    ASSERT_EQ(stream.Read(skip, kHeader.size()), static_cast<long>(kHeader.size()));
    CHexFile rest;
    ASSERT_TRUE(rest.LoadFrom(stream));
    EXPECT_EQ(rest.CharsRead(), text.size() - kHeader.size());
    unlink(path.c_str());
    rmdir(dir);
}

namespace {
// Endless S-record text, one record after another; reports how far it got.
class CEndlessRecords : public CByteStream {
public:
    long Read(void* buffer, size_t size) override
    {
        if (m_pending.empty()) {
            m_pending = S2(m_address & 0xFFFFFF, Counting(32));
            m_address += 32;
        }
        size_t n = std::min(size, m_pending.size());
        std::memcpy(buffer, m_pending.data(), n);
        m_pending.erase(0, n);
        m_served.fetch_add(n);
        return static_cast<long>(n);
    }
    std::atomic<uint64_t> m_served{0};

private:
    std::string m_pending;
    uint32_t m_address = 0;
};

// Fails with a read error after its text.
class CFailingStream : public CByteStream {
public:
    explicit CFailingStream(std::string text) : m_text(std::move(text)) {}
    long Read(void* buffer, size_t size) override
    {
        if (m_done)
            return -1;
        m_done = true;
        std::memcpy(buffer, m_text.data(), std::min(size, m_text.size()));
        return static_cast<long>(std::min(size, m_text.size()));
    }

private:
    std::string m_text;
    bool m_done = false;
};
}  // namespace

TEST(HexFileSrec, SignalledAbortEventStopsTheLoad)
{
    CEvent abort(true, true);
    CHexFile image;
    image.SetAbortEvent(&abort);
    EXPECT_FALSE(LoadText(image, S1(0x1000, Counting(4))));
    EXPECT_EQ(image.ErrorText(), "Abort by user");
    EXPECT_EQ(Shape(image), (std::vector<BlockShape>{{0, 0}})) << "the current block is stored";

    abort.Reset();
    image.Clear();
    EXPECT_EQ(image.AbortEvent(), nullptr) << "Clear drops the abort event";
    image.SetAbortEvent(&abort);
    EXPECT_TRUE(LoadText(image, S1(0x1000, Counting(4))));
}

TEST(HexFileSrec, AbortFromAnotherThreadWhileProgressIsShown)
{
    CEvent abort(true);
    CHexFile image;
    image.SetAbortEvent(&abort);
    CEndlessRecords stream;
    std::atomic<bool> done{false};
    std::thread watcher([&] {
        // Waits until the load has visibly made progress, then aborts.
        while (image.CharsRead() < 1000000 && !done.load())
            std::this_thread::yield();
        abort.Set();
    });
    bool loaded = image.LoadFrom(stream);
    done = true;
    watcher.join();
    EXPECT_FALSE(loaded);
    EXPECT_EQ(image.ErrorText(), "Abort by user");
    EXPECT_GE(image.CharsRead(), 1000000u);
    EXPECT_LE(image.CharsRead(), stream.m_served.load());
    ASSERT_FALSE(image.Blocks().empty());
    EXPECT_GT(image.Blocks().front().length(), 0u) << "the block read so far stays";
}

TEST(HexFileSrec, ReadErrorOfTheStreamFailsTheLoad)
{
    // A download that breaks off between records must not look complete.
    CHexFile image;
    CFailingStream stream(S1(0x1000, Counting(4)));
    EXPECT_FALSE(image.LoadFrom(stream));
    EXPECT_EQ(image.ErrorText(), "ReadFile Error");
}
