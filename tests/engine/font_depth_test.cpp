#include "engine/font_depth.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>

namespace qm {
namespace {

struct font_shape {
    unsigned width = 4;
    unsigned height = 4;
    unsigned tile_bytes = 4;
    unsigned bpp = 2;
    unsigned glyphs = 2;
    bool pad_glyph_data = true; // glyph block length a multiple of 4, as fonts have it
    bool two_maps = false;
};

struct built_font {
    bytes data;
    std::uint32_t cglp_size;
    std::uint32_t map1; // offsets of the maps' blocks
    std::uint32_t map2;
};

// A small NFTR font: header, FINF, CGLP with the given tiles, CWDH, a direct map for 'A'... and,
// if asked, a scan map after it. pixel(g, p) gives pixel p (row-major) of glyph g.
built_font make_font(const font_shape& s, const std::function<unsigned(unsigned, unsigned)>& pixel)
{
    bytes glyph_data(std::size_t{s.tile_bytes} * s.glyphs, 0);
    for (unsigned g = 0; g < s.glyphs; ++g)
        for (unsigned p = 0; p < s.width * s.height; ++p) {
            unsigned q = p * s.bpp;
            glyph_data[g * s.tile_bytes + q / 8] |= static_cast<std::uint8_t>(pixel(g, p) << (8 - s.bpp - q % 8));
        }
    if (s.pad_glyph_data)
        glyph_data.resize(round_up(glyph_data.size(), 4), 0);

    built_font f;
    f.cglp_size = static_cast<std::uint32_t>(glyph_data.size() + 16);
    const std::uint32_t cwdh = 0x2C + f.cglp_size;
    const std::uint32_t cwdh_size = 16 + static_cast<std::uint32_t>(round_up(3 * s.glyphs, 4));
    f.map1 = cwdh + cwdh_size;
    f.map2 = f.map1 + 24;

    bytes& b = f.data;
    append_bytes(b, byte_span(reinterpret_cast<const std::uint8_t*>("RTFN\xFF\xFE\x01\x01"), 8));
    append_le32(b, 0); // file size, set below
    append_le16(b, 16);
    append_le16(b, s.two_maps ? 5 : 4);
    append_bytes(b, byte_span(reinterpret_cast<const std::uint8_t*>("FNIF"), 4));
    append_le32(b, 28);
    const std::uint8_t finf[] = {0, static_cast<std::uint8_t>(s.height), 0, 0, 0, 4, 5, 1};
    append_bytes(b, finf);
    append_le32(b, 0x34);
    append_le32(b, cwdh + 8);
    append_le32(b, f.map1 + 8);
    append_bytes(b, byte_span(reinterpret_cast<const std::uint8_t*>("PLGC"), 4));
    append_le32(b, f.cglp_size);
    b.push_back(static_cast<std::uint8_t>(s.width));
    b.push_back(static_cast<std::uint8_t>(s.height));
    append_le16(b, static_cast<std::uint16_t>(s.tile_bytes));
    b.push_back(7); // baseline
    b.push_back(9); // maximum advance
    b.push_back(static_cast<std::uint8_t>(s.bpp));
    b.push_back(0);
    append_bytes(b, glyph_data);
    append_bytes(b, byte_span(reinterpret_cast<const std::uint8_t*>("HDWC"), 4));
    append_le32(b, cwdh_size);
    append_le16(b, 0);
    append_le16(b, static_cast<std::uint16_t>(s.glyphs - 1));
    append_le32(b, 0);
    for (unsigned g = 0; g < s.glyphs; ++g) {
        b.push_back(0);
        b.push_back(static_cast<std::uint8_t>(g + 1));
        b.push_back(static_cast<std::uint8_t>(g + 2));
    }
    b.resize(f.map1, 0);
    append_bytes(b, byte_span(reinterpret_cast<const std::uint8_t*>("PAMC"), 4));
    append_le32(b, 24);
    append_le16(b, 0x41);
    append_le16(b, static_cast<std::uint16_t>(0x41 + s.glyphs - 1));
    append_le32(b, 0); // direct map
    append_le32(b, s.two_maps ? f.map2 + 8 : 0);
    append_le32(b, 0); // first glyph index and padding
    if (s.two_maps) {
        append_bytes(b, byte_span(reinterpret_cast<const std::uint8_t*>("PAMC"), 4));
        append_le32(b, 28);
        append_le16(b, 0);
        append_le16(b, 0xFFFF);
        append_le32(b, 2); // scan map
        append_le32(b, 0);
        for (std::uint16_t v : {1, 0xE9, 0, 0})
            append_le16(b, v);
    }
    put_le32(b, 8, static_cast<std::uint32_t>(b.size()));
    return f;
}

bytes convert(const bytes& font)
{
    return convert_font_to_1bpp(font.data(), static_cast<std::uint32_t>(font.size()));
}

unsigned out_pixel(const bytes& out, unsigned tile_bytes, unsigned g, unsigned p)
{
    return (out[0x3C + g * tile_bytes + p / 8] >> (7 - p % 8)) & 1;
}

TEST(FontDepth, KeepsTheLowestBitOfEachPixel)
{
    // 2-bit pixels cycling 0, 1, 2, 3: values 1 and 3 stay ink, 2 becomes empty.
    auto pattern = [](unsigned g, unsigned p) { return (p + g) % 4; };
    const built_font in = make_font({}, pattern);
    const bytes out = convert(in.data);
    ASSERT_EQ(get_le16(out, 0x36), 2); // 16 pixels in 2 bytes
    for (unsigned g = 0; g < 2; ++g)
        for (unsigned p = 0; p < 16; ++p)
            EXPECT_EQ(out_pixel(out, 2, g, p), pattern(g, p) % 2) << g << ":" << p;

    font_shape four_bit;
    four_bit.bpp = 4;
    four_bit.tile_bytes = 8;
    auto values = [](unsigned, unsigned p) { return (p * 7) % 16; };
    const bytes out4 = convert(make_font(four_bit, values).data);
    for (unsigned p = 0; p < 16; ++p)
        EXPECT_EQ(out_pixel(out4, 2, 1, p), values(1, p) % 2) << p;
}

TEST(FontDepth, RewritesTheGlyphBlockAndMovesWhatFollows)
{
    font_shape shape;
    shape.width = 5;
    shape.height = 3; // 15 pixels: 2 bytes at one bit, 4 at two bits
    shape.glyphs = 3;
    shape.two_maps = true;
    const built_font in = make_font(shape, [](unsigned g, unsigned p) { return (p + g) % 3 == 0 ? 3u : 0u; });
    const bytes out = convert(in.data);

    // Z = 12 + 16 = 28 bytes, N = 28 / 4 = 7 tiles (the header counts), Z1 = 16 + 16 = 32: D = +4.
    const std::uint32_t d = 4;
    ASSERT_EQ(out.size(), in.data.size() + d);
    EXPECT_EQ(get_le32(out, 0x08), out.size());
    EXPECT_EQ(get_le32(out, 0x24), get_le32(in.data, 0x24) + d);
    EXPECT_EQ(get_le32(out, 0x28), get_le32(in.data, 0x28) + d);
    EXPECT_TRUE(std::equal(in.data.begin(), in.data.begin() + 0x08, out.begin()));
    EXPECT_TRUE(std::equal(in.data.begin() + 0x0C, in.data.begin() + 0x24, out.begin() + 0x0C));
    EXPECT_EQ(get_le32(out, 0x20), 0x34u);

    const std::uint8_t cglp[] = {'P', 'L', 'G', 'C', 32, 0, 0, 0, 5, 3, 2, 0, 7, 9, 1, 0};
    EXPECT_TRUE(std::equal(std::begin(cglp), std::end(cglp), out.begin() + 0x2C));
    for (unsigned g = 0; g < 3; ++g)
        for (unsigned p = 0; p < 15; ++p)
            EXPECT_EQ(out_pixel(out, 2, g, p), (p + g) % 3 == 0 ? 1u : 0u);

    // Everything after the glyph block is copied, apart from the first map's link.
    const std::size_t tail = 0x2C + in.cglp_size;
    ASSERT_EQ(out.size() - (tail + d), in.data.size() - tail);
    for (std::size_t i = tail; i < in.data.size(); ++i) {
        if (i < in.map1 + 16 || i >= in.map1 + 20) {
            EXPECT_EQ(out[i + d], in.data[i]) << i;
        }
    }
    EXPECT_EQ(get_le32(out, in.map1 + d + 16), in.map2 + d + 8);
    EXPECT_EQ(get_le32(out, in.map2 + d + 16), 0u);
    EXPECT_EQ(get_le32(out, get_le32(out, in.map1 + d + 16) - 8), get_le32(in.data, in.map2));
}

// 12 x 12 tiles at 2 bits (36 bytes) become 18 bytes; the block keeps a length of a multiple of 4.
TEST(FontDepth, TwelvePixelTilesShrinkByEighteenBytesAGlyph)
{
    for (unsigned n = 1; n <= 5; ++n) {
        font_shape shape;
        shape.width = shape.height = 12;
        shape.tile_bytes = 36;
        shape.glyphs = n;
        shape.two_maps = n % 2 == 0;
        const built_font in = make_font(shape, [](unsigned g, unsigned p) { return (g + p) % 4; });
        ASSERT_EQ(in.cglp_size, 36 * n + 16);
        const bytes out = convert(in.data);
        const std::size_t shrink = n % 2 == 0 ? 18 * n : 18 * n - 2;
        EXPECT_EQ(out.size(), in.data.size() - shrink) << n;
        EXPECT_EQ(get_le32(out, 0x30), round_up(18 * n, 4) + 16);
        EXPECT_EQ(get_le32(out, 0x28), get_le32(in.data, 0x28) - shrink);
    }
}

TEST(FontDepth, GrowingGlyphBlockMovesForward)
{
    // One-bit 3 x 3 tiles of 2 bytes in an unpadded 18-byte block: N = 9, Z1 = 20 + 16, D = +18.
    font_shape shape;
    shape.width = shape.height = 3;
    shape.tile_bytes = 2;
    shape.bpp = 1;
    shape.glyphs = 1;
    shape.pad_glyph_data = false;
    shape.two_maps = true;
    const built_font in = make_font(shape, [](unsigned, unsigned p) { return p % 2; });
    ASSERT_EQ(in.cglp_size, 18u);
    const bytes out = convert(in.data);
    ASSERT_EQ(out.size(), in.data.size() + 18);
    EXPECT_EQ(get_le32(out, 0x30), 36u);
    EXPECT_EQ(get_le32(out, 0x24), get_le32(in.data, 0x24) + 18);
    EXPECT_EQ(get_le32(out, in.map1 + 18 + 16), in.map2 + 18 + 8);
    for (unsigned p = 0; p < 9; ++p)
        EXPECT_EQ(out_pixel(out, 2, 0, p), p % 2);
}

class FontDepthRejects : public ::testing::Test {
protected:
    void expect_error(const bytes& font, const std::string& reason)
    {
        try {
            convert(font);
            ADD_FAILURE() << "no error for: " << reason;
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(e.what(), "convert_font_to_1bpp - " + reason);
        }
    }

    built_font good = make_font({.two_maps = true}, [](unsigned, unsigned p) { return p % 4; });
};

TEST_F(FontDepthRejects, SizesThatDisagreeWithTheHeader)
{
    expect_error(bytes(good.data.begin(), good.data.begin() + 0x3B), "font too short");
    bytes b = good.data;
    put_le32(b, 0x08, static_cast<std::uint32_t>(b.size() + 1));
    expect_error(b, "file size does not match the font header");
    b = good.data;
    b.push_back(0);
    expect_error(b, "file size does not match the font header");

    b = good.data;
    put_le32(b, 0x30, 15);
    expect_error(b, "glyph block smaller than its header");
    put_le32(b, 0x30, static_cast<std::uint32_t>(b.size() - 0x2C + 1));
    expect_error(b, "glyph block outside the font");
    put_le32(b, 0x30, 0xFFFFFFF0u);
    expect_error(b, "glyph block outside the font");

    b = good.data;
    put_le16(b, 0x36, 0);
    expect_error(b, "tile size is zero");
    put_le16(b, 0x36, 3); // 16 two-bit pixels need 4 bytes
    expect_error(b, "tiles too small for their pixels");
    b = good.data;
    b[0x3A] = 3;
    expect_error(b, "unsupported bits per pixel");
    b[0x3A] = 0;
    expect_error(b, "unsupported bits per pixel");
    b[0x3A] = 16;
    expect_error(b, "unsupported bits per pixel");
}

TEST_F(FontDepthRejects, GlyphTilesRunningPastTheFileEnd)
{
    // With a glyph block at the very end of the file, a tile of 16 bytes makes N count the
    // block's header as one more tile, which would be read past the end.
    font_shape shape;
    shape.width = shape.height = 8;
    shape.tile_bytes = 16;
    shape.glyphs = 1;
    built_font f = make_font(shape, [](unsigned, unsigned) { return 1u; });
    f.data.resize(0x2C + f.cglp_size);
    put_le32(f.data, 0x08, static_cast<std::uint32_t>(f.data.size()));
    expect_error(f.data, "glyph data outside the font");
}

TEST_F(FontDepthRejects, CharacterMapChainsOutsideTheFontOrLooping)
{
    bytes b = good.data;
    put_le32(b, 0x28, static_cast<std::uint32_t>(b.size() - 8)); // next link past the end
    expect_error(b, "character map outside the font");
    put_le32(b, 0x28, 0);
    expect_error(b, "character map outside the font");
    put_le32(b, 0x28, 0x40); // inside the glyph block
    expect_error(b, "character map outside the font");

    b = good.data;
    put_le32(b, good.map2 + 16, 0xFFFFFFFFu);
    expect_error(b, "character map outside the font");
    put_le32(b, good.map2 + 16, good.map1 + 8); // second map leads back to the first
    expect_error(b, "character map chain loops");
    b = good.data;
    put_le32(b, good.map1 + 16, good.map1 + 8); // a map leading to itself
    expect_error(b, "character map chain loops");
}

} // namespace
} // namespace qm
