// Opening ROMs: what passes the validity test, what does not, and the limits of each check.

#include "rom_test_support.h"

#include "common/file_io.h"
#include "rom/nds_format.h"
#include "rom/nds_rom.h"
#include "tools/rom_image_builder.h"

#include <gtest/gtest.h>

namespace qm::test {
namespace {

const char* const not_valid = "nds_rom::nds_rom - input file is not a valid NDS ROM";

class validity_test : public ::testing::Test {
protected:
    void SetUp() override { image = build_rom_image(sample_description()).image; }

    void expect_valid(const bytes& data)
    {
        const auto path = dir.write("rom.nds", data);
        EXPECT_NO_THROW(nds_rom rom(path));
    }
    void expect_invalid(const bytes& data)
    {
        const auto path = dir.write("rom.nds", data);
        try {
            nds_rom rom(path);
            ADD_FAILURE() << "accepted an invalid ROM";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), not_valid);
        }
    }
    bytes with(std::size_t offset, std::uint32_t value) const
    {
        bytes copy = image;
        set_field(copy, offset, value);
        return copy;
    }
    std::uint32_t size() const { return static_cast<std::uint32_t>(image.size()); }

    scratch_dir dir;
    bytes image;
};

TEST_F(validity_test, hand_made_rom_reads_and_lists_as_laid_out)
{
    nds_rom rom(dir.write("hand.nds", hand_made_rom()));
    EXPECT_EQ(rom.game_code(), 0x44414D48u); // "HMAD"
    EXPECT_EQ(rom.size(), 0x1000u);
    EXPECT_FALSE(rom.has_arm9_footer());
    EXPECT_EQ(rom.get_file_id("/a"), 0);
    EXPECT_EQ(rom.fid_to_string(0), "a");
    EXPECT_EQ(rom.read_file(0), (bytes{'a', 'b', 'c', 'd'}));
    EXPECT_EQ(rom.read_arm7(), bytes(0x10, 0xEE));

    const std::vector<rom_section> s = rom.list_sections();
    ASSERT_EQ(s.size(), 6u);
    const std::uint32_t expected[][3] = {{0, 0x200, 1}, {0x200, 0x10, 2}, {0x300, 0x10, 3},
                                         {0x400, 11, 4}, {0x500, 8, 5},   {0x600, 4, 6}};
    for (std::size_t i = 0; i < s.size(); ++i) {
        EXPECT_EQ(s[i].offset, expected[i][0]) << i;
        EXPECT_EQ(s[i].size, expected[i][1]) << i;
        EXPECT_EQ(s[i].code, expected[i][2]) << i;
    }
}

TEST_F(validity_test, file_shorter_than_the_header_or_missing)
{
    bytes data = hand_made_rom();
    data.resize(0x17F);
    expect_invalid(data);
    try {
        nds_rom rom(dir.path() / "missing.nds");
        ADD_FAILURE();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "nds_rom::nds_rom - can't open input file");
    }
}

TEST_F(validity_test, banner_at_offset_zero_needs_a_file_of_0x840_bytes)
{
    bytes data = hand_made_rom();
    data.resize(0x840);
    expect_valid(data);
    data.resize(0x83F);
    expect_invalid(data);
}

TEST_F(validity_test, truncated_images_are_rejected)
{
    for (const auto& [offset_field, size_field] :
         {std::pair{nds::hdr_arm9_offset, nds::hdr_arm9_size}, std::pair{nds::hdr_fnt_offset, nds::hdr_fnt_size},
          std::pair{nds::hdr_fat_offset, nds::hdr_fat_size}, std::pair{nds::hdr_arm7_ovt_offset, nds::hdr_arm7_ovt_size}}) {
        bytes cut = image;
        cut.resize(field(image, offset_field) + field(image, size_field) - 1);
        expect_invalid(cut);
    }
    bytes cut = image;
    cut.resize(field(image, nds::hdr_banner_offset) + nds::banner_length - 1);
    expect_invalid(cut);
}

TEST_F(validity_test, every_block_must_lie_inside_the_file)
{
    const std::pair<std::size_t, std::size_t> blocks[] = {
        {nds::hdr_arm9_offset, nds::hdr_arm9_size},         {nds::hdr_arm7_offset, nds::hdr_arm7_size},
        {nds::hdr_fnt_offset, nds::hdr_fnt_size},           {nds::hdr_fat_offset, nds::hdr_fat_size},
        {nds::hdr_arm9_ovt_offset, nds::hdr_arm9_ovt_size}, {nds::hdr_arm7_ovt_offset, nds::hdr_arm7_ovt_size}};
    for (const auto& [offset_field, size_field] : blocks) {
        SCOPED_TRACE(offset_field);
        expect_invalid(with(offset_field, size() + 1));
        // Offset plus size wraps around in 32 bits to a small number.
        bytes wrap = with(offset_field, 0x10);
        set_field(wrap, size_field, 0xFFFFFFF8);
        expect_invalid(wrap);
        expect_invalid(with(size_field, size() - field(image, offset_field) + 1));
    }
    expect_invalid(with(nds::hdr_header_size, size() + 1));
    expect_valid(with(nds::hdr_header_size, size()));
    expect_invalid(with(nds::hdr_banner_offset, size() - nds::banner_length + 1));
    expect_valid(with(nds::hdr_banner_offset, size() - nds::banner_length));

    // A binary may end exactly at the end of the file, or be empty there.
    bytes arm7_at_end = with(nds::hdr_arm7_size, size() - field(image, nds::hdr_arm7_offset));
    expect_valid(arm7_at_end);
    bytes empty_at_end = with(nds::hdr_arm7_offset, size());
    set_field(empty_at_end, nds::hdr_arm7_size, 0);
    expect_valid(empty_at_end);
}

TEST_F(validity_test, fat_entries)
{
    const std::uint32_t fat = field(image, nds::hdr_fat_offset);
    expect_invalid(with(nds::hdr_fat_size, field(image, nds::hdr_fat_size) - 1));
    // Entry 3 is readme.txt (overlays take ids 0-2).
    const std::uint32_t start = field(image, fat + 3 * 8);
    expect_invalid(with(fat + 3 * 8 + 4, start - 1)); // end below start
    expect_valid(with(fat + 3 * 8 + 4, start));       // empty file
    expect_valid(with(fat + 3 * 8 + 4, size()));
    expect_invalid(with(fat + 3 * 8 + 4, size() + 1));
    bytes start_past_end = with(fat + 3 * 8, size() + 1);
    set_field(start_past_end, fat + 3 * 8 + 4, size() + 1);
    expect_invalid(start_past_end);
}

TEST_F(validity_test, overlay_tables)
{
    const std::uint32_t ovt9 = field(image, nds::hdr_arm9_ovt_offset);
    const std::uint32_t ovt7 = field(image, nds::hdr_arm7_ovt_offset);
    const std::uint32_t fat_entries = field(image, nds::hdr_fat_size) / 8;
    expect_invalid(with(nds::hdr_arm9_ovt_size, field(image, nds::hdr_arm9_ovt_size) - 1));
    expect_invalid(with(ovt9 + 32 + nds::ovt_file_id, fat_entries));
    expect_valid(with(ovt9 + 32 + nds::ovt_file_id, fat_entries - 1));
    expect_invalid(with(ovt7 + nds::ovt_file_id, fat_entries));

    // A table at offset 0 would have to be written back over the header.
    expect_invalid(with(nds::hdr_arm7_ovt_offset, 0));
    bytes no_table = with(nds::hdr_arm7_ovt_offset, 0);
    set_field(no_table, nds::hdr_arm7_ovt_size, 0);
    expect_valid(no_table);

    rom_description d = sample_description();
    d.arm9_overlays.clear();
    const bytes without = build_rom_image(d).image;
    EXPECT_EQ(field(without, nds::hdr_arm9_ovt_offset), 0u);
    nds_rom rom(dir.write("plain.nds", without));
    EXPECT_TRUE(rom.arm9_ovt_bytes().empty());
}

TEST_F(validity_test, arm9_footer_needs_all_twelve_bytes_inside_the_file)
{
    {
        nds_rom rom(dir.write("a.nds", image));
        EXPECT_TRUE(rom.has_arm9_footer());
        EXPECT_EQ(rom.read_arm9(true).size(), 1012u);
        EXPECT_EQ(rom.read_arm9(false).size(), 1000u);
    }
    // The same binary and footer moved to the very end of the file.
    const std::uint32_t arm9 = field(image, nds::hdr_arm9_offset);
    bytes at_end = image;
    std::copy_n(image.begin() + arm9, 1012, at_end.end() - 1012);
    set_field(at_end, nds::hdr_arm9_offset, size() - 1012);
    {
        nds_rom rom(dir.write("b.nds", at_end));
        EXPECT_TRUE(rom.has_arm9_footer());
    }
    // One byte further and the footer would run past the end: no footer, still valid.
    set_field(at_end, nds::hdr_arm9_offset, size() - 1011);
    {
        nds_rom rom(dir.write("c.nds", at_end));
        EXPECT_FALSE(rom.has_arm9_footer());
        EXPECT_EQ(rom.read_arm9(true).size(), 1000u);
    }
}

TEST_F(validity_test, file_of_4_gib_or_more)
{
    const auto path = dir.write("huge.nds", image);
    std::error_code error;
    std::filesystem::resize_file(path, 0x100000000ull + image.size(), error); // sparse
    if (error)
        GTEST_SKIP() << "no sparse file: " << error.message();
    try {
        nds_rom rom(path);
        ADD_FAILURE();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), not_valid);
    }
}

TEST_F(validity_test, readers_refuse_ranges_outside_the_file)
{
    nds_rom rom(dir.write("a.nds", image));
    EXPECT_TRUE(rom.read_range(size(), 0).empty());
    EXPECT_EQ(rom.read_range(size() - 1, 1).size(), 1u);
    EXPECT_THROW(rom.read_range(size() - 1, 2), std::runtime_error);
    EXPECT_THROW(rom.read_range(0xFFFFFFFF, 0xFFFFFFFF), std::runtime_error);
    EXPECT_THROW(rom.read_file(field(image, nds::hdr_fat_size) / 8), std::runtime_error);
}

// The FNT checks, on tables put in place of the sample's.
class fnt_validity_test : public validity_test {
protected:
    bytes with_fnt(const bytes& fnt) const
    {
        bytes copy = image;
        replace_table(copy, nds::hdr_fnt_offset, nds::hdr_fnt_size, fnt);
        return copy;
    }
    void SetUp() override
    {
        validity_test::SetUp();
        fnt = fnt_of(image);
    }
    bytes fnt;
};

TEST_F(fnt_validity_test, main_table)
{
    expect_valid(with_fnt(fnt));
    expect_invalid(with_fnt(bytes(fnt.begin(), fnt.begin() + 7)));
    bytes no_dirs = fnt;
    put_le16(no_dirs, 6, 0);
    expect_invalid(with_fnt(no_dirs));
    // More directories than the main table has room for inside the FNT.
    bytes overlong = fnt;
    put_le16(overlong, 6, static_cast<std::uint16_t>(fnt.size() / 8 + 1));
    expect_invalid(with_fnt(overlong));
}

TEST_F(fnt_validity_test, directory_entries)
{
    // Directory 1 ("data"): a sub-table at the last byte (the final 0) is an empty directory.
    bytes last = fnt;
    put_le32(last, 8, static_cast<std::uint32_t>(fnt.size() - 1));
    expect_valid(with_fnt(last));
    put_le32(last, 8, static_cast<std::uint32_t>(fnt.size()));
    expect_invalid(with_fnt(last));

    const std::uint16_t dirs = get_le16(fnt, 6);
    bytes parent = fnt;
    put_le16(parent, 8 + 6, static_cast<std::uint16_t>(nds::dir_id_base + dirs));
    expect_invalid(with_fnt(parent));
    put_le16(parent, 8 + 6, static_cast<std::uint16_t>(nds::dir_id_base + dirs - 1));
    expect_valid(with_fnt(parent));
}

TEST_F(fnt_validity_test, sub_table_entries)
{
    const std::uint16_t dirs = get_le16(fnt, 6);
    const std::size_t main = std::size_t{dirs} * 8;
    // The root's sub-directory "data" (0x84 "data" id) pointed at a directory that does not exist.
    bytes bad_dir = fnt;
    patch_bytes(bad_dir, main, fnt.size() - main, {0x84, 'd', 'a', 't', 'a', 0x01, 0xF0},
                {0x84, 'd', 'a', 't', 'a', static_cast<std::uint8_t>(dirs), 0xF0});
    expect_invalid(with_fnt(bad_dir));

    // Directory "deep" (index 2) holds one file: its id must be below the FAT's entry count.
    const std::uint16_t fat_entries = static_cast<std::uint16_t>(field(image, nds::hdr_fat_size) / 8);
    bytes file_id = fnt;
    put_le16(file_id, 2 * 8 + 4, fat_entries - 1);
    expect_valid(with_fnt(file_id));
    put_le16(file_id, 2 * 8 + 4, fat_entries);
    expect_invalid(with_fnt(file_id));

    // Without its final 0 byte the last sub-table runs off the end of the table.
    expect_invalid(with_fnt(bytes(fnt.begin(), fnt.end() - 1)));
}

TEST_F(fnt_validity_test, at_most_4096_directories)
{
    rom_description d = sample_description();
    d.root.clear();
    for (int i = 0; i < 4095; ++i)
        d.root.push_back(rom_fs_node::directory("d" + std::to_string(i)));
    image = build_rom_image(d).image;
    expect_valid(image);
    {
        nds_rom rom(dir.write("full.nds", image));
        EXPECT_EQ(rom.fid_to_string(0xFFFF), "d4094/");
    }

    // A 4097th directory, otherwise sound: an entry after the others with an empty sub-table.
    const bytes full = fnt_of(image);
    bytes more;
    for (std::size_t i = 0; i < 4096; ++i) {
        append_le32(more, get_le32(full, i * 8) + 8);
        append_le16(more, get_le16(full, i * 8 + 4));
        append_le16(more, i == 0 ? 4097 : get_le16(full, i * 8 + 6));
    }
    append_le32(more, static_cast<std::uint32_t>(full.size() - 1 + 8));
    append_le16(more, 0);
    append_le16(more, nds::dir_id_base);
    more.insert(more.end(), full.begin() + 4096 * 8, full.end());
    expect_invalid(with_fnt(more));
    put_le16(more, 6, 4096);
    expect_valid(with_fnt(more));
}

} // namespace
} // namespace qm::test
