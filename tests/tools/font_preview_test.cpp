#include "engine/builtin_font.h"
#include "engine/font_depth.h"
#include "engine/script_font.h"
#include "support/error_of.h"
#include "tools/font_preview.h"
#include "tools/nftr_reader.h"

#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <functional>
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

TEST(nftr_reader, reads_generated_fonts_back_at_both_depths)
{
    const bytes two_bit = font_of(u"");
    const nftr_font f = read_nftr(two_bit), one = read_nftr(convert_font_to_1bpp(two_bit));
    EXPECT_EQ(std::tuple(f.tile_height, f.baseline, f.bits_per_pixel, one.bits_per_pixel, one.glyph_count()),
              std::tuple(12u, 10u, 2u, 1u, char_count));
    for (std::size_t i = 0; i < char_count; ++i)
        ASSERT_EQ(std::tuple(f.glyph_of_code.at(char_table[i]), one.glyph_of_code.at(char_table[i]),
                             f.widths[i].width, f.widths[i].advance),
                  std::tuple(i, i, glyph_metrics[i][1], glyph_metrics[i][2]));
    for (const auto& [font, mask] : {std::pair{&f, 3u}, std::pair{&one, 1u}})
        for (std::uint32_t g = 0; g < char_count; ++g)
            for (unsigned y = 0; y < 12; ++y)
                for (unsigned x = 0; x < font->tile_width; ++x)
                    ASSERT_EQ(font->pixel(g, x, y), cell_pixel(glyph_bitmaps[g], x, y) & mask) << mask << g;
}

TEST(nftr_reader, rejects_broken_fonts)
{
    const bytes good = font_of(u"Aé");
    const std::uint32_t table = get_le32(good, 0x28);
    const std::pair<std::function<void(bytes&)>, std::string> cases[] = {
        {[](bytes&) {}, ""},
        {[](bytes& b) { b.resize(15); }, "not an NFTR font"},
        {[](bytes& b) { b.resize(40); }, "font information block missing"},
        {[](bytes& b) { b.resize(0x50); }, "glyph block size does not fit the file"},
        {[&](bytes& b) { put_le32(b, table + 8, table); }, "character map chain loops"},
        {[&](bytes& b) { put_le32(b, table + 8, 0xFFFFFF00u); }, "character map outside the file"},
        {[&](bytes& b) { put_le32(b, table + 4, 7); }, "unknown character map type 7"},
        {[&](bytes& b) { put_le16(b, table + 2, 0xFFFF); }, "character map overruns its block"},
        {[](bytes& b) { b[0x3A] = 3; }, "unsupported depth of 3 bits per pixel"},
    };
    for (const auto& [damage, reason] : cases) {
        bytes b = good;
        damage(b);
        EXPECT_EQ(test::error_of([&] { read_nftr(b); }), reason.empty() ? "" : "read_nftr - " + reason);
    }
}

TEST(font_preview, renders_only_the_fonts_characters_scaled_to_a_png)
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
    EXPECT_THROW(render_font_preview(a, 0), std::runtime_error);

    const bytes file = encode_png(img);
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_memory(&png, file.data(), file.size())) << png.message;
    png.format = PNG_FORMAT_RGB;
    std::vector<std::uint8_t> pixels(PNG_IMAGE_SIZE(png));
    ASSERT_TRUE(png_image_finish_read(&png, nullptr, pixels.data(), 0, nullptr)) << png.message;
    EXPECT_EQ(std::pair(png.width, png.height), std::pair(img.width, img.height));
    EXPECT_EQ(pixels, img.pixels);
}

} // namespace
} // namespace qm
