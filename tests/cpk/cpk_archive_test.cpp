#include "cpk/cpk_builder.h"
#include "cpk/cpk_compress.h"
#include "cpk/cpk_visit.h"

#include "cpk_test_data.h"

#include "support/error_of.h"

#include <gtest/gtest.h>

namespace qm {
namespace {

using test::assemble_archive;
using test::build_archive;
using test::error_of;
using test::random_bytes;

struct visited_file {
    std::uint32_t id;
    bytes data;
    bool operator==(const visited_file&) const = default;
};
using visits = std::vector<visited_file>;

visits visit_all(byte_span archive)
{
    visits files;
    cpk_visit(archive, [&](std::uint32_t id, byte_span data) {
        files.push_back({id, bytes(data.begin(), data.end())});
    });
    return files;
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

// Archives pinned by digests recorded from today's builder (the layout the archives are accepted
// on): one small file; none; files at 512-byte steps from 0x800, an empty one taking no room,
// compression from 384 bytes, the ITOC after the last file; files of 65535 and 65536 bytes, the
// second in the high table. Each visits back to its files.
TEST(cpk_builder, header_layout_and_file_placement)
{
    const std::vector<bytes> sets[] = {{bytes(10, 1)},
                                       {},
                                       {random_bytes(5, 1),
                                        random_bytes(512, 2),
                                        random_bytes(513, 3),
                                        {},
                                        bytes(383, 0),
                                        bytes(384, 0),
                                        bytes(7, 9)},
                                       {bytes(65535, 'a'), bytes(65536, 'b')}};
    const std::uint64_t digests[] = {7438606072659990396u, 8205401308146350426u, 16817548683243778528u,
                                     2899651660704722546u};
    for (std::size_t i = 0; i < 4; ++i) {
        const bytes a = build_archive(sets[i]);
        EXPECT_EQ(test::fnv1a(a), digests[i]) << i;
        visits expected;
        for (std::uint32_t j = 0; j < sets[i].size(); ++j)
            expected.push_back({j + 1, sets[i][j]});
        EXPECT_EQ(visit_all(a), expected);
    }
}

// Archives assembled by hand: {ID, stored size, expanded size} entries of the low and high
// tables, the stored files, then where the ITOC goes, the declared Align and the step between files.
TEST(cpk_visit, hand_assembled_archives_are_visited_in_id_order)
{
    const bytes f1 = random_bytes(5, 1), f2 = random_bytes(600, 2), f3 = random_bytes(10, 3);
    const std::vector<test::archive_entry> three = {{1, 5, 5}, {2, 600, 600}, {3, 10, 10}};
    const std::vector<std::pair<std::uint16_t, bytes>> files = {{1, f1}, {2, f2}, {3, f3}};
    bytes text;
    for (int i = 0; i < 10; ++i)
        append_bytes(text, test::make_text_like(300, 4));
    const bytes form = *cpk_compress(text);
    const auto form_size = static_cast<std::uint32_t>(form.size());
    const struct {
        bytes archive;
        visits expected;
    } cases[] = {
        // IDs spread over both tables.
        {assemble_archive(0x800, {{3, 10, 10}, {1, 5, 5}}, {{2, 600, 600}}, files),
         {{1, f1}, {2, f2}, {3, f3}}},
        // The high table overrides the low one.
        {assemble_archive(0x800, {{2, 5, 5}}, {{2, 600, 600}}, {{2, f2}}), {{2, f2}}},
        // The first file starts exactly at the content offset, the next at the 512-byte step.
        {assemble_archive(0x1F4, {{1, 5, 5}, {3, 10, 10}}, {}, {{1, f1}, {3, f3}}), {{1, f1}, {3, f3}}},
        // Align as declared (another tool's 2048); 0 steps 512 as no column does.
        {assemble_archive(0x800, three, {}, files, 0, 2048, 2048), {{1, f1}, {2, f2}, {3, f3}}},
        {assemble_archive(0x800, three, {}, files, 0, 0, 512), {{1, f1}, {2, f2}, {3, f3}}},
        // An empty entry takes no room.
        {assemble_archive(0x800, {{1, 5, 5}, {2, 0, 0}, {3, 10, 10}}, {}, {{1, f1}, {3, f3}}),
         {{1, f1}, {2, {}}, {3, f3}}},
        // A compressed entry is expanded; the next follows its stored size rounded to 512.
        {assemble_archive(0x800, {{1, form_size, 3000}, {3, 10, 10}}, {}, {{1, form}, {3, f3}}),
         {{1, text}, {3, f3}}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(visit_all(c.archive), c.expected) << &c - cases;
}

TEST(cpk_visit, archives_that_lie_fail_after_the_files_before_the_fault)
{
    const bytes a = build_archive({bytes(10, 1)});
    utf_table no_itoc("CpkHeader", {{"ContentOffset", utf_u64, true}, {"ItocOffsetX", utf_u64, true}});
    no_itoc.add_row();
    no_itoc.cell(0, 0) = 0x800;
    no_itoc.cell(0, 1) = header_value(a, "ItocOffset");
    utf_table no_row("CpkHeader", {{"ContentOffset", utf_u64, true}, {"ItocOffset", utf_u64, true}});
    utf_table itoc_outside = no_row;
    itoc_outside.add_row();
    itoc_outside.cell(0, 1) = 0xFFFFFFFF;
    bytes enciphered = a;
    enciphered[header_value(a, "ItocOffset") + 4] = 0;
    utf_table itoc("CpkItocInfo", {{"FilesL", utf_u32, true}, {"DataL", utf_data, true}});
    itoc.add_row();
    itoc.set_table(0, 1, test::entry_table("CpkItocL", utf_u16, {}));
    bytes no_high(a.begin(), a.begin() + header_value(a, "ItocOffset"));
    append_bytes(no_high, itoc.to_chunk("ITOC"));
    // First token: a match of 298 bytes at distance 3, which would write over the stream.
    bytes overlapping(400, 0);
    put_be32(overlapping, 140, 0xFEFF0380);
    const bytes f1 = random_bytes(10, 1);
    const std::string v = "cpk_visit failed - ",
                      claims = v + "file 1 claims more expanded bytes than its form can hold";
    const struct {
        bytes archive;
        std::string message;
        std::vector<std::uint32_t> ids;
    } cases[] = {
        {with_header(a, no_itoc), "ID Information not found in CPK archive", {}},
        {with_header(a, no_row), v + "CpkHeader table has no row", {}},
        {with_header(a, itoc_outside), v + "ITOC chunk outside the archive", {}},
        {enciphered, "Encrypted chunk unsupported", {}},
        {no_high, v + "table CpkItocInfo has no DataH column", {}},
        {assemble_archive(0x800, {{1, 10, 10}, {2, 400, 401}}, {}, {{1, f1}, {2, overlapping}}),
         "Decompression error: overlap spotted",
         {1}},
        // The ITOC sits right after file 1, so file 2's claimed bytes run past the archive.
        {assemble_archive(0x800, {{1, 10, 10}, {2, 60000, 60000}}, {}, {{1, f1}}, 0xA00),
         v + "file 2 lies outside the archive",
         {1}},
        // Refused before allocation, for a form of any length.
        {assemble_archive(0x800, {}, {{1, 300, 0xFFFFFFF0}}, {{1, bytes(300, 0)}}), claims, {}},
    };
    for (const auto& c : cases) {
        std::vector<std::uint32_t> ids;
        EXPECT_EQ(
            error_of([&] { cpk_visit(c.archive, [&](std::uint32_t id, byte_span) { ids.push_back(id); }); }),
            c.message);
        EXPECT_EQ(ids, c.ids) << c.message;
    }
}

// What the visitor throws reaches the caller unchanged, and ends the visit.
TEST(cpk_visit, the_visitors_errors_pass_through)
{
    struct stop {};
    int calls = 0;
    const auto visitor = [&](std::uint32_t, byte_span) {
        if (++calls == 2)
            throw stop{};
    };
    EXPECT_THROW(cpk_visit(build_archive({bytes(3, 1), bytes(4, 2), bytes(5, 3)}), visitor), stop);
    EXPECT_EQ(calls, 2);
}

TEST(cpk_visit, every_truncation_fails_after_a_prefix_of_the_files)
{
    const bytes a = build_archive({test::make_text_like(2000, 1), bytes(5, 7), random_bytes(700, 2)});
    const visits good = visit_all(a);
    for (std::size_t n = 0; n < a.size(); n += (n < 0x800 ? 37 : 1)) {
        visits seen;
        EXPECT_NE(error_of([&] {
                      cpk_visit(byte_span(a).first(n), [&](std::uint32_t id, byte_span data) {
                          seen.push_back({id, bytes(data.begin(), data.end())});
                      });
                  }),
                  "")
            << n;
        ASSERT_LE(seen.size(), good.size());
        EXPECT_TRUE(std::equal(seen.begin(), seen.end(), good.begin())) << n;
    }
}

} // namespace
} // namespace qm
