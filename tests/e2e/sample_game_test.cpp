// The sample game: what an emulator needs to boot it, determinism, and the translation's shape.

#include "e2e/sample_fixture.h"

#include "common/file_io.h"
#include "tools/homebrew_programs.h"
#include "tools/sample_game.h"

#include <gtest/gtest.h>

#include <set>

namespace qm::test {
namespace {

bytes slice(const bytes& image, std::uint32_t offset, std::uint32_t length)
{
    require_bounds(image.size(), offset, length);
    return bytes(image.begin() + offset, image.begin() + offset + length);
}

bytes as_bytes(byte_span s)
{
    return bytes(s.begin(), s.end());
}

TEST(sample_game, homebrew_programs_are_the_teams_binaries)
{
    const std::filesystem::path dir = std::filesystem::path(QM_SOURCE_DIR) / ".." / "shared" / "homebrew";
    if (!std::filesystem::exists(dir / "arm9_red.bin"))
        GTEST_SKIP() << "the team's homebrew folder is not beside the sources";
    EXPECT_EQ(as_bytes(homebrew_arm9_red()), read_whole_file(dir / "arm9_red.bin"));
    EXPECT_EQ(as_bytes(homebrew_arm9_blue()), read_whole_file(dir / "arm9_blue.bin"));
    EXPECT_EQ(as_bytes(homebrew_arm7()), read_whole_file(dir / "arm7.bin"));
}

TEST(sample_game, header_is_what_an_emulator_needs_to_boot_it)
{
    for (const auto& [path, arm9] : {std::pair{sample_original(), homebrew_arm9_red()},
                                     std::pair{sample_translation(), homebrew_arm9_blue()}}) {
        SCOPED_TRACE(path.string());
        const bytes rom = read_whole_file(path);
        EXPECT_EQ(slice(rom, 0, 6), (bytes{'Q', 'L', 'M', 'O', 'R', 0}));
        EXPECT_EQ(slice(rom, 0x0C, 4), (bytes{'Y', 'Q', 'L', 'E'}));
        EXPECT_EQ(get_u8(rom, 0x12), 0);                             // unit code: plain DS
        const std::pair<std::uint32_t, std::uint32_t> addresses[] = {// entry and load of each CPU
                                                                     {0x24, homebrew_arm9_address},
                                                                     {0x28, homebrew_arm9_address},
                                                                     {0x34, homebrew_arm7_address},
                                                                     {0x38, homebrew_arm7_address}};
        for (const auto& [at, address] : addresses)
            EXPECT_EQ(get_le32(rom, at), address) << at;
        EXPECT_EQ(get_le16(rom, 0x6C), 0); // secure area CRC: none
        EXPECT_EQ(get_le32(rom, 0x84), 0x4000u);
        EXPECT_EQ(get_le32(rom, 0x20), 0x4000u);   // ARM9 right after the header
        EXPECT_LT(get_le32(rom, 0x2C), 0x200000u); // below the ARM7's marker at 0x02200000
        EXPECT_EQ(slice(rom, get_le32(rom, 0x20), 108), as_bytes(arm9));
        EXPECT_EQ(slice(rom, get_le32(rom, 0x30), get_le32(rom, 0x3C)), as_bytes(homebrew_arm7()));
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
    EXPECT_LT(small.original_bytes, large.original_bytes);
    EXPECT_EQ(large.original_bytes, 16u << 20);
    EXPECT_EQ(small.files, large.files);
    EXPECT_EQ(small.archive_entries, large.archive_entries);
}

#ifdef QM_DEFAULT_ARCHIVE
TEST(sample_game, built_in_archive_fits_the_sample_of_any_size)
{
    // The build packs the patch of a sample of another size: the same bytes show that nothing
    // the translation changes depends on the size.
    EXPECT_EQ(read_whole_file(QM_DEFAULT_ARCHIVE), sample_patch());
}
#endif

TEST(sample_game, french_scripts_use_french_typography)
{
    const read_archive archive = read_patch(sample_patch());
    std::set<char16_t> used;
    std::size_t scripts = 0;
    for (const read_record& r : archive.records)
        for (const read_entry& e : r.entries) {
            if (e.type > 1)
                continue;
            const bytes& container = archive.blobs.at(e.blob);
            for (std::uint32_t at = get_le32(container, 24); at < get_le32(container, 28); at += 2)
                used.insert(static_cast<char16_t>(get_le16(container, at)));
            ++scripts;
        }
    EXPECT_EQ(scripts, 563u);
    for (char16_t c : std::u16string(u"«»’—…œéèêàçùôîÉ\u00A0"))
        EXPECT_TRUE(used.count(c)) << "U+" << std::hex << static_cast<unsigned>(c);
}

} // namespace
} // namespace qm::test
