#pragma once
// The simulated boards' replies, laid out by the structures of the example
// decode file (examples/Cb_v126.dec, built into the program), so that what
// the simulator sends is what that file decodes: a field added, removed or
// resized there changes the replies with it.
//
// A reply names its code and some fields with argument texts as the command
// encoding reads them ("3", "5.02,3.31", "CB-0101", an enum item's name);
// fields not named are zero. A code or field name the file does not have is
// a programming error and throws std::logic_error.
//
// Threads: the compiled file is built once and read-only afterwards; any
// thread may build replies at any time. No waits.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class CSimReplies {
public:
    using Fields = std::vector<std::pair<std::string, std::string>>;

    // The code (one byte, or two for codes above 0xFF) and the structure's
    // bytes with the fields given.
    static std::vector<uint8_t> Build(int32_t code, const Fields& fields);
    // The structure's size after the code; throws when the file lacks it.
    static int Size(int32_t code);
};
