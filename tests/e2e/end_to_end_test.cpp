// The whole path a user takes on the sample game: patched through the engine and through
// quillmoor-patch, a damaged source, and rebuilding the result. Refusals and cancelling are
// tested on small games by the engine's and the command line's tests.

#include "e2e/sample_fixture.h"

#include "common/file_io.h"
#include "engine/patcher.h"
#include "engine/recording_listener.h"
#include "rom/nds_rom.h"

#include <gtest/gtest.h>

namespace qm::test {
namespace {

// The job's error message, empty on success.
std::string patch_with_engine(const std::filesystem::path& source, const std::filesystem::path& dest,
                              recording_listener& listener)
{
    try {
        patcher().run_patch_job(source, dest, sample_patch(), listener);
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

TEST(end_to_end, engine_turns_the_original_into_the_translation)
{
    scratch_dir dir;
    recording_listener l;
    ASSERT_EQ(patch_with_engine(sample_original(), dir / "out.nds", l), "");
    EXPECT_EQ(read_whole_file(dir / "out.nds"), read_whole_file(sample_translation()));
    EXPECT_EQ(l.events()[3], "set_total 2490");
    EXPECT_EQ(l.events().back(), "finished");
    ASSERT_EQ(l.positions.size(), 2490u);
    for (std::uint32_t i = 0; i < 2490; ++i)
        ASSERT_EQ(l.positions[i], i);
}

TEST(end_to_end, quillmoor_patch_with_the_archive_as_a_file)
{
    // The built-in archive is run by the CTest fixture (e2e.patch_sample).
    scratch_dir dir;
    std::string err;
    ASSERT_EQ(
        run_program("quillmoor-patch",
                    {sample_original(), dir / "out.nds", "--archive", sample_dir() / "patch.bin", "--quiet"},
                    err),
        0)
        << err;
    EXPECT_EQ(err, "");
    EXPECT_EQ(read_whole_file(dir / "out.nds"), read_whole_file(sample_translation()));
}

TEST(end_to_end, damage_in_a_patched_section_is_refused_and_elsewhere_carried_through)
{
    const bytes rom = read_whole_file(sample_original());
    const std::uint32_t banner_title = get_le32(rom, 0x68) + 0x300;
    const std::uint16_t sound = nds_rom(sample_original()).get_file_id("/sound/bgm/bgm000.sseq");
    const auto sound_at = [](const bytes& image, std::uint16_t id) { // FAT start of the file, and a bit
        return get_le32(image, get_le32(image, 0x48) + 8u * id) + 7;
    };
    scratch_dir dir;
    const auto patch_damaged = [&](std::uint32_t offset) {
        bytes damaged = rom;
        damaged.at(offset) ^= 0x01;
        write_whole_file(dir / "damaged.nds", damaged);
        recording_listener l;
        return patch_with_engine(dir / "damaged.nds", dir / "out.nds", l);
    };
    EXPECT_EQ(patch_damaged(banner_title), "patcher::visit - bad checksum");
    EXPECT_FALSE(std::filesystem::exists(dir / "out.nds"));

    ASSERT_EQ(patch_damaged(sound_at(rom, sound)), "");
    bytes expected = read_whole_file(sample_translation());
    expected.at(sound_at(expected, sound)) ^= 0x01;
    EXPECT_EQ(read_whole_file(dir / "out.nds"), expected);
}

TEST(end_to_end, rebuilding_the_translation_changes_nothing)
{
    scratch_dir dir;
    std::string err;
    ASSERT_EQ(run_program("quillmoor-tool", {"rom-rebuild", sample_translation(), dir / "rebuilt.nds"}, err),
              0)
        << err;
    EXPECT_EQ(read_whole_file(dir / "rebuilt.nds"), read_whole_file(sample_translation()));
}

} // namespace
} // namespace qm::test
