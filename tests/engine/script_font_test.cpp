#include "engine/builtin_font.h"
#include "engine/char_table.h"
#include "engine/font_depth.h"
#include "engine/script_font.h"

#include "job_fixture.h"

namespace qm {
namespace {

using test::error_of;

bytes font_for(const std::u16string& text)
{
    return build_font(used_chars(make_char_index(), test::script_container(text)));
}

std::size_t index_of(char16_t code)
{
    return make_char_index().at(code);
}

// Bytes written as hex pairs, with 'quoted' runs taken as ASCII; spaces are ignored.
bytes hex(std::string_view s)
{
    bytes b;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\'') {
            while (s[++i] != '\'')
                b.push_back(static_cast<std::uint8_t>(s[i]));
        } else if (s[i] != ' ') {
            b.push_back(static_cast<std::uint8_t>(std::stoi(std::string(s.substr(i++, 2)), nullptr, 16)));
        }
    }
    return b;
}

// The n bytes at `at`, fewer where the font ends.
bytes slice(const bytes& b, std::size_t at, std::size_t n)
{
    return bytes(b.begin() + std::min(at, b.size()), b.begin() + std::min(at + n, b.size()));
}

// Each tile (2-bit pixels, row by row) must hold the bottom rows of its character's cell.
void expect_tiles_match_cells(const bytes& font, const std::u16string& chars_in_glyph_order)
{
    const unsigned w = font[0x34], h = font[0x35];
    for (unsigned g = 0; g < chars_in_glyph_order.size(); ++g)
        for (unsigned p = 0; p < w * h; ++p)
            ASSERT_EQ((font[0x3C + get_le16(font, 0x36) * g + p / 4] >> (6 - 2 * (p % 4))) & 3,
                      cell_pixel(glyph_bitmaps[index_of(chars_in_glyph_order[g])], p % w, p / w + 12 - h))
                << g << ":" << p;
}

// Every character of the table has its own glyph; other code units have none. Only the text
// counts, and it must lie inside its container.
TEST(used_chars, marks_known_code_units_of_the_text_only_and_rejects_text_outside_the_container)
{
    EXPECT_EQ(make_char_index().size(), char_count);
    for (char16_t unknown : {u'\x1F', u'\x7F', u'\x9F', u'\x00A4', u'\x4E00', u'\xFFFF'})
        EXPECT_EQ(make_char_index().count(unknown), 0u) << int(unknown);
    bytes c = test::script_container(u"Aé\u4E00A\u2122", 6, 4);
    put_le16(c, 32, u'Z');           // in the lead, outside the text
    put_le16(c, c.size() - 2, u'Q'); // in the tail
    used_char_set used = used_chars(make_char_index(), c);
    EXPECT_EQ(used.count(), 3u);
    EXPECT_TRUE(used[index_of(u'A')] && used[index_of(u'é')] && used[181]);
    EXPECT_TRUE(used_chars(make_char_index(), test::script_container(u"")).none());
    // The text may run up to the very end.
    EXPECT_EQ(used_chars(make_char_index(), test::script_container(u"xy")).count(), 2u);
    // A text of odd length ending the container: its last single byte is no code unit.
    bytes odd = test::script_container(u"AB");
    odd.push_back('C');
    put_le32(odd, 28, 37);
    EXPECT_EQ(used_chars(make_char_index(), odd),
              used_chars(make_char_index(), test::script_container(u"AB")));

    const std::tuple<std::uint32_t, std::uint32_t, const char*> cases[] = {
        {32, 30, "used_chars - script text ends before it starts"},
        {32, 40, "used_chars - script text lies outside its container"}, // container is 38 bytes
        {0xFFFFFFF0u, 0xFFFFFFF2u, "used_chars - script text lies outside its container"},
    };
    EXPECT_EQ(error_of([&] { used_chars(make_char_index(), bytes(31, 0)); }),
              "used_chars - script container too short");
    for (const auto& [start, end, message] : cases) {
        bytes c = test::script_container(u"abc");
        put_le32(c, 24, start);
        put_le32(c, 28, end);
        EXPECT_EQ(error_of([&] { used_chars(make_char_index(), c); }), message) << start << ".." << end;
    }
}

// Two maps (A and e acute), the table map alone (ASCII only) and an empty table map.
TEST(build_font, goldens_of_each_shape_of_character_maps)
{
    const bytes f = font_for(u"éA");
    ASSERT_EQ(f.size(), 176u);
    EXPECT_EQ(slice(f, 0, 0x3C), hex("'RTFN' FFFE 0101 B0000000 1000 0500"
                                     "'FNIF' 1C000000 000A0000 00080801 34000000 6C000000 84000000"
                                     "'PLGC' 38000000 080A1400 08080200"));
    EXPECT_EQ(slice(f, 100, 76), hex("'HDWC' 18000000 0000 0100 00000000 000808 000505 0000"
                                     "'PAMC' 18000000 4100 4100 01000000 9C000000 0000 0000"
                                     "'PAMC' 1C000000 0000 FFFF 02000000 00000000 0100 E900 0100 0000"));
    expect_tiles_match_cells(f, u"Aé");

    // ASCII only: no scan map. Glyphs in table order: ! H e l o.
    const bytes ascii = font_for(u"Hello!");
    EXPECT_EQ(get_le16(ascii, 0x0E), 4);
    EXPECT_EQ(get_le32(ascii, 0x08), ascii.size());
    // W from H (6), H from l and ! (10 rows); S = (2*6*10 + 7) / 8 = 15; 5 tiles padded to 76.
    EXPECT_EQ(slice(ascii, 0x30, 12), hex("5C000000 060A0F00 08060200"));
    expect_tiles_match_cells(ascii, u"!Helo");
    EXPECT_EQ(slice(ascii, get_le32(ascii, 0x24) - 4, 8),
              hex("20000000 0000 0400")); // 15 bytes of widths padded to 16
    std::uint32_t table = get_le32(ascii, 0x28) - 8;
    const std::uint32_t n = u'o' - u'!' + 1; // 79 entries, padded to 80
    EXPECT_EQ(slice(ascii, table, 22), hex("'PAMC' B4000000 2100 6F00 01000000 00000000 0000"));
    EXPECT_EQ(table + 20 + 2 * (n + 1), ascii.size());
    for (auto [c, glyph] : {std::pair{u'H', 1}, {u'I', 0xFFFF}, {u'o', 4}, {u'p', 0}})
        EXPECT_EQ(get_le16(ascii, table + 20 + 2 * (c - u'!')), glyph) << int(c);

    // Without a character of 0x20..0x7E the table map covers 0x0020 alone, mapped to no glyph,
    // and still leads the chain to the scan map.
    const bytes accents = font_for(u"éà");
    EXPECT_EQ(get_le16(accents, 0x0E), 5);
    table = get_le32(accents, 0x28) - 8;
    bytes expected = hex("'PAMC' 18000000 2000 2000 01000000 00000000 FFFF 0000"
                         "'PAMC' 20000000 0000 FFFF 02000000 00000000 0200 E000 0000 E900 0100 0000");
    put_le32(expected, 16, table + 24 + 8); // the scan map follows at once
    EXPECT_EQ(slice(accents, table, 56), expected);
    EXPECT_EQ(table + 56, accents.size());
}

// Every character: the em dash is the widest and goes furthest, the trademark sign is the
// tallest; the table map covers the ASCII run with glyphs in order and the scan map pairs the 87
// others. None at all: the blank space as the only glyph, with tiles of two rows so that the
// baseline (two rows above the bottom) lies in them.
TEST(build_font, every_character_and_no_character_at_all)
{
    const bytes f = build_font(used_char_set().set());
    const auto& dash = glyph_metrics[index_of(u'\u2014')];
    EXPECT_EQ(slice(f, 0x34, 6), (bytes{dash[1], 12, f[0x36], f[0x37], 10, dash[2]}));
    EXPECT_EQ(f[0x19], 12); // line height
    std::uint32_t table = get_le32(f, 0x28) - 8;
    EXPECT_EQ(slice(f, table + 8, 4), hex("2000 7E00"));
    for (unsigned i = 0; i < 95; ++i)
        EXPECT_EQ(get_le16(f, table + 20 + 2 * i), i);
    const std::uint32_t scan = get_le32(f, table + 16) - 8;
    EXPECT_EQ(slice(f, scan + 4, 4), hex("74010000")); // 20 + 2 * (1 + 2 * 87 + 1)
    EXPECT_EQ(scan + get_le32(f, scan + 4), f.size());
    EXPECT_EQ(get_le16(f, scan + 20), 87);
    EXPECT_EQ(slice(f, scan + 22 + 4 * 86, 4), hex("2221 B500")); // last pair: 0x2122, glyph 181
    expect_tiles_match_cells(f, std::u16string(char_table.begin(), char_table.end()));

    const bytes none = font_for(u"");
    EXPECT_EQ(none, font_for(u" "));
    EXPECT_EQ(slice(none, 0x30, 10), hex("10000000 0002 0000 0003")); // W 0, H 2, S 0, baseline 0, advance 3
    EXPECT_EQ(slice(none, get_le32(none, 0x24) + 2, 9), hex("0000 00000000 030003"));
    table = get_le32(none, 0x28) - 8;
    EXPECT_EQ(slice(none, table + 8, 14), hex("2000 2000 01000000 00000000 0000")); // no scan map
}

// An odd script is not padded; the font is, with its chunk's head, to a multiple of 16.
TEST(assemble_script_entry, chunks_follow_the_kept_prefix_and_the_font_is_padded)
{
    const auto cat = [](std::initializer_list<bytes> parts) {
        bytes out;
        for (const bytes& p : parts)
            append_bytes(out, p);
        return out;
    };
    const bytes script = test::script_container(u"Oui"), old = test::pattern(40, 1); // a script of 38 bytes
    EXPECT_EQ(
        assemble_script_entry({}, 0, script, bytes(32, 0x77)),
        cat({hex("'DCM' 00 26000000 00000000 36000000"), script, hex("'TFN' 00 20000000 36000000 30000000"),
             bytes(32, 0x77), hex("'DNE' 00 00000000 30000000 00000000")}));
    EXPECT_EQ(assemble_script_entry(old, 24, bytes(21, 0x11), bytes(33, 0x22)),
              cat({slice(old, 0, 24), hex("'DCM' 00 15000000 18000000 25000000"), bytes(21, 0x11),
                   hex("'TFN' 00 21000000 25000000 40000000"), bytes(33, 0x22), bytes(15, 0),
                   hex("'DNE' 00 00000000 40000000 00000000")}));
    EXPECT_EQ(error_of([&] { assemble_script_entry(bytes(10, 1), 11, bytes(4), bytes(4)); }),
              "assemble_script_entry - prefix shorter than its length");
}

// Fonts redrawn at one bit per pixel: generated fonts (2 bits per pixel, one or two character
// maps), some with their depth or tile height rewritten, converted and compared pixel by pixel;
// and fonts that disagree with themselves refused.
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
TEST(font_depth, keeps_the_lowest_bit_of_each_pixel_moves_what_follows_and_refuses_inconsistent_fonts)
{
    const auto with = [](bytes f, std::uint8_t bpp, std::uint8_t height, std::uint16_t tile_bytes = 20) {
        return f[0x3A] = bpp, f[0x35] = height, put_le16(f, 0x36, tile_bytes), f;
    };
    // N 2, T1 10, Z1 36; N 6, T1 8, Z1 64; the same tiles read at one bit; N 5: the block grows;
    // T1 4, Z1 24; T1 2, Z1 20; every glyph, every pixel value.
    for (const bytes& in :
         {a_and_e_acute, hello, with(a_and_e_acute, 1, 10), with(a_and_e_acute, 1, 10, 10),
          with(a_and_e_acute, 4, 4), with(a_and_e_acute, 8, 2), build_font(used_char_set().set())}) {
        SCOPED_TRACE(std::to_string(in.size()) + " bytes at " + std::to_string(in[0x3A]) + " bits");
        const bytes out = convert_font_to_1bpp(in);
        const unsigned w = in[0x34], h = in[0x35], z = get_le32(in, 0x30), n = z / get_le16(in, 0x36);
        const std::uint32_t z1 = static_cast<std::uint32_t>(round_up(n * ((w * h + 7) / 8), 4) + 16);
        ASSERT_EQ(out.size(), in.size() - z + z1);
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

    // Fonts that disagree with themselves are refused. A map may end the file: its link to the
    // next map is then the file's last word.
    const bytes& good = a_and_e_acute;
    const auto size = static_cast<std::uint32_t>(good.size());
    const std::uint32_t first_map = get_le32(good, 0x28), second_map = get_le32(good, first_map + 8);
    // A glyph block at the very end of the file with 15-byte tiles: N counts the block's header
    // as one more tile, which would be read past the end.
    bytes at_end(hello.begin(), hello.begin() + 0x2C + get_le32(hello, 0x30));
    put_le32(at_end, 0x08, static_cast<std::uint32_t>(at_end.size()));
    const auto link = [](std::size_t at, std::uint32_t to) { return [=](bytes& b) { put_le32(b, at, to); }; };
    const auto byte = [](std::size_t at, std::uint8_t to) { return [=](bytes& b) { b[at] = to; }; };
    const std::pair<std::function<void(bytes&)>, std::string> damages[] = {
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
    for (std::size_t i = 0; i < std::size(damages); ++i) {
        bytes b = good;
        damages[i].first(b);
        EXPECT_EQ(error_of([&] { convert_font_to_1bpp(b); }),
                  damages[i].second.empty() ? "" : "convert_font_to_1bpp - " + damages[i].second)
            << "case " << i;
    }
}

} // namespace
} // namespace qm
