#pragma once
// The font built into the program: one 12 x 12 cell of 2-bit pixels per character of
// char_table, with the metrics a generated font stores for it. The cell's bottom row lies below
// the baseline; glyphs stand on row 10.

#include "engine/char_table.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace qm {

inline constexpr unsigned glyph_cell_size = 12;     // pixels across and down
inline constexpr unsigned glyph_cell_row_bytes = 3; // 12 pixels of 2 bits
inline constexpr unsigned glyph_cell_bytes = glyph_cell_size * glyph_cell_row_bytes;

using glyph_cell = std::array<std::uint8_t, glyph_cell_bytes>;

// Per character index: left offset, glyph width, advance width, in pixels (a width-block entry).
extern const std::array<std::array<std::uint8_t, 3>, char_count> glyph_metrics;

// Per character index: rows the glyph uses, counted upwards from the cell's bottom row (0 to 12).
extern const std::array<std::uint8_t, char_count> glyph_heights;

// Per character index: 12 rows of 3 bytes, top row first; pixel 0 of a row in bits 7-6 of its
// first byte; 0 is empty, 1 to 3 are ink.
extern const std::array<glyph_cell, char_count> glyph_bitmaps;

// The pixel at column x, row y (both below glyph_cell_size) of a cell.
constexpr std::uint8_t cell_pixel(const glyph_cell& cell, unsigned x, unsigned y)
{
    unsigned byte = cell[y * glyph_cell_row_bytes + x / 4];
    return static_cast<std::uint8_t>((byte >> (6 - 2 * (x % 4))) & 3);
}

} // namespace qm
