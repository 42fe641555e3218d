#pragma once
// Byte buffers and bounds-checked little-/big-endian access.
//
// Every format of the program is read and written through these helpers, never by casting
// structures over buffers. A range [off, off + len) is tested as `off <= size && len <= size - off`
// so that the test itself cannot overflow.

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace qm {

using bytes = std::vector<std::uint8_t>;
using byte_span = std::span<const std::uint8_t>;
using mutable_byte_span = std::span<std::uint8_t>;

// Thrown by the accessors below when a caller's own checks missed a bad offset.
class bounds_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

constexpr bool in_bounds(std::size_t size, std::size_t off, std::size_t len) noexcept
{
    return off <= size && len <= size - off;
}

inline void require_bounds(std::size_t size, std::size_t off, std::size_t len)
{
    if (!in_bounds(size, off, len))
        throw bounds_error("access outside buffer (offset " + std::to_string(off) + ", length " +
                           std::to_string(len) + ", size " + std::to_string(size) + ")");
}

inline std::uint8_t get_u8(byte_span b, std::size_t off)
{
    require_bounds(b.size(), off, 1);
    return b[off];
}

inline std::uint16_t get_le16(byte_span b, std::size_t off)
{
    require_bounds(b.size(), off, 2);
    return static_cast<std::uint16_t>(b[off] | (b[off + 1] << 8));
}

inline std::uint32_t get_le32(byte_span b, std::size_t off)
{
    require_bounds(b.size(), off, 4);
    return static_cast<std::uint32_t>(b[off]) | (static_cast<std::uint32_t>(b[off + 1]) << 8) |
           (static_cast<std::uint32_t>(b[off + 2]) << 16) | (static_cast<std::uint32_t>(b[off + 3]) << 24);
}

inline std::uint64_t get_le64(byte_span b, std::size_t off)
{
    require_bounds(b.size(), off, 8);
    return static_cast<std::uint64_t>(get_le32(b, off)) |
           (static_cast<std::uint64_t>(get_le32(b, off + 4)) << 32);
}

inline std::uint16_t get_be16(byte_span b, std::size_t off)
{
    require_bounds(b.size(), off, 2);
    return static_cast<std::uint16_t>((b[off] << 8) | b[off + 1]);
}

inline std::uint32_t get_be32(byte_span b, std::size_t off)
{
    require_bounds(b.size(), off, 4);
    return (static_cast<std::uint32_t>(b[off]) << 24) | (static_cast<std::uint32_t>(b[off + 1]) << 16) |
           (static_cast<std::uint32_t>(b[off + 2]) << 8) | static_cast<std::uint32_t>(b[off + 3]);
}

inline std::uint64_t get_be64(byte_span b, std::size_t off)
{
    require_bounds(b.size(), off, 8);
    return (static_cast<std::uint64_t>(get_be32(b, off)) << 32) | get_be32(b, off + 4);
}

inline void put_u8(mutable_byte_span b, std::size_t off, std::uint8_t v)
{
    require_bounds(b.size(), off, 1);
    b[off] = v;
}

inline void put_le16(mutable_byte_span b, std::size_t off, std::uint16_t v)
{
    require_bounds(b.size(), off, 2);
    b[off] = static_cast<std::uint8_t>(v);
    b[off + 1] = static_cast<std::uint8_t>(v >> 8);
}

inline void put_le32(mutable_byte_span b, std::size_t off, std::uint32_t v)
{
    require_bounds(b.size(), off, 4);
    for (int i = 0; i < 4; ++i)
        b[off + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

inline void put_le64(mutable_byte_span b, std::size_t off, std::uint64_t v)
{
    put_le32(b, off, static_cast<std::uint32_t>(v));
    put_le32(b, off + 4, static_cast<std::uint32_t>(v >> 32));
}

inline void put_be16(mutable_byte_span b, std::size_t off, std::uint16_t v)
{
    require_bounds(b.size(), off, 2);
    b[off] = static_cast<std::uint8_t>(v >> 8);
    b[off + 1] = static_cast<std::uint8_t>(v);
}

inline void put_be32(mutable_byte_span b, std::size_t off, std::uint32_t v)
{
    require_bounds(b.size(), off, 4);
    for (int i = 0; i < 4; ++i)
        b[off + i] = static_cast<std::uint8_t>(v >> (8 * (3 - i)));
}

inline void put_be64(mutable_byte_span b, std::size_t off, std::uint64_t v)
{
    put_be32(b, off, static_cast<std::uint32_t>(v >> 32));
    put_be32(b, off + 4, static_cast<std::uint32_t>(v));
}

// Appending writers, for formats that are built front to back.
inline void append_le16(bytes& out, std::uint16_t v)
{
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

inline void append_le32(bytes& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

inline void append_bytes(bytes& out, byte_span b)
{
    out.insert(out.end(), b.begin(), b.end());
}

// Rounds v up to a multiple of the power of two `align`.
constexpr std::uint64_t round_up(std::uint64_t v, std::uint64_t align) noexcept
{
    return (v + align - 1) & ~(align - 1);
}

} // namespace qm
