#include "firmware/HexFileMcs.h"

#include <algorithm>

namespace {
enum RecordType : uint8_t {
    kData = 0,
    kEndOfFile = 1,
    kExtendedSegment = 2,
    kExtendedLinear = 4,
};

// Head of a record: count, address high, address low, type.
constexpr unsigned kHeadBytes = 4;
}  // namespace

bool CHexFile_mcs::Load(const std::string& path)
{
    if (path.empty()) {
        m_error = kHexFileNotFound;
        return false;
    }
    return CHexImage::Load(path);
}

const char* CHexFile_mcs::ReadRecords(CHexTokenizer& tokens)
{
    uint8_t head[kHeadBytes];
    uint8_t data[256];
    uint64_t base = 0;
    for (;;) {
        CHexToken token{};
        if (const char* error = NextRecord(tokens, token))
            return error;
        if (token.kind == HexTokenKind::End)
            return nullptr;

        if (const char* error = tokens.ReadRecordBytes(head, kHeadBytes))
            return error;
        const unsigned count = head[0];
        // Data and checksum in one go.
        if (const char* error = tokens.ReadRecordBytes(data, count + 1))
            return error;
        unsigned sum = head[0] + head[1] + head[2] + head[3];
        for (unsigned i = 0; i < count; ++i)
            sum += data[i];
        if (static_cast<uint8_t>(-sum) != data[count])
            return kHexSumcheckError;

        switch (head[3]) {
        case kData: {
            const char* error = nullptr;
            if (!AddData(base + (head[1] << 8 | head[2]), data, count, error))
                return error;
            break;
        }
        case kEndOfFile:
            return nullptr;
        case kExtendedSegment:
        case kExtendedLinear:
            // The new base is in the first two data bytes.
            if (count < 2)
                return kHexBadFormat;
            base = uint64_t{data[0]} << 8 | data[1];
            base <<= head[3] == kExtendedSegment ? 4 : 16;
            break;
        default:
            break;
        }
    }
}

void CHexFile_mcs::AlignPages()
{
    // Blocks from a good load are sorted already; after a failed load this
    // keeps the filling from ever spanning more than one page.
    std::stable_sort(m_blocks.begin(), m_blocks.end(),
                     [](const _MEMBLK& a, const _MEMBLK& b) { return a.start < b.start; });

    auto padTail = [](_MEMBLK& block) {
        block.data.resize((block.data.size() + kPageSize - 1) / kPageSize * kPageSize, kFillByte);
    };
    std::vector<_MEMBLK> aligned;
    aligned.reserve(m_blocks.size());
    size_t next = 0;
    while (next < m_blocks.size()) {
        _MEMBLK block = std::move(m_blocks[next++]);
        if (block.start >= kAlignLimit) {
            aligned.push_back(std::move(block));
            continue;
        }
        if (uint32_t lead = block.start % kPageSize) {
            block.data.insert(block.data.begin(), lead, kFillByte);
            block.start -= lead;
        }
        // Take in every following block that starts in the page where this
        // one ends, filling the gap.
        while (next < m_blocks.size()) {
            const _MEMBLK& following = m_blocks[next];
            const uint64_t end = block.end();
            const uint64_t lastPage = (end + kPageSize - 1) / kPageSize - 1;
            if (following.start < end || following.start / kPageSize != lastPage)
                break;
            block.data.resize(following.start - block.start, kFillByte);
            block.data.insert(block.data.end(), following.data.begin(), following.data.end());
            ++next;
        }
        padTail(block);
        aligned.push_back(std::move(block));
    }
    m_blocks = std::move(aligned);
    JoinAndSort();
}
