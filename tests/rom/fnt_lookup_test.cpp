// Paths to file ids and back: exact matching, directories, ids the FNT does not name, and
// tables whose directories lead back to their ancestors.

#include "rom_test_support.h"

#include "rom/fnt.h"
#include "rom/nds_format.h"
#include "rom/nds_rom.h"

#include <gtest/gtest.h>

namespace qm::test {
namespace {

const std::string not_found = "nds_rom::get_file_id failed - path not found";
const std::string unknown_id = "nds_rom::fid_to_string failed - unknown ID";

class fnt_lookup_test : public ::testing::Test {
protected:
    std::string id_of(const std::string& path)
    {
        try {
            return std::to_string(rom->get_file_id(path));
        } catch (const std::runtime_error& e) {
            return e.what();
        }
    }
    std::string path_of(std::uint16_t id)
    {
        try {
            return rom->fid_to_string(id);
        } catch (const std::runtime_error& e) {
            return e.what();
        }
    }
    void open(const bytes& image) { rom = std::make_unique<nds_rom>(dir.write("rom.nds", image)); }

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

// root: a/ (b/ (x, c/), y), z; directories root 0, a 1, b 2, c 3; files z 0, y 1, x 2. Tests
// bend a sub-directory entry to point at another directory.
class fnt_cycle_test : public fnt_lookup_test {
protected:
    void SetUp() override
    {
        rom_description d;
        d.root = {rom_fs_node::directory("a", {rom_fs_node::directory("b", {rom_fs_node::file("x", {1}),
                                                                            rom_fs_node::directory("c")}),
                                               rom_fs_node::file("y", {2})}),
                  rom_fs_node::file("z", {3})};
        image = build_rom_image(d).image;
    }
    void bend(char name, std::uint8_t index, std::uint8_t target)
    {
        const auto letter = static_cast<std::uint8_t>(name);
        patch_bytes(image, get_le32(image, nds::hdr_fnt_offset), get_le32(image, nds::hdr_fnt_size),
                    {0x81, letter, index, 0xF0}, {0x81, letter, target, 0xF0});
        open(image);
    }
    bytes image;
};

TEST_F(fnt_cycle_test, directory_containing_itself)
{
    bend('b', 2, 1);
    EXPECT_EQ(path_of(1), "a/y");
    EXPECT_EQ(path_of(0), "z");
    EXPECT_EQ(path_of(2), unknown_id); // x is out of reach now
    EXPECT_EQ(path_of(0x1234), unknown_id);
    EXPECT_EQ(id_of("/a/b/b/b/y"), "1"); // a path is walked component by component
    EXPECT_EQ(fnt_list_files(rom->fnt_bytes()).size(), 2u);
}

TEST_F(fnt_cycle_test, directory_leading_back_to_an_ancestor)
{
    bend('c', 3, 1);
    EXPECT_EQ(path_of(2), "a/b/x");
    EXPECT_EQ(path_of(0x4321), unknown_id);
    EXPECT_EQ(id_of("/a/b/c/b/c/b/x"), "2");
    EXPECT_EQ(fnt_list_files(rom->fnt_bytes()).size(), 3u);
}

TEST_F(fnt_cycle_test, directory_leading_back_to_the_root)
{
    bend('c', 3, 0);
    EXPECT_EQ(path_of(0), "z");
    EXPECT_EQ(path_of(0x4321), unknown_id);
    EXPECT_EQ(id_of("/a/b/c/z"), not_found); // a path never re-enters the root
    EXPECT_EQ(fnt_list_files(rom->fnt_bytes()).size(), 3u);
}

} // namespace
} // namespace qm::test
