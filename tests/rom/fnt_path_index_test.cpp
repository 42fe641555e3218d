// The one-walk path index must give, for every id, exactly what a walk of its own finds: on
// generated file systems, and on tables whose directories share sub-tables, form cycles, or are
// named by more than one entry.

#include "rom/fnt.h"
#include "rom/nds_format.h"
#include "rom/nds_rom.h"
#include "tools/rom_description_generator.h"
#include "tools/rom_image_builder.h"

#include <gtest/gtest.h>

namespace qm::test {
namespace {

// Compares the index with fnt_path_of for every file id up to `files` and every directory id.
void expect_same_paths(byte_span fnt, std::uint32_t files)
{
    const fnt_path_index index(fnt);
    for (std::uint32_t id = 0; id <= 0xFFFF; ++id) {
        if (id > files + 4 && id < nds::dir_id_base)
            continue;
        const auto id16 = static_cast<std::uint16_t>(id);
        ASSERT_EQ(index.path_of(id16), fnt_path_of(fnt, id16)) << "id " << id;
    }
}

// A table written entry by entry: directories with a sub-table offset, a first file id and a
// parent; sub-tables as lists of (name, directory index or -1 for a file).
struct table_writer {
    struct directory {
        std::uint16_t first_file;
        std::vector<std::pair<std::string, int>> entries;
        int shares_with = -1; // use that directory's sub-table instead of its own
    };

    static bytes write(const std::vector<directory>& dirs)
    {
        bytes fnt(dirs.size() * nds::fnt_dir_entry_length, 0);
        std::vector<std::uint32_t> offsets(dirs.size());
        for (std::size_t i = 0; i < dirs.size(); ++i) {
            if (dirs[i].shares_with >= 0)
                continue;
            offsets[i] = static_cast<std::uint32_t>(fnt.size());
            for (const auto& [name, target] : dirs[i].entries) {
                fnt.push_back(static_cast<std::uint8_t>(name.size() | (target >= 0 ? 0x80 : 0)));
                fnt.insert(fnt.end(), name.begin(), name.end());
                if (target >= 0)
                    append_le16(fnt, static_cast<std::uint16_t>(nds::dir_id_base + target));
            }
            fnt.push_back(0);
        }
        for (std::size_t i = 0; i < dirs.size(); ++i) {
            const std::size_t e = i * nds::fnt_dir_entry_length;
            put_le32(fnt, e, offsets[dirs[i].shares_with >= 0 ? dirs[i].shares_with : i]);
            put_le16(fnt, e + 4, dirs[i].first_file);
            put_le16(fnt, e + 6, i == 0 ? static_cast<std::uint16_t>(dirs.size()) : nds::dir_id_base);
        }
        return fnt;
    }
};

TEST(fnt_path_index, agrees_with_a_walk_per_id_on_generated_file_systems)
{
    for (std::uint64_t seed = 1; seed <= 12; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        const built_rom rom = build_rom_image(random_rom_description(seed));
        const std::uint32_t fnt_offset = get_le32(rom.image, nds::hdr_fnt_offset);
        const byte_span fnt =
            byte_span(rom.image).subspan(fnt_offset, get_le32(rom.image, nds::hdr_fnt_size));
        expect_same_paths(fnt, static_cast<std::uint32_t>(rom.files.size() + 8));
        for (const built_rom_file& f : rom.files)
            EXPECT_EQ(fnt_path_index(fnt).path_of(f.id), f.path);
    }
}

TEST(fnt_path_index, directories_sharing_one_sub_table)
{
    // Directories 1 to 40 all use directory 1's sub-table (two files and a sub-directory that
    // leads to 41), each numbering the files from its own first id: the same ids come up again
    // and again under other paths, and only the first one counts.
    std::vector<table_writer::directory> dirs(42);
    for (int i = 1; i <= 40; ++i) {
        dirs[0].entries.push_back({"d" + std::to_string(i), i});
        dirs[i].first_file = static_cast<std::uint16_t>(i);
        if (i > 1)
            dirs[i].shares_with = 1;
    }
    dirs[1].entries = {{"a", -1}, {"sub", 41}, {"b", -1}};
    dirs[41].first_file = 100;
    dirs[41].entries = {{"leaf", -1}};
    const bytes fnt = table_writer::write(dirs);
    ASSERT_TRUE(fnt_is_valid(fnt, 200));
    expect_same_paths(fnt, 120);
    EXPECT_EQ(fnt_path_index(fnt).path_of(2), "d1/b");
    EXPECT_EQ(fnt_path_index(fnt).path_of(41), "d40/b");
    EXPECT_EQ(fnt_path_index(fnt).path_of(100), "d1/sub/leaf");
}

TEST(fnt_path_index, cycles_and_directories_named_twice)
{
    // 0: x -> 1, y -> 1 (named twice), f; 1: back -> 0 (the root), self -> 1, down -> 2, g;
    // 2: up -> 1, h.
    std::vector<table_writer::directory> dirs(3);
    dirs[0] = {0, {{"x", 1}, {"y", 1}, {"f", -1}}};
    dirs[1] = {1, {{"back", 0}, {"self", 1}, {"down", 2}, {"g", -1}}};
    dirs[2] = {2, {{"up", 1}, {"h", -1}}};
    const bytes fnt = table_writer::write(dirs);
    ASSERT_TRUE(fnt_is_valid(fnt, 3));
    expect_same_paths(fnt, 3);
    const fnt_path_index index(fnt);
    EXPECT_EQ(index.path_of(2), "x/down/h");
    EXPECT_EQ(index.path_of(nds::dir_id_base + 1), "x/");
    EXPECT_EQ(index.path_of(nds::dir_id_base), "x/back/");
    EXPECT_EQ(index.path_of(3), std::nullopt);
}

} // namespace
} // namespace qm::test
