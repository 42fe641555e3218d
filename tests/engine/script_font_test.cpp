#include "engine/builtin_font.h"
#include "engine/script_font.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace qm {
namespace {

// A script container: 32 bytes of header holding the text range, `lead` bytes of other data,
// the text in UTF-16LE, then `tail` bytes.
bytes container_with(const std::u16string& text, std::size_t lead = 0, std::size_t tail = 0)
{
    bytes c(32 + lead, 0xAB);
    const auto start = static_cast<std::uint32_t>(c.size());
    for (char16_t u : text)
        append_le16(c, u);
    put_le32(c, 24, start);
    put_le32(c, 28, static_cast<std::uint32_t>(c.size()));
    c.resize(c.size() + tail, 0xCD);
    return c;
}

bytes font_for(const std::u16string& text)
{
    return build_font(used_chars(make_char_index(), container_with(text)));
}

std::size_t index_of(char16_t code)
{
    return make_char_index().at(code);
}

std::string tag_at(const bytes& b, std::size_t pos)
{
    return std::string(b.begin() + static_cast<std::ptrdiff_t>(pos), b.begin() + static_cast<std::ptrdiff_t>(pos + 4));
}

// The 2-bit pixel at (x, y) of glyph g's tile in a generated font.
unsigned tile_pixel(const bytes& font, unsigned g, unsigned x, unsigned y)
{
    const unsigned w = font[0x34], s = get_le16(font, 0x36);
    const unsigned p = y * w + x;
    return (font[0x3C + s * g + p / 4] >> (6 - 2 * (p % 4))) & 3;
}

// Each tile must hold the bottom rows of its character's cell.
void expect_tiles_match_cells(const bytes& font, const std::u16string& chars_in_glyph_order)
{
    const unsigned w = font[0x34], h = font[0x35];
    for (unsigned g = 0; g < chars_in_glyph_order.size(); ++g) {
        const glyph_cell& cell = glyph_bitmaps[index_of(chars_in_glyph_order[g])];
        for (unsigned y = 0; y < h; ++y)
            for (unsigned x = 0; x < w; ++x)
                ASSERT_EQ(tile_pixel(font, g, x, y), cell_pixel(cell, x, y + 12 - h)) << g << ":" << x << "," << y;
    }
}

TEST(UsedChars, MarksKnownCodeUnitsOfTheTextOnly)
{
    bytes c = container_with(u"Aé\u4E00A\u2122", 6, 4);
    // Outside the text range: in the lead and the tail.
    put_le16(c, 32, u'Z');
    put_le16(c, c.size() - 2, u'Q');
    used_char_set used = used_chars(make_char_index(), c);
    EXPECT_EQ(used.count(), 3u);
    EXPECT_TRUE(used[index_of(u'A')]);
    EXPECT_TRUE(used[index_of(u'é')]);
    EXPECT_TRUE(used[181]);

    EXPECT_TRUE(used_chars(make_char_index(), container_with(u"")).none());
}

TEST(UsedChars, RejectsTextOutsideTheContainer)
{
    const char_index_map index = make_char_index();
    auto expect_error = [&](const bytes& c, const std::string& message) {
        try {
            used_chars(index, c);
            ADD_FAILURE() << "no error for " << message;
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(e.what(), message);
        }
    };
    expect_error(bytes(31, 0), "used_chars - script container too short");

    bytes c = container_with(u"abc");
    put_le32(c, 28, 30); // ends before its start (32)
    expect_error(c, "used_chars - script text ends before it starts");
    put_le32(c, 28, static_cast<std::uint32_t>(c.size() + 2));
    expect_error(c, "used_chars - script text lies outside its container");
    put_le32(c, 24, 0xFFFFFFF0u);
    put_le32(c, 28, 0xFFFFFFF2u);
    expect_error(c, "used_chars - script text lies outside its container");
    put_le32(c, 24, 32);
    put_le32(c, 28, 37);
    expect_error(c, "used_chars - script text has an odd length");

    // Text reaching exactly to the container's end is fine.
    c = container_with(u"xy");
    EXPECT_EQ(used_chars(index, c).count(), 2u);
}

TEST(BuildFont, CapitalAAndEAcute)
{
    const bytes f = font_for(u"éA");
    ASSERT_EQ(f.size(), 176u);
    EXPECT_EQ(tag_at(f, 0), "RTFN");
    EXPECT_EQ(get_le16(f, 0x04), 0xFEFF);
    EXPECT_EQ(get_le16(f, 0x06), 0x0101);
    EXPECT_EQ(get_le32(f, 0x08), 176u);
    EXPECT_EQ(get_le16(f, 0x0C), 16);
    EXPECT_EQ(get_le16(f, 0x0E), 5); // block count

    EXPECT_EQ(tag_at(f, 0x10), "FNIF");
    EXPECT_EQ(get_le32(f, 0x14), 28u);
    const std::uint8_t finf[] = {0, 10, 0, 0, 0, 8, 8, 1};
    EXPECT_TRUE(std::equal(std::begin(finf), std::end(finf), f.begin() + 0x18));
    EXPECT_EQ(get_le32(f, 0x20), 0x34u);
    EXPECT_EQ(get_le32(f, 0x24), 0x34u + 56);
    EXPECT_EQ(get_le32(f, 0x28), 0x34u + 56 + 24);

    EXPECT_EQ(tag_at(f, 0x2C), "PLGC");
    EXPECT_EQ(get_le32(f, 0x30), 56u); // 2 tiles of 20 bytes + 16
    const std::uint8_t cglp[] = {8, 10, 20, 0, 8, 8, 2, 0};
    EXPECT_TRUE(std::equal(std::begin(cglp), std::end(cglp), f.begin() + 0x34));
    expect_tiles_match_cells(f, u"Aé");
    // Tiles of 8 pixels are two whole bytes per row: the left two bytes of each of the
    // cell's bottom 10 rows.
    const glyph_cell& a = glyph_bitmaps[index_of(u'A')];
    for (unsigned y = 0; y < 10; ++y) {
        EXPECT_EQ(f[0x3C + 2 * y], a[3 * (y + 2)]);
        EXPECT_EQ(f[0x3C + 2 * y + 1], a[3 * (y + 2) + 1]);
    }

    EXPECT_EQ(tag_at(f, 100), "HDWC");
    EXPECT_EQ(get_le32(f, 104), 24u);
    EXPECT_EQ(get_le16(f, 108), 0);
    EXPECT_EQ(get_le16(f, 110), 1);
    EXPECT_EQ(get_le32(f, 112), 0u);
    const std::uint8_t widths[] = {0, 8, 8, 0, 5, 5, 0, 0};
    EXPECT_TRUE(std::equal(std::begin(widths), std::end(widths), f.begin() + 116));

    EXPECT_EQ(tag_at(f, 124), "PAMC");
    EXPECT_EQ(get_le32(f, 128), 24u);
    EXPECT_EQ(get_le16(f, 132), 0x41);
    EXPECT_EQ(get_le16(f, 134), 0x41);
    EXPECT_EQ(get_le32(f, 136), 1u);
    EXPECT_EQ(get_le32(f, 140), 156u); // the scan map, 8 bytes into it
    EXPECT_EQ(get_le16(f, 144), 0);
    EXPECT_EQ(get_le16(f, 146), 0);

    EXPECT_EQ(tag_at(f, 148), "PAMC");
    EXPECT_EQ(get_le32(f, 152), 28u);
    EXPECT_EQ(get_le16(f, 156), 0);
    EXPECT_EQ(get_le16(f, 158), 0xFFFF);
    EXPECT_EQ(get_le32(f, 160), 2u);
    EXPECT_EQ(get_le32(f, 164), 0u);
    EXPECT_EQ(get_le16(f, 168), 1); // pair count
    EXPECT_EQ(get_le16(f, 170), 0x00E9);
    EXPECT_EQ(get_le16(f, 172), 1);
    EXPECT_EQ(get_le16(f, 174), 0);
}

TEST(BuildFont, AsciiOnlyHasNoScanMap)
{
    const bytes f = font_for(u"Hello!");
    // H e l o !: glyphs in table order ! H e l o.
    EXPECT_EQ(get_le16(f, 0x0E), 4);
    EXPECT_EQ(get_le32(f, 0x08), f.size());
    const std::uint32_t table = get_le32(f, 0x28) - 8;
    EXPECT_EQ(tag_at(f, table), "PAMC");
    EXPECT_EQ(get_le16(f, table + 8), u'!');
    EXPECT_EQ(get_le16(f, table + 10), u'o');
    EXPECT_EQ(get_le32(f, table + 16), 0u);
    const std::uint32_t n = u'o' - u'!' + 1; // 79 entries, padded to 80
    EXPECT_EQ(get_le32(f, table + 4), 20 + 2 * (n + 1));
    EXPECT_EQ(table + 20 + 2 * (n + 1), f.size());
    EXPECT_EQ(get_le16(f, table + 20), 0);                  // '!'
    EXPECT_EQ(get_le16(f, table + 20 + 2 * (u'H' - u'!')), 1);
    EXPECT_EQ(get_le16(f, table + 20 + 2 * (u'I' - u'!')), 0xFFFF);
    EXPECT_EQ(get_le16(f, table + 20 + 2 * (u'o' - u'!')), 4);
    EXPECT_EQ(get_le16(f, table + 20 + 2 * n), 0); // padding

    // W is the widest glyph (H, 6), H the tallest (l, !: 10 rows); S = (2*6*10 + 7) / 8 = 15;
    // glyph data 5 * 15 = 75 bytes, padded to 76.
    EXPECT_EQ(f[0x34], 6);
    EXPECT_EQ(f[0x35], 10);
    EXPECT_EQ(get_le16(f, 0x36), 15);
    EXPECT_EQ(f[0x38], 8);
    EXPECT_EQ(get_le32(f, 0x30), 76u + 16);
    expect_tiles_match_cells(f, u"!Helo");
    // The width block holds five entries (15 bytes, padded to 16).
    const std::uint32_t cwdh = get_le32(f, 0x24) - 8;
    EXPECT_EQ(get_le32(f, cwdh + 4), 32u);
    EXPECT_EQ(get_le16(f, cwdh + 10), 4);
}

TEST(BuildFont, GapInTheTableMap)
{
    const bytes f = font_for(u"CA");
    const std::uint32_t table = get_le32(f, 0x28) - 8;
    EXPECT_EQ(get_le32(f, table + 4), 28u); // N = 4
    EXPECT_EQ(get_le16(f, table + 8), 0x41);
    EXPECT_EQ(get_le16(f, table + 10), 0x43);
    EXPECT_EQ(get_le16(f, table + 20), 0);
    EXPECT_EQ(get_le16(f, table + 22), 0xFFFF);
    EXPECT_EQ(get_le16(f, table + 24), 1);
    EXPECT_EQ(get_le16(f, table + 26), 0);
}

TEST(BuildFont, MaximumAdvanceAndSizesFollowTheUsedGlyphs)
{
    // Em dash: widest and furthest advance; trademark: tallest.
    const bytes f = font_for(u"a\u2014\u2122");
    const auto& dash = glyph_metrics[index_of(u'\u2014')];
    EXPECT_EQ(f[0x34], dash[1]);
    EXPECT_EQ(f[0x39], dash[2]);
    EXPECT_EQ(f[0x35], 12);
    EXPECT_EQ(f[0x38], 10);
    EXPECT_EQ(f[0x19], 12); // line height
    expect_tiles_match_cells(f, u"a\u2014\u2122");
}

TEST(BuildFont, EveryCharacter)
{
    used_char_set all;
    all.set();
    const bytes f = build_font(all);
    const std::uint32_t table = get_le32(f, 0x28) - 8;
    EXPECT_EQ(get_le16(f, table + 8), 0x20);
    EXPECT_EQ(get_le16(f, table + 10), 0x7E);
    for (unsigned i = 0; i < 95; ++i)
        EXPECT_EQ(get_le16(f, table + 20 + 2 * i), i);
    const std::uint32_t scan = get_le32(f, table + 16) - 8;
    EXPECT_EQ(get_le16(f, scan + 20), 87);
    EXPECT_EQ(get_le16(f, scan + 22 + 4 * 86), 0x2122);
    EXPECT_EQ(get_le16(f, scan + 24 + 4 * 86), 181);
    EXPECT_EQ(get_le32(f, scan + 4), 20u + 2 * (1 + 2 * 87 + 1));
    EXPECT_EQ(scan + get_le32(f, scan + 4), f.size());
    std::u16string all_chars(char_table.begin(), char_table.end());
    expect_tiles_match_cells(f, all_chars);
}

TEST(BuildFont, UnknownCodeUnitsGetNoGlyph)
{
    EXPECT_EQ(font_for(u"A\u4E00\uFFFF"), font_for(u"A"));
}

// Without a character of 0x20..0x7E the table map covers 0x0020 alone, mapped to no glyph, and
// still leads the chain to the scan map.
TEST(BuildFont, NoAsciiCharacterGivesAnEmptyTableMap)
{
    const bytes f = font_for(u"éà");
    EXPECT_EQ(get_le16(f, 0x0E), 5);
    const std::uint32_t table = get_le32(f, 0x28) - 8;
    EXPECT_EQ(tag_at(f, table), "PAMC");
    EXPECT_EQ(get_le32(f, table + 4), 24u);
    EXPECT_EQ(get_le16(f, table + 8), 0x20);
    EXPECT_EQ(get_le16(f, table + 10), 0x20);
    EXPECT_EQ(get_le32(f, table + 12), 1u);
    EXPECT_EQ(get_le16(f, table + 20), 0xFFFF);
    EXPECT_EQ(get_le16(f, table + 22), 0);
    const std::uint32_t scan = get_le32(f, table + 16) - 8;
    EXPECT_EQ(scan, table + 24);
    EXPECT_EQ(get_le16(f, scan + 20), 2);
    EXPECT_EQ(get_le16(f, scan + 22), 0xE0);
    EXPECT_EQ(get_le16(f, scan + 24), 0);
    EXPECT_EQ(get_le16(f, scan + 26), 0xE9);
    EXPECT_EQ(get_le16(f, scan + 28), 1);
    EXPECT_EQ(scan + 32, f.size());
}

// A script without any known character still gets a well-formed font: the blank space as its
// only glyph, and tiles of two rows so that the baseline (two rows above the bottom) lies in them.
TEST(BuildFont, NoCharacterAtAllGivesTheSpaceAlone)
{
    const bytes f = font_for(u"");
    EXPECT_EQ(f, font_for(u" "));
    EXPECT_EQ(get_le16(f, 0x0E), 4);
    EXPECT_EQ(f[0x34], 0);  // W
    EXPECT_EQ(f[0x35], 2);  // H
    EXPECT_EQ(get_le16(f, 0x36), 0);
    EXPECT_EQ(f[0x38], 0);  // baseline
    EXPECT_EQ(f[0x39], 3);  // advance of the space
    EXPECT_EQ(get_le32(f, 0x30), 16u);
    const std::uint32_t cwdh = get_le32(f, 0x24) - 8;
    EXPECT_EQ(get_le16(f, cwdh + 10), 0); // one glyph
    EXPECT_EQ(f[cwdh + 16], 3);
    const std::uint32_t table = get_le32(f, 0x28) - 8;
    EXPECT_EQ(get_le16(f, table + 8), 0x20);
    EXPECT_EQ(get_le16(f, table + 20), 0);
    EXPECT_EQ(get_le32(f, 0x08), f.size());
}

TEST(BuildFont, UnderscoreAloneKeepsTheBaselineInTheTile)
{
    const bytes f = font_for(u"_");
    EXPECT_EQ(f[0x35], 2);
    EXPECT_EQ(f[0x38], 0);
    expect_tiles_match_cells(f, u"_");
}

TEST(AssembleScriptEntry, WithoutPrefixStartsWithTheScriptChunk)
{
    const bytes script = container_with(u"Oui");
    const bytes font(32, 0x77);
    const bytes e = assemble_script_entry({}, 0, script, font);
    const std::uint32_t ls = static_cast<std::uint32_t>(script.size()); // 38
    ASSERT_EQ(e.size(), ls + 48 + 32);
    EXPECT_EQ(tag_at(e, 0), std::string("DCM\0", 4));
    EXPECT_EQ(get_le32(e, 4), ls);
    EXPECT_EQ(get_le32(e, 8), 0u);
    EXPECT_EQ(get_le32(e, 12), ls + 16);
    EXPECT_TRUE(std::equal(script.begin(), script.end(), e.begin() + 16));
    const std::size_t tfn = 16 + ls;
    EXPECT_EQ(tag_at(e, tfn), std::string("TFN\0", 4));
    EXPECT_EQ(get_le32(e, tfn + 4), 32u);
    EXPECT_EQ(get_le32(e, tfn + 8), ls + 16);
    EXPECT_EQ(get_le32(e, tfn + 12), 48u);
    EXPECT_TRUE(std::equal(font.begin(), font.end(), e.begin() + static_cast<std::ptrdiff_t>(tfn + 16)));
    const std::size_t dne = tfn + 48;
    EXPECT_EQ(tag_at(e, dne), std::string("DNE\0", 4));
    EXPECT_EQ(get_le32(e, dne + 4), 0u);
    EXPECT_EQ(get_le32(e, dne + 8), 48u);
    EXPECT_EQ(get_le32(e, dne + 12), 0u);
}

TEST(AssembleScriptEntry, KeepsThePrefixAndPadsTheFontChunk)
{
    bytes old(40);
    for (std::size_t i = 0; i < old.size(); ++i)
        old[i] = static_cast<std::uint8_t>(i + 1);
    const bytes script(21, 0x11); // odd length: the script chunk is not padded
    const bytes font(33, 0x22);
    const bytes e = assemble_script_entry(old, 24, script, font);
    ASSERT_EQ(e.size(), 24u + 21 + 64 + 32);
    EXPECT_TRUE(std::equal(old.begin(), old.begin() + 24, e.begin()));
    EXPECT_EQ(tag_at(e, 24), std::string("DCM\0", 4));
    EXPECT_EQ(get_le32(e, 32), 24u);
    const std::size_t tfn = 24 + 16 + 21;
    EXPECT_EQ(tag_at(e, tfn), std::string("TFN\0", 4));
    EXPECT_EQ(get_le32(e, tfn + 12), 64u);
    for (std::size_t i = tfn + 16 + 33; i < tfn + 64; ++i)
        EXPECT_EQ(e[i], 0) << i;
    EXPECT_EQ(tag_at(e, tfn + 64), std::string("DNE\0", 4));
    EXPECT_EQ(get_le32(e, tfn + 64 + 8), 64u);
}

TEST(AssembleScriptEntry, RejectsAPrefixLongerThanWhatIsGiven)
{
    const bytes old(10, 1);
    try {
        assemble_script_entry(old, 11, bytes(4), bytes(4));
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "assemble_script_entry - prefix shorter than its length");
    }
}

} // namespace
} // namespace qm
