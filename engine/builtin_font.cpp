#include "engine/builtin_font.h"

#include <string_view>

namespace qm {

namespace {

// One glyph as drawn: left offset, glyph width and advance, then the 12 x 12 cell, top row
// first, one character per pixel: '.' empty, '1' to '3' ink ('3' for strokes).
//
// Layout of the cell: capital accents in rows 0-1, ascenders from row 2, capitals and figures
// from row 3, lower case from row 5, everything stands on row 10, and row 11 (below the
// baseline) holds the descenders. Strokes are one pixel wide; a glyph's width counts one blank
// column on its right, which spaces it from the next one. A glyph's height is not written down:
// it is worked out from its highest ink row.
struct glyph_art {
    std::uint16_t code;
    std::uint8_t left;
    std::uint8_t width;
    std::uint8_t advance;
    std::array<std::string_view, glyph_cell_size> rows;
};

constexpr glyph_art art[char_count] = {
#include "engine/builtin_font_glyphs.inc"
};

constexpr int pixel_value(char c)
{
    switch (c) {
    case '.':
        return 0;
    case '1':
        return 1;
    case '2':
        return 2;
    case '3':
        return 3;
    default:
        return -1;
    }
}

// Index of the first glyph drawn wrongly (out of the character table's order, wider than the
// cell, a row not 12 pixels long, an unknown pixel character, or ink right of its width), or
// char_count when all are right. A failing static_assert below shows the index in its note.
constexpr std::size_t first_bad_glyph()
{
    for (std::size_t i = 0; i < char_count; ++i) {
        const glyph_art& a = art[i];
        if (a.code != char_table[i])
            return i;
        if (a.width > glyph_cell_size || a.advance > glyph_cell_size)
            return i;
        for (std::string_view row : a.rows) {
            if (row.size() != glyph_cell_size)
                return i;
            for (unsigned x = 0; x < glyph_cell_size; ++x) {
                int v = pixel_value(row[x]);
                if (v < 0 || (v != 0 && x >= a.width))
                    return i;
            }
        }
    }
    return char_count;
}

constexpr std::size_t bad_glyph = first_bad_glyph();
static_assert(bad_glyph == char_count, "a glyph of the built-in font is drawn wrongly");

constexpr std::uint8_t height_of(const glyph_art& a)
{
    for (unsigned y = 0; y < glyph_cell_size; ++y)
        for (char c : a.rows[y])
            if (c != '.')
                return static_cast<std::uint8_t>(glyph_cell_size - y);
    return 0;
}

} // namespace

constexpr std::array<std::array<std::uint8_t, 3>, char_count> glyph_metrics = [] {
    std::array<std::array<std::uint8_t, 3>, char_count> m{};
    for (std::size_t i = 0; i < char_count; ++i)
        m[i] = {art[i].left, art[i].width, art[i].advance};
    return m;
}();

constexpr std::array<std::uint8_t, char_count> glyph_heights = [] {
    std::array<std::uint8_t, char_count> h{};
    for (std::size_t i = 0; i < char_count; ++i)
        h[i] = height_of(art[i]);
    return h;
}();

constexpr std::array<glyph_cell, char_count> glyph_bitmaps = [] {
    std::array<glyph_cell, char_count> b{};
    for (std::size_t i = 0; i < char_count; ++i)
        for (unsigned y = 0; y < glyph_cell_size; ++y)
            for (unsigned x = 0; x < glyph_cell_size; ++x) {
                auto v = static_cast<unsigned>(pixel_value(art[i].rows[y][x]));
                b[i][y * glyph_cell_row_bytes + x / 4] |= static_cast<std::uint8_t>(v << (6 - 2 * (x % 4)));
            }
    return b;
}();

namespace {

// Rows that other parts of the program and its users rely on.
constexpr std::size_t index_of(std::uint16_t code)
{
    for (std::size_t i = 0; i < char_count; ++i)
        if (char_table[i] == code)
            return i;
    return char_count;
}
constexpr bool row_is(std::uint16_t code, std::array<std::uint8_t, 3> metrics, std::uint8_t height)
{
    const std::size_t i = index_of(code);
    return i < char_count && glyph_metrics[i] == metrics && glyph_heights[i] == height;
}
static_assert(row_is(0x0020, {3, 0, 3}, 0));
static_assert(row_is(0x0021, {0, 2, 2}, 10));
static_assert(row_is(0x0041, {0, 8, 8}, 9));
static_assert(row_is(0x0061, {0, 6, 6}, 7));
static_assert(row_is(0x00E9, {0, 5, 5}, 10));
static_assert(row_is(0x2122, {0, 8, 8}, 12));
static_assert(row_is(0x00A0, {5, 0, 5}, 0));

} // namespace

} // namespace qm
