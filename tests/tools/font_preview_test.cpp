#include "engine/builtin_font.h"
#include "engine/script_font.h"
#include "tools/font_preview.h"
#include "tools/nftr_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

namespace qm {
namespace {

// A font of the characters of `text`; of every character when it is empty.
bytes font_of(const std::u16string& text)
{
    used_char_set used;
    for (char16_t c : text)
        used.set(make_char_index().at(c));
    return build_font(text.empty() ? used.set() : used);
}

TEST(nftr_reader, reads_a_generated_font_back)
{
    const nftr_font f = read_nftr(font_of(u""));
    EXPECT_EQ(std::tuple(f.tile_height, f.baseline, f.bits_per_pixel, f.glyph_count()),
              std::tuple(12u, 10u, 2u, char_count));
    for (std::uint32_t g = 0; g < char_count; ++g) {
        ASSERT_EQ(std::tuple(f.glyph_of_code.at(char_table[g]), f.widths[g].width, f.widths[g].advance),
                  std::tuple(g, glyph_metrics[g][1], glyph_metrics[g][2]));
        for (unsigned i = 0; i < 12 * f.tile_width; ++i)
            ASSERT_EQ(f.pixel(g, i % f.tile_width, i / f.tile_width),
                      cell_pixel(glyph_bitmaps[g], i % f.tile_width, i / f.tile_width))
                << g;
    }
}

TEST(font_preview, renders_only_the_fonts_characters_scaled)
{
    // A font of "A" alone: the grid holds one glyph and each sample line its capital As only,
    // every ink pixel (value 3) a black square of scale x scale.
    const nftr_font a = read_nftr(font_of(u"A"));
    const rgb_image img = render_font_preview(a, 2);
    std::size_t a_ink = 0, sample_as = 0, black = 0;
    for (unsigned i = 0; i < a.tile_height * a.tile_width; ++i)
        a_ink += a.pixel(0, i % a.tile_width, i / a.tile_width) != 0;
    for (const std::u16string& line : preview_sample_lines())
        sample_as += static_cast<std::size_t>(std::count(line.begin(), line.end(), u'A'));
    for (std::size_t i = 0; i + 2 < img.pixels.size(); i += 3)
        black += (img.pixels[i] | img.pixels[i + 1] | img.pixels[i + 2]) == 0;
    EXPECT_EQ(black, 4 * a_ink * (1 + sample_as));
}

} // namespace
} // namespace qm
