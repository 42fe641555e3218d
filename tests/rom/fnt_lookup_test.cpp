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

const std::string not_found = "nds_rom::get_file_id failed - path not found";
const std::string unknown_id = "nds_rom::fid_to_string failed - unknown ID";

// What `f` returns, or the message of what it throws.
template <class F> std::string value_or_error(F f)
{
    std::string value;
    const std::string error = error_of([&] { value = f(); });
    return error.empty() ? value : error;
}

class fnt_lookup_test : public ::testing::Test {
protected:
    std::string id_of(const std::string& path)
    {
        return value_or_error([&] { return std::to_string(rom->get_file_id(path)); });
    }
    std::string path_of(std::uint16_t id)
    {
        return value_or_error([&] { return rom->fid_to_string(id); });
    }
    void open(const bytes& image)
    {
        rom.reset();
        rom = std::make_unique<nds_rom>(dir.write("rom.nds", image));
    }

    scratch_dir dir;
    std::unique_ptr<nds_rom> rom;
};

TEST_F(fnt_lookup_test, paths_of_the_sample)
{
    open(build_rom_image(sample_description()).image);
    EXPECT_EQ(id_of("/readme.txt"), "3");
    EXPECT_EQ(id_of("/data/deep/leaf.bin"), "7");
    EXPECT_EQ(id_of("\\readme.txt"), "3"); // the first character stands for the root, whatever it is
    for (const char* path :
         {"/README.TXT", "/data", "/data/", "/empty_dir", "/data//town.bin", "//readme.txt", "/readme.txt/",
          "/", "", "/data/deep/leaf.bi", "/data/deep/leaf.bin2"})
        EXPECT_EQ(id_of(path), not_found) << path;

    EXPECT_EQ(path_of(3), "readme.txt");
    EXPECT_EQ(path_of(7), "data/deep/leaf.bin");
    EXPECT_EQ(path_of(0xF002), "data/deep/");
    EXPECT_EQ(path_of(0xF003), "empty_dir/");
    // Overlay files are not named, and the root is nobody's entry.
    for (std::uint16_t id : {0, 2, 8, 0xF000, 0xF004})
        EXPECT_EQ(path_of(id), unknown_id) << id;
}

TEST_F(fnt_lookup_test, same_name_as_file_and_directory)
{
    const rom_fs_node file = rom_fs_node::file("x", {1});
    const rom_fs_node sub = rom_fs_node::directory("x", {rom_fs_node::file("y", {2})});
    for (const auto& entries : {std::vector{sub, file}, std::vector{file, sub}}) {
        rom_description d;
        d.root = entries;
        open(build_rom_image(d).image);
        EXPECT_EQ(id_of("/x"), "0");
        EXPECT_EQ(id_of("/x/y"), "1");
    }
}

// root: a/ (b/ (x, c/), y), z; directories root 0, a 1, b 2, c 3; files z 0, y 1, x 2. Each case
// bends one sub-directory entry (directory, entry) to lead back to an ancestor.
TEST_F(fnt_lookup_test, directories_leading_back_to_an_ancestor)
{
    const struct {
        int dir, entry, target;
        std::vector<std::pair<std::uint16_t, std::string>> paths;
        const char* path;
        std::string id;
        std::size_t listed;
    } cases[] = {
        // a contains itself through b: x is out of reach, but a path is walked component by component.
        {1, 0, 1, {{1, "a/y"}, {0, "z"}, {2, unknown_id}, {0x1234, unknown_id}}, "/a/b/b/b/y", "1", 2},
        {2, 1, 1, {{2, "a/b/x"}, {0x4321, unknown_id}}, "/a/b/c/b/c/b/x", "2", 3},
        // A path never re-enters the root.
        {2, 1, 0, {{0, "z"}, {0x4321, unknown_id}}, "/a/b/c/z", not_found, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        std::vector<fnt_dir> dirs = {
            {0, {{"a", 1}, {"z", -1}}}, {1, {{"b", 2}, {"y", -1}}}, {2, {{"x", -1}, {"c", 3}}}, {3, {}}};
        dirs[c.dir].entries[c.entry].second = c.target;
        open(with_fnt(build_rom_image(sample_description()).image, write_fnt(dirs)));
        for (const auto& [id, path] : c.paths)
            EXPECT_EQ(path_of(id), path);
        EXPECT_EQ(id_of(c.path), c.id);
        EXPECT_EQ(fnt_list_files(rom->fnt_bytes()).size(), c.listed);
    }
}

// The one-walk path index must give, for every file id and every directory id, exactly what a
// walk of its own finds.
TEST(fnt_path_index, agrees_with_a_walk_where_sub_tables_are_shared_or_lead_back)
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
    } cases[] = {
        {write_fnt(shared), 120, {{2, "d1/b"}, {41, "d40/b"}, {100, "d1/sub/leaf"}}},
        {write_fnt(cyclic), 3, {{2, "x/down/h"}, {0xF001, "x/"}, {0xF000, "x/back/"}, {3, std::nullopt}}},
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
    }
}

} // namespace
} // namespace qm::test
