#pragma once
// A traffic log file: appended to when it exists, created otherwise. While
// it is open no other log file of this program can write to it (an
// exclusive lock), as two windows logging into one file would interleave
// their lines.
//
// Threads: one owner; not synchronised.

#include <string>
#include <string_view>

class CLogFile {
public:
    CLogFile() = default;
    ~CLogFile() { Close(); }
    CLogFile(const CLogFile&) = delete;
    CLogFile& operator=(const CLogFile&) = delete;

    // False with the last error when it cannot be opened or is locked.
    bool Open(const std::string& path);
    void Close();
    bool IsOpen() const { return m_fd >= 0; }
    // Writes all of it; false with the last error.
    bool Write(std::string_view text);

private:
    int m_fd = -1;
};
