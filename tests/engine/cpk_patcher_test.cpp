#include "engine/cpk_patcher.h"

#include "cpk/cpk_builder.h"
#include "cpk/cpk_visit.h"
#include "engine/font_depth.h"
#include "engine/script_font.h"
#include "job_fixture.h"

#include "support/error_of.h"

namespace qm {
namespace {

using test::error_of;
const auto container = test::script_container;

// An old script entry: a 40-byte leading chunk whose word at 12 is its length, then anything.
bytes old_script(std::uint8_t fill)
{
    bytes b(40, fill);
    put_le32(b, 12, 40);
    b.resize(300, 0x77);
    return b;
}

std::map<std::uint32_t, bytes> entries_of(const bytes& archive)
{
    std::map<std::uint32_t, bytes> out;
    cpk_visit(archive, [&](std::uint32_t id, byte_span d) { out[id] = bytes(d.begin(), d.end()); });
    return out;
}

bytes archive_of(const std::vector<bytes>& files)
{
    cpk_builder b;
    for (const bytes& f : files)
        b.add_file(f);
    return b.write();
}

// A patcher whose archive holds a type 1 record with `list` (and a record after it if given),
// run on one CPK file.
struct harness {
    archive_builder archive;
    std::vector<std::uint32_t> list;
    patcher engine;
    test::recording_listener listener;
    bytes packed;

    bytes patch(const bytes& cpk, const std::vector<std::uint32_t>& next_record = {})
    {
        std::vector<std::uint32_t> body{1};
        body.insert(body.end(), list.begin(), list.end());
        archive.add_record(make_section_code(banner), body);
        if (!next_record.empty())
            archive.add_record(make_section_code(arm9), next_record);
        packed = pack_archive(archive.build());
        engine.attach(nullptr, &listener);
        engine.load_archive(packed);
        return engine.visit(cpk, make_section_code(banner));
    }
};

TEST(cpk_patcher, every_entry_type_and_an_appended_entry)
{
    const bytes font2 = build_font(used_chars(make_char_index(), container(u"Bonjour à tous")));
    std::vector<bytes> files = {old_script(1),
                                test::pattern(2000, 3),
                                font2,
                                font2,
                                test::pattern(100, 4),
                                test::pattern(500, 5),
                                test::pattern(50, 6),
                                old_script(2),
                                test::pattern(10, 7)};
    const bytes cpk = archive_of(files);
    const bytes fr = container(u"« Œuvre », déjà — l’été…");
    const bytes fr2 = container(u"Déjà vu");
    bytes delta_target = files[1];
    delta_target[7] ^= 1;
    delta_target.resize(2100, 9);

    bytes serial;
    for (unsigned workers : {0u, 8u}) {
        harness h;
        h.engine.use_workers(workers);
        auto blob = [&](bytes b) { return h.archive.add_blob(std::move(b)); };
        h.list = {1,          crc32(files[0]),        0, blob(fr), // script keeping 40 bytes
                  2,          crc32(files[1]),        3, blob(vcdiff_encode(files[1], delta_target)), // delta
                  3,          crc32(font2),           4,                             // 1 bpp, three words
                  4,          crc32(font2),           4,                             // same font again
                  6,          crc32(files[5]),        2, blob(bytes{'n', 'e', 'w'}), // whole
                  7,          crc32(files[6]),        5, blob(bytes{}),              // whole, empty
                  8,          crc32(files[7]),        1, blob(fr2),                  // script without prefix
                  0xFFFFFFFF, blob(bytes(600, 0x41)),                                // appended
                  0xFFFFFFFF, blob(bytes{'z'})};
        h.archive.set_total_steps(100);
        const bytes rebuilt = h.patch(cpk);
        if (workers == 0)
            serial = rebuilt;
        EXPECT_EQ(rebuilt, serial) << workers << " workers"; // the same archive, byte for byte
        std::map<std::uint32_t, bytes> got = entries_of(rebuilt);

        const bytes prefix(files[0].begin(), files[0].begin() + 40);
        const bytes font1 = convert_font_to_1bpp(font2);
        EXPECT_EQ(
            got,
            (std::map<std::uint32_t, bytes>{
                {1, assemble_script_entry(prefix, 40, fr, build_font(used_chars(make_char_index(), fr)))},
                {2, delta_target},
                {3, font1},
                {4, font1},
                {5, files[4]},
                {6, bytes{'n', 'e', 'w'}},
                {7, bytes{}},
                {8, assemble_script_entry({}, 0, fr2, build_font(used_chars(make_char_index(), fr2)))},
                {9, files[8]},
                {10, bytes(600, 0x41)},
                {11, bytes{'z'}}}));
        EXPECT_EQ(std::string(got[8].begin(), got[8].begin() + 4), std::string("DCM\0", 4));
        // One step per source entry, then one per appended entry, without gaps.
        EXPECT_EQ(h.listener.positions, (std::vector<std::uint32_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    }
}

TEST(cpk_patcher, a_list_of_append_items_only_keeps_every_entry)
{
    const std::vector<bytes> files = {test::pattern(10, 1), test::pattern(400, 2), bytes{}};
    harness h;
    h.list = {0xFFFFFFFF, h.archive.add_blob(bytes{'a'})};
    EXPECT_EQ(entries_of(h.patch(archive_of(files))),
              (std::map<std::uint32_t, bytes>{{1, files[0]}, {2, files[1]}, {3, files[2]}, {4, bytes{'a'}}}));
}

TEST(cpk_patcher, checksum_type_and_delta_errors)
{
    const std::vector<bytes> files = {test::pattern(10, 1), test::pattern(20, 2)};
    const struct {
        std::uint32_t id, crc, type;
        bytes blob;
        std::string message;
    } cases[] = {
        {2, crc32(files[1]) + 1, 2, {}, "patcher::cpk_patcher::operator() - bad checksum"},
        {1, crc32(files[0]), 6, {}, "patcher::cpk_patcher::operator() - unexpected patch type"},
        {1, crc32(files[0]), 3, {0xD6, 0xC3, 0xC4, 0x00, 0x07}, "apply_patch - decoder failed"},
    };
    for (const auto& c : cases) {
        harness h;
        h.list = {c.id, c.crc, c.type, h.archive.add_blob(c.blob)};
        EXPECT_EQ(error_of([&] { h.patch(archive_of(files)); }), c.message);
        EXPECT_EQ(h.listener.positions.size(), c.id); // the failing entry's step is reported first
    }
}

TEST(cpk_patcher, cancel_mid_walk_skips_the_rest_and_empties_the_file)
{
    std::vector<bytes> files = {test::pattern(10, 1), test::pattern(20, 2), test::pattern(30, 3),
                                test::pattern(40, 4)};
    harness h;
    h.list = {0xFFFFFFFF, h.archive.add_blob(bytes{'a'})};
    h.listener.on_call = [&](const std::string& c) {
        if (c == "position 1")
            h.engine.request_cancel();
    };
    EXPECT_EQ(h.patch(archive_of(files)), bytes{});
    EXPECT_EQ(h.listener.positions, (std::vector<std::uint32_t>{0, 1}));
}

TEST(cpk_patcher, the_list_ends_where_the_next_record_begins)
{
    // The list names entry 1 only, and the next record's key is 2 (the ARM9 binary). Read without
    // an end, the walk would take that key for entry 2's list entry and fail on a valid archive.
    std::vector<bytes> files = {test::pattern(16, 1), test::pattern(16, 2), test::pattern(16, 3)};
    harness h;
    h.list = {1, crc32(files[0]), 2, h.archive.add_blob(bytes{'!'})};
    std::map<std::uint32_t, bytes> got = entries_of(h.patch(archive_of(files), {0, 0x12345678, 1}));
    EXPECT_EQ(got, (std::map<std::uint32_t, bytes>{{1, bytes{'!'}}, {2, files[1]}, {3, files[2]}}));
}

} // namespace
} // namespace qm
