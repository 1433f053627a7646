#pragma once
// The log file of an output box: opened for appending (created when
// missing) and locked against other writers while open. GUI thread only;
// writes go straight to the file without waiting for locks.

#include <string>
#include <string_view>

class COutLogFile {
public:
    COutLogFile() = default;
    ~COutLogFile() { Close(); }
    COutLogFile(const COutLogFile&) = delete;
    COutLogFile& operator=(const COutLogFile&) = delete;

    // False with the last error set when the file cannot be opened, or
    // err::SharingViolation when another writer holds it.
    bool Open(const std::string& path);
    void Close();
    bool IsOpen() const { return m_fd >= 0; }
    const std::string& Path() const { return m_path; }
    // Writes the text unchanged; false with the last error on a failure.
    bool Write(std::string_view text);

private:
    int m_fd = -1;
    std::string m_path;
};
