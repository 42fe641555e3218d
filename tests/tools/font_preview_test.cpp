#include "engine/builtin_font.h"
#include "engine/font_depth.h"
#include "engine/script_font.h"
#include "tools/font_preview.h"
#include "tools/nftr_reader.h"

#include <gtest/gtest.h>
#include <png.h>

#include <stdexcept>
#include <string>

namespace qm {
namespace {

bytes every_glyph_font()
{
    used_char_set all;
    all.set();
    return build_font(all);
}

std::size_t index_of(char16_t code)
{
    return make_char_index().at(code);
}

TEST(NftrReader, ReadsAGeneratedFontBack)
{
    const nftr_font f = read_nftr(every_glyph_font());
    ASSERT_EQ(f.glyph_count(), char_count);
    EXPECT_EQ(f.bits_per_pixel, 2u);
    EXPECT_EQ(f.tile_height, 12u);
    EXPECT_EQ(f.baseline, 10u);
    EXPECT_EQ(f.glyph_of_code.size(), char_count);
    for (std::size_t i = 0; i < char_count; ++i) {
        ASSERT_EQ(f.glyph_of_code.at(char_table[i]), i);
        EXPECT_EQ(f.widths[i].width, glyph_metrics[i][1]);
        EXPECT_EQ(f.widths[i].advance, glyph_metrics[i][2]);
    }
    const std::size_t e = index_of(u'é');
    for (unsigned y = 0; y < 12; ++y)
        for (unsigned x = 0; x < f.tile_width; ++x)
            EXPECT_EQ(f.pixel(static_cast<std::uint32_t>(e), x, y), cell_pixel(glyph_bitmaps[e], x, y));
}

TEST(NftrReader, ReadsAOneBitFont)
{
    const bytes two_bit = every_glyph_font();
    const nftr_font f = read_nftr(convert_font_to_1bpp(two_bit.data(), static_cast<std::uint32_t>(two_bit.size())));
    EXPECT_EQ(f.bits_per_pixel, 1u);
    ASSERT_EQ(f.glyph_count(), char_count);
    const std::size_t a = index_of(u'A');
    EXPECT_EQ(f.glyph_of_code.at(u'A'), a);
    EXPECT_EQ(f.glyph_of_code.at(u'€'), index_of(u'€'));
    for (unsigned y = 0; y < 12; ++y)
        for (unsigned x = 0; x < f.tile_width; ++x)
            EXPECT_EQ(f.pixel(static_cast<std::uint32_t>(a), x, y), cell_pixel(glyph_bitmaps[a], x, y) & 1);
}

TEST(NftrReader, RejectsBrokenFonts)
{
    const bytes good = build_font(used_chars(make_char_index(), [] {
        bytes c(32, 0);
        put_le32(c, 24, 32);
        put_le32(c, 28, 36);
        append_le16(c, u'A');
        append_le16(c, u'é');
        return c;
    }()));
    ASSERT_NO_THROW(read_nftr(good));
    auto expect_error = [](const bytes& b, const std::string& reason) {
        try {
            read_nftr(b);
            ADD_FAILURE() << "no error for " << reason;
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(e.what(), "read_nftr - " + reason);
        }
    };
    expect_error(bytes(good.begin(), good.begin() + 15), "not an NFTR font");
    expect_error(bytes(good.begin(), good.begin() + 40), "font information block missing");
    expect_error(bytes(good.begin(), good.begin() + 0x50), "glyph block size does not fit the file");

    const std::uint32_t table = get_le32(good, 0x28);
    bytes b = good;
    put_le32(b, table + 8, table); // the table map leads back to itself
    expect_error(b, "character map chain loops");
    b = good;
    put_le32(b, table + 8, 0xFFFFFF00u);
    expect_error(b, "character map outside the file");
    b = good;
    put_le32(b, table + 4, 7);
    expect_error(b, "unknown character map type 7");
    b = good;
    put_le16(b, table + 2, 0xFFFF); // last code far beyond the map's entries
    expect_error(b, "character map overruns its block");
    b = good;
    b[0x3A] = 3;
    expect_error(b, "unsupported depth of 3 bits per pixel");
}

TEST(FontPreview, RendersAFontToAPng)
{
    const nftr_font f = read_nftr(every_glyph_font());
    const rgb_image img = render_font_preview(f, 2);
    ASSERT_GT(img.width, 0u);
    ASSERT_GT(img.height, 0u);
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
    // Ink of value 3 is drawn black: the glyphs and the sample lines put some on the image.
    std::size_t black = 0;
    for (std::size_t i = 0; i + 2 < pixels.size(); i += 3)
        black += pixels[i] == 0 && pixels[i + 1] == 0 && pixels[i + 2] == 0;
    EXPECT_GT(black, 1000u);
}

TEST(FontPreview, SampleTextUsesOnlyTheFontsCharacters)
{
    // A font of "A" alone: the grid holds one glyph and each sample line its capital As only.
    bytes c(32, 0);
    put_le32(c, 24, 32);
    put_le32(c, 28, 34);
    append_le16(c, u'A');
    const nftr_font f = read_nftr(build_font(used_chars(make_char_index(), c)));
    ASSERT_EQ(f.glyph_count(), 1u);
    const rgb_image img = render_font_preview(f, 1);
    std::size_t black = 0;
    for (std::size_t i = 0; i + 2 < img.pixels.size(); i += 3)
        black += img.pixels[i] == 0;
    std::size_t a_ink = 0, sample_as = 0;
    for (unsigned y = 0; y < 12; ++y)
        for (unsigned x = 0; x < 12; ++x)
            a_ink += cell_pixel(glyph_bitmaps[index_of(u'A')], x, y) != 0;
    for (const std::u16string& line : preview_sample_lines())
        for (char16_t ch : line)
            sample_as += ch == u'A';
    EXPECT_EQ(black, a_ink * (1 + sample_as));
    EXPECT_THROW(render_font_preview(f, 0), std::runtime_error);
}

} // namespace
} // namespace qm
