#include "engine/patcher.h"

#include "common/phase_timer.h"

#include "job_fixture.h"

namespace qm {
namespace {

using test::job_fixture;
using patch_job = job_fixture;

// Paths go to file records in record order: the banner's record between two takes none. The job
// is timed, which changes nothing it does, and fills its phases.
TEST_F(patch_job, patches_binary_overlay_banner_and_files_reports_in_order_and_times_its_phases)
{
    write_game(test::game_description());
    std::map<std::uint32_t, bytes> before = test::section_contents(source);
    const std::uint32_t arm9_code = make_section_code(arm9),
                        overlay_code = make_section_code(arm9_overlay, 3),
                        banner_code = make_section_code(banner),
                        story_code = make_section_code(file, nds_rom(source).get_file_id("/data/story.bin")),
                        x_code = make_section_code(file, nds_rom(source).get_file_id("/data/more/x.bin"));
    std::map<std::uint32_t, bytes> expected = before;
    expected[arm9_code][10] ^= 0xFF;
    expected[arm9_code].insert(expected[arm9_code].begin() + 20, 150, 0x55); // grows; the footer stays last
    expected[overlay_code].resize(6000, 0x21);
    expected[banner_code] = test::pattern(0x840, 99);
    expected[story_code] = test::pattern(7000, 42);
    expected[x_code] = bytes{'x'};

    archive_builder b;
    b.add_record(arm9_code, delta_body(b, before[arm9_code], expected[arm9_code]));
    b.add_file_record("/data/story.bin", delta_body(b, before[story_code], expected[story_code]));
    b.add_record(overlay_code, delta_body(b, before[overlay_code], expected[overlay_code]));
    b.add_record(banner_code, delta_body(b, before[banner_code], expected[banner_code]));
    b.add_file_record("/data/more/x.bin", delta_body(b, before[x_code], expected[x_code]));
    b.set_total_steps(1234);
    patcher engine;
    phase_timer timer;
    engine.time_phases(&timer);
    test::recording_listener l = run_job(pack_archive(b.build()), &engine);

    EXPECT_EQ(test::section_contents(destination), expected); // everything else carried through
    EXPECT_EQ(phase_timer::of_this_thread().timer, nullptr);
    for (job_phase p :
         {job_phase::archive_unpacking, job_phase::reading, job_phase::lz_packing, job_phase::writing})
        EXPECT_GT(timer.times_measured(p), 0u) << job_phase_name(p);
    EXPECT_EQ(timer.times_measured(job_phase::cpk_compression), 0u); // no CPK archive in this game

    // Files are named by their path; other sections by none, the closing padding (0) included.
    std::vector<std::string> ev = l.events();
    ASSERT_GE(ev.size(), 6u);
    EXPECT_EQ(std::vector<std::string>(ev.begin(), ev.begin() + 6),
              (std::vector<std::string>{"opening_source", "source_opened", "initialising", "set_total 1234",
                                        "initialised", "section 0x1 (null)"}));
    EXPECT_EQ(ev[ev.size() - 2], "section 0 (null)");
    EXPECT_EQ(ev.back(), "finished");
    char story_event[64];
    std::snprintf(story_event, sizeof story_event, "section %#x data/story.bin", story_code);
    for (const std::string& event : {std::string(story_event), std::string("section 0x3000a (null)")})
        EXPECT_NE(std::find(ev.begin(), ev.end(), event), ev.end()) << event;
    EXPECT_EQ(l.positions.size(), nds_rom(source).list_sections().size() + 1);
    for (std::size_t i = 0; i < l.positions.size(); ++i)
        ASSERT_EQ(l.positions[i], i);
    EXPECT_EQ(leftovers(), (std::vector<std::string>{"game.nds", "out.nds"}));
}

TEST_F(patch_job, game_check_wants_the_exact_title_and_one_of_two_codes)
{
    const bytes packed = pack_archive(archive_builder().build());
    for (const std::string game :
         {"QLMOR YQLE", "QLMOR YQLP", "QLMOR yqle", "QLMOR YQLJ", "QLMORX YQLE", "QLMO YQLE", "qlmor YQLE"}) {
        rom_description d = test::game_description();
        d.title = game.substr(0, game.find(' '));
        d.game_code = game.substr(game.find(' ') + 1);
        write_game(d);
        test::recording_listener l;
        const bool ok = game == "QLMOR YQLE" || game == "QLMOR YQLP";
        EXPECT_EQ(job_error(packed, l), ok ? "" : "Input is not a valid Quillmoor game") << game;
        EXPECT_EQ(l.calls.size() == 1 && l.calls[0] == "opening_source",
                  !ok); // a refused game sees nothing more
    }
}

TEST_F(patch_job, a_missing_path_ends_the_job_before_any_section)
{
    write_game(test::game_description());
    archive_builder b;
    b.add_file_record("/data/nope.bin", {0, 0, 0});
    test::recording_listener l;
    EXPECT_EQ(job_error(pack_archive(b.build()), l), "nds_rom::get_file_id failed - path not found");
    EXPECT_EQ(l.events().back(), "set_total 0");
    EXPECT_TRUE(l.positions.empty());
    EXPECT_EQ(leftovers(), (std::vector<std::string>{"game.nds"}));
}

} // namespace
} // namespace qm
