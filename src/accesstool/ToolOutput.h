#pragma once
// Everything the tool prints, byte for byte, to one stream.

#include <cstdio>
#include <string>
#include <string_view>

class CToolOutput {
public:
    explicit CToolOutput(std::FILE* stream) : stream_(stream) {}

    void Usage();
    void InvalidParam(std::string_view param);
    void FailEnable(std::string_view privilege);
    void VolumeUnsupported();
    void Folder(std::string_view path);
    void File(std::string_view path);
    void Error(std::string_view step, int errnum);
    // The same line with a message of its own where the system's would mislead.
    void Error(std::string_view step, int errnum, std::string_view message);

    // "<step> error! (rc=<errno>)\n<system message>\r\n"
    static std::string ErrorText(std::string_view step, int errnum);
    static std::string ErrorText(std::string_view step, int errnum, std::string_view message);
    static const char* UsageText();

private:
    // Each text is written as one unit and flushed, so that what is printed
    // before a change has left the program when the change is made.
    void Write(std::string_view text);

    std::FILE* stream_;
};
