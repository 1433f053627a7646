#include "firmware/HexFileImage.h"

#include "base/Error.h"

#include <algorithm>

namespace {
constexpr size_t kMaxOpenErrorText = 256;
constexpr uint64_t kAddressSpace = uint64_t{1} << 32;
constexpr uint64_t kAbortTestInterval = 4096;
constexpr size_t kShrinkSlack = 64 * 1024;
}  // namespace

bool CHexImage::Load(const std::string& path)
{
    CFileStream file;
    if (!file.Open(path)) {
        m_error = LastErrText().substr(0, kMaxOpenErrorText);
        return false;
    }
    m_reserveHint = file.Size() > 0 ? static_cast<uint64_t>(file.Size()) / 2 : 0;
    bool loaded = LoadFrom(file);
    m_reserveHint = 0;
    return loaded;
}

bool CHexImage::LoadFrom(CByteStream& stream)
{
    m_error.clear();
    m_charsRead.store(0, std::memory_order_relaxed);
    m_current = _MEMBLK{};
    m_abortTested = false;
    m_imageBytes = 0;
    for (const auto& block : m_blocks)
        m_imageBytes += block.data.size();

    CHexTokenizer tokens(stream, m_mark, m_typedMark);
    const char* error = ReadRecords(tokens);
    m_charsRead.store(static_cast<uint32_t>(tokens.Consumed()), std::memory_order_relaxed);
    StoreCurrent();
    if (error) {
        m_error = error;
        return false;
    }
    if (!JoinAndSort()) {
        m_error = kHexOverloadAddress;
        return false;
    }
    return true;
}

bool CHexImage::LoadRaw(CByteStream& stream, uint32_t start)
{
    m_error.clear();
    m_charsRead.store(0, std::memory_order_relaxed);
    m_abortTested = false;
    _MEMBLK block;
    block.start = start;
    uint64_t consumed = 0;
    uint8_t buffer[16 * 1024];
    for (;;) {
        if (AbortRequested(consumed)) {
            m_error = kHexAbortByUser;
            return false;
        }
        const long n = stream.Read(buffer, sizeof buffer);
        if (n < 0) {
            m_error = kHexReadFileError;
            return false;
        }
        if (n == 0)
            break;
        consumed += static_cast<uint64_t>(n);
        if (block.data.size() + static_cast<size_t>(n) > kMaxImageBytes) {
            m_error = kHexBufferTooSmall;
            return false;
        }
        if (start + block.data.size() + static_cast<size_t>(n) >= kAddressSpace) {
            m_error = kHexOverloadAddress;
            return false;
        }
        block.data.insert(block.data.end(), buffer, buffer + n);
    }
    m_charsRead.store(static_cast<uint32_t>(consumed), std::memory_order_relaxed);
    m_dataBytes += static_cast<uint32_t>(block.data.size());
    m_blocks.push_back(std::move(block));
    if (!JoinAndSort()) {
        m_error = kHexOverloadAddress;
        return false;
    }
    return true;
}

void CHexImage::Clear()
{
    m_blocks.clear();
    m_blocks.shrink_to_fit();
    m_current = _MEMBLK{};
    m_imageBytes = 0;
    m_dataBytes = 0;
    m_charsRead.store(0, std::memory_order_relaxed);
    m_abort = nullptr;
}

uint32_t CHexImage::GetStart() const { return m_blocks.empty() ? 0 : m_blocks.front().start; }

uint32_t CHexImage::GetEnd() const
{
    return m_blocks.empty() ? 0 : static_cast<uint32_t>(m_blocks.back().end());
}

bool CHexImage::AddData(uint64_t address, const uint8_t* bytes, uint32_t count, const char*& error)
{
    m_dataBytes += count;
    // The end address must stay a 32-bit number.
    if (address + count >= kAddressSpace) {
        error = kHexOverloadAddress;
        return false;
    }
    if (m_imageBytes + count > kMaxImageBytes) {
        error = kHexBufferTooSmall;
        return false;
    }
    m_imageBytes += count;
    if (m_current.data.empty()) {
        m_current.start = static_cast<uint32_t>(address);
        if (m_reserveHint) {
            m_current.data.reserve(std::min(m_reserveHint, kMaxImageBytes - m_imageBytes + count));
            m_reserveHint = 0;
        }
        m_current.data.assign(bytes, bytes + count);
    } else if (address == m_current.end()) {
        m_current.data.insert(m_current.data.end(), bytes, bytes + count);
    } else {
        StoreCurrent();
        m_current.start = static_cast<uint32_t>(address);
        m_current.data.assign(bytes, bytes + count);
    }
    return true;
}

bool CHexImage::AbortRequested(uint64_t consumed)
{
    m_charsRead.store(static_cast<uint32_t>(consumed), std::memory_order_relaxed);
    if (!m_abort || (m_abortTested && consumed - m_lastAbortTest < kAbortTestInterval))
        return false;
    m_abortTested = true;
    m_lastAbortTest = consumed;
    return m_abort->IsSet();
}

const char* CHexImage::NextRecord(CHexTokenizer& tokens, CHexToken& record)
{
    for (;;) {
        if (AbortRequested(tokens.Consumed()))
            return kHexAbortByUser;
        record = tokens.Next();
        switch (record.kind) {
        case HexTokenKind::End:
        case HexTokenKind::Record:
            return nullptr;
        case HexTokenKind::EndOfLine:
            continue;
        case HexTokenKind::Failed:
            return kHexReadFileError;
        default:
            return kHexBadFormat;
        }
    }
}

void CHexImage::StoreCurrent()
{
    // Gives back a reservation the block did not need (growth alone never
    // leaves more unused room than the block's size).
    const size_t unused = m_current.data.capacity() - m_current.data.size();
    if (unused > std::max(m_current.data.size(), kShrinkSlack))
        m_current.data.shrink_to_fit();
    m_blocks.push_back(std::move(m_current));
    m_current = _MEMBLK{};
}

bool CHexImage::JoinAndSort()
{
    // An empty block sorts before a block with the same start, so that it
    // is joined to it instead of being taken for an overlap.
    std::stable_sort(m_blocks.begin(), m_blocks.end(), [](const _MEMBLK& a, const _MEMBLK& b) {
        return a.start != b.start ? a.start < b.start : a.data.size() < b.data.size();
    });
    std::vector<_MEMBLK> joined;
    joined.reserve(m_blocks.size());
    for (auto& block : m_blocks) {
        if (!joined.empty() && joined.back().end() == block.start) {
            auto& tail = joined.back().data;
            tail.insert(tail.end(), block.data.begin(), block.data.end());
        } else {
            joined.push_back(std::move(block));
        }
    }
    m_blocks = std::move(joined);

    uint64_t reach = 0;
    for (size_t i = 0; i < m_blocks.size(); ++i) {
        if (i > 0 && m_blocks[i].start < reach)
            return false;
        reach = std::max(reach, m_blocks[i].end());
    }
    return true;
}
