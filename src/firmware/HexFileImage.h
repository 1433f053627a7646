#pragma once
// The memory image read from a firmware image file: sorted,
// non-overlapping blocks of bytes, and what both record readers share.

#include "base/ByteStream.h"
#include "base/Event.h"
#include "firmware/HexFileSource.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

inline constexpr char kHexFileNotFound[] = "File not found";
inline constexpr char kHexBadFormat[] = "Bad File format";
inline constexpr char kHexReadFileError[] = "ReadFile Error";
inline constexpr char kHexBufferTooSmall[] = "Buffer too small";
inline constexpr char kHexSumcheckError[] = "Sumcheck Error";
inline constexpr char kHexOverloadAddress[] = "Invalid File, Overload Address";
inline constexpr char kHexAbortByUser[] = "Abort by user";

struct _MEMBLK {
    uint32_t start = 0;
    std::vector<uint8_t> data;

    uint32_t length() const { return static_cast<uint32_t>(data.size()); }
    uint64_t end() const { return uint64_t{start} + data.size(); }
};
using _MEMBLK_MCS = _MEMBLK;

class CHexImage {
public:
    // Largest image a load accepts.
    static constexpr uint32_t kMaxImageBytes = 64u << 20;

    virtual ~CHexImage() = default;
    CHexImage(const CHexImage&) = delete;
    CHexImage& operator=(const CHexImage&) = delete;

    // Reads the file and adds its records to the blocks already present.
    // False with the error text set on failure.
    virtual bool Load(const std::string& path);
    // Reads the stream from its current position to its end.
    bool LoadFrom(CByteStream& stream);
    // Reads the stream to its end as raw bytes, one block at start (images
    // of FPGA flashes come that way); adds to the blocks already present.
    bool LoadRaw(CByteStream& stream, uint32_t start);
    // Frees every block and zeroes the counters and the abort event.
    void Clear();

    // The start of the first block and the end (exclusive) of the last.
    uint32_t GetStart() const;
    uint32_t GetEnd() const;

    const std::vector<_MEMBLK>& Blocks() const { return m_blocks; }
    // Why the last load failed; empty after a successful load.
    const std::string& ErrorText() const { return m_error; }
    // Data bytes of all data records read (a running total while loading).
    uint32_t DataByteCount() const { return m_dataBytes; }
    // Characters consumed by the current or last load; safe to read from
    // another thread for progress.
    uint32_t CharsRead() const { return m_charsRead.load(std::memory_order_relaxed); }
    // The same counter, for a progress row that reads it while a load runs.
    const std::atomic<uint32_t>& CharsReadCounter() const { return m_charsRead; }
    // When set and signalled, a load stops with "Abort by user".
    void SetAbortEvent(CEvent* abort) { m_abort = abort; }
    CEvent* AbortEvent() const { return m_abort; }

protected:
    // mark and typed describe the record start token of the syntax.
    CHexImage(char mark, bool typed) : m_mark(mark), m_typedMark(typed) {}

    // Reads the records of one file; returns nullptr at the regular end or
    // the error text.
    virtual const char* ReadRecords(CHexTokenizer& tokens) = 0;

    // Places one data record's bytes; false with the error text in error.
    bool AddData(uint64_t address, const uint8_t* bytes, uint32_t count, const char*& error);
    // Publishes progress and tests the abort event (at most once per few
    // kilobytes of text, since each test is a system call).
    bool AbortRequested(uint64_t consumed);
    // Passes over line ends to the next record mark, testing the abort
    // event on the way; the error text, or nullptr with `record` set (its
    // kind is End at the end of the text).
    const char* NextRecord(CHexTokenizer& tokens, CHexToken& record);

    // Joins blocks that touch and sorts them by start; false when two
    // blocks overlap.
    bool JoinAndSort();

    std::vector<_MEMBLK> m_blocks;
    std::string m_error;

private:
    void StoreCurrent();

    const char m_mark;
    const bool m_typedMark;

    _MEMBLK m_current;
    // Room to reserve for the first block (half the file's characters at
    // most), so that a large image is not copied while it grows.
    uint64_t m_reserveHint = 0;
    uint64_t m_imageBytes = 0;
    uint64_t m_lastAbortTest = 0;
    bool m_abortTested = false;
    uint32_t m_dataBytes = 0;
    std::atomic<uint32_t> m_charsRead{0};
    CEvent* m_abort = nullptr;
};
