#pragma once
// Writing side of the format's big-endian base-128 integers.

#include "common/bytes.h"

#include <cstdint>

namespace qm::vcdiff {

inline unsigned varint_length(std::uint64_t v)
{
    unsigned n = 1;
    while (v >>= 7)
        ++n;
    return n;
}

// Most significant group first; every byte but the last has its high bit set.
inline void append_varint(bytes& out, std::uint64_t v)
{
    std::uint8_t buf[10];
    unsigned n = 0;
    buf[n++] = static_cast<std::uint8_t>(v & 0x7F);
    while (v >>= 7)
        buf[n++] = static_cast<std::uint8_t>(0x80 | (v & 0x7F));
    while (n)
        out.push_back(buf[--n]);
}

} // namespace qm::vcdiff
