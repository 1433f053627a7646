#pragma once
// A file under /tmp with given content, removed when the test ends.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <unistd.h>

class CTempFile {
public:
    explicit CTempFile(const std::string& content, const char* suffix = ".dec")
    {
        std::string name = std::string("/tmp/telvane-test-XXXXXX") + suffix;
        m_path.assign(name.begin(), name.end());
        int fd = mkstemps(m_path.data(), static_cast<int>(std::string(suffix).size()));
        EXPECT_GE(fd, 0);
        EXPECT_EQ(write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
        close(fd);
    }
    ~CTempFile() { unlink(m_path.c_str()); }
    CTempFile(const CTempFile&) = delete;
    CTempFile& operator=(const CTempFile&) = delete;
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};
