// Paths to file ids and back: exact matching, directories, ids the FNT does not name, and
// tables whose directories lead back to their ancestors.

#include "rom_test_support.h"

#include "rom/fnt.h"
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
TEST(fnt_functions, agree_where_directories_lead_back)
{
    // 0: x -> 1, y -> 1 (named twice), f; 1: back -> 0 (the root), self -> 1, down -> 2, g; 2: up -> 1, h.
    const bytes fnt = write_fnt({{0, {{"x", 1}, {"y", 1}, {"f", -1}}},
                                 {1, {{"back", 0}, {"self", 1}, {"down", 2}, {"g", -1}}},
                                 {2, {{"up", 1}, {"h", -1}}}});
    ASSERT_TRUE(fnt_is_valid(fnt, 3));
    const fnt_path_index index(fnt);
    for (std::uint32_t id = 0; id <= 0xFFFF; ++id)
        ASSERT_EQ(index.path_of(static_cast<std::uint16_t>(id)),
                  fnt_path_of(fnt, static_cast<std::uint16_t>(id)))
            << id;
    EXPECT_EQ(std::tuple(index.path_of(2), index.path_of(0xF001), index.path_of(0xF000), index.path_of(3)),
              std::tuple("x/down/h", "x/", "x/back/", std::nullopt));
    for (const auto& [path, id] :
         {std::pair<const char*, std::optional<std::uint16_t>>{"/x/self/down/up/g", 1},
          {"/y/down/h", 2},
          {"/x/back/f", std::nullopt},
          {"/x/down/f", std::nullopt}})
        EXPECT_EQ(fnt_find_file(fnt, path), id) << path;
    EXPECT_EQ(fnt_list_files(fnt).size(), 3u);
}

} // namespace
} // namespace qm::test
