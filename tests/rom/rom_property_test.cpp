// Properties over many generated ROMs: the source reads back as described, the rebuilt ROM names
// its files the same way, and an identity rebuild visits the sections in source order and keeps
// their bytes in a fresh layout: each at the first 512-byte boundary after the previous one (by
// the rebuilt ROM's own tables), zero between them and up to a power of two. Resized sections are
// the fixed grow, cancel and stretch tests' part.

#include "rom_test_support.h"

#include "rom/nds_format.h"
#include "rom/nds_rom.h"
#include "rom/section_contents.h"
#include "tools/rom_description_generator.h"

#include <gtest/gtest.h>

#include <map>

namespace qm::test {
namespace {

class rom_property_test : public ::testing::TestWithParam<std::uint64_t> {
protected:
    scratch_dir dir;
    rom_description description = random_rom_description(GetParam());
    built_rom built = build_rom_image(description);
    std::filesystem::path source_path = dir.write("source.nds", built.image);
};

TEST_P(rom_property_test, identity_rebuild_keeps_every_section)
{
    recording_visitor identity;
    const bytes out = rebuild(source_path, dir.path / "out.nds", identity);
    const bytes& source = built.image;
    nds_rom src(source_path), rebuilt(dir.path / "out.nds");
    const bool footer = description.arm9_footer.has_value();
    EXPECT_EQ(
        std::tuple(src.has_arm9_footer(), rebuilt.has_arm9_footer(), src.read_arm9(false), src.read_arm7()),
        std::tuple(footer, footer, description.arm9, description.arm7));
    for (const built_rom_file& f : built.files)
        EXPECT_EQ(std::pair(rebuilt.get_file_id("/" + f.path), rebuilt.fid_to_string(f.id)),
                  std::pair(f.id, f.path));
    EXPECT_EQ(get_le32(out, nds::hdr_banner_offset) == 0, get_le32(source, nds::hdr_banner_offset) == 0);

    std::map<std::uint32_t, rom_section> places; // the ARM9 binary with its footer's 12 bytes
    for (const rom_section& s : rebuilt.list_sections())
        places[s.code] = s;
    places[make_section_code(arm9)].size =
        get_le32(out, nds::hdr_arm9_size) +
        (footer && identity.returned.at(make_section_code(arm9)).size() >= 12 ? 12 : 0);
    std::vector<std::uint32_t> entered, visited;
    std::vector<bool> covered(out.size(), false);
    std::uint64_t end = 0;
    for (const rom_section& s : src.list_sections()) {
        SCOPED_TRACE(s.code);
        const std::uint16_t kind = section_kind_of(s.code);
        const bool table = kind == fat || kind == arm9_ovt || kind == arm7_ovt; // rewritten
        entered.push_back(s.code);
        if (!table && kind != header && kind != fnt) // the tables and header are copied, not visited
            visited.push_back(s.code);
        const std::uint32_t offset = places.at(s.code).offset, length = places.at(s.code).size;
        EXPECT_EQ(offset, round_up(end, 0x200));
        end = round_up(end, 0x200) + length;
        std::fill_n(covered.begin() + offset, length, true);
        const bytes now(out.begin() + offset, out.begin() + offset + length);
        const bytes before(source.begin() + s.offset, source.begin() + s.offset + s.size);
        if (kind == header) { // all but the rewritten fields and the checksum
            bytes expected = before;
            std::copy_n(out.begin() + 0x14, 1, expected.begin() + 0x14);
            std::copy(out.begin() + 0x20, out.begin() + 0x6C, expected.begin() + 0x20);
            std::copy(out.begin() + 0x80, out.begin() + 0x84, expected.begin() + 0x80);
            std::copy(out.begin() + 0x15E, out.begin() + 0x160, expected.begin() + 0x15E);
            for (std::size_t f : {0x24, 0x28, 0x34, 0x38, 0x60, 0x64}) // untouched words in that range
                EXPECT_EQ(get_le32(out, f), get_le32(source, f));
            EXPECT_EQ(now, expected);
        } else if (kind == arm9_overlay || kind == arm7_overlay) {
            const byte_span old_entry = overlay_entry_of(src, s), new_entry = overlay_entry_of(rebuilt, s);
            const bytes expanded = read_section_contents(src, s);
            const auto& described =
                (kind == arm9_overlay ? description.arm9_overlays : description.arm7_overlays);
            EXPECT_EQ(
                std::pair(section_id_of(s.code), expanded),
                std::pair(static_cast<std::uint16_t>(described[s.entry].id), described[s.entry].contents));
            EXPECT_EQ(read_section_contents(rebuilt, s), expanded);
            EXPECT_EQ(get_le32(new_entry, nds::ovt_ram_size), expanded.size());
            const std::uint32_t word = get_le32(old_entry, nds::ovt_stored);
            EXPECT_EQ(get_le32(new_entry, nds::ovt_stored),
                      overlay_is_compressed(old_entry) ? (word & 0xFF000000) | length : word);
            EXPECT_TRUE(overlay_is_compressed(old_entry) || now == before);
            for (std::size_t w : {0x00, 0x04, 0x0C, 0x10, 0x14, 0x18})
                EXPECT_EQ(get_le32(new_entry, w), get_le32(old_entry, w));
        } else if (!table) {
            EXPECT_EQ(now, before);
        }
    }
    entered.push_back(0);
    EXPECT_EQ(identity.entered, entered);
    EXPECT_EQ(identity.visited, visited);
    EXPECT_EQ(get_le32(out, nds::hdr_used_rom_size), end);
    unsigned exponent = 0;
    while ((std::uint64_t{1} << exponent) < end)
        ++exponent;
    EXPECT_EQ(out.size(), std::uint64_t{1} << exponent);
    EXPECT_EQ(out[nds::hdr_capacity], exponent >= 17 ? exponent - 17 : 0);
    EXPECT_EQ(get_le16(out, nds::hdr_crc16), crc16(byte_span(out).first(nds::hdr_crc16)));
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (!covered[i]) {
            ASSERT_EQ(out[i], 0) << "gap byte " << i; // nothing of the source's gaps or padding
        }
    }
}

INSTANTIATE_TEST_SUITE_P(seeds, rom_property_test, ::testing::Range<std::uint64_t>(1, 41));

} // namespace
} // namespace qm::test
