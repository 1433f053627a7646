// Images written by SRecord's srec_cat, the reference tool for both file
// formats: our readers must give the same bytes and the same blocks.

#include "HexFileTestUtil.h"
#include "firmware/HexFile.h"
#include "firmware/HexFileMcs.h"
#include "support/RunCommand.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>

namespace fs = std::filesystem;

namespace {
struct Piece {
    uint32_t address;
    size_t size;
};

int RunShell(const std::string& command) { return RunCommand(command).status; }

std::string Capture(const std::string& command) { return RunCommand(command).out; }

std::string ReadText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

Bytes ReadBytes(const fs::path& path)
{
    std::string text = ReadText(path);
    return Bytes(text.begin(), text.end());
}

void WriteText(const fs::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

std::string Quoted(const fs::path& path) { return "'" + path.string() + "'"; }

// The bytes from the image's start to its end, gaps as 0xFF.
Bytes Flatten(const CHexImage& image)
{
    Bytes flat(image.GetEnd() - image.GetStart(), 0xFF);
    for (const auto& b : image.Blocks())
        std::copy(b.data.begin(), b.data.end(), flat.begin() + (b.start - image.GetStart()));
    return flat;
}

class SrecCatPeer : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (RunShell("command -v srec_cat >/dev/null 2>&1 && command -v srec_info >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "srec_cat and srec_info (Debian package srecord) are not installed";
        char pattern[] = "/tmp/telvane-srecXXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
    }
    void TearDown() override
    {
        if (!m_dir.empty())
            fs::remove_all(m_dir);
    }

    // Writes the pieces (random bytes) as one file in the given srec_cat
    // output format.
    fs::path WriteImage(const std::string& name, const std::vector<Piece>& pieces, const std::string& format,
                        unsigned seed)
    {
        std::mt19937 random(seed);
        std::string inputs;
        for (size_t i = 0; i < pieces.size(); ++i) {
            Bytes bytes(pieces[i].size);
            for (auto& b : bytes)
                b = static_cast<uint8_t>(random());
            fs::path bin = m_dir / (name + std::to_string(i) + ".bin");
            WriteText(bin, std::string(bytes.begin(), bytes.end()));
            inputs += Quoted(bin) + " -binary -offset " + std::to_string(pieces[i].address) + " ";
        }
        fs::path out = m_dir / name;
        EXPECT_EQ(RunShell("srec_cat " + inputs + "-o " + Quoted(out) + " " + format + " 2>/dev/null"), 0) << name;
        return out;
    }

    // srec_cat's flat binary of the file, gaps filled with 0xFF.
    Bytes ReferenceBinary(const fs::path& file, bool intel)
    {
        const std::string in = Quoted(file) + (intel ? " -intel" : "");
        fs::path out = m_dir / "reference.bin";
        EXPECT_EQ(RunShell("srec_cat '(' " + in + " -fill 0xFF -over " + in + " ')' -offset - -minimum-addr " + in +
                      " -o " + Quoted(out) + " -binary 2>/dev/null"),
                  0);
        return ReadBytes(out);
    }

    // srec_info's list of data ranges.
    std::vector<BlockShape> ReferenceBlocks(const fs::path& file, bool intel)
    {
        std::string info = Capture("srec_info " + Quoted(file) + (intel ? " -intel" : "") + " 2>/dev/null");
        std::vector<BlockShape> blocks;
        static const std::regex range("([0-9A-F]+) - ([0-9A-F]+)");
        for (auto it = std::sregex_iterator(info.begin(), info.end(), range); it != std::sregex_iterator(); ++it) {
            uint32_t first = static_cast<uint32_t>(std::stoul((*it)[1], nullptr, 16));
            uint32_t last = static_cast<uint32_t>(std::stoul((*it)[2], nullptr, 16));
            blocks.push_back({first, last - first + 1});
        }
        return blocks;
    }

    // Shuffles the data records, keeping the header first and the
    // termination or end record last.
    void ShuffleRecords(const fs::path& file, unsigned seed)
    {
        std::istringstream in(ReadText(file));
        std::vector<std::string> head, data, tail;
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("S0", 0) == 0)
                head.push_back(line);
            else if (line.rfind("S1", 0) == 0 || line.rfind("S2", 0) == 0 || line.rfind(":", 0) == 0)
                (line.rfind(":00000001", 0) == 0 ? tail : data).push_back(line);
            else
                tail.push_back(line);
        }
        std::shuffle(data.begin(), data.end(), std::mt19937(seed));
        std::string text;
        for (const auto* part : {&head, &data, &tail})
            for (const auto& line : *part)
                text += line + "\n";
        WriteText(file, text);
    }

    fs::path m_dir;
};

std::unique_ptr<CHexImage> Reader(bool intel)
{
    if (intel)
        return std::make_unique<CHexFile_mcs>();
    return std::make_unique<CHexFile>();
}
}  // namespace

TEST_F(SrecCatPeer, ImagesLoadByteForByte)
{
    const std::vector<Piece> gaps = {{0x1000, 100}, {0x1065, 1},      {0x3010, 300},
                                     {0xFFF0, 64},  {0x20000, 1000}, {0xFFF000, 0x1000}};
    const struct {
        const char* name;
        std::vector<Piece> pieces;
        const char* format;
        bool intel;
        bool shuffle;
    } cases[] = {
        {"one_block.s19", {{0x1000, 4096}}, "-motorola -address-length=2 -obs=32 -disable=data-count", false, false},
        {"long_lines.s19", {{0, 8000}}, "-motorola -address-length=2 -obs=250 -disable=data-count", false, false},
        {"gaps.s19", gaps, "-motorola -address-length=3 -obs=16 -disable=data-count", false, false},
        {"shuffled.s19", gaps, "-motorola -address-length=3 -obs=20 -disable=data-count", false, true},
        {"shuffled_s1.s19", {{0x100, 3000}, {0x2000, 77}}, "-motorola -address-length=2 -obs=24 -disable=data-count", false, true},
        {"linear.hex", {{0x8000, 0x10000}, {0x3FFF0, 40}, {0x123456, 500}}, "-intel -address-length=4 -obs=32",
         true, false},
        {"segmented.hex", {{0x1000, 300}, {0x1FFF0, 0x40}, {0x9F000, 0x800}}, "-intel -address-length=3 -obs=16",
         true, false},
        {"shuffled.hex", {{0x10, 2000}, {0x4000, 5}, {0xF000, 0x1000}}, "-intel -address-length=2 -obs=16", true,
         true},
    };
    unsigned seed = 1;
    for (const auto& c : cases) {
        fs::path file = WriteImage(c.name, c.pieces, c.format, seed++);
        if (c.shuffle)
            ShuffleRecords(file, seed);
        auto image = Reader(c.intel);
        ASSERT_TRUE(image->Load(file)) << c.name << ": " << image->ErrorText();
        EXPECT_EQ(Shape(*image), ReferenceBlocks(file, c.intel)) << c.name;
        EXPECT_EQ(Flatten(*image), ReferenceBinary(file, c.intel)) << c.name;
        // Reading stops after the end record, before its line end.
        EXPECT_EQ(image->CharsRead(), fs::file_size(file) - (c.intel ? 1 : 0)) << c.name;
        size_t total = 0;
        for (const auto& p : c.pieces)
            total += p.size;
        EXPECT_EQ(image->DataByteCount(), total) << c.name;
    }
}

TEST_F(SrecCatPeer, DamagedFilesFailWithTheirTexts)
{
    const fs::path srec = WriteImage("good.s19", {{0x2000, 256}}, "-motorola -address-length=2 -obs=32 -disable=data-count", 7);
    const fs::path intel = WriteImage("good.hex", {{0x12000, 256}}, "-intel -obs=32", 8);
    const std::string srecText = ReadText(srec);
    const std::string intelText = ReadText(intel);
    const size_t secondLine = srecText.find('\n') + 1;
    const size_t thirdLine = srecText.find('\n', secondLine) + 1;

    std::string badSum = srecText;
    badSum[thirdLine - 2] = badSum[thirdLine - 2] == '0' ? '1' : '0';
    std::string lower = srecText;
    const size_t letter = lower.find_first_of("ABCDEF", secondLine + 8);
    lower[letter] = static_cast<char>(std::tolower(lower[letter]));
    std::string intelBadSum = intelText;
    const size_t intelLineEnd = intelBadSum.find('\n', intelBadSum.find('\n') + 1);
    intelBadSum[intelLineEnd - 1] = intelBadSum[intelLineEnd - 1] == '0' ? '1' : '0';
    const fs::path s3 = WriteImage("s3.s19", {{0x2000, 16}}, "-motorola -address-length=4", 9);
    const fs::path other = WriteImage("other.s19", {{0x2080, 16}}, "-motorola -address-length=2 -disable=data-count", 10);

    const struct {
        const char* name;
        std::string text;
        bool intel;
        const char* error;
        bool srecCatRejects;
    } cases[] = {
        {"bad_sum.s19", badSum, false, "Sumcheck Error", true},
        {"bad_sum.hex", intelBadSum, true, "Sumcheck Error", true},
        {"s3.s19", ReadText(s3), false, "Bad File format", false},
        {"lower.s19", lower, false, "Bad File format", false},
        {"cut.s19", srecText.substr(0, thirdLine + 20), false, "ReadFile Error", true},
        {"cut.hex", intelText.substr(0, intelLineEnd - 5), true, "ReadFile Error", true},
        {"overlap.s19", srecText + ReadText(other), false, "Invalid File, Overload Address", true},
    };
    for (const auto& c : cases) {
        const fs::path file = m_dir / c.name;
        WriteText(file, c.text);
        auto image = Reader(c.intel);
        EXPECT_FALSE(image->Load(file)) << c.name;
        EXPECT_EQ(image->ErrorText(), c.error) << c.name;
        if (c.srecCatRejects) {
            EXPECT_NE(RunShell("srec_cat " + Quoted(file) + (c.intel ? " -intel" : "") + " -o /dev/null 2>/dev/null"), 0)
                << c.name << ": srec_cat rejects it too";
        }
    }
}

TEST_F(SrecCatPeer, CommandLineWritesTheSameBinary)
{
    const fs::path cli = TelvaneCli();
    if (cli.empty())
        GTEST_SKIP() << "telvane-cli is not built in " << TELVANE_BINARY_DIR;
    const fs::path file = WriteImage("cli.hex", {{0x10040, 0x30}, {0x10100, 0x41}}, "-intel -obs=16", 11);
    const fs::path out = m_dir / "cli.bin";

    EXPECT_EQ(Capture(Quoted(cli) + " hex " + Quoted(file) + " --intel --bin " + Quoted(out)),
              "Hex File Start 0x00010040 End 0x00010141\n0x00010040 48\n0x00010100 65\n");
    EXPECT_EQ(ReadBytes(out), ReferenceBinary(file, true));

    EXPECT_EQ(Capture(Quoted(cli) + " hex " + Quoted(file) + " --intel --walk 64"),
              "Hex File Start 0x00010040 End 0x00010141\n0x00010040 48\n0x00010100 64\n0x00010140 1\n");
    EXPECT_EQ(Capture(Quoted(cli) + " hex " + Quoted(file) + " --intel --align"),
              "Hex File Start 0x00010040 End 0x00010180\n0x00010040 64\n0x00010100 128\n");

    WriteText(m_dir / "bad.s19", "S3\r\n");
    EXPECT_EQ(RunShell(Quoted(cli) + " hex " + Quoted(m_dir / "bad.s19") + " 2>" + Quoted(m_dir / "err.txt")), 1);
    EXPECT_EQ(ReadText(m_dir / "err.txt"), "telvane-cli: " + (m_dir / "bad.s19").string() + ": Bad File format\n");
    EXPECT_EQ(RunShell(Quoted(cli) + " hex " + Quoted(file) + " --walk 48 >/dev/null 2>&1"), 2);
}
