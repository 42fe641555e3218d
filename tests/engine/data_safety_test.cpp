// The patch job when its files change under it or the user cancels: the destination ends up
// either complete and correct or untouched.

#include "cpk/cpk_builder.h"
#include "cpk/cpk_visit.h"
#include "engine/script_font.h"
#include "job_fixture.h"
#include "support/error_of.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using test::error_of;

class data_safety : public test::job_fixture {
protected:
    void SetUp() override
    {
        job_fixture::SetUp();
        // A CPK archive with a script entry (8 bytes kept), a 2-bit font and a compressible entry:
        // the patch changes all three and appends two entries; a file and the packed overlay besides.
        bytes script(64, 'S');
        put_le32(script, 12, 8);
        cpk_files = {script, build_font(used_char_set().set(33).set(40)), test::pattern(3000, 11),
                     bytes(900, 0x41)};
        cpk_builder cpk;
        for (const bytes& f : cpk_files)
            cpk.add_file(f);
        rom_description game = test::game_description();
        game.root.push_back(rom_fs_node::file("talk.cpk", cpk.write()));
        write_game(game);

        archive_builder b;
        b.add_file_record("/readme.txt", delta_body(b, test::pattern(100, 5), bytes{'o', 'k'}));
        b.add_record(make_section_code(section_kind::arm9_overlay, 3),
                     delta_body(b, bytes(4000, 0x20), bytes(4100, 0x21)));
        const std::uint32_t container = b.add_blob(test::script_container(u"\u00C9t\u00E9 \u00E0 Quillmoor"));
        const std::uint32_t replacement = b.add_blob(test::pattern(2500, 12));
        const std::uint32_t first_added = b.add_blob(bytes{'n', 'e', 'w'});
        const std::uint32_t second_added = b.add_blob(bytes(1000, 0x42));
        b.add_file_record("/talk.cpk", {1, 1, crc32(cpk_files[0]), 0, container, 2, crc32(cpk_files[1]), 4, 3,
                                        crc32(cpk_files[2]), 2, replacement, 0xFFFFFFFF, first_added,
                                        0xFFFFFFFF, second_added});
        b.set_total_steps(static_cast<std::uint32_t>(nds_rom(source).list_sections().size() + 1 + 4 + 2));
        packed = pack_archive(b.build());

        const test::recording_listener l = run_job(packed);
        reference_calls = l.calls;
        reference_sections = l.events("section ");
        reference = read_whole_file(destination);
        fs::remove(destination);
    }

    // Calls `action` when the n-th section starts (0 is the first).
    std::function<void(patcher&, const std::string&)> at_section(std::size_t n, std::function<void()> action)
    {
        return [n, action, seen = std::size_t{0}](patcher&, const std::string& call) mutable {
            if (call.rfind("section ", 0) == 0 && seen++ == n)
                action();
        };
    }

    std::vector<bytes> cpk_files;
    bytes packed;
    bytes reference;
    std::vector<std::string> reference_calls, reference_sections;
};

TEST_F(data_safety, the_reference_job_patches_every_part)
{
    write_whole_file(destination, reference);
    nds_rom patched(destination);
    EXPECT_EQ(patched.read_file(patched.get_file_id("/readme.txt")), (bytes{'o', 'k'}));
    std::vector<bytes> entries;
    cpk_visit(patched.read_file(patched.get_file_id("/talk.cpk")),
              [&](std::uint32_t, byte_span d) { entries.emplace_back(d.begin(), d.end()); });
    ASSERT_EQ(entries.size(), 6u);
    EXPECT_EQ(entries[2], test::pattern(2500, 12));
    EXPECT_EQ(entries[3], cpk_files[3]);
    EXPECT_EQ(entries[4], (bytes{'n', 'e', 'w'}));
    EXPECT_EQ(get_u8(entries[1], 0x3A), 1); // the font at one bit per pixel
}

TEST_F(data_safety, a_source_cut_short_at_any_section_fails_and_writes_nothing)
{
    const bytes original = read_whole_file(source);
    const std::vector<rom_section> sections = nds_rom(source).list_sections();
    write_whole_file(destination, bytes{4, 4});
    for (std::size_t i = 0; i < sections.size(); ++i) {
        SCOPED_TRACE("cut at section " + std::to_string(i));
        write_whole_file(source, original);
        const std::uint32_t cut = sections[i].offset;
        bool later_data = false;
        for (std::size_t j = i; j < sections.size(); ++j)
            later_data |= sections[j].size > 0;
        const std::string error =
            error_of([&] { run_job(packed, nullptr, at_section(i, [&] { fs::resize_file(source, cut); })); });
        EXPECT_EQ(!error.empty(), later_data) << error;
        EXPECT_EQ(read_whole_file(destination), (bytes{4, 4}));
        EXPECT_EQ(leftovers(), (std::vector<std::string>{"game.nds", "out.nds"}));
    }
}

TEST_F(data_safety, a_patched_file_overwritten_in_place_fails_its_checksum)
{
    const std::uint16_t readme = nds_rom(source).get_file_id("/readme.txt");
    const std::uint32_t at = get_le32(nds_rom(source).fat_bytes(), std::size_t{readme} * 8);
    EXPECT_EQ(error_of([&] {
                  run_job(packed, nullptr, at_section(0, [&] {
                              std::fstream f(source, std::ios::binary | std::ios::in | std::ios::out);
                              f.seekp(at);
                              f.put('X');
                          }));
              }),
              "patcher::visit - bad checksum");
    EXPECT_EQ(leftovers(), (std::vector<std::string>{"game.nds"}));
}

TEST_F(data_safety, a_source_renamed_over_or_removed_midway_is_still_read_whole)
{
#ifdef _WIN32
    GTEST_SKIP() << "Windows does not let an open file be renamed over or removed";
#endif
    // The job reads the file it opened: whatever the name comes to mean meanwhile, the result is
    // the ROM patched from the bytes that were there when the job began.
    const bytes original = read_whole_file(source);
    const std::size_t middle = nds_rom(source).list_sections().size() / 2;
    run_job(packed, nullptr, at_section(middle, [&] {
                write_whole_file(dir / "other.nds", bytes(4096, 0xEE));
                fs::rename(dir / "other.nds", source);
            }));
    EXPECT_EQ(read_whole_file(destination), reference);

    fs::remove(destination);
    write_whole_file(source, original);
    run_job(packed, nullptr, at_section(middle, [&] { fs::remove(source); }));
    EXPECT_EQ(read_whole_file(destination), reference);
    EXPECT_EQ(leftovers(), (std::vector<std::string>{"out.nds"}));
}

TEST_F(data_safety, a_source_that_is_a_folder_or_missing_is_refused_before_writing)
{
    // The front ends check both before a job starts; the engine refuses them on its own too.
    write_whole_file(destination, bytes{3});
    fs::create_directory(dir / "folder.nds");
    for (const fs::path& from : {dir / "folder.nds", dir / "missing.nds"}) {
        SCOPED_TRACE(from.string());
        test::recording_listener l;
        const std::string error = job_error(packed, l, &from);
        EXPECT_FALSE(error.empty());
        EXPECT_TRUE(from.filename() != "missing.nds" || error == "nds_rom::nds_rom - can't open input file")
            << error;
        EXPECT_EQ(l.events(), std::vector<std::string>{"opening_source"});
        EXPECT_EQ(read_whole_file(destination), bytes{3});
    }
    EXPECT_EQ(leftovers(), (std::vector<std::string>{"folder.nds", "game.nds", "out.nds"}));
}

TEST_F(data_safety, a_destination_that_is_a_folder_is_left_alone)
{
    fs::create_directory(destination);
    write_whole_file(destination / "keep.txt", bytes{1});
    const std::string error = error_of([&] { run_job(packed); });
    EXPECT_EQ(error, "nds_rom::copy_to failed - can't open output file");
    EXPECT_EQ(read_whole_file(destination / "keep.txt"), bytes{1});
    EXPECT_EQ(leftovers(), (std::vector<std::string>{"game.nds", "out.nds"}));
}

TEST_F(data_safety, a_cancel_at_any_moment_gives_the_whole_rom_or_nothing)
{
    // Every listener call is a moment to cancel at: before load_archive has finished the request
    // is forgotten and the whole ROM is written; from then on nothing reaches the destination
    // (only the final "finished" comes once the ROM is in place), yet every section is reported.
    const auto loaded = std::find(reference_calls.begin(), reference_calls.end(), "initialised");
    ASSERT_NE(loaded, reference_calls.end());
    const auto loaded_at = static_cast<std::size_t>(loaded - reference_calls.begin());
    ASSERT_EQ(reference_calls.back(), "finished");
    for (std::size_t k = 0; k < reference_calls.size(); ++k) {
        SCOPED_TRACE("cancel at call " + std::to_string(k) + ": " + reference_calls[k]);
        write_whole_file(destination, bytes{6});
        patcher p;
        std::size_t seen = 0;
        const test::recording_listener l = run_job(packed, &p, [&](patcher& e, const std::string&) {
            if (seen++ == k)
                e.request_cancel();
        });
        const bool whole = k < loaded_at || k + 1 == reference_calls.size();
        EXPECT_EQ(p.cancel_requested(), !whole);
        EXPECT_EQ(p.destination_written(), whole); // what a front end reports is what is on disk
        EXPECT_EQ(l.events("section "), reference_sections);
        EXPECT_EQ(l.calls.back(), "finished");
        for (std::size_t i = 0; i < l.positions.size(); ++i)
            ASSERT_EQ(l.positions[i], i);
        EXPECT_EQ(read_whole_file(destination), whole ? reference : bytes{6});
        EXPECT_EQ(leftovers(), (std::vector<std::string>{"game.nds", "out.nds"}));
    }
    // Between the last section and "finished": a request just before the commit still cancels;
    // one just after it is refused, and the written ROM stands.
    for (const bool after : {false, true}) {
        SCOPED_TRACE(after ? "just after the commit" : "just before the commit");
        write_whole_file(destination, bytes{6});
        patcher p;
        p.watch_commit([&](patcher::commit_moment m) {
            if (m == (after ? patcher::commit_moment::after : patcher::commit_moment::before)) {
                EXPECT_EQ(p.request_cancel(), !after);
            }
        });
        EXPECT_EQ(run_job(packed, &p).calls.back(), "finished");
        EXPECT_EQ(p.destination_written(), after);
        EXPECT_EQ(read_whole_file(destination), after ? reference : bytes{6});
        EXPECT_EQ(leftovers(), (std::vector<std::string>{"game.nds", "out.nds"}));
    }
}

} // namespace
} // namespace qm
