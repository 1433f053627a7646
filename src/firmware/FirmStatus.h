#pragma once
// The status reply of a crate control board unpacked by its layout string.
// Pure functions; any thread.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

inline constexpr char kStatusLongLayout[] = "SSSSCCCCCCCCCCLLLSLLLLLFFFFFFFFFFFFFFFFFFFFFFFSSSSSSFCCCCFFFFFFFFSS";
inline constexpr char kStatusShortLayout[] = "CSSSCCSSSSSSSSSLLLSSSSFFFFFFFF";
inline constexpr char kStatusLayoutError[] = "Software error: Invalid struct description";

struct _FIRMSTATUS {
    enum Type : int32_t { kNone = 0, kShort = 1, kLong = 2 };
    struct Field {
        char kind;          // 'C', 'S', 'L' or 'F'
        uint32_t value;     // integer fields
        float real;         // 'F' fields
    };
    int32_t type = kNone;
    std::vector<Field> fields;

    // The installed version of a long status: 2nd field << 16 | 3rd field.
    uint32_t Version() const;
};

// Bytes a layout takes on the wire; 0 for a layout with an unknown letter.
size_t StatusLayoutBytes(const char* layout);

// Unpacks bytes (most significant byte first, packed) field by field.
// False with `error` set for an unknown letter, or when the bytes are
// fewer than the layout needs.
bool UnpackStatus(const char* layout, const uint8_t* bytes, size_t count, std::vector<_FIRMSTATUS::Field>& fields,
                  std::string& error);
