// Fonts redrawn at one bit per pixel: generated fonts (2 bits per pixel, one or two character
// maps), some with their depth or tile height rewritten, converted and compared pixel by pixel;
// and fonts that disagree with themselves refused.

#include "engine/font_depth.h"
#include "engine/script_font.h"
#include "support/error_of.h"

#include <gtest/gtest.h>

#include <functional>

namespace qm {
namespace {

// Generated fonts: A and e acute (W 8, H 10, T 20, Z 56: two maps), and "!Helo" (W 6, H 10,
// T 15, Z 92: one map).
const bytes a_and_e_acute = build_font(used_char_set().set(33).set(150));
const bytes hello = build_font(used_char_set().set(1).set(40).set(69).set(76).set(79));

// Pixel p (row-major) of tile g, at the font's depth.
unsigned pixel(const bytes& font, unsigned g, unsigned p)
{
    const unsigned bpp = font[0x3A], q = p * bpp;
    return (font[0x3C + g * get_le16(font, 0x36) + q / 8] >> (8 - bpp - q % 8)) & ((1u << bpp) - 1);
}

// The tile count N = Z / T counts the block's header too; the new block holds N tiles of
// ceil(W * H / 8) bytes, padded to 4, and what follows moves by the difference D, links included.
TEST(font_depth, keeps_the_lowest_bit_of_each_pixel_and_moves_what_follows)
{
    const auto with = [](bytes f, std::uint8_t bpp, std::uint8_t height, std::uint16_t tile_bytes = 20) {
        return f[0x3A] = bpp, f[0x35] = height, put_le16(f, 0x36, tile_bytes), f;
    };
    const std::pair<bytes, std::int64_t> cases[] = {
        {a_and_e_acute, -20},                   // N 2, T1 10, Z1 36
        {hello, -28},                           // N 6, T1 8, Z1 64
        {with(a_and_e_acute, 1, 10), -20},      // the same tiles read at one bit
        {with(a_and_e_acute, 1, 10, 10), 12},   // N 5: the block grows
        {with(a_and_e_acute, 4, 4), -32},       // T1 4, Z1 24
        {with(a_and_e_acute, 8, 2), -36},       // T1 2, Z1 20
        {build_font(used_char_set().set()), 0}, // every glyph, every pixel value
    };
    for (const auto& [in, d] : cases) {
        SCOPED_TRACE(std::to_string(in.size()) + " bytes at " + std::to_string(in[0x3A]) + " bits");
        const bytes out = convert_font_to_1bpp(in);
        const unsigned w = in[0x34], h = in[0x35], z = get_le32(in, 0x30), n = z / get_le16(in, 0x36);
        const std::uint32_t z1 = static_cast<std::uint32_t>(round_up(n * ((w * h + 7) / 8), 4) + 16);
        ASSERT_EQ(out.size(), in.size() - z + z1);
        EXPECT_TRUE(d == 0 || static_cast<std::int64_t>(z1) - z == d);
        bytes head(in.begin(), in.begin() + 0x3C);
        put_le32(head, 0x08, static_cast<std::uint32_t>(out.size()));
        for (std::size_t link : {0x24, 0x28})
            put_le32(head, link, get_le32(in, link) + z1 - z);
        put_le32(head, 0x30, z1);
        put_le16(head, 0x36, static_cast<std::uint16_t>((w * h + 7) / 8));
        head[0x3A] = 1;
        EXPECT_EQ(bytes(out.begin(), out.begin() + 0x3C), head);
        for (unsigned g = 0; g < n; ++g)
            for (unsigned p = 0; p < w * h; ++p)
                ASSERT_EQ(pixel(out, g, p), pixel(in, g, p) & 1) << g << ":" << p;
        bytes tail(in.begin() + 0x2C + z, in.end());
        const std::uint32_t first_map = get_le32(in, 0x28), second_map = get_le32(in, first_map + 8);
        if (second_map != 0)
            put_le32(tail, first_map + 8 - (0x2C + z), second_map + z1 - z);
        EXPECT_EQ(bytes(out.begin() + 0x2C + z1, out.end()), tail);
    }
}

// A map may end the file: its link to the next map is then the file's last word.
TEST(font_depth, rejects_fonts_that_disagree_with_themselves)
{
    const bytes& good = a_and_e_acute;
    const auto size = static_cast<std::uint32_t>(good.size());
    const std::uint32_t first_map = get_le32(good, 0x28), second_map = get_le32(good, first_map + 8);
    // A glyph block at the very end of the file with 15-byte tiles: N counts the block's header
    // as one more tile, which would be read past the end.
    bytes at_end(hello.begin(), hello.begin() + 0x2C + get_le32(hello, 0x30));
    put_le32(at_end, 0x08, static_cast<std::uint32_t>(at_end.size()));
    const auto link = [](std::size_t at, std::uint32_t to) { return [=](bytes& b) { put_le32(b, at, to); }; };
    const auto byte = [](std::size_t at, std::uint8_t to) { return [=](bytes& b) { b[at] = to; }; };
    const std::pair<std::function<void(bytes&)>, std::string> cases[] = {
        {[](bytes& b) { b.resize(0x3B); }, "font too short"},
        {link(0x08, size + 1), "file size does not match the font header"},
        {[](bytes& b) { b.push_back(0); }, "file size does not match the font header"},
        {link(0x30, 15), "glyph block smaller than its header"},
        {link(0x30, size - 0x2C + 1), "glyph block outside the font"},
        {link(0x30, 0xFFFFFFF0u), "glyph block outside the font"},
        {[](bytes& b) { put_le16(b, 0x36, 0); }, "tile size is zero"},
        {byte(0x36, 19), "tiles too small for their pixels"}, // 80 two-bit pixels need 20
        {byte(0x3A, 3), "unsupported bits per pixel"},
        {byte(0x3A, 0), "unsupported bits per pixel"},
        {byte(0x3A, 16), "unsupported bits per pixel"},
        {[&](bytes& b) { b = at_end; }, "glyph data outside the font"},
        {link(0x28, size - 8), "character map outside the font"}, // its next link past the end
        {[=](bytes& b) {
             put_le32(b, size - 4, 0);
             put_le32(b, 0x28, size - 12);
         },
         ""}, // ending the file
        {link(0x28, 0), "character map outside the font"},
        {link(0x28, 0x40), "character map outside the font"}, // inside the glyph block
        {link(second_map + 8, 0xFFFFFFFFu), "character map outside the font"},
        {link(second_map + 8, first_map), "character map chain loops"}, // back to the first map
        {link(first_map + 8, first_map), "character map chain loops"},  // to itself
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        bytes b = good;
        cases[i].first(b);
        EXPECT_EQ(test::error_of([&] { convert_font_to_1bpp(b); }),
                  cases[i].second.empty() ? "" : "convert_font_to_1bpp - " + cases[i].second)
            << "case " << i;
    }
}

} // namespace
} // namespace qm
