#pragma once
// Redraws an NFTR font at one bit per pixel.

#include "common/bytes.h"

#include <cstdint>

namespace qm {

// Returns the font with its glyph block (CGLP) rewritten at 1 bit per
// pixel, keeping the lowest bit of each pixel, and every block after it moved by the change in
// the glyph block's length. Throws std::runtime_error on a font whose header, glyph block or
// character map chain disagrees with its size.
bytes convert_font_to_1bpp(byte_span font);

} // namespace qm
