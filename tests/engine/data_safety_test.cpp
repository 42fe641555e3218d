// The patch job when its files change under it, the user cancels or workers rebuild CPK archives
// ahead of their turn: the destination ends up either complete and correct or untouched, and the
// listener sees the same calls, up to the same first error or the same cancel, whatever the
// number of workers.

#include "common/phase_timer.h"
#include "cpk/cpk_builder.h"
#include "cpk/cpk_test_data.h"
#include "cpk/cpk_visit.h"
#include "engine/char_table.h"
#include "engine/font_depth.h"
#include "engine/script_font.h"
#include "job_fixture.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using test::error_of;

class data_safety : public test::job_fixture {
protected:
    void SetUp() override
    {
        job_fixture::SetUp();
        // talk.cpk: every kind of entry change (a script keeping 8 bytes and one keeping none, a
        // font twice, a whole replacement, a delta, an emptied entry), one entry kept and two
        // appended. arc0.cpk and arc1.cpk: a dozen entries (compressible, short, incompressible,
        // empty), every third changed by a delta, one appended: work for workers to do ahead. A
        // file and the packed overlay besides.
        bytes script(64, 'S');
        put_le32(script, 12, 8);
        const bytes font = build_font(used_char_set().set(33).set(40)), delta_source = test::pattern(2000, 3);
        const std::vector<bytes> talk_files = {script,           font,        test::pattern(3000, 11),
                                               bytes(900, 0x41), font,        delta_source,
                                               script,           bytes(50, 6)};
        cpk_builder talk;
        for (const bytes& f : talk_files)
            talk.add_file(f);
        rom_description game = test::game_description();
        game.root.push_back(rom_fs_node::file("talk.cpk", talk.write()));
        for (int a = 0; a < 2; ++a) {
            cpk_builder cpk;
            std::vector<std::uint32_t> list{1};
            for (std::uint32_t i = 0; i < 12; ++i) {
                const auto seed = static_cast<std::uint8_t>(a * 16 + i);
                const bytes entry = i % 4 == 0   ? test::pattern(5000 + 700 * i, seed)
                                    : i % 4 == 1 ? bytes(200 + i, seed)
                                    : i % 4 == 2 ? test::random_bytes(3000, seed)
                                                 : bytes();
                cpk.add_file(entry);
                if (i % 3 == 0)
                    list.insert(list.end(), {i + 1, crc32(entry), 3,
                                             archive.add_blob(
                                                 vcdiff_encode(entry, test::pattern(4000 + 100 * i, seed)))});
            }
            list.insert(list.end(),
                        {0xFFFFFFFF, archive.add_blob(test::pattern(9000, static_cast<std::uint8_t>(a)))});
            game.root.push_back(rom_fs_node::file("arc" + std::to_string(a) + ".cpk", cpk.write()));
            archive.add_file_record("/arc" + std::to_string(a) + ".cpk", list);
            arc1_list = list;
        }
        write_game(game);

        archive_builder& b = archive;
        b.add_file_record("/readme.txt", delta_body(b, test::pattern(100, 5), bytes{'o', 'k'}));
        b.add_record(make_section_code(section_kind::arm9_overlay, 3),
                     delta_body(b, bytes(4000, 0x20), bytes(4100, 0x21)));
        const bytes text = test::script_container(u"\u00C9t\u00E9 \u00E0 Quillmoor"),
                    text2 = test::script_container(u"D\u00E9j\u00E0 vu");
        const bytes added{'n', 'e', 'w'};
        const bytes delta_target = test::pattern(2100, 3); // the source and 100 bytes more
        const std::uint32_t s = crc32(script), f = crc32(font), c3 = crc32(talk_files[2]),
                            c6 = crc32(delta_source), c8 = crc32(talk_files[7]), t1 = b.add_blob(text),
                            t2 = b.add_blob(text2), whole = b.add_blob(test::pattern(2500, 12)),
                            d = b.add_blob(vcdiff_encode(delta_source, delta_target)), empty = b.add_blob({}),
                            n1 = b.add_blob(added), n2 = b.add_blob(bytes(1000, 0x42)), end = 0xFFFFFFFF;
        b.add_file_record("/talk.cpk", {1,  1, s, 0, t1, 2, f,  4, 3,  c3, 2,     whole, 5,  f,   4, 6,
                                        c6, 3, d, 7, s,  1, t2, 8, c8, 5,  empty, end,   n1, end, n2});
        const auto total =
            static_cast<std::uint32_t>(nds_rom(source).list_sections().size() + 1 + 10 + 2 * 13);
        b.set_total_steps(total);
        packed = pack_archive(b.build());

        patcher timed;
        phase_timer timer;
        timed.time_phases(&timer);
        const test::recording_listener l = run_job(packed, &timed);
        reference_calls = l.calls;
        reference_sections = l.events("section ");
        reference = read_whole_file(destination);
        // Timed, the job fills its phases and leaves no timer bound.
        EXPECT_EQ(phase_timer::of_this_thread().timer, nullptr);
        for (job_phase p : {job_phase::archive_unpacking, job_phase::reading, job_phase::lz_packing,
                            job_phase::cpk_compression, job_phase::writing})
            EXPECT_GT(timer.times_measured(p), 0u) << job_phase_name(p);
        // It reports in order, files by their path and other sections by none, the closing padding
        // (0) included, and one position per step.
        std::vector<std::string> ev = l.events();
        EXPECT_NE(std::find(ev.begin(), ev.end(), "section 0x3000a (null)"), ev.end());
        EXPECT_TRUE(std::any_of(ev.begin(), ev.end(), [](auto& e) { return e.ends_with(" talk.cpk"); }));
        ASSERT_GE(ev.size(), 8u);
        ev.erase(ev.begin() + 6, ev.end() - 2);
        EXPECT_EQ(ev, (std::vector<std::string>{"opening_source", "source_opened", "initialising",
                                                "set_total " + std::to_string(total), "initialised",
                                                "section 0x1 (null)", "section 0 (null)", "finished"}));
        EXPECT_EQ(l.positions.size(), total);
        // Every part is patched. The ROM is closed before it is removed (Windows refuses otherwise).
        std::vector<bytes> entries;
        {
            nds_rom patched(destination);
            cpk_visit(patched.read_file(patched.get_file_id("/talk.cpk")),
                      [&](std::uint32_t, byte_span d) { entries.emplace_back(d.begin(), d.end()); });
        }
        const auto script_of = [](const bytes& prefix, const bytes& t) {
            return assemble_script_entry(prefix, prefix.size(), t,
                                         build_font(used_chars(make_char_index(), t)));
        };
        const bytes font1 = convert_font_to_1bpp(font), kept(script.begin(), script.begin() + 8);
        EXPECT_EQ(entries, (std::vector<bytes>{script_of(kept, text), font1, test::pattern(2500, 12),
                                               talk_files[3], font1, delta_target, script_of(bytes(), text2),
                                               bytes(), added, bytes(1000, 0x42)}));
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

    struct outcome {
        std::vector<std::string> calls; // up to the error, if any
        std::string error;
        bool cancelled = false, written = false;
        bytes rom;
        bool operator==(const outcome&) const = default;
    };

    // A job over a destination holding {6}; `at_call` sees the patcher at each listener call, with
    // the number of the call.
    outcome run(const bytes& with, unsigned workers, std::function<void(patcher&, std::size_t)> at_call = {})
    {
        write_whole_file(destination, bytes{6});
        patcher p;
        p.use_workers(workers);
        outcome o;
        o.error = error_of([&] {
            run_job(with, &p, [&](patcher& e, const std::string& call) {
                o.calls.push_back(call);
                if (at_call)
                    at_call(e, o.calls.size() - 1);
            });
        });
        o.cancelled = p.cancel_requested();
        o.written = p.destination_written();
        o.rom = read_whole_file(destination);
        EXPECT_EQ(leftovers(), (std::vector<std::string>{"game.nds", "out.nds"}));
        return o;
    }

    archive_builder archive;
    std::vector<std::uint32_t> arc1_list;
    bytes packed;
    bytes reference;
    std::vector<std::string> reference_calls, reference_sections;
};

// A source cut short at any section, or a patched file overwritten in place once the job has begun.
TEST_F(data_safety, a_source_cut_short_or_overwritten_midway_fails_and_writes_nothing)
{
    const bytes original = read_whole_file(source);
    const std::vector<rom_section> sections = nds_rom(source).list_sections();
    const std::uint32_t readme_at =
        get_le32(nds_rom(source).fat_bytes(), 8u * nds_rom(source).get_file_id("/readme.txt"));
    write_whole_file(destination, bytes{4, 4});
    for (std::size_t i = 0; i <= sections.size(); ++i) {
        SCOPED_TRACE("cut at section " + std::to_string(i));
        write_whole_file(source, original);
        const bool later_data =
            std::any_of(sections.begin() + i, sections.end(), [](auto& s) { return s.size > 0; });
        const std::string error = error_of([&] {
            run_job(packed, nullptr, at_section(i % sections.size(), [&] {
                        if (i < sections.size())
                            return fs::resize_file(source, sections[i].offset);
                        std::fstream f(source, std::ios::binary | std::ios::in | std::ios::out);
                        f.seekp(readme_at);
                        f.put('X');
                    }));
        });
        EXPECT_TRUE(i < sections.size() ? error.empty() != later_data
                                        : error == "patcher::visit - bad checksum")
            << error;
        EXPECT_EQ(read_whole_file(destination), (bytes{4, 4}));
        EXPECT_EQ(leftovers(), (std::vector<std::string>{"game.nds", "out.nds"}));
    }
}

TEST_F(data_safety, a_source_renamed_over_midway_is_still_read_whole)
{
#ifdef _WIN32
    GTEST_SKIP() << "Windows does not let an open file be renamed over";
#endif
    // The job reads the file it opened: whatever the name comes to mean meanwhile, the result is
    // the ROM patched from the bytes that were there when the job began.
    run_job(packed, nullptr, at_section(nds_rom(source).list_sections().size() / 2, [&] {
                write_whole_file(dir / "other.nds", bytes(4096, 0xEE));
                fs::rename(dir / "other.nds", source);
            }));
    EXPECT_EQ(read_whole_file(destination), reference);
    EXPECT_EQ(read_whole_file(source), bytes(4096, 0xEE));
}

// The front ends check sources and destinations before a job starts; the engine refuses them on
// its own too. A game is translated only with its exact title and one of its two codes. A path
// the archive names and the ROM lacks ends the job before any section.
TEST_F(data_safety, an_unusable_source_or_destination_or_a_missing_path_is_refused_and_nothing_written)
{
    write_whole_file(destination, bytes{3});
    fs::create_directories(dir / "other" / "folder.nds");
    write_whole_file(dir / "other" / "short.nds", bytes(0x17F, 0));
    std::vector<std::pair<std::string, std::string>> sources = {
        {"folder.nds", ""},
        {"missing.nds", "nds_rom::nds_rom - can't open input file"},
        {"short.nds", "nds_rom::nds_rom - input file is not a valid NDS ROM"}};
    for (const std::string game : {"QLMOR yqle", "QLMOR YQLJ", "QLMORX YQLE", "QLMO YQLE", "qlmor YQLE"}) {
        rom_description d = test::game_description();
        d.title = game.substr(0, game.find(' '));
        d.game_code = game.substr(game.find(' ') + 1);
        write_whole_file(dir / "other" / (game + ".nds"), build_rom_image(d).image);
        sources.emplace_back(game + ".nds", "Input is not a valid Quillmoor game");
    }
    for (const auto& [name, message] : sources) {
        test::recording_listener l;
        const std::string error = job_error(packed, l, dir / "other" / name);
        EXPECT_TRUE(message.empty() ? !error.empty() : error == message) << name << ": " << error;
        EXPECT_EQ(l.calls, std::vector<std::string>{"opening_source"}); // a refused source sees nothing more
        EXPECT_EQ(read_whole_file(destination), bytes{3});
    }
    fs::remove(destination);
    fs::create_directory(destination);
    write_whole_file(destination / "keep.txt", bytes{1});
    EXPECT_EQ(error_of([&] { run_job(packed); }), "nds_rom::copy_to failed - can't open output file");
    EXPECT_EQ(read_whole_file(destination / "keep.txt"), bytes{1});
    EXPECT_EQ(leftovers(), (std::vector<std::string>{"game.nds", "other", "out.nds"}));

    // The game with the other code passes the game check; a path the ROM lacks ends the job then.
    rom_description d = test::game_description();
    d.game_code = "YQLP";
    write_game(d);
    archive_builder b;
    b.add_file_record("/data/nope.bin", {0, 0, 0});
    test::recording_listener l;
    EXPECT_EQ(job_error(pack_archive(b.build()), l), "nds_rom::get_file_id failed - path not found");
    EXPECT_EQ(l.events().back(), "set_total 0");
    EXPECT_TRUE(l.positions.empty());
    EXPECT_EQ(read_whole_file(destination / "keep.txt"), bytes{1});
}

TEST_F(data_safety, a_cancel_at_any_moment_gives_the_whole_rom_or_nothing_whatever_the_workers)
{
    // Every listener call is a moment to cancel at: before load_archive has finished the request
    // is forgotten and the whole ROM is written; from then on nothing reaches the destination
    // (only the final "finished" comes once the ROM is in place), yet every section is reported.
    const auto loaded_at = static_cast<std::size_t>(
        std::find(reference_calls.begin(), reference_calls.end(), "initialised") - reference_calls.begin());
    ASSERT_EQ(reference_calls.back(), "finished");
    for (std::size_t k = 0; k < reference_calls.size(); ++k) {
        SCOPED_TRACE("cancel at call " + std::to_string(k) + ": " + reference_calls[k]);
        const auto cancel_at_k = [k](patcher& p, std::size_t call) {
            if (call == k)
                p.request_cancel();
        };
        const outcome serial = run(packed, 0, cancel_at_k);
        const bool whole = k < loaded_at || k + 1 == reference_calls.size();
        EXPECT_EQ(serial.cancelled, !whole);
        EXPECT_EQ(serial.written, whole); // what a front end reports is what is on disk
        EXPECT_EQ(serial.rom, whole ? reference : bytes{6});
        test::recording_listener seen;
        seen.calls = serial.calls;
        EXPECT_EQ(seen.events("section "), reference_sections);
        const std::vector<std::string> positions = seen.events("position ");
        for (std::size_t i = 0; i < positions.size(); ++i)
            EXPECT_EQ(positions[i], "position " + std::to_string(i));
        EXPECT_EQ(serial.calls.back(), "finished");
        EXPECT_TRUE(run(packed, 1 + k % 8, cancel_at_k) == serial) << 1 + k % 8 << " workers";
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

// An error that workers meet ahead shows at its archive's turn, after exactly the calls that the
// serial job makes before it: a bad checksum in the last archive, and an archive whose table
// cannot be read.
TEST_F(data_safety, an_error_found_ahead_shows_only_at_its_turn)
{
    archive_builder bad_checksum = archive;
    arc1_list[6] ^= 1; // the checksum of the second patched entry
    bad_checksum.add_file_record("/arc1.cpk", arc1_list);
    const bytes clean = read_whole_file(source);
    bytes damaged = clean;
    const nds_rom original(source);
    damaged[get_le32(original.fat_bytes(), std::size_t{original.get_file_id("/arc0.cpk")} * 8) + 16] = 'X';
    for (const bool damaged_table : {false, true}) {
        SCOPED_TRACE(damaged_table ? "damaged table" : "bad checksum");
        write_whole_file(source, damaged_table ? damaged : clean);
        const bytes with = damaged_table ? packed : pack_archive(bad_checksum.build());
        const outcome serial = run(with, 0);
        EXPECT_NE(serial.error, "");
        EXPECT_EQ(serial.rom, bytes{6});
        for (unsigned workers : {2u, 8u})
            EXPECT_TRUE(run(with, workers) == serial) << workers << " workers";
    }
}

} // namespace
} // namespace qm
