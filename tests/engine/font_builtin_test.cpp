#include "engine/builtin_font.h"
#include "engine/char_table.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace qm {
namespace {

std::size_t index_of(std::uint16_t code)
{
    return make_char_index().at(code);
}

// Rows of a glyph's cell that hold ink: the first and the last, or -1 when it has none.
std::pair<int, int> ink_rows(std::size_t i)
{
    int top = -1, bottom = -1;
    for (unsigned y = 0; y < glyph_cell_size; ++y)
        for (unsigned x = 0; x < glyph_cell_size; ++x)
            if (cell_pixel(glyph_bitmaps[i], x, y) != 0) {
                if (top < 0)
                    top = static_cast<int>(y);
                bottom = static_cast<int>(y);
            }
    return {top, bottom};
}

TEST(CharTable, HoldsAsciiThenTheExtraCharactersInOrder)
{
    const std::uint16_t extra[] = {
        0x00A0, 0x00A1, 0x00A2, 0x00A3, 0x00A5, 0x00A7, 0x00A8, 0x00A9, 0x00AA, 0x00AB, 0x00AD,
        0x00AE, 0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B7, 0x00B9, 0x00BA, 0x00BB, 0x00BF,
        0x00C0, 0x00C1, 0x00C2, 0x00C4, 0x00C6, 0x00C7, 0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC,
        0x00CD, 0x00CE, 0x00CF, 0x00D1, 0x00D2, 0x00D3, 0x00D4, 0x00D5, 0x00D6, 0x00D7, 0x00D9,
        0x00DA, 0x00DB, 0x00DC, 0x00DF, 0x00E0, 0x00E1, 0x00E2, 0x00E4, 0x00E6, 0x00E7, 0x00E8,
        0x00E9, 0x00EA, 0x00EB, 0x00EC, 0x00ED, 0x00EE, 0x00EF, 0x00F1, 0x00F2, 0x00F3, 0x00F4,
        0x00F5, 0x00F6, 0x00F7, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x0152, 0x0153, 0x2013, 0x2014,
        0x2018, 0x2019, 0x201A, 0x201C, 0x201D, 0x201E, 0x2022, 0x2026, 0x20AC, 0x2122};
    static_assert(std::size(extra) == char_count - 95);
    const char_index_map index = make_char_index();
    EXPECT_EQ(index.size(), char_count);
    for (std::size_t i = 0; i < char_count; ++i) {
        EXPECT_EQ(char_table[i], i < 95 ? 0x20 + i : extra[i - 95]) << i;
        EXPECT_EQ(index.at(char_table[i]), i);
    }
}

TEST(BuiltinFont, FixedRows)
{
    struct row {
        std::uint16_t code;
        std::array<std::uint8_t, 3> metrics;
        std::uint8_t height;
    };
    const row rows[] = {
        {0x0020, {3, 0, 3}, 0},  {0x0021, {0, 2, 2}, 10}, {0x0041, {0, 8, 8}, 9}, {0x0061, {0, 6, 6}, 7},
        {0x00E9, {0, 5, 5}, 10}, {0x2122, {0, 8, 8}, 12}, {0x00A0, {5, 0, 5}, 0},
    };
    for (const row& r : rows) {
        std::size_t i = index_of(r.code);
        EXPECT_EQ(glyph_metrics[i], r.metrics) << "code " << r.code;
        EXPECT_EQ(glyph_heights[i], r.height) << "code " << r.code;
    }
}

TEST(BuiltinFont, HeightsMetricsAndInkAgree)
{
    for (std::size_t i = 0; i < char_count; ++i) {
        SCOPED_TRACE("code " + std::to_string(char_table[i]));
        const auto& m = glyph_metrics[i];
        EXPECT_LE(m[1], 12);
        EXPECT_LE(m[2], 12);
        auto [top, bottom] = ink_rows(i);
        EXPECT_EQ(glyph_heights[i], top < 0 ? 0 : 12 - top);
        const bool blank = char_table[i] == 0x0020 || char_table[i] == 0x00A0;
        EXPECT_EQ(top < 0, blank);
        for (unsigned y = 0; y < glyph_cell_size; ++y)
            for (unsigned x = m[1]; x < glyph_cell_size; ++x)
                EXPECT_EQ(cell_pixel(glyph_bitmaps[i], x, y), 0)
                    << "ink outside the width at " << x << "," << y;
        if (!blank) {
            EXPECT_EQ(m[0], 0);
            EXPECT_EQ(m[2], m[1]);
        }
    }
}

TEST(BuiltinFont, LettersShareBaselineCapHeightAndXHeight)
{
    // Expected first and last ink rows; 0 leaves the top unchecked (letters of their own shape).
    const auto expect_rows = [](char c, int top, int bottom) {
        auto [t, b] = ink_rows(index_of(static_cast<std::uint16_t>(c)));
        EXPECT_EQ(b, bottom) << c;
        EXPECT_TRUE(top == 0 || t == top) << c << " starts at row " << t;
    };
    for (char c = 'A'; c <= 'Z'; ++c)
        expect_rows(c, 3, 10);
    for (char c = '0'; c <= '9'; ++c)
        expect_rows(c, 3, 10);
    for (char c = 'a'; c <= 'z'; ++c) {
        const bool x_height = std::string("acemnorsuvwxz").find(c) != std::string::npos;
        const bool ascender = std::string("bdfhkl").find(c) != std::string::npos;
        expect_rows(c,
                    x_height   ? 5
                    : ascender ? 2
                               : 0,
                    std::string("gjpqy").find(c) != std::string::npos ? 11 : 10);
    }
}

void expect_same_rows(std::size_t a, std::size_t b, unsigned from, unsigned to)
{
    for (unsigned y = from; y < to; ++y)
        for (unsigned x = 0; x < glyph_cell_size; ++x)
            EXPECT_EQ(cell_pixel(glyph_bitmaps[a], x, y), cell_pixel(glyph_bitmaps[b], x, y))
                << x << "," << y;
}

// An accented letter is its base letter with a mark above it, one blank row between them.
TEST(BuiltinFont, AccentedLettersKeepTheirBaseLetter)
{
    const std::pair<std::u16string, char> groups[] = {
        {u"ÀÁÂÄ", 'A'}, {u"ÈÉÊË", 'E'}, {u"ÌÍÎÏ", 'I'}, {u"Ñ", 'N'},     {u"ÒÓÔÕÖ", 'O'}, {u"ÙÚÛÜ", 'U'},
        {u"àáâä", 'a'}, {u"èéêë", 'e'}, {u"ñ", 'n'},    {u"òóôõö", 'o'}, {u"ùúûü", 'u'},
    };
    for (const auto& [accented, base] : groups) {
        const std::size_t b = index_of(static_cast<std::uint16_t>(base));
        const int base_top = ink_rows(b).first;
        for (char16_t c : accented) {
            SCOPED_TRACE("code " + std::to_string(c));
            const std::size_t a = index_of(c);
            EXPECT_EQ(glyph_metrics[a], glyph_metrics[b]);
            EXPECT_LT(ink_rows(a).first, base_top - 1);
            expect_same_rows(a, b, static_cast<unsigned>(base_top - 1), glyph_cell_size);
        }
    }
    // Cedillas hang in the row below the baseline.
    for (auto [accented, base] : {std::pair{u'Ç', 'C'}, std::pair{u'ç', 'c'}}) {
        const std::size_t a = index_of(accented), b = index_of(static_cast<std::uint16_t>(base));
        EXPECT_EQ(glyph_metrics[a], glyph_metrics[b]);
        expect_same_rows(a, b, 0, glyph_cell_size - 1);
        EXPECT_EQ(ink_rows(a).second, 11);
    }
}

} // namespace
} // namespace qm
