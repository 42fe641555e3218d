// Paths to file ids and back: exact matching, directories, ids the FNT does not name, and
// tables whose directories lead back to their ancestors.

#include "rom_test_support.h"

#include "rom/fnt.h"
#include "rom/nds_format.h"
#include "rom/nds_rom.h"
#include "tools/rom_image_builder.h"

#include <gtest/gtest.h>

namespace qm::test {
namespace {

std::string lookup_error(const std::function<void()>& call)
{
    try {
        call();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "no error";
}

const std::string not_found = "nds_rom::get_file_id failed - path not found";
const std::string unknown_id = "nds_rom::fid_to_string failed - unknown ID";

class fnt_lookup_test : public ::testing::Test {
protected:
    scratch_dir dir;
};

TEST_F(fnt_lookup_test, paths_of_the_sample)
{
    nds_rom rom(dir.write("a.nds", build_rom_image(sample_description()).image));
    EXPECT_EQ(rom.get_file_id("/readme.txt"), 3);
    EXPECT_EQ(rom.get_file_id("/zero"), 4);
    EXPECT_EQ(rom.get_file_id("/data/empty.bin"), 5);
    EXPECT_EQ(rom.get_file_id("/data/deep/leaf.bin"), 7);
    // The first character stands for the root whatever it is.
    EXPECT_EQ(rom.get_file_id("\\readme.txt"), 3);

    for (const char* path : {"/README.TXT", "/data", "/data/", "/empty_dir", "/data//town.bin", "//readme.txt",
                             "/readme.txt/", "/", "", "/data/deep/leaf.bi", "/data/deep/leaf.bin2"})
        EXPECT_EQ(lookup_error([&] { rom.get_file_id(path); }), not_found) << path;

    EXPECT_EQ(rom.fid_to_string(3), "readme.txt");
    EXPECT_EQ(rom.fid_to_string(6), "data/town.bin");
    EXPECT_EQ(rom.fid_to_string(7), "data/deep/leaf.bin");
    EXPECT_EQ(rom.fid_to_string(0xF001), "data/");
    EXPECT_EQ(rom.fid_to_string(0xF002), "data/deep/");
    EXPECT_EQ(rom.fid_to_string(0xF003), "empty_dir/");
    // Overlay files are not named; the root is nobody's entry.
    for (std::uint16_t id : {0, 1, 2, 8, 0xF000, 0xF004})
        EXPECT_EQ(lookup_error([&] { rom.fid_to_string(id); }), unknown_id) << id;
}

TEST_F(fnt_lookup_test, same_name_as_file_and_directory)
{
    for (bool directory_first : {true, false}) {
        rom_description d;
        rom_fs_node file = rom_fs_node::file("x", {1});
        rom_fs_node sub = rom_fs_node::directory("x", {rom_fs_node::file("y", {2})});
        d.root = directory_first ? std::vector{sub, file} : std::vector{file, sub};
        nds_rom rom(dir.write("a.nds", build_rom_image(d).image));
        EXPECT_EQ(rom.get_file_id("/x"), 0);
        EXPECT_EQ(rom.get_file_id("/x/y"), 1);
        EXPECT_EQ(lookup_error([&] { rom.get_file_id("/x/"); }), not_found);
    }
}

TEST_F(fnt_lookup_test, lookups_are_inverse_for_every_named_file)
{
    rom_description d = sample_description();
    d.root.push_back(rom_fs_node::directory("", {rom_fs_node::file("in_unnamed", {})}));
    const built_rom built = build_rom_image(d);
    nds_rom rom(dir.write("a.nds", built.image));
    for (const built_rom_file& f : built.files) {
        EXPECT_EQ(rom.fid_to_string(f.id), f.path);
        // Behind a directory with an empty name the path has an empty component, which no
        // lookup accepts.
        if (f.path != "/in_unnamed") {
            EXPECT_EQ(rom.get_file_id("/" + f.path), f.id) << f.path;
        }
    }
    const auto listed = fnt_list_files(rom.fnt_bytes());
    ASSERT_EQ(listed.size(), built.files.size());
}

// root: a/ (b/ (x, c/), y), z — with some sub-directory ids bent into cycles.
class fnt_cycle_test : public fnt_lookup_test {
protected:
    void SetUp() override
    {
        rom_description d;
        d.root = {rom_fs_node::directory(
                      "a", {rom_fs_node::directory("b", {rom_fs_node::file("x", {1}), rom_fs_node::directory("c")}),
                            rom_fs_node::file("y", {2})}),
                  rom_fs_node::file("z", {3})};
        image = build_rom_image(d).image;
        // Directory indexes: root 0, a 1, b 2, c 3. File ids: z 0, y 1, x 2.
    }
    // Points the sub-directory entry `name` (one letter) at directory `target`.
    void bend(char name, std::uint8_t old_index, std::uint8_t target)
    {
        const std::uint32_t fnt = field(image, nds::hdr_fnt_offset);
        patch_bytes(image, fnt, field(image, nds::hdr_fnt_size),
                    {0x81, static_cast<std::uint8_t>(name), old_index, 0xF0},
                    {0x81, static_cast<std::uint8_t>(name), target, 0xF0});
    }
    bytes image;
};

TEST_F(fnt_cycle_test, directory_containing_itself)
{
    bend('b', 2, 1); // a/b is a again
    nds_rom rom(dir.write("a.nds", image));
    EXPECT_EQ(rom.fid_to_string(1), "a/y");
    EXPECT_EQ(rom.fid_to_string(0), "z");
    EXPECT_EQ(lookup_error([&] { rom.fid_to_string(2); }), unknown_id); // x is no longer reachable
    EXPECT_EQ(lookup_error([&] { rom.fid_to_string(0x1234); }), unknown_id);
    // A path may go round the cycle; it is walked component by component.
    EXPECT_EQ(rom.get_file_id("/a/b/b/b/y"), 1);
    const auto listed = fnt_list_files(rom.fnt_bytes());
    EXPECT_EQ(listed.size(), 2u);
}

TEST_F(fnt_cycle_test, directory_leading_back_to_an_ancestor)
{
    bend('c', 3, 1); // a/b/c is a
    nds_rom rom(dir.write("a.nds", image));
    EXPECT_EQ(rom.fid_to_string(2), "a/b/x");
    EXPECT_EQ(rom.fid_to_string(0), "z");
    EXPECT_EQ(lookup_error([&] { rom.fid_to_string(0x4321); }), unknown_id);
    EXPECT_EQ(rom.get_file_id("/a/b/c/b/c/b/x"), 2);
    EXPECT_EQ(rom.get_file_id("/a/b/c/y"), 1);
    EXPECT_EQ(fnt_list_files(rom.fnt_bytes()).size(), 3u);
}

TEST_F(fnt_cycle_test, directory_leading_back_to_the_root)
{
    bend('c', 3, 0);
    nds_rom rom(dir.write("a.nds", image));
    EXPECT_EQ(rom.fid_to_string(0), "z");
    EXPECT_EQ(lookup_error([&] { rom.fid_to_string(0x4321); }), unknown_id);
    // A path never re-enters the root through a sub-directory.
    EXPECT_EQ(lookup_error([&] { rom.get_file_id("/a/b/c/z"); }), not_found);
    EXPECT_EQ(fnt_list_files(rom.fnt_bytes()).size(), 3u);
}

} // namespace
} // namespace qm::test
