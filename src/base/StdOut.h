#pragma once
// The print interface that windows and tools print their messages through.
//
// Threads: implementations may be called from any thread; each Print is one
// piece of text that reaches the output whole (an output box hands it to
// its ring, CStdOutFile writes it with one stdio call, which locks the
// stream). A print may block while the output's ring is full, never longer.

#include <cstdarg>
#include <cstdio>

class CStdOut {
public:
    virtual ~CStdOut() = default;
    // Both return the number of characters printed.
    virtual int Print(const char* format, ...) __attribute__((format(printf, 2, 3)));
    virtual int PrintV(const char* format, va_list args) = 0;
};

inline int CStdOut::Print(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int n = PrintV(format, args);
    va_end(args);
    return n;
}

// Prints to a C stream such as stdout.
class CStdOutFile : public CStdOut {
public:
    explicit CStdOutFile(FILE* file) : m_file(file) {}
    int PrintV(const char* format, va_list args) override { return std::vfprintf(m_file, format, args); }

private:
    FILE* m_file;
};
