#include "cpk/cpk_builder.h"
#include "cpk/cpk_compress.h"
#include "cpk/cpk_visit.h"

#include "cpk_test_data.h"

#include "support/error_of.h"

#include <gtest/gtest.h>

#include <cstring>

namespace qm {
namespace {

struct visited_file {
    std::uint32_t id;
    bytes data;
    bool operator==(const visited_file&) const = default;
};

std::vector<visited_file> visit_all(byte_span archive)
{
    std::vector<visited_file> files;
    cpk_visit(archive, [&](std::uint32_t id, byte_span data) {
        files.push_back({id, bytes(data.begin(), data.end())});
    });
    return files;
}

using test::build_archive;
using test::error_of;

// Visits the archive, noting the ids seen; returns the error text ("" when the walk ends well).
std::string visit_error(const bytes& archive, std::vector<std::uint32_t>& ids)
{
    return error_of([&] { cpk_visit(archive, [&](std::uint32_t id, byte_span) { ids.push_back(id); }); });
}

bytes with_header(bytes archive, const utf_table& header)
{
    const bytes chunk = header.to_chunk("CPK ");
    std::copy(chunk.begin(), chunk.end(), archive.begin());
    return archive;
}

std::uint64_t header_value(const bytes& archive, const char* column)
{
    const utf_table h = utf_table::from_chunk(archive);
    EXPECT_TRUE(h.has_column(column)) << column;
    return h.cell(0, h.column_index(column));
}

utf_table itoc_of(const bytes& archive)
{
    return utf_table::from_chunk(byte_span(archive).subspan(header_value(archive, "ItocOffset")));
}

// Building.

TEST(cpk_builder, an_archive_without_files)
{
    const bytes a = build_archive({});
    ASSERT_EQ(a.size(), 0x800u + 320);
    EXPECT_EQ(header_value(a, "Files"), 0u);
    EXPECT_EQ(header_value(a, "ItocOffset"), 0x800u);
    EXPECT_EQ(std::memcmp(a.data() + 0x800, "ITOC", 4), 0);
    const utf_table itoc = itoc_of(a);
    EXPECT_EQ(itoc.cell(0, itoc.column_index("FilesL")), 0u);
    EXPECT_EQ(itoc.cell(0, itoc.column_index("FilesH")), 0u);
    EXPECT_TRUE(visit_all(a).empty());
}

TEST(cpk_builder, header_chunk_layout)
{
    const bytes a = build_archive({bytes(10, 1)});
    EXPECT_EQ((bytes{a.begin(), a.begin() + 8}), (bytes{'C', 'P', 'K', ' ', 0xFF, 0, 0, 0}));
    EXPECT_EQ(get_le64(a, 8), 488u);
    const byte_span table = byte_span(a).subspan(16, 488);
    EXPECT_EQ(get_be32(table, 4), 480u);
    EXPECT_EQ(get_be16(table, 10), 144);
    EXPECT_EQ(get_be32(table, 12), 200u);
    EXPECT_EQ(get_be32(table, 16), 480u);
    EXPECT_EQ(get_be16(table, 24), 24);
    EXPECT_EQ(get_be16(table, 26), 56);
    EXPECT_EQ(get_be32(table, 28), 1u);
    EXPECT_TRUE(std::all_of(a.begin() + 504, a.begin() + 0x800, [](std::uint8_t x) { return x == 0; }));

    const utf_table h = utf_table::from_chunk(a);
    std::vector<std::string> stored;
    for (const utf_column& c : h.columns())
        if (c.stored)
            stored.push_back(c.name);
    EXPECT_EQ(stored, (std::vector<std::string>{"ContentOffset", "ItocOffset", "ItocSize",
                                                "EnabledPackedSize", "EnabledDataSize", "Files", "Version",
                                                "Revision", "Align", "Sorted", "Tvers"}));
    EXPECT_EQ(h.columns()[0].name, "UpdateDateTime");
    EXPECT_EQ(h.columns()[23].name, "Comment");
    EXPECT_EQ(h.cell(0, h.column_index("Version")), 2u);
    EXPECT_EQ(h.cell(0, h.column_index("Revision")), 3u);
    EXPECT_EQ(h.cell(0, h.column_index("Align")), 512u);
    EXPECT_EQ(h.cell(0, h.column_index("Sorted")), 0u);
    EXPECT_EQ(h.string_at(h.cell(0, h.column_index("Tvers"))), "CPK Library 1.05");
}

TEST(cpk_builder, stored_files_of_5_512_and_513_bytes)
{
    const std::vector<bytes> files = {test::random_bytes(5, 1), test::random_bytes(512, 2),
                                      test::random_bytes(513, 3)};
    const bytes a = build_archive(files);
    EXPECT_EQ(header_value(a, "ContentOffset"), 0x800u);
    EXPECT_EQ(header_value(a, "ItocOffset"), 0x1000u);
    EXPECT_EQ(header_value(a, "EnabledPackedSize"), 1030u);
    EXPECT_EQ(header_value(a, "EnabledDataSize"), 1030u);
    EXPECT_EQ(header_value(a, "Files"), 3u);
    EXPECT_EQ(a.size(), 0x1000u + header_value(a, "ItocSize"));
    const std::size_t at[] = {0x800, 0xA00, 0xC00};
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(std::equal(files[i].begin(), files[i].end(), a.begin() + at[i])) << i;
    const utf_table low = itoc_of(a).sub_table(0);
    ASSERT_EQ(low.row_count(), 3u);
    for (std::uint32_t r = 0; r < 3; ++r) {
        EXPECT_EQ(low.cell(r, 0), r + 1);
        EXPECT_EQ(low.cell(r, 1), files[r].size());
        EXPECT_EQ(low.cell(r, 2), files[r].size());
    }
    EXPECT_EQ(visit_all(a), (std::vector<visited_file>{{1, files[0]}, {2, files[1]}, {3, files[2]}}));
}

TEST(cpk_builder, compression_starts_at_384_bytes)
{
    const bytes a = build_archive({bytes(383, 0), bytes(384, 0), bytes(7, 9)});
    const utf_table low = itoc_of(a).sub_table(0);
    ASSERT_EQ(low.row_count(), 3u);
    EXPECT_EQ(low.cell(0, 1), 383u);
    EXPECT_EQ(low.cell(1, 1), 268u);
    EXPECT_EQ(low.cell(1, 2), 384u);
    EXPECT_EQ(header_value(a, "EnabledPackedSize"), 383u + 384 + 7);
    EXPECT_EQ(header_value(a, "EnabledDataSize"), 383u + 268 + 7);
    const bytes zeros(384, 0);
    EXPECT_EQ(bytes(a.begin() + 0xA00, a.begin() + 0xA00 + 268), *cpk_compress(byte_span(zeros).first(384)));
    // The third file follows 512 bytes after the 268-byte form.
    EXPECT_EQ(bytes(a.begin() + 0xC00, a.begin() + 0xC07), bytes(7, 9));
    EXPECT_EQ(visit_all(a), (std::vector<visited_file>{{1, bytes(383, 0)}, {2, zeros}, {3, bytes(7, 9)}}));
}

TEST(cpk_builder, the_table_follows_the_expanded_size)
{
    const bytes a = build_archive({bytes(65535, 'a'), bytes(65536, 'b')});
    const utf_table itoc = itoc_of(a);
    const utf_table& low = itoc.sub_table(itoc.cell(0, 2));
    const utf_table& high = itoc.sub_table(itoc.cell(0, 3));
    ASSERT_EQ(low.row_count(), 1u);
    ASSERT_EQ(high.row_count(), 1u);
    EXPECT_EQ(high.columns()[1].type, utf_u32);
    EXPECT_EQ(high.cell(0, 0), 2u);
    EXPECT_LT(high.cell(0, 1), 1000u);
    EXPECT_EQ(high.cell(0, 2), 65536u);
    EXPECT_EQ(itoc.cell(0, 0), 1u);
    EXPECT_EQ(itoc.cell(0, 1), 1u);
    const auto files = visit_all(a);
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[1].data, bytes(65536, 'b'));
}

TEST(cpk_builder, an_empty_file_has_an_id_and_takes_no_room)
{
    const bytes a = build_archive({bytes(5, 1), bytes(), bytes(5, 2)});
    EXPECT_EQ(header_value(a, "ItocOffset"), 0xC00u);
    EXPECT_EQ(bytes(a.begin() + 0xA00, a.begin() + 0xA05), bytes(5, 2));
    EXPECT_EQ(visit_all(a), (std::vector<visited_file>{{1, bytes(5, 1)}, {2, bytes()}, {3, bytes(5, 2)}}));
}

TEST(cpk_builder, build_and_visit_round_trip)
{
    std::vector<bytes> files;
    for (std::uint32_t i = 0; i < 20; ++i) {
        const std::size_t n = (i * 7919u) % 5000 + (i % 9 == 0 ? 70000 : 0);
        files.push_back(i % 3 == 0 ? test::random_bytes(n, i) : test::text_like(n, i));
    }
    const std::vector<visited_file> back = visit_all(build_archive(files));
    ASSERT_EQ(back.size(), files.size());
    for (std::uint32_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(back[i].id, i + 1);
        EXPECT_EQ(back[i].data, files[i]) << i;
    }
}

TEST(cpk_builder, more_than_65535_files_are_refused)
{
    cpk_builder b;
    for (std::uint32_t i = 0; i < 65535; ++i)
        b.add_file({});
    EXPECT_EQ(error_of([&] { b.add_file({}); }),
              "cpk_builder::add_file failed - a CPK archive holds at most 65535 files");
    const bytes a = b.write();
    std::uint32_t count = 0, last = 0;
    cpk_visit(a, [&](std::uint32_t id, byte_span) { ++count, last = id; });
    EXPECT_EQ(count, 65535u);
    EXPECT_EQ(last, 65535u);
}

// Reading archives assembled by hand.

TEST(cpk_visit, ids_spread_over_both_tables_come_in_ascending_order)
{
    const bytes f3 = test::random_bytes(100, 3), f5 = test::random_bytes(600, 5),
                f7 = test::random_bytes(70, 7);
    const bytes a = test::assemble_archive(0x800, {{7, 70, 70}, {3, 100, 100}}, {{5, 600, 600}},
                                           {{3, f3}, {5, f5}, {7, f7}});
    EXPECT_EQ(visit_all(a), (std::vector<visited_file>{{3, f3}, {5, f5}, {7, f7}}));
}

TEST(cpk_visit, the_high_table_overrides_the_low_one)
{
    const bytes f = test::random_bytes(300, 1);
    const bytes a = test::assemble_archive(0x800, {{1, 5, 5}}, {{1, 300, 300}}, {{1, f}});
    EXPECT_EQ(visit_all(a), (std::vector<visited_file>{{1, f}}));
}

TEST(cpk_visit, the_first_file_starts_exactly_at_the_content_offset)
{
    const bytes f1 = test::random_bytes(10, 1), f2 = test::random_bytes(20, 2);
    const bytes a = test::assemble_archive(0x1F4, {{1, 10, 10}, {2, 20, 20}}, {}, {{1, f1}, {2, f2}});
    ASSERT_TRUE(std::equal(f2.begin(), f2.end(), a.begin() + 0x200));
    EXPECT_EQ(visit_all(a), (std::vector<visited_file>{{1, f1}, {2, f2}}));
}

TEST(cpk_visit, files_follow_the_alignment_the_header_declares)
{
    const bytes f1 = test::random_bytes(5, 1), f2 = test::random_bytes(600, 2),
                f3 = test::random_bytes(10, 3);
    const std::vector<test::archive_entry> low = {{1, 5, 5}, {2, 600, 600}, {3, 10, 10}};
    const std::vector<visited_file> expected = {{1, f1}, {2, f2}, {3, f3}};
    // Align as declared (another tool's 2048, or 32, or even 1000); 0 steps 512 as no column does.
    for (auto [align, step] :
         {std::pair{2048, 2048}, std::pair{32, 32}, std::pair{1000, 1000}, std::pair{0, 512}}) {
        SCOPED_TRACE(align);
        const bytes a = test::assemble_archive(0x800, low, {}, {{1, f1}, {2, f2}, {3, f3}}, 0,
                                               static_cast<std::uint16_t>(align), step);
        if (step == 2048) {
            ASSERT_TRUE(std::equal(f3.begin(), f3.end(), a.begin() + 0x1800)); // 0x800, 0x1000, 0x1800
        }
        EXPECT_EQ(visit_all(a), expected);
    }
}

TEST(cpk_visit, an_empty_entry_takes_no_room)
{
    const bytes f1 = test::random_bytes(10, 1), f3 = test::random_bytes(20, 2);
    const bytes a =
        test::assemble_archive(0x800, {{1, 10, 10}, {2, 0, 0}, {3, 20, 20}}, {}, {{1, f1}, {3, f3}});
    EXPECT_EQ(visit_all(a), (std::vector<visited_file>{{1, f1}, {2, {}}, {3, f3}}));
}

TEST(cpk_visit, a_compressed_entry_is_expanded_and_the_next_follows_its_stored_size_rounded_to_512)
{
    bytes text;
    for (int i = 0; i < 10; ++i)
        append_bytes(text, test::text_like(300, 4));
    const bytes form = *cpk_compress(byte_span(text).first(3000));
    const std::size_t next = 0x800 + round_up(form.size(), 512);
    ASSERT_LT(next, 0x800 + round_up(text.size(), 512));
    const bytes after = test::random_bytes(9, 5);
    const bytes a = test::assemble_archive(
        0x800, {{1, static_cast<std::uint32_t>(form.size()), 3000}, {2, 9, 9}}, {}, {{1, form}, {2, after}});
    ASSERT_TRUE(std::equal(after.begin(), after.end(), a.begin() + next));
    EXPECT_EQ(visit_all(a), (std::vector<visited_file>{{1, text}, {2, after}}));
}

TEST(cpk_visit, a_header_without_itoc_offset_is_refused_before_any_file)
{
    const bytes a = build_archive({bytes(10, 1)});
    utf_table h("CpkHeader", {{"ContentOffset", utf_u64, true}, {"ItocOffsetX", utf_u64, true}});
    h.add_row();
    h.cell(0, 0) = 0x800;
    h.cell(0, 1) = header_value(a, "ItocOffset");
    std::vector<std::uint32_t> ids;
    EXPECT_EQ(visit_error(with_header(a, h), ids), "ID Information not found in CPK archive");
    EXPECT_TRUE(ids.empty());
}

TEST(cpk_visit, an_enciphered_table_of_contents_is_refused)
{
    bytes a = build_archive({bytes(10, 1)});
    a[header_value(a, "ItocOffset") + 4] = 0;
    EXPECT_EQ(error_of([&] { visit_all(a); }), "Encrypted chunk unsupported");
}

// The visitor is taken by reference (it need not be copyable), may return a value, and what it
// throws reaches the caller unchanged.
TEST(cpk_visit, the_visitor_is_used_in_place_and_its_errors_pass_through)
{
    struct stop {};
    struct counter {
        counter() = default;
        counter(const counter&) = delete;
        int operator()(std::uint32_t, byte_span)
        {
            if (++calls == 2)
                throw stop{};
            return calls;
        }
        int calls = 0;
    } c;
    EXPECT_THROW(cpk_visit(build_archive({bytes(3, 1), bytes(4, 2), bytes(5, 3)}), c), stop);
    EXPECT_EQ(c.calls, 2);
}

TEST(cpk_visit, a_bad_compressed_entry_fails_after_the_earlier_ones)
{
    const bytes f1 = test::random_bytes(10, 1);
    // First token: a match of 298 bytes at distance 3, which would write over the stream.
    bytes bad(400, 0);
    bad[143] = 0x80;
    bad[142] = 0x03;
    bad[141] = 0xFF;
    bad[140] = 0xFE;
    const bytes a = test::assemble_archive(0x800, {{1, 10, 10}, {2, 400, 401}}, {}, {{1, f1}, {2, bad}});
    std::vector<std::uint32_t> ids;
    EXPECT_EQ(visit_error(a, ids), "Decompression error: overlap spotted");
    EXPECT_EQ(ids, std::vector<std::uint32_t>{1});
}

// Archives that lie.

TEST(cpk_visit_malformed, a_file_beyond_the_end_fails_before_it_is_visited)
{
    const bytes f1 = test::random_bytes(10, 1);
    // The ITOC sits right after file 1, so file 2's claimed bytes run past the archive.
    const bytes a = test::assemble_archive(0x800, {{1, 10, 10}, {2, 60000, 60000}}, {}, {{1, f1}}, 0xA00);
    std::vector<std::uint32_t> ids;
    EXPECT_EQ(visit_error(a, ids), "cpk_visit failed - file 2 lies outside the archive");
    EXPECT_EQ(ids, std::vector<std::uint32_t>{1});
}

TEST(cpk_visit_malformed, an_impossible_expanded_size_is_refused_before_allocation)
{
    const bytes form(300, 0);
    const bytes a = test::assemble_archive(0x800, {}, {{1, 300, 0xFFFFFFF0}}, {{1, form}});
    EXPECT_EQ(error_of([&] { visit_all(a); }),
              "cpk_visit failed - file 1 claims more expanded bytes than its form can hold");
    const bytes small = test::assemble_archive(0x800, {{1, 100, 400}}, {}, {{1, bytes(100, 0)}});
    EXPECT_THROW(visit_all(small), std::runtime_error);
}

TEST(cpk_visit_malformed, table_of_contents_outside_or_incomplete)
{
    const bytes a = build_archive({bytes(10, 1)});
    utf_table h("CpkHeader", {{"ContentOffset", utf_u64, true}, {"ItocOffset", utf_u64, true}});
    EXPECT_EQ(error_of([&] { visit_all(with_header(a, h)); }),
              "cpk_visit failed - CpkHeader table has no row");
    h.add_row();
    h.cell(0, 1) = 0xFFFFFFFF;
    EXPECT_EQ(error_of([&] { visit_all(with_header(a, h)); }),
              "cpk_visit failed - ITOC chunk outside the archive");

    utf_table itoc("CpkItocInfo", {{"FilesL", utf_u32, true}, {"DataL", utf_data, true}});
    itoc.add_row();
    itoc.set_table(0, 1, test::entry_table("CpkItocL", utf_u16, {}));
    bytes m(a.begin(), a.begin() + header_value(a, "ItocOffset"));
    append_bytes(m, itoc.to_chunk("ITOC"));
    EXPECT_EQ(error_of([&] { visit_all(m); }), "cpk_visit failed - table CpkItocInfo has no DataH column");
}

TEST(cpk_visit_malformed, truncations_fail_after_a_prefix_of_the_files)
{
    const bytes a = build_archive({test::text_like(2000, 1), bytes(5, 7), test::random_bytes(700, 2)});
    const std::vector<visited_file> good = visit_all(a);
    for (std::size_t n = 0; n < a.size(); n += (n < 0x800 ? 37 : 1)) {
        std::vector<visited_file> seen;
        try {
            seen = visit_all(byte_span(a).first(n));
        } catch (const std::runtime_error&) {
        }
        // Whatever was visited before the failure is a prefix of the real files.
        ASSERT_LE(seen.size(), good.size());
        EXPECT_TRUE(std::equal(seen.begin(), seen.end(), good.begin())) << n;
    }
}

} // namespace
} // namespace qm
