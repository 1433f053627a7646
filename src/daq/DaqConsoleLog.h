#pragma once
// The DAQ server's lines for a terminal or a log file: each print starts with
// the time ("%H:%M:%S "), and CR LF line ends become LF. Prints from several
// threads are written whole, one after the other.

#include "base/StdOut.h"

#include <cstdio>
#include <mutex>

class CDaqConsoleLog : public CStdOut {
public:
    explicit CDaqConsoleLog(FILE* file) : m_file(file) {}
    int PrintV(const char* format, va_list args) override;

private:
    std::mutex m_lock;
    FILE* m_file;
};
