#include "cpk/utf_table.h"

#include "cpk_test_data.h"

#include "support/error_of.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace qm {
namespace {

using test::error_of;

bytes cat(const bytes& head, const bytes& tail)
{
    bytes out = head;
    append_bytes(out, tail);
    return out;
}

utf_table empty_itoc_l()
{
    return test::entry_table("CpkItocL", utf_u16, {});
}

// The numeric cells of row r of the every-type table, in type order, are written[t] + r: high
// bits set, the s8 and u16 ones wider than their column, which read back cut to their width.
constexpr std::uint64_t written[] = {0xF0,
                                     0xFFFFFFFFFFFFFF80,
                                     0x1FFF0,
                                     0x8001,
                                     0xFFFFFFF0,
                                     0x80000000,
                                     0xFEDCBA9876543210,
                                     0x8000000000000001,
                                     0x3FC00000,
                                     0x0102030405060708};
// One column of every type, three rows, the same text in rows 0 and 2.
utf_table every_type_table()
{
    std::vector<utf_column> columns;
    for (utf_type t = 0; t < utf_type_count; ++t)
        columns.push_back({"col" + std::to_string(t), t, true});
    utf_table t("Every", columns);
    utf_table inner = empty_itoc_l();
    inner.add_row();
    inner.cell(0, 0) = 7;
    for (std::uint32_t r = 0; r < 3; ++r) {
        t.add_row();
        for (utf_type c = 0; c < utf_string; ++c)
            t.cell(r, c) = written[c] + r;
        t.set_string(r, utf_string, r == 1 ? "" : "text");
        inner.cell(0, 1) = r;
        t.set_table(r, utf_data, inner);
    }
    return t;
}

TEST(utf_table_writer, empty_itoc_l_table_and_its_chunk_are_exact_bytes)
{
    const bytes expected = {
        '@',  'U', 'T', 'F', 0,   0,    0,   80, // magic, table size
        0,    0,   0,   39,  0,   0,    0,   39, // reserved, rows offset, strings offset
        0,    0,   0,   80,  0,   0,    0,   7,  // data offset, name offset
        0,    3,   0,   0,   0,   0,    0,   0,  // 3 columns, row width 0, 0 rows
        0x12, 0,   0,   0,   16,  0x12, 0,   0,   0,   19,  0x12, 0,   0,   0,   28,  '<', 'N', 'U', 'L',
        'L',  '>', 0,   'C', 'p', 'k',  'I', 't', 'o', 'c', 'L',  0,   'I', 'D', 0,   'F', 'i', 'l', 'e',
        'S',  'i', 'z', 'e', 0,   'E',  'x', 't', 'r', 'a', 'c',  't', 'S', 'i', 'z', 'e', 0,   0,
    };
    EXPECT_EQ(empty_itoc_l().serialize(), expected);
    // With no rows every column is written as not stored, and read back so.
    const utf_table t = utf_table::parse(expected);
    EXPECT_EQ(t.row_count(), 0u);
    ASSERT_EQ(t.columns().size(), 3u);
    for (const utf_column& c : t.columns())
        EXPECT_FALSE(c.stored);
    EXPECT_EQ(t.columns()[2].name, "ExtractSize");

    // As a chunk: tag, flag 0xFF, little-endian length, then the table.
    const bytes c = empty_itoc_l().to_chunk("ITOC");
    EXPECT_EQ(c, cat({'I', 'T', 'O', 'C', 0xFF, 0, 0, 0, 88, 0, 0, 0, 0, 0, 0, 0}, expected));

    // Flag 0 means enciphered (refused); any other flag is read.
    bytes flagged = c;
    flagged[4] = 0x01;
    EXPECT_EQ(utf_table::from_chunk(flagged).name(), "CpkItocL");
    // The length field is not trusted beyond the bytes that are there.
    put_le64(flagged, 8, 0xFFFFFFFFFFFFull);
    EXPECT_EQ(utf_table::from_chunk(flagged).name(), "CpkItocL");
}

// The layout of a table with every type, texts and nested tables is pinned by a digest recorded
// from today's writer (the layout the archives are accepted on): column and row widths, the string
// pool with one copy per cell, the 8-byte aligned data pool with the nested tables back to back,
// cells cut to their width. Reading it back gives every value, without sign extension.
TEST(utf_table_reader, every_type_string_and_nested_table_read_back_as_written)
{
    const bytes b = every_type_table().serialize();
    EXPECT_EQ(test::fnv1a(b), 10069716768140487068u);
    const utf_table back = utf_table::parse(b);
    ASSERT_EQ(back.name(), "Every");
    ASSERT_EQ(back.row_count(), 3u);
    EXPECT_EQ(back.row_width(), 1 + 1 + 2 + 2 + 4 + 4 + 8 + 8 + 4 + 8 + 4 + 8);
    for (std::uint32_t r = 0; r < 3; ++r) {
        for (utf_type c = 0; c < utf_string; ++c)
            EXPECT_EQ(back.cell(r, c), (c == 1 ? 0x80 : c == 2 ? 0xFFF0 : written[c]) + r) << r << ", " << c;
        EXPECT_EQ(back.string_at(back.cell(r, utf_string)), r == 1 ? "" : "text");
        EXPECT_EQ(back.sub_table(back.cell(r, utf_data)).cell(0, 1), r);
    }
    EXPECT_EQ(back.serialize(), b);
}

// Columns not stored read zero and take no row bytes. The last column is written stored and then
// marked as not stored: each row keeps its two unused bytes and the reader must step over them
// by the header's row width.
TEST(utf_table_reader, columns_not_stored_read_zero_rows_step_by_the_header_width_and_lookup_by_name)
{
    utf_table t("T", {{"a", utf_u16, true},
                      {"s", utf_string, false},
                      {"d", utf_data, false},
                      {"b", utf_u32, true},
                      {"pad", utf_u16, true}});
    for (std::uint32_t r = 0; r < 3; ++r) {
        t.add_row();
        t.cell(r, 0) = 0x1000 + r;
        t.cell(r, 3) = 0x20000000 + r;
        t.cell(r, 4) = 0xFFFF;
    }
    bytes b = t.serialize();
    EXPECT_EQ(get_be16(b, 26), 8);
    b[32 + 4 * 5] &= ~0x40;
    const utf_table back = utf_table::parse(b);
    EXPECT_EQ(back.row_width(), 8);
    for (std::uint32_t r = 0; r < 3; ++r)
        EXPECT_EQ((std::vector<std::uint64_t>{back.cell(r, 0), back.cell(r, 1), back.cell(r, 2),
                                              back.cell(r, 3), back.cell(r, 4)}),
                  (std::vector<std::uint64_t>{0x1000u + r, 0, 0, 0x20000000u + r, 0}));
    EXPECT_EQ(back.string_count(), 0u);
    EXPECT_EQ(back.sub_table_count(), 0u);

    // Lookup by name: the last of equal names, 0 for a missing one.
    utf_table named("T",
                    {{"x", utf_u8, true}, {"dup", utf_u8, true}, {"y", utf_u8, true}, {"dup", utf_u8, true}});
    EXPECT_EQ(named.column_index("y"), 2u);
    EXPECT_EQ(named.column_index("missing"), 0u);
    EXPECT_FALSE(named.has_column("missing"));
    EXPECT_EQ(named.column_index("dup"), 3u);
    EXPECT_EQ(utf_table::parse(named.serialize()).column_index("dup"), 3u);
}

TEST(utf_table_reader, descriptor_flags_are_tested_in_order)
{
    bytes b = empty_itoc_l().serialize();
    auto with_flag = [&](std::uint8_t flag) {
        bytes m = b;
        m[32 + 5] = flag; // second column
        return error_of([&] { utf_table::parse(m); });
    };
    const std::string global = "Global property not supported", no_name = "Property not described by string";
    const std::pair<std::uint8_t, std::string> cases[] = {{0x30, global},  {0x00, no_name},
                                                          {0x2C, no_name}, {0x1C, "Unknown property type"},
                                                          {0x3F, global},  {0x9B, ""}}; // 0x80 means nothing
    for (const auto& [flag, message] : cases)
        EXPECT_EQ(with_flag(flag), message) << int(flag);
    EXPECT_EQ(error_of([&] {
                  b[0] = '#';
                  utf_table::parse(b);
              }),
              "No valid UTF signature found");
}

// Malformed input: every case must fail with a runtime_error and never read outside.

bytes nested_sample()
{
    utf_table outer("Outer", {{"n", utf_u32, true}, {"s", utf_string, true}, {"d", utf_data, true}});
    outer.add_row();
    outer.cell(0, 0) = 5;
    outer.set_string(0, 1, "hello");
    outer.set_table(0, 2, every_type_table());
    return outer.serialize();
}

TEST(utf_table_malformed, offsets_pointing_outside_fail)
{
    const bytes good = nested_sample();
    const std::size_t rows = 8 + get_be16(good, 10);
    auto fails = [&](std::size_t at, std::uint32_t value) {
        bytes m = good;
        put_be32(m, at, value);
        return error_of([&] { utf_table::parse(m); });
    };
    const std::string p = "utf_table::parse failed - ", string = "string outside the table",
                      nested = "nested table outside its parent's data";
    const struct {
        std::size_t at;
        std::uint32_t value;
        std::string message;
    } cases[] = {
        {rows + 4, 0x10000, string}, // string cell
        {rows + 8, 0xFFFFFFFF, nested},
        {28, 0xFFFFFFFF, "rows outside the table"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(fails(c.at, c.value), p + c.message) << c.at;
    bytes m = good;
    put_be16(m, 24, 0xFFFF); // column count: descriptors run into the rows, then off the end
    EXPECT_THROW(utf_table::parse(m), std::runtime_error);

    // A pool whose last text has no NUL.
    bytes open_ended = utf_table("T", {}).serialize();
    open_ended.resize(8 + get_be32(open_ended, 12) + 9); // "<NULL>\0T" then no terminator
    open_ended[open_ended.size() - 1] = 'x';
    EXPECT_EQ(error_of([&] { utf_table::parse(open_ended); }),
              "utf_table::parse failed - unterminated string");
}

TEST(utf_table_malformed, nesting_is_limited)
{
    utf_table t("leaf", {});
    for (int i = 0; i < 17; ++i) {
        utf_table outer("level" + std::to_string(i), {{"d", utf_data, true}});
        outer.add_row();
        outer.set_table(0, 0, t);
        t = outer;
    }
    EXPECT_EQ(error_of([&] { utf_table::parse(t.serialize()); }),
              "utf_table::parse failed - tables nested too deeply");
}

TEST(utf_table_malformed, counts_that_ask_for_absurd_memory_are_refused_before_allocation)
{
    // Row width 0 and a huge row count: rows then take no bytes, so only the budget stops them.
    utf_table t("T", {{"a", utf_u64, false}, {"b", utf_u64, false}});
    t.add_row();
    bytes b = t.serialize();
    put_be16(b, 26, 0);
    put_be32(b, 28, 0xFFFFFFFF);
    EXPECT_EQ(error_of([&] { utf_table::parse(b); }),
              "utf_table::parse failed - table too large for its bytes");
}

} // namespace
} // namespace qm
