#pragma once
// The 182 characters that the built-in font draws. A character's position in the table is its
// index in every per-character table of the font and its bit in a used-character set.

#include <array>
#include <cstddef>
#include <cstdint>
#include <unordered_map>

namespace qm {

inline constexpr std::size_t char_count = 182;

// Index of the first character past the contiguous ASCII run 0x20..0x7E. Characters below it go
// to a generated font's table map, the others to its scan map.
inline constexpr std::size_t first_non_ascii_index = 95;

inline constexpr std::array<std::uint16_t, char_count> char_table = [] {
    std::array<std::uint16_t, char_count> t{};
    for (std::size_t i = 0; i < first_non_ascii_index; ++i)
        t[i] = static_cast<std::uint16_t>(0x20 + i);
    constexpr std::uint16_t rest[] = {
        0x00A0, 0x00A1, 0x00A2, 0x00A3, 0x00A5, 0x00A7, 0x00A8, 0x00A9, 0x00AA, 0x00AB, 0x00AD,
        0x00AE, 0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B7, 0x00B9, 0x00BA, 0x00BB, 0x00BF,
        0x00C0, 0x00C1, 0x00C2, 0x00C4, 0x00C6, 0x00C7, 0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC,
        0x00CD, 0x00CE, 0x00CF, 0x00D1, 0x00D2, 0x00D3, 0x00D4, 0x00D5, 0x00D6, 0x00D7, 0x00D9,
        0x00DA, 0x00DB, 0x00DC, 0x00DF, 0x00E0, 0x00E1, 0x00E2, 0x00E4, 0x00E6, 0x00E7, 0x00E8,
        0x00E9, 0x00EA, 0x00EB, 0x00EC, 0x00ED, 0x00EE, 0x00EF, 0x00F1, 0x00F2, 0x00F3, 0x00F4,
        0x00F5, 0x00F6, 0x00F7, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x0152, 0x0153, 0x2013, 0x2014,
        0x2018, 0x2019, 0x201A, 0x201C, 0x201D, 0x201E, 0x2022, 0x2026, 0x20AC, 0x2122,
    };
    static_assert(std::size(rest) == char_count - first_non_ascii_index);
    for (std::size_t i = 0; i < std::size(rest); ++i)
        t[first_non_ascii_index + i] = rest[i];
    return t;
}();

// Character code -> index in char_table, for every character of the table.
using char_index_map = std::unordered_map<std::uint16_t, std::uint16_t>;

char_index_map make_char_index();

} // namespace qm
