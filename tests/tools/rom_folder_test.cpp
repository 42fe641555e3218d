// The translators' ROM folder: what rom-unpack writes, checked against the ROM's description
// rather than against the ROM reader; the names it must refuse; and the reader, which refuses a
// folder out of step with its manifest.

#include "common/file_io.h"
#include "rom/nds_format.h"
#include "rom/rom_test_support.h"
#include "support/error_of.h"
#include "tools/rom_folder.h"

#include <gtest/gtest.h>

#include <fstream>

namespace qm::test {
namespace {

namespace fs = std::filesystem;

bytes filled(std::size_t n, std::uint8_t seed)
{
    bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>(seed + i * 7 + (i >> 5));
    return b;
}

// Overlays whose ids are not their indexes, packed and plain; files in a sub-folder with a space
// in a name, an empty file, and, once the name table is swapped, a FAT entry nothing names.
rom_description folder_description()
{
    rom_description d;
    d.header_extra = bytes(0x20, 0x5A);
    d.arm9 = filled(700, 1);
    d.arm9_footer = std::array<std::uint8_t, 8>{1, 2, 3, 4, 5, 6, 7, 8};
    d.arm7 = filled(300, 2);
    bytes code;
    for (int i = 0; i < 1500; ++i)
        code.push_back(static_cast<std::uint8_t>((i % 12) * 5));
    d.arm9_overlays.push_back({.id = 5, .contents = code, .compressed = true});
    d.arm9_overlays.push_back({.id = 2, .contents = filled(90, 3)});
    d.arm7_overlays.push_back({.id = 0, .contents = code, .compressed = true});
    d.root = {
        rom_fs_node::file("a.bin", filled(513, 4)),
        rom_fs_node::directory("d", {rom_fs_node::file("b.bin", filled(1000, 5)), rom_fs_node::file("empty"),
                                     rom_fs_node::file("c.bin", filled(9, 6))})};
    d.banner = filled(nds::banner_length, 7);
    return d;
}

// File ids: overlays 0-2, a.bin 3, d/b.bin 4, d/empty 5, d/c.bin 6. The swapped name table
// renames b.bin to "b c.bin" and leaves c.bin (6) unnamed.
bytes folder_rom(const built_rom& built)
{
    return with_fnt(built.image,
                    write_fnt({{3, {{"a.bin", -1}, {"d", 1}}}, {4, {{"b c.bin", -1}, {"empty", -1}}}}));
}

class rom_folder_test : public ::testing::Test {
protected:
    void SetUp() override
    {
        built = build_rom_image(description);
        rom = dir.write("rom.nds", folder_rom(built));
    }

    // A fresh unpacked folder.
    fs::path unpacked(const std::string& name)
    {
        unpack_rom(rom, dir.path / name);
        return dir.path / name;
    }

    rom_description description = folder_description();
    built_rom built;
    scratch_dir dir;
    fs::path rom;
};

TEST_F(rom_folder_test, unpacking_gives_every_file_by_path_and_the_manifest_reads_back)
{
    const fs::path out = dir.path / "new" / "folder"; // made when missing
    const rom_folder_manifest written = unpack_rom(rom, out);
    const auto file = [&](const std::string& path) { return read_whole_file(out / path); };

    bytes arm9 = description.arm9;
    append_le32(arm9, nds::arm9_footer_magic);
    arm9.insert(arm9.end(), description.arm9_footer->begin(), description.arm9_footer->end());
    EXPECT_EQ(file("arm9.bin"), arm9);
    EXPECT_EQ(file("arm7.bin"), description.arm7);
    EXPECT_EQ(file("banner.bin"), *description.banner);
    const bytes image = read_whole_file(rom);
    EXPECT_EQ(file("header.bin"), bytes(image.begin(), image.begin() + description.header_size));
    EXPECT_EQ(file("overlay9/overlay9_0000.bin"), description.arm9_overlays[0].contents); // expanded
    EXPECT_EQ(file("overlay9/overlay9_0001.bin"), description.arm9_overlays[1].contents);
    EXPECT_EQ(file("overlay7/overlay7_0000.bin"), description.arm7_overlays[0].contents);
    const auto& d = description.root[1].children;
    EXPECT_EQ(file("data/a.bin"), description.root[0].contents);
    EXPECT_EQ(file("data/d/b c.bin"), d[0].contents);
    EXPECT_EQ(file("data/d/empty"), bytes());
    EXPECT_EQ(file("unnamed/6.bin"), d[2].contents);

    const std::vector<std::string> expected_lines = {
        "quillmoor rom folder 1",
        "source-size " + std::to_string(image.size()),
        "header-length 0x4000",
        "arm9-footer yes",
        "fat-entries 7",
        "banner-length 0x840",
        "dsi none",
        "section 0x0005000a arm9_overlay entry 0 file 0 packed overlay9/overlay9_0000.bin",
        "section 0x0002000a arm9_overlay entry 1 file 1 plain overlay9/overlay9_0001.bin",
        "section 0x0000000b arm7_overlay entry 0 file 2 packed overlay7/overlay7_0000.bin",
        "section 0x00040006 file 4 data/d/b c.bin",
        "section 0x00060006 file 6 unnamed/6.bin"};
    const bytes text = file("manifest.txt");
    const std::string manifest(text.begin(), text.end());
    for (const std::string& line : expected_lines)
        EXPECT_NE(manifest.find("\n" + line + "\n"), std::string::npos) << line << "\n" << manifest;

    // What the reader gives back is what was written, in the same order.
    rom_folder_manifest read = load_rom_folder(out);
    for (rom_folder_section& s : read.sections)
        s.line = 0;
    EXPECT_EQ(read, written);
    ASSERT_EQ(written.sections.size(), 15u); // 8 tables and binaries, 3 overlays, 4 files
    EXPECT_EQ(written.sections.front().path, "header.bin");
}

TEST_F(rom_folder_test, names_that_would_leave_the_folder_or_collide_are_refused_before_anything_is_written)
{
    const bytes image = built.image;
    const std::pair<std::vector<fnt_dir>, std::string> hostile[] = {
        {{{3, {{"..", -1}}}}, "data/.."},
        {{{3, {{".", 1}}}, {4, {}}}, "data/./"},
        {{{3, {{"a/b", -1}}}}, "data/a/b"},
        {{{3, {{"a\\b", -1}}}}, "data/a\\x5Cb"},
        {{{3, {{std::string("a\0b", 3), -1}}}}, "data/a\\x00b"},
        {{{3, {{"", 1}}}, {4, {}}}, "data//"},
        {{{3, {{"x", -1}, {"x", -1}}}}, "data/x twice"},
        {{{3, {{"x", -1}, {"x", 1}}}, {4, {}}}, "data/x twice"},
        {{{0, {{"ovl", -1}}}}, "data/ovl, which is the file of an overlay"},
    };
    for (const auto& [dirs, path] : hostile) {
        const fs::path source = dir.write("hostile.nds", with_fnt(image, write_fnt(dirs)));
        const fs::path out = dir.path / "out";
        const std::string error = error_of([&] { unpack_rom(source, out); });
        EXPECT_NE(error.find(path), std::string::npos) << error;
        EXPECT_FALSE(fs::exists(out)) << path;
    }
    // An overlay that does not expand fails while the folder is being written: what was written
    // is removed again.
    rom_description broken = description;
    broken.arm9_overlays[1].compressed = true;
    broken.arm9_overlays[1].stored = bytes(16, 0xFF);
    const fs::path source = dir.write("hostile.nds", build_rom_image(broken).image);
    EXPECT_NE(
        error_of([&] { unpack_rom(source, dir.path / "out"); }).find("can't read overlay9/overlay9_0001.bin"),
        std::string::npos);
    EXPECT_FALSE(fs::exists(dir.path / "out"));
    fs::create_directory(dir.path / "empty");
    EXPECT_NE(error_of([&] { unpack_rom(source, dir.path / "empty"); }), "");
    EXPECT_TRUE(fs::is_empty(dir.path / "empty")); // a folder that was there stays, emptied again

    // Only into a new or empty folder.
    fs::create_directories(dir.path / "full");
    dir.write("full/keep.txt", bytes{'k'});
    EXPECT_NE(error_of([&] { unpack_rom(rom, dir.path / "full"); }).find("is not empty"), std::string::npos);
    EXPECT_EQ(read_whole_file(dir.path / "full" / "keep.txt"), bytes{'k'});
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"empty", "full", "hostile.nds", "rom.nds"}));
}

// A DSi area of 0x300 bytes (ARM9i) appended behind the DS sections, or laid over them; a banner
// of version 3, 0x1240 bytes long.
TEST_F(rom_folder_test, a_dsi_area_is_kept_whole_or_said_not_to_be_carried_and_a_long_banner_whole)
{
    bytes image = folder_rom(built);
    const std::uint32_t banner = get_le32(image, nds::hdr_banner_offset);
    if (image.size() < banner + 0x1240)
        image.resize(banner + 0x1240, 0x5C);
    put_le16(image, banner, 0x0003);
    put_le16(image, banner + 6, crc16(byte_span(image).subspan(banner + 0x20, 0xA40 - 0x20)));
    image[0x012] = 0x02; // DSi-enhanced
    const std::uint32_t area = static_cast<std::uint32_t>(image.size());
    put_le32(image, 0x1C0, area);
    put_le32(image, 0x1CC, 0x300);
    const bytes arm9i = filled(0x300, 9);
    append_bytes(image, arm9i);
    unpack_rom(dir.write("dsi.nds", image), dir.path / "dsi");
    EXPECT_EQ(read_whole_file(dir.path / "dsi" / "dsi.bin"), arm9i);
    EXPECT_EQ(read_whole_file(dir.path / "dsi" / "banner.bin"),
              bytes(image.begin() + banner, image.begin() + banner + 0x1240));
    const rom_folder_manifest m = load_rom_folder(dir.path / "dsi");
    EXPECT_EQ(m.dsi, (rom_folder_dsi{dsi_state::carried, area, 0x300, "dsi.bin", {}}));
    EXPECT_EQ(m.banner_length, 0x1240u);

    put_le32(image, 0x1C0, get_le32(image, nds::hdr_arm9_offset));
    unpack_rom(dir.write("over.nds", image), dir.path / "over");
    EXPECT_FALSE(fs::exists(dir.path / "over" / "dsi.bin"));
    EXPECT_EQ(load_rom_folder(dir.path / "over").dsi,
              (rom_folder_dsi{dsi_state::not_carried, 0, 0, {}, "it overlaps the DS sections"}));
}

std::string manifest_of(const fs::path& folder)
{
    const bytes text = read_whole_file(folder / "manifest.txt");
    return std::string(text.begin(), text.end());
}

void write_manifest(const fs::path& folder, const std::string& text)
{
    write_whole_file(folder / "manifest.txt",
                     byte_span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

// Replaces the whole line `from` of the folder's manifest.
void replace_line(const fs::path& folder, const std::string& from, const std::string& to)
{
    std::string text = manifest_of(folder);
    const std::size_t at = text.find("\n" + from + "\n");
    ASSERT_NE(at, std::string::npos) << from;
    write_manifest(folder, text.replace(at + 1, from.size(), to));
}

TEST_F(rom_folder_test, a_folder_out_of_step_with_its_manifest_is_refused_naming_the_line_or_the_path)
{
    // Windows line ends and comments are read like the original.
    fs::path f = unpacked("crlf");
    std::string crlf;
    for (char c : manifest_of(f))
        crlf += c == '\n' ? "\r\n" : std::string(1, c);
    write_manifest(f, crlf);
    EXPECT_EQ(error_of([&] { load_rom_folder(f); }), "");

    // Files changed by hand.
    const std::pair<std::function<void(const fs::path&)>, const char*> file_changes[] = {
        {[](const fs::path& p) { std::ofstream(p / "data" / "d" / "new.bin") << "x"; },
         "data/d/new.bin: not in manifest.txt (a file can be changed, not added, removed or renamed)"},
        {[](const fs::path& p) { fs::remove(p / "unnamed" / "6.bin"); },
         "unnamed/6.bin: missing (a file can be changed, not removed or renamed)"},
        {[](const fs::path& p) { fs::rename(p / "data" / "a.bin", p / "data" / "A.bin"); },
         "data/a.bin: missing (a file can be changed, not removed or renamed)"},
        {[](const fs::path& p) { // renamed in the manifest too, but not in the name table
             fs::rename(p / "data" / "a.bin", p / "data" / "A.bin");
             replace_line(p, "section 0x00030006 file 3 data/a.bin", "section 0x00030006 file 3 data/A.bin");
         },
         "manifest.txt line 20: fnt.bin names file 3 data/a.bin, not data/A.bin"},
        {[](const fs::path& p) { fs::resize_file(p / "header.bin", 0x3000); },
         "header.bin: it is 0x3000 bytes long, the manifest says 0x4000"},
        {[](const fs::path& p) { fs::resize_file(p / "arm9.bin", 700); },
         "arm9.bin: it does not end with the 12-byte ARM9 footer that the manifest gives it"},
    };
    for (const auto& [change, error] : file_changes) {
        f = unpacked("changed");
        change(f);
        EXPECT_EQ(error_of([&] { load_rom_folder(f); }), std::string("rom folder - ") + error);
        fs::remove_all(f);
    }

    // A manifest edited out of step with the files or with itself.
    const std::string named = "section 0x00040006 file 4 data/d/b c.bin";
    const std::string overlay =
        "section 0x0005000a arm9_overlay entry 0 file 0 packed overlay9/overlay9_0000.bin";
    const std::tuple<std::string, std::string, const char*> edits[] = {
        {named, "section 0x00040006 file 4 ../b c.bin",
         "manifest.txt line 21: path \"../b c.bin\" does not stay inside the folder"},
        {named, "section 0x00050006 file 4 data/d/b c.bin",
         "manifest.txt line 21: section code 0x00050006 is not that of file 4"},
        {named, "section 0x00060006 file 6 data/d/b c.bin",
         "manifest.txt line 23: file 6 is already listed on line 21"},
        {named, "", "manifest.txt line 24: no section for file 4"},
        {overlay, "section 0x0005000a arm9_overlay entry 0 file 0 plain overlay9/overlay9_0000.bin",
         "manifest.txt line 13: arm9ovt.bin entry 0 is overlay 5, file 0, packed"},
        {overlay, "section 0x0005000a arm9_overlay entry 0 file 3 packed overlay9/overlay9_0000.bin",
         "manifest.txt line 20: file 3 is already listed on line 13"},
        {"fat-entries 7", "fat-entries 8", "manifest.txt line 24: no section for file 7"},
        {"fat-entries 7", "fat-entries 4000000000",
         "manifest.txt line 24: fat-entries 4000000000, but only 15 sections: every FAT entry needs one"},
        {named, "section 0x00070006 file 7 data/d/b c.bin",
         "manifest.txt line 21: file 7 is past the 7 entries of the FAT"},
        {overlay, "section 0x0005000a arm9_overlay entry 2 file 0 packed overlay9/overlay9_0000.bin",
         "manifest.txt line 13: the overlay table arm9ovt.bin has no entry 2"},
        {"arm9-footer yes", "arm9-footer maybe",
         "manifest.txt line 6: expected \"yes\" or \"no\", not \"maybe\""},
        {"quillmoor rom folder 1", "quillmoor rom folder 2",
         "manifest.txt line 3: not a ROM folder manifest of this version (expected \"quillmoor rom folder "
         "1\")"},
    };
    for (const auto& [from, to, error] : edits) {
        f = unpacked("edited");
        replace_line(f, from, to);
        EXPECT_EQ(error_of([&] { load_rom_folder(f); }), std::string("rom folder - ") + error) << to;
        fs::remove_all(f);
    }
}

} // namespace
} // namespace qm::test
