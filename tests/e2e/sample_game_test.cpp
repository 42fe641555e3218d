// The sample game: what an emulator needs to boot it, determinism, and its size.

#include "e2e/sample_fixture.h"

#include "common/file_io.h"
#include "tools/homebrew_programs.h"
#include "tools/sample_game.h"

#include <gtest/gtest.h>

namespace qm::test {
namespace {

bytes slice(const bytes& image, std::uint32_t offset, std::uint32_t length)
{
    require_bounds(image.size(), offset, length);
    return bytes(image.begin() + offset, image.begin() + offset + length);
}

TEST(sample_game, homebrew_programs_are_the_teams_binaries)
{
    const std::filesystem::path dir = std::filesystem::path(QM_SOURCE_DIR) / ".." / "shared" / "homebrew";
    if (!std::filesystem::exists(dir / "arm9_red.bin"))
        GTEST_SKIP() << "the team's homebrew folder is not beside the sources";
    for (const auto& [program, name] :
         {std::pair{homebrew_arm9_red(), "arm9_red.bin"}, std::pair{homebrew_arm9_blue(), "arm9_blue.bin"},
          std::pair{homebrew_arm7(), "arm7.bin"}})
        EXPECT_EQ(bytes(program.begin(), program.end()), read_whole_file(dir / name)) << name;
}

TEST(sample_game, header_is_what_an_emulator_needs_to_boot_it)
{
    for (const auto& [path, arm9] : {std::pair{sample_original(), homebrew_arm9_red()},
                                     std::pair{sample_translation(), homebrew_arm9_blue()}}) {
        SCOPED_TRACE(path.string());
        const bytes rom = read_whole_file(path);
        EXPECT_EQ(slice(rom, 0, 16),
                  (bytes{'Q', 'L', 'M', 'O', 'R', 0, 0, 0, 0, 0, 0, 0, 'Y', 'Q', 'L', 'E'}));
        EXPECT_EQ(get_u8(rom, 0x12), 0); // unit code: plain DS
        const std::pair<std::uint32_t, std::uint32_t> fields[] = {
            {0x24, homebrew_arm9_address},
            {0x28, homebrew_arm9_address}, // entry and load of each CPU
            {0x34, homebrew_arm7_address},
            {0x38, homebrew_arm7_address},
            {0x84, 0x4000},
            {0x20, 0x4000}}; // the header size, the ARM9 right after it
        for (const auto& [at, value] : fields)
            EXPECT_EQ(get_le32(rom, at), value) << at;
        EXPECT_EQ(get_le16(rom, 0x6C), 0);         // secure area CRC: none
        EXPECT_LT(get_le32(rom, 0x2C), 0x200000u); // below the ARM7's marker at 0x02200000
        EXPECT_EQ(slice(rom, get_le32(rom, 0x20), 108), bytes(arm9.begin(), arm9.end()));
        EXPECT_EQ(slice(rom, get_le32(rom, 0x30), get_le32(rom, 0x3C)),
                  bytes(homebrew_arm7().begin(), homebrew_arm7().end()));
    }
}

TEST(sample_game, same_seed_gives_the_same_pair_and_size_scales_the_bulk_only)
{
    scratch_dir dir;
    const sample_summary small = make_sample(dir / "same", sample_options{1, 1});
    EXPECT_EQ(read_whole_file(dir / "same" / sample_original_name), read_whole_file(sample_original()));
    EXPECT_EQ(read_whole_file(dir / "same" / sample_translation_name), read_whole_file(sample_translation()));
    make_sample(dir / "other", sample_options{1, 2});
    EXPECT_NE(read_whole_file(dir / "other" / sample_original_name), read_whole_file(sample_original()));
    const sample_summary large = make_sample(dir / "large", sample_options{16, 1});
    EXPECT_EQ(std::tuple(small.original_bytes < large.original_bytes, large.original_bytes, large.files,
                         large.archive_entries),
              std::tuple(true, 16u << 20, small.files, small.archive_entries));
#ifdef QM_DEFAULT_ARCHIVE
    // The build packs the patch of a sample of another size: the same bytes show that nothing
    // the translation changes depends on the size.
    EXPECT_EQ(read_whole_file(QM_DEFAULT_ARCHIVE), sample_patch());
#endif
}

} // namespace
} // namespace qm::test
