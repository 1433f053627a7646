#pragma once
// The byte layout of a structure: fields follow each other with no
// padding; a run of bitfields of one kind shares units of 1, 2 or 4 bytes,
// the first field taking the lowest bits.

#include "language/VaTypes.h"

#include <cstddef>
#include <cstdint>

// Bytes of one element of a non-bitfield kind.
inline size_t ElementBytes(int32_t kind)
{
    switch (kind) {
    case VI2: return 2;
    case VI4:
    case VDSPFLOAT:
    case VIEEE32: return 4;
    case VIEEE64: return 8;
    default: return 1;
    }
}

// Bytes of the unit of a bitfield kind.
inline size_t UnitBytes(int32_t kind) { return kind == VBF4 ? 4 : kind == VBF2 ? 2 : 1; }

class CLayoutWalk {
public:
    // Where a field starts: its byte offset and, for a bitfield, the bits
    // of its unit already used by the fields before it.
    struct Place {
        size_t offset;
        int bits;
    };

    Place Enter(const _VA_ARG& field)
    {
        if (m_unitKind >= 0 && m_unitKind != field.kind)
            CloseUnit();
        if (IsBitfieldKind(field.kind))
            m_unitKind = field.kind;
        return {m_offset, static_cast<int>(m_bits)};
    }

    void Leave(const _VA_ARG& field)
    {
        size_t count = field.count > 0 ? static_cast<size_t>(field.count) : 0;
        if (!IsBitfieldKind(field.kind)) {
            m_offset += ElementBytes(field.kind) * count;
            return;
        }
        // Bits beyond the unit are not carried over into the next one.
        m_bits += static_cast<int64_t>(count);
        if (m_bits >= static_cast<int64_t>(UnitBytes(field.kind) * 8)) {
            m_offset += UnitBytes(field.kind);
            m_bits = 0;
        }
    }

    // Closes a unit begun and returns the total size.
    size_t Finish()
    {
        CloseUnit();
        return m_offset;
    }

private:
    void CloseUnit()
    {
        if (m_bits > 0)
            m_offset += UnitBytes(m_unitKind);
        m_bits = 0;
        m_unitKind = -1;
    }

    size_t m_offset = 0;
    int64_t m_bits = 0;
    int32_t m_unitKind = -1;
};
