#pragma once
// The number text of values described "Use 0x for hex value".

#include <cstdint>
#include <string_view>

// Leading blanks and TABs skipped; one '+' or '-'; decimal digits; a
// lower-case 'x' right after a single leading 0 (and no minus) switches to
// hexadecimal; any other character ends the number; a minus negates
// decimal numbers only. 0 when no digit was read.
int32_t ParseNumberText(std::string_view text);

// A whole text that is a number and nothing else: decimal with an optional
// sign, or "0x" hexadecimal (lower-case x, as ParseNumberText reads it); no
// blanks, at most 10 digits. False for any other text, value unchanged.
bool ParseStrictNumber(std::string_view text, int64_t& value);
