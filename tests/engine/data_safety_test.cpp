// The patch job when its files change under it or the user cancels: a source cut short or
// overwritten while the sections are read, a source renamed over or removed, a destination that
// is a folder, and a cancel at every moment of a job that patches overlays, files, a CPK archive
// and appends entries to it. The destination ends up either complete and correct or untouched.

#include "cpk/cpk_builder.h"
#include "cpk/cpk_visit.h"
#include "engine/patcher.h"
#include "engine/script_font.h"
#include "job_fixture.h"
#include "recording_listener.h"
#include "support/error_of.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using test::error_of;

std::uint32_t crc_of(const bytes& b)
{
    return crc32(b.data(), static_cast<std::uint32_t>(b.size()));
}

bytes script_container(const std::u16string& text)
{
    bytes c(32, 0);
    put_le32(c, 24, 32);
    put_le32(c, 28, static_cast<std::uint32_t>(32 + 2 * text.size()));
    for (char16_t u : text)
        append_le16(c, static_cast<std::uint16_t>(u));
    return c;
}

class data_safety : public test::job_fixture {
protected:
    void SetUp() override
    {
        job_fixture::SetUp();
        // A game whose archive file holds a script entry (its first 8 bytes kept), a 2-bit font
        // and a compressible entry; the patch changes all three, appends two entries and
        // patches a plain file and the packed overlay besides.
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
        const std::uint32_t container = b.add_blob(script_container(u"\u00C9t\u00E9 \u00E0 Quillmoor"));
        const std::uint32_t replacement = b.add_blob(test::pattern(2500, 12));
        const std::uint32_t first_added = b.add_blob(bytes{'n', 'e', 'w'});
        const std::uint32_t second_added = b.add_blob(bytes(1000, 0x42));
        b.add_file_record("/talk.cpk", {1, 1, crc_of(cpk_files[0]), 0, container, 2, crc_of(cpk_files[1]), 4,
                                        3, crc_of(cpk_files[2]), 2, replacement, 0xFFFFFFFF, first_added,
                                        0xFFFFFFFF, second_added});
        b.set_total_steps(static_cast<std::uint32_t>(nds_rom(source).list_sections().size() + 1 + 4 + 2));
        packed = pack_archive(b.build());

        reference_calls = run().calls;
        reference = read_whole_file(destination);
        fs::remove(destination);
    }

    // Runs the job; `hook` sees every listener call (as the recording listener writes it down).
    test::recording_listener run(patcher* engine = nullptr,
                                 std::function<void(patcher&, const std::string&)> hook = {})
    {
        patcher local;
        patcher& p = engine ? *engine : local;
        test::recording_listener l;
        if (hook)
            l.on_call = [&](const std::string& c) { hook(p, c); };
        p.run_patch_job(source, destination, packed.data(), static_cast<std::uint32_t>(packed.size()), l);
        return l;
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
    std::vector<std::string> reference_calls;
};

TEST_F(data_safety, the_reference_job_patches_every_part)
{
    write_whole_file(destination, reference);
    nds_rom patched(destination);
    EXPECT_EQ(patched.read_file(patched.get_file_id("/readme.txt")), (bytes{'o', 'k'}));
    std::vector<bytes> entries;
    cpk_visit(patched.read_file(patched.get_file_id("/talk.cpk")),
              [&](std::uint32_t, const std::uint8_t* d, std::uint32_t n) { entries.emplace_back(d, d + n); });
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
            error_of([&] { run(nullptr, at_section(i, [&] { fs::resize_file(source, cut); })); });
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
                  run(nullptr, at_section(0, [&] {
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
    run(nullptr, at_section(middle, [&] {
            write_whole_file(dir / "other.nds", bytes(4096, 0xEE));
            fs::rename(dir / "other.nds", source);
        }));
    EXPECT_EQ(read_whole_file(destination), reference);

    fs::remove(destination);
    write_whole_file(source, original);
    run(nullptr, at_section(middle, [&] { fs::remove(source); }));
    EXPECT_EQ(read_whole_file(destination), reference);
    EXPECT_EQ(leftovers(), (std::vector<std::string>{"out.nds"}));
}

TEST_F(data_safety, a_source_that_is_a_folder_or_missing_is_refused_before_writing)
{
    // The front ends check both before a job starts; the engine refuses them on its own too.
    write_whole_file(destination, bytes{3});
    fs::create_directory(dir / "folder.nds");
    const fs::path missing = dir / "missing.nds";
    for (const fs::path& from : {dir / "folder.nds", missing}) {
        SCOPED_TRACE(from.string());
        patcher p;
        test::recording_listener l;
        const std::string error = error_of([&] {
            p.run_patch_job(from, destination, packed.data(), static_cast<std::uint32_t>(packed.size()), l);
        });
        EXPECT_FALSE(error.empty());
        if (from == missing) {
            EXPECT_EQ(error, "nds_rom::nds_rom - can't open input file");
        }
        EXPECT_EQ(l.events(), std::vector<std::string>{"opening_source"});
        EXPECT_EQ(read_whole_file(destination), bytes{3});
    }
    EXPECT_EQ(leftovers(), (std::vector<std::string>{"folder.nds", "game.nds", "out.nds"}));
}

TEST_F(data_safety, a_destination_that_is_a_folder_is_left_alone)
{
    fs::create_directory(destination);
    write_whole_file(destination / "keep.txt", bytes{1});
    const std::string error = error_of([&] { run(); });
    EXPECT_EQ(error, "nds_rom::copy_to failed - can't open output file");
    EXPECT_EQ(read_whole_file(destination / "keep.txt"), bytes{1});
    EXPECT_EQ(leftovers(), (std::vector<std::string>{"game.nds", "out.nds"}));
}

TEST_F(data_safety, a_cancel_at_any_moment_gives_the_whole_rom_or_nothing)
{
    // Every listener call of the job is a moment to cancel at: before load_archive has finished
    // the request is forgotten and the whole ROM is written; from then on (sections, the CPK
    // archive's entries, the appended entries, the padding) nothing reaches the destination,
    // until the final "finished", which comes once the ROM is in place.
    const auto loaded = std::find(reference_calls.begin(), reference_calls.end(), "initialised");
    ASSERT_NE(loaded, reference_calls.end());
    const auto loaded_at = static_cast<std::size_t>(loaded - reference_calls.begin());
    ASSERT_EQ(reference_calls.back(), "finished");
    for (std::size_t k = 0; k < reference_calls.size(); ++k) {
        SCOPED_TRACE("cancel at call " + std::to_string(k) + ": " + reference_calls[k]);
        write_whole_file(destination, bytes{6});
        patcher p;
        std::size_t seen = 0;
        run(&p, [&](patcher& e, const std::string&) {
            if (seen++ == k)
                e.request_cancel();
        });
        EXPECT_EQ(p.cancel_requested(), k >= loaded_at);
        if (k < loaded_at || k + 1 == reference_calls.size()) {
            EXPECT_EQ(read_whole_file(destination), reference);
        } else {
            EXPECT_EQ(read_whole_file(destination), bytes{6});
        }
        EXPECT_EQ(leftovers(), (std::vector<std::string>{"game.nds", "out.nds"}));
    }
}

} // namespace
} // namespace qm
