#pragma once
// Reads a Nitro font (NFTR) for display: its glyph tiles, the width entries and the character
// maps, whatever their depth and however many width blocks and maps it chains.

#include "common/bytes.h"

#include <cstdint>
#include <map>
#include <vector>

namespace qm {

struct nftr_glyph_width {
    std::int8_t left = 0;
    std::uint8_t width = 0;
    std::uint8_t advance = 0;
};

struct nftr_font {
    unsigned line_height = 0;
    unsigned tile_width = 0;
    unsigned tile_height = 0;
    unsigned tile_bytes = 0;
    unsigned baseline = 0;
    unsigned bits_per_pixel = 0;
    nftr_glyph_width default_width;
    bytes glyph_data;                                     // glyph_count() tiles of tile_bytes bytes
    std::vector<nftr_glyph_width> widths;                 // one per glyph; default_width where no block says
    std::map<std::uint16_t, std::uint16_t> glyph_of_code; // only glyphs the font holds

    std::uint32_t glyph_count() const
    {
        return tile_bytes ? static_cast<std::uint32_t>(glyph_data.size() / tile_bytes) : 0;
    }
    // Pixel value (0 to 2^bits_per_pixel - 1) at column x, row y of a glyph's tile.
    unsigned pixel(std::uint32_t glyph, unsigned x, unsigned y) const;
};

// Throws std::runtime_error ("read_nftr - ...") on anything that does not fit in the file.
nftr_font read_nftr(byte_span file);

} // namespace qm
