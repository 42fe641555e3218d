// The patch archive and the patcher outside a job: its records, the CPK entry lists it walks,
// and the order in which it checks them.

#include "cpk/cpk_builder.h"
#include "cpk/cpk_visit.h"
#include "job_fixture.h"

namespace qm {
namespace {

using test::error_of;

// A patcher with the archive `b` makes loaded after a cancel request, which loading clears.
struct loaded {
    patcher engine;
    test::recording_listener listener;
    bytes packed;

    explicit loaded(const archive_builder& b) : packed(pack_archive(b.build()))
    {
        engine.attach(nullptr, &listener);
        engine.request_cancel();
        engine.load_archive(packed);
    }
};

// A delta's target may be longer than its source.
const bytes banner_before(2112, 0x11), banner_after = test::pattern(3000, 0x22);

// Loading reports the total and clears an early cancel. The writer may skip visit for a section
// the patcher lets pass: only when it has no record and no cancel is pending, so that a cancelled
// job still gets empty contents from visit. A record's key keeps its high half (the overlay's
// number), and of two records with one key the later wins. Once a delta record is whole, its
// checksum is checked first: a bad one wins over an undecodable delta or a missing blob.
TEST(patcher, loading_passing_through_and_records_checked_in_order)
{
    patcher idle;
    EXPECT_TRUE(idle.archive_blobs().empty() && idle.steps_done() == 0 && !idle.cancel_requested());
    EXPECT_EQ(idle.character_index(), make_char_index());
    archive_builder b;
    b.set_total_steps(2490);
    const std::uint32_t overlay = make_section_code(arm9_overlay, 3), crc = crc32(banner_before),
                        good = b.add_blob(vcdiff_encode(banner_before, banner_after)),
                        garbage = b.add_blob(bytes{1, 2, 3});
    b.add_record(overlay, {0, crc, b.add_blob(vcdiff_encode(banner_before, bytes{1}))});
    b.add_record(overlay, {0, crc, b.add_blob(vcdiff_encode(banner_before, bytes{2}))});
    const std::tuple<std::uint32_t, std::vector<std::uint32_t>, std::string> cases[] = {
        {make_section_code(arm7), {0, crc ^ 1, garbage}, "patcher::visit - bad checksum"},
        {make_section_code(arm9), {0, crc, garbage}, "apply_patch - decoder failed"},
        {make_section_code(fnt), {7, 0, 0}, "patcher::visit - unexpected patch type"},
        {make_section_code(fat), {0, crc}, "patcher::visit - truncated record"},
        {make_section_code(header), {0, crc, 9}, "patcher - blob 9 is not in the archive"},
        {make_section_code(banner), {0, crc, good}, ""},
    };
    for (const auto& [code, body, message] : cases)
        b.add_record(code, body);
    loaded t(b);
    EXPECT_FALSE(t.engine.cancel_requested());
    EXPECT_EQ(t.engine.visit(banner_before, overlay), bytes{2});
    EXPECT_FALSE(t.engine.passes_through(overlay));
    EXPECT_EQ(t.engine.visit(banner_before, make_section_code(banner)), banner_after);
    const bytes changed(2112, 0x12);
    for (const auto& [code, body, message] : cases) {
        EXPECT_EQ(error_of([&] { t.engine.visit(banner_before, code); }), message);
        EXPECT_EQ(error_of([&] { t.engine.visit(changed, code); }),
                  body.size() < 3 || body[0] != 0 ? message : "patcher::visit - bad checksum");
    }
    for (const std::uint32_t code : {make_section_code(arm9_overlay, 0), make_section_code(arm7_overlay, 3),
                                     make_section_code(file, 4)}) {
        EXPECT_EQ(t.engine.visit(banner_before, code), banner_before);
        EXPECT_TRUE(t.engine.passes_through(code));
        t.engine.request_cancel();
        EXPECT_EQ(t.engine.visit(banner_before, code), bytes{});
        EXPECT_FALSE(t.engine.passes_through(code));
        t.engine.load_archive(t.packed); // clears the cancel
    }
    EXPECT_EQ(t.engine.archive_blobs().size(), 5u); // replaced at each load, not appended to
    // set_total at each load only: neither visit nor asking reports anything
    EXPECT_EQ(t.listener.calls, std::vector<std::string>(4, "set_total 2490"));
}

// Each record's room ends where the next one begins, the last one's at the string pool; the
// packed form round-trips, and however short its stream is cut, even shorter than the header,
// it is the decoder's failure.
TEST(patch_archive, builder_output_parses_back_and_packs_and_cut_or_lying_archives_fail)
{
    archive_builder b;
    const std::uint32_t d = b.add_blob(bytes(5000, 0x41));
    b.add_file_record("/a/one.bin", {0, 0x1234, d});
    b.add_record(make_section_code(banner), {0, 0x55, d}); // does not take a path
    b.add_record(make_section_code(arm9_overlay, 3), {0, 0x66, d});
    b.add_file_record("/two.bin", {1, 7, 0x99, 4, 0xFFFFFFFF, d});
    b.set_total_steps(42);
    const bytes unpacked = b.build();
    std::vector<bytes> blobs = split_archive(unpacked);
    ASSERT_EQ(blobs.size(), 2u);
    EXPECT_EQ(blobs[1], bytes(5000, 0x41));
    archive_index index = parse_archive_index(blobs[0]);
    EXPECT_EQ(index.total_steps, 42u);
    ASSERT_EQ(index.records.size(), 4u);
    EXPECT_EQ(index.records[0].path, "/a/one.bin");
    EXPECT_EQ(index.records[1].path, std::nullopt);
    EXPECT_EQ(index.records[2].stored_key, 0x3000Au);
    EXPECT_EQ(index.records[3].path, "/two.bin");
    EXPECT_EQ(index.records[0].body.size(), 12u);
    EXPECT_EQ(index.records[3].body.size(), 24u);
    EXPECT_EQ(get_le32(index.records[3].body, 20), 1u);

    bytes packed = pack_archive(unpacked);
    EXPECT_EQ(get_le32(packed, 0), unpacked.size());
    EXPECT_EQ(unpack_archive(packed), unpacked);
    std::vector<bytes> cuts = {bytes(packed.begin(), packed.begin() + std::ssize(packed) / 2)};
    put_le32(packed, 0, 1000000); // the size of a real archive, whose stream would be far longer
    for (std::ptrdiff_t keep : {0, 4, 8, 9, 14})
        cuts.emplace_back(packed.begin(), packed.begin() + keep);
    // An unpacked size no LZMA stream of this length can produce is refused before allocating.
    cuts.push_back({0xFF, 0xFF, 0xFF, 0xFF, 0x5D, 0, 0, 1, 0, 0});
    for (const bytes& cut : cuts)
        EXPECT_EQ(error_of([&] { unpack_archive(cut); }), "Decompression of main archive failed")
            << cut.size();

    // Lying sizes and index bounds fail cleanly: a blob count too large, a blob past the end, no
    // blob at all; an index with more records than words, its pool past the blob, a record at word
    // 1 that needs bytes 4-11 of 8, a path running off the blob; and two valid indexes.
    const auto fails = [](auto&& f) { return error_of(f).find("load_archive failed") != std::string::npos; };
    const auto words = [](std::vector<std::uint32_t> w, std::string tail = "") {
        bytes b;
        for (std::uint32_t x : w)
            append_le32(b, x);
        b.insert(b.end(), tail.begin(), tail.end());
        return b;
    };
    for (const bytes& archive : {words({0x0FFFFFFF, 0}), words({1, 100}, "abc"), words({0})})
        EXPECT_TRUE(fails([&] { split_archive(archive); }));
    for (const auto& [index, bad] : {std::pair{words({5, 0, 0}), true},
                                     {words({0, 100, 0}), true},
                                     {words({1, 8, 0, 1, 9, 0}), true},
                                     {words({1, 8, 0, 0, 6, 0}, "/no-terminator"), true},
                                     {words({1, 8, 0, 0, 6, 0}, std::string("/ok\0", 4)), false},
                                     {words({0, 0, 0}), false}})
        EXPECT_EQ(fails([&] { parse_archive_index(index); }), bad);
}

std::map<std::uint32_t, bytes> entries_of(const bytes& archive)
{
    std::map<std::uint32_t, bytes> out;
    cpk_visit(archive, [&](std::uint32_t id, byte_span d) { out[id] = bytes(d.begin(), d.end()); });
    return out;
}

// A patcher whose archive holds a type 1 record with `list` (and a record after it if given),
// run on the CPK archive of `files`.
struct harness {
    archive_builder archive;
    patcher engine;
    test::recording_listener listener;

    bytes patch(const std::vector<bytes>& files, std::vector<std::uint32_t> list,
                const std::vector<std::uint32_t>& next_record = {})
    {
        list.insert(list.begin(), 1);
        archive.add_record(make_section_code(banner), list);
        if (!next_record.empty())
            archive.add_record(make_section_code(arm9), next_record);
        engine.attach(nullptr, &listener);
        engine.load_archive(pack_archive(archive.build())); // unpacked into the patcher's own blobs
        cpk_builder cpk;
        for (const bytes& f : files)
            cpk.add_file(f);
        return engine.visit(cpk.write(), make_section_code(banner));
    }
};

// A failing entry's step is reported before its error; a cancel skips the rest of the walk and
// empties the file. Every change of entry, with workers or without, is checked on the data safety
// tests' game.
TEST(cpk_patcher, errors_cancel_and_where_the_list_ends)
{
    const std::vector<bytes> files = {test::pattern(16, 1), test::pattern(400, 2), bytes{}};
    const std::tuple<std::uint32_t, std::uint32_t, std::uint32_t, bytes, std::string> cases[] = {
        {2, crc32(files[1]) + 1, 2, {}, "patcher::cpk_patcher::operator() - bad checksum"},
        {1, crc32(files[0]), 6, {}, "patcher::cpk_patcher::operator() - unexpected patch type"},
        {1, crc32(files[0]), 3, {0xD6, 0xC3, 0xC4, 0x00, 0x07}, "apply_patch - decoder failed"},
    };
    for (const auto& [id, crc, type, blob, message] : cases) {
        harness h;
        EXPECT_EQ(error_of([&] { h.patch(files, {id, crc, type, h.archive.add_blob(blob)}); }), message);
        EXPECT_EQ(h.listener.positions.size(), id);
    }
    harness cancelled;
    cancelled.listener.on_call = [&](const std::string& c) {
        if (c == "position 1")
            cancelled.engine.request_cancel();
    };
    EXPECT_EQ(cancelled.patch(files, {0xFFFFFFFF, cancelled.archive.add_blob(bytes{'a'})}), bytes{});
    EXPECT_EQ(cancelled.listener.positions, (std::vector<std::uint32_t>{0, 1}));

    // The list names entry 1 only, and the next record's key is 2 (the ARM9 binary). Read without
    // an end, the walk would take that key for entry 2's list entry and fail on a valid archive.
    harness h;
    EXPECT_EQ(entries_of(h.patch(files, {1, crc32(files[0]), 2, h.archive.add_blob(bytes{'!'})},
                                 {0, 0x12345678, 1})),
              (std::map<std::uint32_t, bytes>{{1, bytes{'!'}}, {2, files[1]}, {3, files[2]}}));
    harness append; // a list of appended entries alone keeps every entry
    EXPECT_EQ(entries_of(append.patch(files, {0xFFFFFFFF, append.archive.add_blob(bytes{'a'})})),
              (std::map<std::uint32_t, bytes>{{1, files[0]}, {2, files[1]}, {3, files[2]}, {4, bytes{'a'}}}));
}

} // namespace
} // namespace qm
