#include "engine/cpk_patcher.h"

#include "cpk/cpk_builder.h"
#include "cpk/cpk_visit.h"
#include "job_fixture.h"

#include "support/error_of.h"

namespace qm {
namespace {

using test::error_of;

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
    bytes packed;

    bytes patch(const std::vector<bytes>& files, std::vector<std::uint32_t> list,
                const std::vector<std::uint32_t>& next_record = {})
    {
        list.insert(list.begin(), 1);
        archive.add_record(make_section_code(banner), list);
        if (!next_record.empty())
            archive.add_record(make_section_code(arm9), next_record);
        packed = pack_archive(archive.build());
        engine.attach(nullptr, &listener);
        engine.load_archive(packed);
        cpk_builder cpk;
        for (const bytes& f : files)
            cpk.add_file(f);
        return engine.visit(cpk.write(), make_section_code(banner));
    }
};

TEST(cpk_patcher, checksum_type_and_delta_errors)
{
    const std::vector<bytes> files = {test::pattern(10, 1), test::pattern(20, 2)};
    const std::tuple<std::uint32_t, std::uint32_t, std::uint32_t, bytes, std::string> cases[] = {
        {2, crc32(files[1]) + 1, 2, {}, "patcher::cpk_patcher::operator() - bad checksum"},
        {1, crc32(files[0]), 6, {}, "patcher::cpk_patcher::operator() - unexpected patch type"},
        {1, crc32(files[0]), 3, {0xD6, 0xC3, 0xC4, 0x00, 0x07}, "apply_patch - decoder failed"},
    };
    for (const auto& [id, crc, type, blob, message] : cases) {
        harness h;
        EXPECT_EQ(error_of([&] { h.patch(files, {id, crc, type, h.archive.add_blob(blob)}); }), message);
        EXPECT_EQ(h.listener.positions.size(), id); // the failing entry's step is reported first
    }
}

TEST(cpk_patcher, cancel_mid_walk_skips_the_rest_and_empties_the_file)
{
    harness h;
    h.listener.on_call = [&](const std::string& c) {
        if (c == "position 1")
            h.engine.request_cancel();
    };
    EXPECT_EQ(
        h.patch(std::vector<bytes>(4, test::pattern(10, 1)), {0xFFFFFFFF, h.archive.add_blob(bytes{'a'})}),
        bytes{});
    EXPECT_EQ(h.listener.positions, (std::vector<std::uint32_t>{0, 1}));
}

// Every change of entry, with workers or without, is checked on the data safety tests' game.
TEST(cpk_patcher, the_list_ends_where_the_next_record_begins_and_appending_alone_keeps_every_entry)
{
    // The list names entry 1 only, and the next record's key is 2 (the ARM9 binary). Read without
    // an end, the walk would take that key for entry 2's list entry and fail on a valid archive.
    const std::vector<bytes> files = {test::pattern(16, 1), test::pattern(400, 2), bytes{}};
    harness h;
    EXPECT_EQ(entries_of(h.patch(files, {1, crc32(files[0]), 2, h.archive.add_blob(bytes{'!'})},
                                 {0, 0x12345678, 1})),
              (std::map<std::uint32_t, bytes>{{1, bytes{'!'}}, {2, files[1]}, {3, files[2]}}));
    harness append;
    EXPECT_EQ(entries_of(append.patch(files, {0xFFFFFFFF, append.archive.add_blob(bytes{'a'})})),
              (std::map<std::uint32_t, bytes>{{1, files[0]}, {2, files[1]}, {3, files[2]}, {4, bytes{'a'}}}));
}

} // namespace
} // namespace qm
