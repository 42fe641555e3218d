#pragma once
// Pictures of NFTR fonts for people to look at: every glyph in a grid, then sample sentences
// set in the font.

#include "common/bytes.h"
#include "tools/nftr_reader.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qm {

struct rgb_image {
    unsigned width = 0;
    unsigned height = 0;
    std::vector<std::uint8_t> pixels; // 3 bytes per pixel, rows top to bottom
};

// The sentences set below the glyph grid; characters the font lacks are left out.
const std::vector<std::u16string>& preview_sample_lines();

// Every glyph in glyph order, 16 to a row, each on a cell that shows its width (tinted) and the
// rows below the baseline (greyer), then the sample lines; every font pixel becomes a square of
// `scale` pixels. Ink is drawn darker the higher its pixel value.
rgb_image render_font_preview(const nftr_font& font, unsigned scale);

// The image as a PNG file. Throws std::runtime_error when libpng fails.
bytes encode_png(const rgb_image& image);

} // namespace qm
