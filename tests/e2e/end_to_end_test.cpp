// The whole path a user takes on the sample game: patched through the engine (quillmoor-patch
// with the built-in archive is the CTest fixture e2e.patch_sample), a damaged source, and
// rebuilding the result. Refusals and cancelling are tested on small games by the engine's and
// the command line's tests.

#include "e2e/sample_fixture.h"

#include "common/file_io.h"
#include "engine/patcher.h"
#include "engine/recording_listener.h"
#include "rom/nds_rom.h"
#include "support/error_of.h"

#include <gtest/gtest.h>

#include <numeric>

namespace qm::test {
namespace {

TEST(end_to_end, engine_turns_the_original_into_the_translation_and_counts_every_step)
{
    scratch_dir dir;
    recording_listener l;
    ASSERT_EQ(
        error_of([&] { patcher().run_patch_job(sample_original(), dir / "out.nds", sample_patch(), l); }),
        "");
    EXPECT_EQ(read_whole_file(dir / "out.nds"), read_whole_file(sample_translation()));
    EXPECT_EQ(l.events()[3], "set_total 2490");
    EXPECT_EQ(l.events().back(), "finished");
    std::vector<std::uint32_t> steps(2490);
    std::iota(steps.begin(), steps.end(), 0u);
    EXPECT_EQ(l.positions, steps);
}

TEST(end_to_end, damage_in_a_patched_section_is_refused_and_elsewhere_carried_through)
{
    const bytes rom = read_whole_file(sample_original());
    const std::uint16_t sound = nds_rom(sample_original()).get_file_id("/sound/bgm/bgm000.sseq");
    const auto sound_at = [&](const bytes& image) { // a byte of the file, by its FAT entry
        return get_le32(image, get_le32(image, 0x48) + 8u * sound) + 7;
    };
    scratch_dir dir;
    for (const auto& [offset, error] :
         {std::pair{get_le32(rom, 0x68) + 0x300, "patcher::visit - bad checksum"},
          std::pair{sound_at(rom), ""}}) { // the banner's title, the sound
        bytes damaged = rom;
        damaged.at(offset) ^= 0x01;
        write_whole_file(dir / "damaged.nds", damaged);
        recording_listener l;
        EXPECT_EQ(error_of([&] {
                      patcher().run_patch_job(dir / "damaged.nds", dir / "out.nds", sample_patch(), l);
                  }),
                  error);
        EXPECT_EQ(std::filesystem::exists(dir / "out.nds"), *error == 0);
    }
    bytes expected = read_whole_file(sample_translation());
    expected.at(sound_at(expected)) ^= 0x01;
    EXPECT_EQ(read_whole_file(dir / "out.nds"), expected);

    std::string err; // the translation is laid out as the writer lays out a ROM
    ASSERT_EQ(run_program("quillmoor-tool", {"rom-rebuild", sample_translation(), dir / "rebuilt.nds"}, err),
              0)
        << err;
    EXPECT_EQ(read_whole_file(dir / "rebuilt.nds"), read_whole_file(sample_translation()));
}

} // namespace
} // namespace qm::test
