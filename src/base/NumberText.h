#pragma once
// The number text of values described "Use 0x for hex value".

#include <cstdint>
#include <string_view>

// Leading blanks and TABs skipped; one '+' or '-'; decimal digits; a
// lower-case 'x' right after a single leading 0 (and no minus) switches to
// hexadecimal; any other character ends the number; a minus negates
// decimal numbers only. 0 when no digit was read.
int32_t ParseNumberText(std::string_view text);
