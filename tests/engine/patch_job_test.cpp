#include "engine/patcher.h"

#include "common/phase_timer.h"

#include "job_fixture.h"
#include "support/error_of.h"
#include "recording_listener.h"

namespace qm {
namespace {

using test::job_fixture;

using test::error_of;

class patch_job : public job_fixture {
protected:
    // Runs a whole job with the archive `b` makes; returns the listener's record.
    test::recording_listener run(const archive_builder& b, patcher* engine = nullptr,
                                 std::function<void(patcher&, const std::string&)> hook = {})
    {
        patcher local;
        patcher& p = engine ? *engine : local;
        test::recording_listener l;
        if (hook)
            l.on_call = [&](const std::string& c) { hook(p, c); };
        bytes packed = pack_archive(b.build());
        p.run_patch_job(source, destination, packed.data(), static_cast<std::uint32_t>(packed.size()), l);
        return l;
    }
};

TEST_F(patch_job, patches_binary_overlay_banner_and_file_and_reports_in_order)
{
    rom_description d = test::game_description();
    write_game(d);
    std::map<std::uint32_t, bytes> before = test::section_contents(source);

    const std::uint32_t arm9_code = make_section_code(arm9);
    const std::uint32_t overlay_code = make_section_code(arm9_overlay, 3);
    const std::uint32_t banner_code = make_section_code(banner);
    bytes arm9_after = before[arm9_code];
    arm9_after[10] ^= 0xFF;
    arm9_after.insert(arm9_after.begin() + 20, 150, 0x55); // grows; the footer stays last
    bytes overlay_after = before[overlay_code];
    overlay_after.resize(6000, 0x21);
    bytes banner_after = test::pattern(0x840, 99);
    bytes story_after = test::pattern(7000, 42);

    archive_builder b;
    b.add_record(arm9_code, delta_body(b, before[arm9_code], arm9_after));
    b.add_file_record("/data/story.bin", delta_body(b, test::pattern(5000, 6), story_after));
    b.add_record(overlay_code, delta_body(b, before[overlay_code], overlay_after));
    b.add_record(banner_code, delta_body(b, before[banner_code], banner_after));
    b.set_total_steps(1234);
    test::recording_listener l = run(b);

    std::map<std::uint32_t, bytes> after = test::section_contents(destination);
    EXPECT_EQ(after[arm9_code], arm9_after);
    EXPECT_EQ(after[overlay_code], overlay_after);
    EXPECT_EQ(after[banner_code], banner_after);
    nds_rom out(destination);
    std::uint16_t story = out.get_file_id("/data/story.bin");
    EXPECT_EQ(out.read_file(story), story_after);
    EXPECT_TRUE(out.has_arm9_footer());
    EXPECT_EQ(get_le32(out.header(), 0x2C), arm9_after.size() - 12);
    // Everything else is carried through.
    for (const auto& [code, contents] : before) {
        if (code != arm9_code && code != overlay_code && code != banner_code && code != make_section_code(file, story)) {
            EXPECT_EQ(after[code], contents) << std::hex << code;
        }
    }

    std::vector<std::string> ev = l.events();
    ASSERT_GE(ev.size(), 6u);
    EXPECT_EQ(std::vector<std::string>(ev.begin(), ev.begin() + 4),
              (std::vector<std::string>{"opening_source", "source_opened", "initialising", "set_total 1234"}));
    EXPECT_EQ(ev[4], "initialised");
    EXPECT_EQ(ev.back(), "finished");
    EXPECT_EQ(ev[ev.size() - 2], "section 0 (null)");
    EXPECT_NE(std::find(ev.begin(), ev.end(), "section 0x" + [&] {
                  char buf[16];
                  std::snprintf(buf, sizeof buf, "%x", make_section_code(file, story));
                  return std::string(buf);
              }() + " data/story.bin"),
              ev.end());
    for (std::size_t i = 0; i < l.positions.size(); ++i)
        ASSERT_EQ(l.positions[i], i);
    EXPECT_EQ(l.positions.size(), nds_rom(source).list_sections().size() + 1);
    EXPECT_EQ(leftovers(), (std::vector<std::string>{"game.nds", "out.nds"}));
}

TEST_F(patch_job, game_check_wants_the_exact_title_and_one_of_two_codes)
{
    struct variant {
        std::string title, code;
        bool ok;
    };
    for (const variant& v : {variant{"QLMOR", "YQLE", true}, variant{"QLMOR", "YQLP", true},
                             variant{"QLMOR", "yqle", false}, variant{"QLMOR", "YQLJ", false},
                             variant{"QLMORX", "YQLE", false}, variant{"QLMO", "YQLE", false},
                             variant{"qlmor", "YQLE", false}}) {
        rom_description d = test::game_description();
        d.title = v.title;
        d.game_code = v.code;
        write_game(d);
        archive_builder b;
        if (v.ok) {
            EXPECT_NO_THROW(run(b)) << v.title << " " << v.code;
        } else {
            test::recording_listener l;
            patcher p;
            bytes packed = pack_archive(b.build());
            EXPECT_EQ(error_of([&] {
                          p.run_patch_job(source, destination, packed.data(),
                                          static_cast<std::uint32_t>(packed.size()), l);
                      }),
                      "Input is not a valid Quillmoor game")
                << v.title << " " << v.code;
            EXPECT_EQ(l.calls, (std::vector<std::string>{"opening_source"}));
        }
        std::filesystem::remove(destination);
    }
}

TEST_F(patch_job, not_a_rom_fails_after_opening_source_only)
{
    write_whole_file(source, bytes(0x17F, 0));
    patcher p;
    test::recording_listener l;
    archive_builder b;
    bytes packed = pack_archive(b.build());
    EXPECT_EQ(error_of([&] { p.run_patch_job(source, destination, packed.data(), 9999, l); }),
              "nds_rom::nds_rom - input file is not a valid NDS ROM");
    EXPECT_EQ(l.calls, (std::vector<std::string>{"opening_source"}));
    EXPECT_EQ(error_of([&] { p.run_patch_job(dir / "missing.nds", destination, packed.data(), 9999, l); }),
              "nds_rom::nds_rom - can't open input file");
}

TEST_F(patch_job, file_records_map_paths_in_order_and_others_skip_the_pool)
{
    write_game(test::game_description());
    std::map<std::uint32_t, bytes> before = test::section_contents(source);
    archive_builder b;
    // file, banner (takes no path), file: the second path belongs to the third record.
    b.add_file_record("/readme.txt", delta_body(b, test::pattern(100, 5), bytes{'r'}));
    b.add_record(make_section_code(banner), delta_body(b, before[make_section_code(banner)], test::pattern(0x840, 1)));
    b.add_file_record("/data/more/x.bin", delta_body(b, test::pattern(9, 7), bytes{'x'}));
    run(b);
    nds_rom out(destination);
    EXPECT_EQ(out.read_file(out.get_file_id("/readme.txt")), bytes{'r'});
    EXPECT_EQ(out.read_file(out.get_file_id("/data/more/x.bin")), bytes{'x'});
}

// Asked for, the job reports where its time went, phase by phase; the calls to the listener and
// the result are those of a job that is not timed.
TEST_F(patch_job, a_timed_job_fills_its_phases_and_leaves_no_timer_bound)
{
    write_game(test::game_description());
    archive_builder b;
    b.add_file_record("/readme.txt", delta_body(b, test::pattern(100, 5), bytes{'r'}));
    const test::recording_listener plain = run(b);
    const bytes plain_result = read_whole_file(destination);

    patcher engine;
    phase_timer timer;
    engine.time_phases(&timer);
    const test::recording_listener timed = run(b, &engine);
    EXPECT_EQ(timed.events(), plain.events());
    EXPECT_EQ(read_whole_file(destination), plain_result);
    EXPECT_EQ(phase_timer::of_this_thread().timer, nullptr);
    for (job_phase p : {job_phase::archive_unpacking, job_phase::reading, job_phase::lz_packing, job_phase::writing})
        EXPECT_GT(timer.total(p).count(), 0) << job_phase_name(p);
    // No CPK archive in this game.
    EXPECT_EQ(timer.total(job_phase::cpk_compression).count(), 0);
    EXPECT_EQ(timer.helper_total(job_phase::cpk_compression).count(), 0);
}

TEST_F(patch_job, a_missing_path_ends_the_job_before_any_section)
{
    write_game(test::game_description());
    archive_builder b;
    b.add_file_record("/data/nope.bin", {0, 0, 0});
    patcher p;
    test::recording_listener l;
    bytes packed = pack_archive(b.build());
    EXPECT_EQ(error_of([&] {
                  p.run_patch_job(source, destination, packed.data(), static_cast<std::uint32_t>(packed.size()), l);
              }),
              "nds_rom::get_file_id failed - path not found");
    EXPECT_EQ(l.events().back(), "set_total 0");
    EXPECT_TRUE(l.positions.empty());
    EXPECT_EQ(leftovers(), (std::vector<std::string>{"game.nds"}));
}

TEST_F(patch_job, bad_checksum_leaves_no_destination_and_an_existing_one_untouched)
{
    write_game(test::game_description());
    write_whole_file(destination, bytes{1, 2, 3});
    archive_builder b;
    b.add_file_record("/readme.txt", delta_body(b, test::pattern(100, 77), bytes{'r'}));
    bytes packed = pack_archive(b.build());
    patcher p;
    test::recording_listener l;
    EXPECT_EQ(error_of([&] {
                  p.run_patch_job(source, destination, packed.data(), static_cast<std::uint32_t>(packed.size()), l);
              }),
              "patcher::visit - bad checksum");
    EXPECT_NE(l.events().back(), "finished"); // no listener call after an error
    EXPECT_EQ(read_whole_file(destination), (bytes{1, 2, 3}));
    EXPECT_EQ(leftovers(), (std::vector<std::string>{"game.nds", "out.nds"}));
}

TEST_F(patch_job, cancel_before_the_archive_is_unpacked_is_forgotten)
{
    write_game(test::game_description());
    archive_builder b;
    b.add_file_record("/readme.txt", delta_body(b, test::pattern(100, 5), bytes{'r'}));
    patcher p;
    run(b, &p, [](patcher& e, const std::string& call) {
        if (call == "initialising")
            e.request_cancel();
    });
    EXPECT_FALSE(p.cancel_requested());
    nds_rom out(destination);
    EXPECT_EQ(out.read_file(out.get_file_id("/readme.txt")), bytes{'r'});
}

TEST_F(patch_job, cancel_during_the_sections_reports_every_section_and_leaves_nothing)
{
    write_game(test::game_description());
    write_whole_file(destination, bytes{9});
    archive_builder b;
    patcher p;
    test::recording_listener l = run(b, &p, [](patcher& e, const std::string& call) {
        if (call == "position 3")
            e.request_cancel();
    });
    EXPECT_TRUE(p.cancel_requested());
    EXPECT_EQ(l.events().back(), "finished");
    EXPECT_EQ(l.positions.size(), nds_rom(source).list_sections().size() + 1);
    EXPECT_EQ(read_whole_file(destination), bytes{9});
    EXPECT_EQ(leftovers(), (std::vector<std::string>{"game.nds", "out.nds"}));
}

} // namespace
} // namespace qm
