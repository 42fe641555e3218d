#include "engine/builtin_font.h"
#include "engine/font_depth.h"
#include "engine/script_font.h"
#include "tools/font_preview.h"
#include "tools/nftr_reader.h"

#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <string>
#include <tuple>

namespace qm {
namespace {

bytes every_glyph_font()
{
    used_char_set all;
    all.set();
    return build_font(all);
}

// A font of the characters a script container holds.
bytes font_of(const std::u16string& text)
{
    bytes c(32, 0);
    put_le32(c, 24, 32);
    put_le32(c, 28, static_cast<std::uint32_t>(32 + 2 * text.size()));
    for (char16_t ch : text)
        append_le16(c, ch);
    return build_font(used_chars(make_char_index(), c));
}

std::size_t index_of(char16_t code)
{
    return make_char_index().at(code);
}

std::size_t black_pixels(const std::vector<std::uint8_t>& rgb)
{
    std::size_t n = 0;
    for (std::size_t i = 0; i + 2 < rgb.size(); i += 3)
        n += rgb[i] == 0 && rgb[i + 1] == 0 && rgb[i + 2] == 0;
    return n;
}

TEST(NftrReader, ReadsGeneratedFontsBackAtBothDepths)
{
    const bytes two_bit = every_glyph_font();
    const nftr_font f = read_nftr(two_bit);
    ASSERT_EQ(f.glyph_count(), char_count);
    EXPECT_EQ(f.tile_height, 12u);
    EXPECT_EQ(f.baseline, 10u);
    EXPECT_EQ(f.glyph_of_code.size(), char_count);
    for (std::size_t i = 0; i < char_count; ++i) {
        ASSERT_EQ(f.glyph_of_code.at(char_table[i]), i);
        EXPECT_EQ(f.widths[i].width, glyph_metrics[i][1]);
        EXPECT_EQ(f.widths[i].advance, glyph_metrics[i][2]);
    }
    const nftr_font one = read_nftr(convert_font_to_1bpp(two_bit));
    ASSERT_EQ(one.glyph_count(), char_count);
    EXPECT_EQ(one.glyph_of_code.at(u'€'), index_of(u'€'));
    for (const auto& [font, depth, mask] : {std::tuple{&f, 2u, 3u}, std::tuple{&one, 1u, 1u}}) {
        EXPECT_EQ(font->bits_per_pixel, depth);
        for (std::size_t g : {index_of(u'A'), index_of(u'é')})
            for (unsigned y = 0; y < 12; ++y)
                for (unsigned x = 0; x < font->tile_width; ++x)
                    EXPECT_EQ(font->pixel(static_cast<std::uint32_t>(g), x, y),
                              cell_pixel(glyph_bitmaps[g], x, y) & mask)
                        << depth << " bpp, glyph " << g;
    }
}

TEST(NftrReader, RejectsBrokenFonts)
{
    const bytes good = font_of(u"Aé");
    ASSERT_NO_THROW(read_nftr(good));
    const std::uint32_t table = get_le32(good, 0x28);
    struct broken {
        std::function<void(bytes&)> damage;
        std::string reason;
    };
    const broken cases[] = {
        {[](bytes& b) { b.resize(15); }, "not an NFTR font"},
        {[](bytes& b) { b.resize(40); }, "font information block missing"},
        {[](bytes& b) { b.resize(0x50); }, "glyph block size does not fit the file"},
        {[&](bytes& b) { put_le32(b, table + 8, table); }, "character map chain loops"},
        {[&](bytes& b) { put_le32(b, table + 8, 0xFFFFFF00u); }, "character map outside the file"},
        {[&](bytes& b) { put_le32(b, table + 4, 7); }, "unknown character map type 7"},
        {[&](bytes& b) { put_le16(b, table + 2, 0xFFFF); }, "character map overruns its block"},
        {[](bytes& b) { b[0x3A] = 3; }, "unsupported depth of 3 bits per pixel"},
    };
    for (const broken& c : cases) {
        bytes b = good;
        c.damage(b);
        try {
            read_nftr(b);
            ADD_FAILURE() << "no error for " << c.reason;
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(e.what(), "read_nftr - " + c.reason);
        }
    }
}

TEST(FontPreview, RendersAFontToAPng)
{
    const rgb_image img = render_font_preview(read_nftr(every_glyph_font()), 2);
    const bytes png_file = encode_png(img);
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_memory(&png, png_file.data(), png_file.size())) << png.message;
    png.format = PNG_FORMAT_RGB;
    std::vector<std::uint8_t> pixels(PNG_IMAGE_SIZE(png));
    ASSERT_TRUE(png_image_finish_read(&png, nullptr, pixels.data(), 0, nullptr)) << png.message;
    EXPECT_EQ(png.width, img.width);
    EXPECT_EQ(png.height, img.height);
    EXPECT_EQ(pixels, img.pixels);
    EXPECT_GT(black_pixels(pixels), 1000u); // ink of value 3 is drawn black
}

TEST(FontPreview, SampleTextUsesOnlyTheFontsCharacters)
{
    // A font of "A" alone: the grid holds one glyph and each sample line its capital As only.
    const nftr_font f = read_nftr(font_of(u"A"));
    ASSERT_EQ(f.glyph_count(), 1u);
    std::size_t a_ink = 0, sample_as = 0;
    for (unsigned y = 0; y < 12; ++y)
        for (unsigned x = 0; x < 12; ++x)
            a_ink += cell_pixel(glyph_bitmaps[index_of(u'A')], x, y) != 0;
    for (const std::u16string& line : preview_sample_lines())
        sample_as += static_cast<std::size_t>(std::count(line.begin(), line.end(), u'A'));
    EXPECT_EQ(black_pixels(render_font_preview(f, 1).pixels), a_ink * (1 + sample_as));
    EXPECT_THROW(render_font_preview(f, 0), std::runtime_error);
}

} // namespace
} // namespace qm
