#pragma once
// Random access to the bytes of a file (or of a block in memory) by
// position, through a read window so that matching byte by byte stays cheap.
// A file that is not a regular file (a pipe, /dev/stdin) is read to its end
// at open, since only a regular file has a size to go by.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class CSeekReader {
public:
    CSeekReader() = default;
    ~CSeekReader();
    CSeekReader(const CSeekReader&) = delete;
    CSeekReader& operator=(const CSeekReader&) = delete;

    // Opens a file for reading; false with the thread's last error set.
    bool Open(const std::string& path);
    // Reads bytes held in memory (not copied; they must outlive the reader).
    void Attach(const void* data, size_t size);
    void Close();
    bool IsOpen() const { return m_fd >= 0 || m_memory; }

    int64_t Size() const { return m_size; }

    // The byte at pos (0 to 255), or -1 at or after the end of the file.
    int At(int64_t pos)
    {
        uint64_t offset = static_cast<uint64_t>(pos - m_winStart);
        if (offset < m_winLength)
            return m_window[offset];
        return Load(pos);
    }

    // The bytes from `from` up to (not including) `to`.
    std::string Read(int64_t from, int64_t to);

private:
    int Load(int64_t pos);
    bool ReadAll(int fd);

    int m_fd = -1;
    bool m_memory = false;
    int64_t m_size = 0;
    const uint8_t* m_window = nullptr;
    int64_t m_winStart = 0;
    uint64_t m_winLength = 0;
    std::vector<uint8_t> m_buffer;
};
