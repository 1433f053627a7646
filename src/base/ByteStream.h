#pragma once
// A readable stream of bytes: a local file, an HTTP body, a memory buffer.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class CByteStream {
public:
    virtual ~CByteStream() = default;
    // Reads up to size bytes; returns the count, 0 at the end of the
    // stream, -1 on failure with the thread's last error set.
    virtual long Read(void* buffer, size_t size) = 0;
};

// A file opened for reading; closed by the destructor.
class CFileStream : public CByteStream {
public:
    CFileStream() = default;
    ~CFileStream() override;
    CFileStream(const CFileStream&) = delete;
    CFileStream& operator=(const CFileStream&) = delete;

    // False with the last error set (2 when the file does not exist).
    bool Open(const std::string& path);
    void Close();
    bool IsOpen() const { return m_fd >= 0; }
    long Read(void* buffer, size_t size) override;
    // Size in bytes of the open file, -1 when unknown.
    int64_t Size() const;

private:
    int m_fd = -1;
};

// Reads bytes held in memory (the stream does not own them).
class CMemoryStream : public CByteStream {
public:
    CMemoryStream(const void* data, size_t size) : m_data(static_cast<const uint8_t*>(data)), m_size(size) {}
    long Read(void* buffer, size_t size) override;

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};
