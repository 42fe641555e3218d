// Paths to file ids and back: exact matching, directories, ids the FNT does not name, and
// tables whose directories lead back to their ancestors or share sub-tables.

#include "rom_test_support.h"

#include "rom/fnt.h"
#include "rom/nds_format.h"
#include "rom/nds_rom.h"
#include "support/error_of.h"

#include <gtest/gtest.h>

namespace qm::test {
namespace {

TEST(fnt_lookup, paths_of_the_sample)
{
    scratch_dir dir;
    const nds_rom rom(dir.write("rom.nds", build_rom_image(sample_description()).image));
    // The first character stands for the root, whatever it is.
    EXPECT_EQ(std::tuple(rom.get_file_id("/readme.txt"), rom.get_file_id("/data/deep/leaf.bin"),
                         rom.get_file_id("\\readme.txt")),
              std::tuple(3, 7, 3));
    for (const char* path :
         {"/README.TXT", "/data", "/data//town.bin", "/readme.txt/", "", "/data/deep/leaf.bi"})
        EXPECT_EQ(fnt_find_file(rom.fnt_bytes(), path), std::nullopt) << path;
    EXPECT_EQ(error_of([&] { rom.get_file_id("/data"); }), "nds_rom::get_file_id failed - path not found");

    EXPECT_EQ(std::tuple(rom.fid_to_string(3), rom.fid_to_string(7), rom.fid_to_string(0xF002),
                         rom.fid_to_string(0xF003)),
              std::tuple("readme.txt", "data/deep/leaf.bin", "data/deep/", "empty_dir/"));
    // Overlay files are not named, and the root is nobody's entry.
    for (std::uint16_t id : {0, 2, 8, 0xF000, 0xF004})
        EXPECT_EQ(error_of([&] { rom.fid_to_string(id); }), "nds_rom::fid_to_string failed - unknown ID")
            << id;
}

// The one-walk path index must give, for every file id and every directory id, exactly what a
// walk of its own finds; a path is looked up component by component, through directories that
// lead back to their ancestors but never into the root again; a listing names each file once.
TEST(fnt_functions, agree_where_sub_tables_are_shared_or_lead_back)
{
    // Directories 1 to 40 all use directory 1's sub-table (two files and a sub-directory that
    // leads to 41), each numbering the files from its own first id: the same ids come up again
    // and again under other paths, and only the first one counts.
    std::vector<fnt_dir> shared(42);
    for (int i = 1; i <= 40; ++i) {
        shared[0].entries.push_back({"d" + std::to_string(i), i});
        shared[i].first_file = static_cast<std::uint16_t>(i);
        shared[i].shares_with = i > 1 ? 1 : -1;
    }
    shared[1].entries = {{"a", -1}, {"sub", 41}, {"b", -1}};
    shared[41] = {100, {{"leaf", -1}}};
    // 0: x -> 1, y -> 1 (named twice), f; 1: back -> 0 (the root), self -> 1, down -> 2, g; 2: up -> 1, h.
    const std::vector<fnt_dir> cyclic = {{0, {{"x", 1}, {"y", 1}, {"f", -1}}},
                                         {1, {{"back", 0}, {"self", 1}, {"down", 2}, {"g", -1}}},
                                         {2, {{"up", 1}, {"h", -1}}}};
    const struct {
        bytes fnt;
        std::uint32_t files;
        std::vector<std::pair<std::uint16_t, std::optional<std::string>>> paths;
        std::vector<std::pair<const char*, std::optional<std::uint16_t>>> finds;
        std::size_t listed;
    } cases[] = {
        {write_fnt(shared),
         120,
         {{2, "d1/b"}, {41, "d40/b"}, {100, "d1/sub/leaf"}},
         {{"/d40/sub/leaf", 100}},
         81},
        {write_fnt(cyclic),
         3,
         {{2, "x/down/h"}, {0xF001, "x/"}, {0xF000, "x/back/"}, {3, std::nullopt}},
         {{"/x/self/down/up/g", 1},
          {"/y/down/h", 2},
          {"/x/back/f", std::nullopt},
          {"/x/down/f", std::nullopt}},
         3},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(fnt_is_valid(c.fnt, c.files));
        const fnt_path_index index(c.fnt);
        for (std::uint32_t id = 0; id <= 0xFFFF; ++id) {
            const auto id16 = static_cast<std::uint16_t>(id);
            if (id <= c.files + 4 || id >= nds::dir_id_base) {
                ASSERT_EQ(index.path_of(id16), fnt_path_of(c.fnt, id16)) << "id " << id;
            }
        }
        for (const auto& [id, path] : c.paths)
            EXPECT_EQ(index.path_of(id), path) << id;
        for (const auto& [path, id] : c.finds)
            EXPECT_EQ(fnt_find_file(c.fnt, path), id) << path;
        EXPECT_EQ(fnt_list_files(c.fnt).size(), c.listed);
    }
}

} // namespace
} // namespace qm::test
