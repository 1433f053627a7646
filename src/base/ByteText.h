#pragma once
// The one syntax of bytes typed by hand (command line, console lines):
// hexadecimal pairs, each token optionally prefixed "0x", tokens separated
// by blanks, so that "F5 00 10 00", "0xF5 0x00" and "F5001000" are the
// same bytes whether they come as one word or several.
//
// Threads: plain functions.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Appends the bytes of every word (a blank word holds none); false at the
// first token that is not hexadecimal pairs, with that token in bad (out
// keeps the bytes before).
bool ParseByteWords(const std::vector<std::string>& words, std::vector<uint8_t>& out, std::string& bad);

// The same for one word.
bool ParseByteText(std::string_view text, std::vector<uint8_t>& out, std::string& bad);
