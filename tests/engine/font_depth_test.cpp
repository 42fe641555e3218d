#include "engine/font_depth.h"

#include "support/error_of.h"

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
            glyph_data[g * s.tile_bytes + q / 8] |=
                static_cast<std::uint8_t>(pixel(g, p) << (8 - s.bpp - q % 8));
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
    const auto tag = [&](const char* t, std::uint32_t size) {
        append_bytes(b, byte_span(reinterpret_cast<const std::uint8_t*>(t), 4));
        append_le32(b, size);
    };
    tag("RTFN", 0x0101FEFF); // byte order mark FF FE, version 0x0101
    append_le32(b, 0);       // file size, set below
    append_le16(b, 16);
    append_le16(b, s.two_maps ? 5 : 4);
    tag("FNIF", 28);
    append_bytes(b, bytes{0, static_cast<std::uint8_t>(s.height), 0, 0, 0, 4, 5, 1});
    for (std::uint32_t offset : {0x34u, cwdh + 8, f.map1 + 8})
        append_le32(b, offset);
    tag("PLGC", f.cglp_size);
    // width, height, bytes per tile, baseline 7, maximum advance 9, depth, flags
    append_bytes(b, bytes{static_cast<std::uint8_t>(s.width), static_cast<std::uint8_t>(s.height),
                          static_cast<std::uint8_t>(s.tile_bytes), 0, 7, 9, static_cast<std::uint8_t>(s.bpp),
                          0});
    append_bytes(b, glyph_data);
    tag("HDWC", cwdh_size);
    append_le16(b, 0);
    append_le16(b, static_cast<std::uint16_t>(s.glyphs - 1));
    append_le32(b, 0);
    for (unsigned g = 0; g < s.glyphs; ++g)
        append_bytes(b, bytes{0, static_cast<std::uint8_t>(g + 1), static_cast<std::uint8_t>(g + 2)});
    b.resize(f.map1, 0);
    tag("PAMC", 24); // a direct map for 'A'..., then the link to the scan map or 0
    append_le16(b, 0x41);
    append_le16(b, static_cast<std::uint16_t>(0x41 + s.glyphs - 1));
    for (std::uint32_t w : {0u, s.two_maps ? f.map2 + 8 : 0u, 0u})
        append_le32(b, w);
    if (s.two_maps) {
        tag("PAMC", 28);
        for (std::uint16_t v : {0, 0xFFFF, 2, 0, 0, 0, 1, 0xE9, 0, 0})
            append_le16(b, v);
    }
    put_le32(b, 8, static_cast<std::uint32_t>(b.size()));
    return f;
}

bytes convert(const bytes& font)
{
    return convert_font_to_1bpp(font);
}

unsigned out_pixel(const bytes& out, unsigned tile_bytes, unsigned g, unsigned p)
{
    return (out[0x3C + g * tile_bytes + p / 8] >> (7 - p % 8)) & 1;
}

TEST(FontDepth, KeepsTheLowestBitOfEachPixel)
{
    // 2-bit pixels cycling 0, 1, 2, 3: values 1 and 3 stay ink, 2 becomes empty.
    auto pattern = [](unsigned g, unsigned p) { return (p + g) % 4; };
    const bytes out = convert(make_font({}, pattern).data);
    ASSERT_EQ(get_le16(out, 0x36), 2); // 16 pixels in 2 bytes
    for (unsigned g = 0; g < 2; ++g)
        for (unsigned p = 0; p < 16; ++p)
            EXPECT_EQ(out_pixel(out, 2, g, p), pattern(g, p) % 2) << g << ":" << p;

    auto values = [](unsigned, unsigned p) { return (p * 7) % 16; };
    const bytes out4 = convert(make_font({.tile_bytes = 8, .bpp = 4}, values).data);
    for (unsigned p = 0; p < 16; ++p)
        EXPECT_EQ(out_pixel(out4, 2, 1, p), values(1, p) % 2) << p;

    // One-bit 3 x 3 tiles of 2 bytes in an unpadded 18-byte block: N = 9, Z1 = 20 + 16, D = +18.
    const font_shape one_bit{
        .width = 3, .height = 3, .tile_bytes = 2, .bpp = 1, .glyphs = 1, .pad_glyph_data = false};
    const built_font in1 = make_font(one_bit, [](unsigned, unsigned p) { return p % 2; });
    const bytes out1 = convert(in1.data);
    ASSERT_EQ(out1.size(), in1.data.size() + 18);
    for (unsigned p = 0; p < 9; ++p)
        EXPECT_EQ(out_pixel(out1, 2, 0, p), p % 2);
}

TEST(FontDepth, RewritesTheGlyphBlockAndMovesWhatFollows)
{
    // 15 pixels: 2 bytes at one bit, 4 at two bits.
    const built_font in = make_font({.width = 5, .height = 3, .glyphs = 3, .two_maps = true},
                                    [](unsigned g, unsigned p) { return (p + g) % 3 == 0 ? 3u : 0u; });
    const bytes out = convert(in.data);

    // Z = 12 + 16 = 28 bytes, N = 28 / 4 = 7 tiles (the header counts), Z1 = 16 + 16 = 32: D = +4.
    const std::uint32_t d = 4;
    ASSERT_EQ(out.size(), in.data.size() + d);
    EXPECT_EQ(get_le32(out, 0x08), out.size());
    EXPECT_EQ(get_le32(out, 0x24), get_le32(in.data, 0x24) + d);
    EXPECT_EQ(get_le32(out, 0x28), get_le32(in.data, 0x28) + d);
    EXPECT_TRUE(std::equal(in.data.begin(), in.data.begin() + 0x08, out.begin()));
    EXPECT_TRUE(std::equal(in.data.begin() + 0x0C, in.data.begin() + 0x24, out.begin() + 0x0C));
    EXPECT_EQ(bytes(out.begin() + 0x2C, out.begin() + 0x3C),
              (bytes{'P', 'L', 'G', 'C', 32, 0, 0, 0, 5, 3, 2, 0, 7, 9, 1, 0}));
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
        const font_shape shape{
            .width = 12, .height = 12, .tile_bytes = 36, .glyphs = n, .two_maps = n % 2 == 0};
        const built_font in = make_font(shape, [](unsigned g, unsigned p) { return (g + p) % 4; });
        ASSERT_EQ(in.cglp_size, 36 * n + 16);
        const bytes out = convert(in.data);
        const std::size_t shrink = n % 2 == 0 ? 18 * n : 18 * n - 2;
        EXPECT_EQ(out.size(), in.data.size() - shrink) << n;
        EXPECT_EQ(get_le32(out, 0x30), round_up(18 * n, 4) + 16);
        EXPECT_EQ(get_le32(out, 0x28), get_le32(in.data, 0x28) - shrink);
    }
}

TEST(FontDepth, RejectsFontsThatDisagreeWithThemselves)
{
    const built_font good = make_font({.two_maps = true}, [](unsigned, unsigned p) { return p % 4; });
    const auto size = static_cast<std::uint32_t>(good.data.size());
    // A glyph block at the very end of the file with 16-byte tiles: N counts the block's header
    // as one more tile, which would be read past the end.
    built_font at_end = make_font({.width = 8, .height = 8, .tile_bytes = 16, .glyphs = 1},
                                  [](unsigned, unsigned) { return 1u; });
    at_end.data.resize(0x2C + at_end.cglp_size);
    put_le32(at_end.data, 0x08, static_cast<std::uint32_t>(at_end.data.size()));
    const auto link = [](std::size_t at, std::uint32_t to) { return [=](bytes& b) { put_le32(b, at, to); }; };
    const struct {
        std::function<void(bytes&)> damage;
        std::string reason;
    } cases[] = {
        {[](bytes& b) { b.resize(0x3B); }, "font too short"},
        {link(0x08, size + 1), "file size does not match the font header"},
        {[](bytes& b) { b.push_back(0); }, "file size does not match the font header"},
        {link(0x30, 15), "glyph block smaller than its header"},
        {link(0x30, size - 0x2C + 1), "glyph block outside the font"},
        {link(0x30, 0xFFFFFFF0u), "glyph block outside the font"},
        {[](bytes& b) { put_le16(b, 0x36, 0); }, "tile size is zero"},
        {[](bytes& b) { put_le16(b, 0x36, 3); },
         "tiles too small for their pixels"}, // 16 two-bit pixels need 4
        {[](bytes& b) { b[0x3A] = 3; }, "unsupported bits per pixel"},
        {[](bytes& b) { b[0x3A] = 0; }, "unsupported bits per pixel"},
        {[](bytes& b) { b[0x3A] = 16; }, "unsupported bits per pixel"},
        {[&](bytes& b) { b = at_end.data; }, "glyph data outside the font"},
        {link(0x28, size - 8), "character map outside the font"}, // its next link past the end
        {link(0x28, 0), "character map outside the font"},
        {link(0x28, 0x40), "character map outside the font"}, // inside the glyph block
        {link(good.map2 + 16, 0xFFFFFFFFu), "character map outside the font"},
        {link(good.map2 + 16, good.map1 + 8), "character map chain loops"}, // back to the first map
        {link(good.map1 + 16, good.map1 + 8), "character map chain loops"}, // to itself
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        bytes b = good.data;
        cases[i].damage(b);
        EXPECT_EQ(test::error_of([&] { convert(b); }), "convert_font_to_1bpp - " + cases[i].reason)
            << "case " << i;
    }
}

} // namespace
} // namespace qm
