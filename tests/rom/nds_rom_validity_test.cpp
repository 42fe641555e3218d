// Opening ROMs: what passes the validity test, what does not, and the limits of each check.

#include "rom_test_support.h"

#include "rom/nds_format.h"
#include "rom/nds_rom.h"
#include "support/error_of.h"

#include <gtest/gtest.h>

namespace qm::test {
namespace {

const std::string invalid = "nds_rom::nds_rom - input file is not a valid NDS ROM";
const std::string valid;

class validity_test : public ::testing::Test {
protected:
    // The message of opening `data` as a ROM; empty when it opens.
    std::string open(const bytes& data)
    {
        return error_of([&] { nds_rom rom(dir.write("rom.nds", data)); });
    }
    // Opens each image and compares with what is expected of it.
    void expect(const std::vector<std::pair<bytes, std::string>>& cases)
    {
        for (std::size_t i = 0; i < cases.size(); ++i)
            EXPECT_EQ(open(cases[i].first), cases[i].second) << "case " << i;
    }
    bytes with(std::size_t offset, std::uint32_t value, std::size_t offset2 = 0,
               std::uint32_t value2 = 0) const
    {
        bytes copy = image;
        put_le32(copy, offset, value);
        if (offset2 != 0)
            put_le32(copy, offset2, value2);
        return copy;
    }
    // The sample with `table` (one 16-bit value of it set when `offset` is not 0) as its FNT.
    bytes with_fnt(bytes table, std::size_t offset = 0, std::uint16_t value = 0) const
    {
        if (offset != 0)
            put_le16(table, offset, value);
        return test::with_fnt(image, table);
    }
    std::uint32_t at(std::size_t offset) const { return get_le32(image, offset); }
    std::uint32_t size() const { return static_cast<std::uint32_t>(image.size()); }

    scratch_dir dir;
    bytes image = build_rom_image(sample_description()).image;
};

TEST_F(validity_test, short_or_missing_files)
{
    bytes data = hand_made_rom(); // no banner: 0x840 bytes are still needed at offset 0
    const auto cut = [&](std::size_t n) { return bytes(data.begin(), data.begin() + n); };
    expect({{cut(0x840), valid}, {cut(0x83F), invalid}, {cut(0x17F), invalid}, {{}, invalid}});
    // Some systems open a folder for reading; it is no more an input file for that.
    for (const auto& path : {dir.path / "missing.nds", dir.path})
        EXPECT_EQ(error_of([&] { nds_rom rom(path); }), "nds_rom::nds_rom - can't open input file");
}

TEST_F(validity_test, every_block_must_lie_inside_the_file)
{
    for (auto [offset_field, size_field] : {std::pair{nds::hdr_arm9_offset, nds::hdr_arm9_size},
                                            std::pair{nds::hdr_arm7_offset, nds::hdr_arm7_size},
                                            std::pair{nds::hdr_fnt_offset, nds::hdr_fnt_size},
                                            std::pair{nds::hdr_fat_offset, nds::hdr_fat_size},
                                            std::pair{nds::hdr_arm9_ovt_offset, nds::hdr_arm9_ovt_size},
                                            std::pair{nds::hdr_arm7_ovt_offset, nds::hdr_arm7_ovt_size}}) {
        SCOPED_TRACE(offset_field);
        expect({{with(size_field, size() - at(offset_field) + 1), invalid},
                {with(offset_field, 0x10, size_field, 0xFFFFFFF8), invalid}}); // the sum wraps in 32 bits
    }
    expect({{with(nds::hdr_header_size, size() + 1), invalid},
            {with(nds::hdr_banner_offset, size() - nds::banner_length + 1), invalid},
            {with(nds::hdr_arm7_offset, size(), nds::hdr_arm7_size, 0), valid}});
}

TEST_F(validity_test, fat_entries_and_overlay_tables)
{
    const std::size_t readme_end = at(nds::hdr_fat_offset) + 3 * 8 + 4; // file 3
    const std::uint32_t start = at(readme_end - 4), fat_entries = at(nds::hdr_fat_size) / 8;
    const std::size_t second_overlay = at(nds::hdr_arm9_ovt_offset) + 32;
    expect({{with(nds::hdr_fat_size, at(nds::hdr_fat_size) - 1), invalid},
            {with(readme_end, start - 1), invalid}, // end below start
            {with(readme_end, start), valid},       // an empty file
            {with(readme_end, size() + 1), invalid},
            {with(nds::hdr_arm9_ovt_size, at(nds::hdr_arm9_ovt_size) - 1), invalid},
            {with(second_overlay + nds::ovt_file_id, fat_entries), invalid},
            // A table at offset 0 could only be written back over the header.
            {with(nds::hdr_arm7_ovt_offset, 0), invalid},
            {with(nds::hdr_arm7_ovt_offset, 0, nds::hdr_arm7_ovt_size, 0), valid}});
}

TEST_F(validity_test, file_of_4_gib_or_more)
{
    const auto path = dir.write("huge.nds", image);
    std::error_code error;
    std::filesystem::resize_file(path, 0x100000000ull + image.size(), error); // sparse
    if (error)
        GTEST_SKIP() << "no sparse file: " << error.message();
    EXPECT_EQ(error_of([&] { nds_rom rom(path); }), invalid);
}

TEST_F(validity_test, readers_refuse_ranges_outside_the_file)
{
    nds_rom rom(dir.write("a.nds", image));
    EXPECT_THROW(rom.read_range(size() - 1, 2), std::runtime_error);
    EXPECT_THROW(rom.read_range(0xFFFFFFFF, 0xFFFFFFFF), std::runtime_error);
    EXPECT_THROW(rom.read_file(at(nds::hdr_fat_size) / 8), std::runtime_error);
}

TEST_F(validity_test, fnt_main_table_and_sub_tables)
{
    const bytes fnt = nds_rom(dir.write("rom.nds", image)).fnt_bytes();
    const auto dirs = get_le16(fnt, 6);
    const auto fat_entries = static_cast<std::uint16_t>(at(nds::hdr_fat_size) / 8);
    // Two directories whose sub-tables are sound, but the second entry ends past the FNT.
    const bytes short_main = {12, 0, 0, 0, 0, 0, 2, 0, 12, 0, 0, 0, 0};
    expect({{with_fnt(bytes(fnt.begin(), fnt.begin() + 7)), invalid},
            {with_fnt(fnt, 6, 0), invalid},
            {with_fnt(short_main), invalid},
            // A sub-table at the last byte (the final 0) is an empty directory; one past it is outside.
            {with_fnt(fnt, 8, static_cast<std::uint16_t>(fnt.size() - 1)), valid},
            {with_fnt(fnt, 8, static_cast<std::uint16_t>(fnt.size())), invalid},
            {with_fnt(fnt, 8 + 6, static_cast<std::uint16_t>(nds::dir_id_base + dirs)), invalid},
            // data/deep (directory 2) names one file: its id must be below the FAT's entry count.
            {with_fnt(fnt, 2 * 8 + 4, fat_entries), invalid},
            {with_fnt(write_fnt({{0, {{"x", 1}}}})), invalid}, // a sub-directory not in the main table
            // Without its final 0 byte the last sub-table runs off the end of the table.
            {with_fnt(bytes(fnt.begin(), fnt.end() - 1)), invalid}});
}

TEST_F(validity_test, at_most_4096_directories)
{
    // The root and 4095 or 4096 empty sub-directories d0, d1, ...
    std::vector<fnt_dir> dirs(4097);
    for (int i = 1; i < 4097; ++i)
        dirs[0].entries.push_back({"d" + std::to_string(i - 1), i});
    expect({{with_fnt(write_fnt(dirs)), invalid}});
    dirs.pop_back();
    dirs[0].entries.pop_back();
    nds_rom rom(dir.write("full.nds", with_fnt(write_fnt(dirs))));
    EXPECT_EQ(rom.fid_to_string(0xFFFF), "d4094/");
}

} // namespace
} // namespace qm::test
