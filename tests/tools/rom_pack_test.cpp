// Packing a ROM folder: an untouched folder against the rebuild of its ROM, an edited one against
// the rebuild with the same edits and read back by hand; the folders refused, and what is left
// behind when packing fails.

#include "common/file_io.h"
#include "lz/nds_lz.h"
#include "rom/file_sink.h"
#include "rom/nds_format.h"
#include "rom/rom_test_support.h"
#include "support/error_of.h"
#include "tools/rom_folder.h"

#include <gtest/gtest.h>

#include <fstream>

namespace qm::test {
namespace {

namespace fs = std::filesystem;

// The sample laid out again: blocks shuffled, with filler between them.
bytes shuffled_rom()
{
    rom_description d = sample_description();
    d.layout.shuffle_seed = 5;
    d.layout.gap = 0x44;
    d.layout.fill = 0x21;
    return build_rom_image(d).image;
}

// No ARM9 footer, no ARM9 overlay table and no banner, and an ARM7 binary, laid out right behind
// the ARM9 one, that starts with the footer's magic word.
bytes bare_rom()
{
    rom_description d = sample_description();
    d.arm9_footer.reset();
    d.arm9_overlays.clear();
    d.banner.reset();
    d.arm7 = bytes(300, 0x77);
    put_le32(d.arm7, 0, nds::arm9_footer_magic);
    return build_rom_image(d).image;
}

// ARM9 overlay entry 1 made to share the file of entry 0, which leaves its own file unnamed.
bytes shared_overlay_rom()
{
    bytes image = build_rom_image(sample_description()).image;
    const std::uint32_t table = get_le32(image, nds::hdr_arm9_ovt_offset);
    for (const std::size_t word : {nds::ovt_file_id, nds::ovt_stored})
        put_le32(image, table + nds::ovt_entry_length + word, get_le32(image, table + word));
    return image;
}

// A banner of version 3 and, behind the DS sections and some filler, a DSi area of an ARM9i and an
// ARM7i binary, with an encrypted range inside it and a digest range outside; or the same area
// said to start at the ARM9 binary, where it cannot be carried.
bytes dsi_rom(bool carried)
{
    rom_description d = sample_description();
    d.layout.pad_to_power_of_two = false;
    bytes banner(0x1240, 0xB3);
    put_le16(banner, 0, 0x0003);
    put_le16(banner, 6, crc16(byte_span(banner).subspan(0x20, 0xA40 - 0x20)));
    d.banner = banner;
    bytes image = build_rom_image(d).image;
    const auto area = static_cast<std::uint32_t>(image.size() + 0x100);
    image.resize(area, 0xCC);
    for (std::uint32_t i = 0; i < 0x400; ++i)
        image.push_back(static_cast<std::uint8_t>(i * 13 + 7));
    image[nds::hdr_unit_code] = 0x02;
    const std::pair<std::size_t, std::uint32_t> fields[] = {
        {0x1C0, carried ? area : get_le32(image, nds::hdr_arm9_offset)},
        {0x1CC, 0x300},
        {0x1D0, area + 0x300},
        {0x1DC, 0x100},
        {0x220, area + 0x10},
        {0x224, 0x20},
        {0x1E8, 0x4000},
        {0x1EC, 0x100},
        {0x210, area + 0x400}};
    for (auto [field, value] : fields)
        put_le32(image, field, value);
    return image;
}

class rom_pack_test : public ::testing::Test {
protected:
    // `image` written and unpacked into a fresh folder `name`.
    fs::path unpacked(const bytes& image, const std::string& name)
    {
        unpack_rom(dir.write(name + ".nds", image), dir.path / name);
        return dir.path / name;
    }

    static bytes packed(const fs::path& folder)
    {
        memory_sink sink;
        pack_rom_folder(folder, sink);
        return sink.take_image();
    }

    static bytes rebuilt(const bytes& image, rom_visitor& visitor)
    {
        nds_rom rom(std::make_unique<memory_source>(image));
        memory_sink sink;
        rom.copy_to(sink, visitor);
        return sink.take_image();
    }

    scratch_dir dir;
};

TEST_F(rom_pack_test, an_untouched_folder_packs_to_the_bytes_of_the_rebuild_of_its_rom)
{
    const std::pair<const char*, bytes> roms[] = {
        {"sample", build_rom_image(sample_description()).image},
        {"shuffled", shuffled_rom()},
        {"bare", bare_rom()},
        {"shared", shared_overlay_rom()},
        {"dsi", dsi_rom(true)},
        {"dsi_not_carried", dsi_rom(false)},
    };
    for (const auto& [name, image] : roms) {
        identity_visitor identity;
        EXPECT_EQ(packed(unpacked(image, name)), rebuilt(image, identity)) << name;
    }
}

TEST_F(rom_pack_test, edited_files_land_in_the_rom_with_the_fat_the_overlay_entry_and_the_checksum)
{
    const bytes image = build_rom_image(sample_description()).image;
    const fs::path folder = unpacked(image, "edited");
    bytes town(3000), overlay(1500);
    for (std::size_t i = 0; i < town.size(); ++i)
        town[i] = static_cast<std::uint8_t>(i * 31 + (i >> 7));
    for (std::size_t i = 0; i < overlay.size(); ++i)
        overlay[i] = static_cast<std::uint8_t>((i % 24) * 9);
    write_whole_file(folder / "data" / "data" / "town.bin", town); // file 6, 513 bytes before
    write_whole_file(folder / "overlay9" / "overlay9_0000.bin", overlay);

    const bytes out = packed(folder);
    recording_visitor edits;
    edits.transform = [&](const bytes& contents, std::uint32_t code) {
        return code == make_section_code(file, 6)           ? town
               : code == make_section_code(arm9_overlay, 0) ? overlay
                                                            : contents;
    };
    EXPECT_EQ(out, rebuilt(image, edits));

    // Read back by hand: the FAT, the overlay's entry, the header's checksum.
    EXPECT_EQ(file_bytes(out, 6), town);
    const std::uint32_t entry = get_le32(out, nds::hdr_arm9_ovt_offset);
    const std::uint32_t stored_word = get_le32(out, entry + nds::ovt_stored);
    const bytes stored = file_bytes(out, get_le32(out, entry + nds::ovt_file_id));
    EXPECT_EQ(stored_word >> nds::ovt_flag_shift, nds::ovt_flag_compressed);
    EXPECT_EQ(stored_word & nds::ovt_stored_size_mask, stored.size());
    EXPECT_LT(stored.size(), overlay.size());
    EXPECT_EQ(nds_lz_inplace_decomp(stored), overlay);
    EXPECT_EQ(get_le32(out, entry + nds::ovt_ram_size), overlay.size());
    EXPECT_EQ(get_le16(out, nds::hdr_crc16), crc16(byte_span(out).first(nds::hdr_crc16)));
    nds_rom reopened(std::make_unique<memory_source>(out));
    EXPECT_EQ(reopened.read_file(6), town);
}

void write_text(const fs::path& path, const std::string& text)
{
    write_whole_file(path, byte_span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

void put_header_word(const fs::path& folder, std::size_t field, std::uint32_t value)
{
    bytes header = read_whole_file(folder / "header.bin");
    put_le32(header, field, value);
    write_whole_file(folder / "header.bin", header);
}

TEST_F(rom_pack_test, a_folder_that_contradicts_its_manifest_is_refused_before_anything_is_written)
{
    using change = std::function<void(const fs::path&)>;
    const std::tuple<bytes, change, std::string> refusals[] = {
        {build_rom_image(sample_description()).image,
         [](const fs::path& f) { write_text(f / "data" / "new.bin", "x"); },
         "data/new.bin: not in manifest.txt (a file can be changed, not added, removed or renamed)"},
        {bare_rom(), [](const fs::path& f) { put_header_word(f, nds::hdr_arm9_ovt_size, 0x20); },
         "header.bin: with it the folder makes no valid DS ROM (nds_rom::nds_rom - input file is not a valid "
         "NDS ROM)"},
        {bare_rom(), [](const fs::path& f) { put_header_word(f, nds::hdr_banner_offset, 0x200); },
         "header.bin: with it the folder's ROM does not have the sections of manifest.txt in their order "
         "(line 11, section 0x00000002)"},
        {dsi_rom(true), [](const fs::path& f) { put_header_word(f, 0x1C0, 0x4000); },
         "header.bin: its DSi fields do not give the area that manifest.txt's dsi line gives"},
        {dsi_rom(true),
         [](const fs::path& f) {
             bytes banner = read_whole_file(f / "banner.bin");
             banner[0x950] ^= 1; // a Korean title edited, its CRC-16 left as it was
             write_whole_file(f / "banner.bin", banner);
         },
         "banner.bin: its version field and CRC-16 make it a banner of 0x840 bytes, not the 0x1240 that "
         "manifest.txt gives (an edited banner needs the CRC-16 of its version)"},
        {shared_overlay_rom(),
         [](const fs::path& f) { write_text(f / "overlay9" / "overlay9_0000.bin", "x"); },
         "overlay9/overlay9_0000.bin: it shares FAT file 0 with overlay9/overlay9_0001.bin, so the two must "
         "hold the same bytes"},
    };
    fs::create_directory(dir.path / "out");
    for (const auto& [image, edit, error] : refusals) {
        const fs::path folder = unpacked(image, "refused");
        edit(folder);
        file_sink sink(dir.path / "out" / "rom.nds");
        EXPECT_EQ(error_of([&] { pack_rom_folder(folder, sink); }), "rom folder - " + error);
        EXPECT_TRUE(fs::is_empty(dir.path / "out")) << error;
        fs::remove_all(folder);
    }
}

// A file sink that changes a file of the folder once the rebuild has begun.
class changing_sink final : public rom_sink {
public:
    changing_sink(fs::path destination, std::function<void()> change)
        : file(std::move(destination)), change(std::move(change))
    {
    }
    void begin() override
    {
        file.begin();
        change();
    }
    void write(std::uint64_t at, byte_span data) override { file.write(at, data); }
    void keep(std::uint64_t at, rom_source& source, std::uint64_t from, std::uint64_t size) override
    {
        file.keep(at, source, from, size);
    }
    void finish(std::uint64_t size) override { file.finish(size); }

private:
    file_sink file;
    std::function<void()> change;
};

TEST_F(rom_pack_test, a_file_changed_while_packing_fails_the_pack_and_leaves_the_destination_as_it_was)
{
    const fs::path folder = unpacked(build_rom_image(sample_description()).image, "changing");
    fs::create_directory(dir.path / "out");
    write_text(dir.path / "out" / "rom.nds", "old");
    for (const std::uintmax_t size : {100, 600}) {
        EXPECT_EQ(error_of([&] {
                      changing_sink sink(dir.path / "out" / "rom.nds", [&] {
                          fs::resize_file(folder / "data" / "data" / "town.bin", size);
                      });
                      pack_rom_folder(folder, sink);
                  }),
                  "rom folder - data/data/town.bin: it changed while the ROM was being packed");
        EXPECT_EQ(read_whole_file(dir.path / "out" / "rom.nds"), (bytes{'o', 'l', 'd'}));
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path / "out"), fs::directory_iterator()), 1);
        fs::resize_file(folder / "data" / "data" / "town.bin", 513);
    }
}

} // namespace
} // namespace qm::test
