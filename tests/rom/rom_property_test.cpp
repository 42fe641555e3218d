// Properties over many generated ROMs: the builder's files are found where the FNT says, an
// identity rebuild keeps every section's bytes in a fresh 512-byte layout in source order, and a
// visitor that resizes sections still gets a consistent ROM.

#include "rom_test_support.h"

#include "common/file_io.h"
#include "lz/nds_lz.h"
#include "rom/nds_format.h"
#include "rom/nds_rom.h"
#include "rom/section_contents.h"
#include "tools/rom_description_generator.h"
#include "tools/seeded_random.h"

#include <gtest/gtest.h>

#include <map>

namespace qm::test {
namespace {

constexpr std::uint64_t seed_count = 40;

// Where a section of the source ended up in a rebuilt image (by its header field, FAT entry or
// overlay entry), and how long it is there.
struct placement {
    std::uint32_t offset;
    std::uint32_t length;
};

placement placed(byte_span out, const rom_section& s, std::uint32_t visited_length, bool arm9_footer)
{
    const auto fat_span = [&](std::uint32_t id) {
        const std::uint32_t fat = field(out, nds::hdr_fat_offset);
        return placement{field(out, fat + id * 8), field(out, fat + id * 8 + 4) - field(out, fat + id * 8)};
    };
    switch (section_kind_of(s.code)) {
    case header: return {0, s.size};
    case arm9: {
        const std::uint32_t size = field(out, nds::hdr_arm9_size);
        return {field(out, nds::hdr_arm9_offset), visited_length >= 12 && arm9_footer ? size + 12 : size};
    }
    case arm7: return {field(out, nds::hdr_arm7_offset), field(out, nds::hdr_arm7_size)};
    case fnt: return {field(out, nds::hdr_fnt_offset), field(out, nds::hdr_fnt_size)};
    case fat: return {field(out, nds::hdr_fat_offset), field(out, nds::hdr_fat_size)};
    case arm9_ovt: return {field(out, nds::hdr_arm9_ovt_offset), field(out, nds::hdr_arm9_ovt_size)};
    case arm7_ovt: return {field(out, nds::hdr_arm7_ovt_offset), field(out, nds::hdr_arm7_ovt_size)};
    case banner: return {field(out, nds::hdr_banner_offset), visited_length};
    case file: return fat_span(s.entry);
    default: {
        const std::size_t table = section_kind_of(s.code) == arm9_overlay ? nds::hdr_arm9_ovt_offset : nds::hdr_arm7_ovt_offset;
        return fat_span(field(out, field(out, table) + s.entry * 32 + nds::ovt_file_id));
    }
    }
}

// The header fields that a rebuild rewrites.
bool rewritten_header_byte(std::size_t i)
{
    static const std::size_t fields[] = {
        nds::hdr_arm9_offset, nds::hdr_arm9_size, nds::hdr_arm7_offset, nds::hdr_arm7_size, nds::hdr_fnt_offset,
        nds::hdr_fnt_size, nds::hdr_fat_offset, nds::hdr_fat_size, nds::hdr_arm9_ovt_offset, nds::hdr_arm9_ovt_size,
        nds::hdr_arm7_ovt_offset, nds::hdr_arm7_ovt_size, nds::hdr_banner_offset, nds::hdr_used_rom_size};
    for (std::size_t f : fields)
        if (i >= f && i < f + 4)
            return true;
    return i == nds::hdr_capacity || i == nds::hdr_crc16 || i == nds::hdr_crc16 + 1;
}

void collect_files(const std::vector<rom_fs_node>& nodes, const std::string& prefix, std::map<std::string, bytes>& out)
{
    for (const rom_fs_node& n : nodes) {
        if (n.is_directory)
            collect_files(n.children, prefix + n.name + "/", out);
        else
            out[prefix + n.name] = n.contents;
    }
}

// Checks the layout of a rebuilt image against its source's section list, the lengths the
// visitor returned and the image's padding, header checksum and capacity.
void check_layout(const std::vector<rom_section>& sections, byte_span out, const std::map<std::uint32_t, std::uint32_t>& returned,
                  bool arm9_footer)
{
    std::uint64_t end = 0;
    for (const rom_section& s : sections) {
        const auto it = returned.find(s.code);
        const placement p = placed(out, s, it == returned.end() ? s.size : it->second, arm9_footer);
        const std::uint64_t expected = (end + 0x1FF) & ~std::uint64_t{0x1FF};
        ASSERT_EQ(p.offset, expected) << "section " << std::hex << s.code;
        end = expected + p.length;
    }
    EXPECT_EQ(field(out, nds::hdr_used_rom_size), end);
    std::uint64_t size = 1;
    unsigned exponent = 0;
    while (size < end) {
        size <<= 1;
        ++exponent;
    }
    EXPECT_EQ(out.size(), size);
    EXPECT_EQ(out[nds::hdr_capacity], exponent >= 17 ? exponent - 17 : 0);
    EXPECT_EQ(get_le16(out, nds::hdr_crc16), crc16(out.first(nds::hdr_crc16)));
}

class rom_property_test : public ::testing::TestWithParam<std::uint64_t> {
protected:
    scratch_dir dir;
};

TEST_P(rom_property_test, generated_rom_reads_back_as_described)
{
    const rom_description d = random_rom_description(GetParam());
    const built_rom built = build_rom_image(d);
    nds_rom rom(dir.write("source.nds", built.image));
    std::map<std::string, bytes> contents;
    collect_files(d.root, "", contents);

    EXPECT_EQ(rom.has_arm9_footer(), d.arm9_footer.has_value());
    EXPECT_EQ(rom.read_arm9(false), d.arm9);
    EXPECT_EQ(rom.read_arm7(), d.arm7);
    ASSERT_EQ(built.files.size(), contents.size());
    for (const built_rom_file& f : built.files) {
        EXPECT_EQ(rom.get_file_id("/" + f.path), f.id);
        EXPECT_EQ(rom.fid_to_string(f.id), f.path);
        EXPECT_EQ(rom.read_file(f.id), contents[f.path]);
    }
    for (const rom_section& s : rom.list_sections()) {
        const std::uint16_t kind = section_kind_of(s.code);
        if (kind != arm9_overlay && kind != arm7_overlay)
            continue;
        const auto& specs = kind == arm9_overlay ? d.arm9_overlays : d.arm7_overlays;
        EXPECT_EQ(section_id_of(s.code), static_cast<std::uint16_t>(specs[s.entry].id));
        EXPECT_EQ(read_section_contents(rom, s), specs[s.entry].contents);
    }
}

TEST_P(rom_property_test, identity_rebuild_keeps_every_section)
{
    const rom_description d = random_rom_description(GetParam());
    const bytes source = build_rom_image(d).image;
    const auto source_path = dir.write("source.nds", source);
    recording_visitor identity;
    rebuild(source_path, dir.path() / "out.nds", identity);
    const bytes out = read_whole_file(dir.path() / "out.nds");

    nds_rom src(source_path);
    nds_rom rebuilt(dir.path() / "out.nds");
    const std::vector<rom_section> sections = src.list_sections();
    std::map<std::uint32_t, std::uint32_t> returned;
    for (std::size_t i = 0; i < identity.visited.size(); ++i)
        returned[identity.visited[i]] = static_cast<std::uint32_t>(identity.given[i].size());
    check_layout(sections, out, returned, src.has_arm9_footer());
    EXPECT_EQ(rebuilt.has_arm9_footer(), src.has_arm9_footer());

    std::vector<bool> covered(out.size(), false);
    for (const rom_section& s : sections) {
        SCOPED_TRACE(s.code);
        const placement p = placed(out, s, s.size, src.has_arm9_footer());
        std::fill(covered.begin() + p.offset, covered.begin() + p.offset + p.length, true);
        const bytes now(out.begin() + p.offset, out.begin() + p.offset + p.length);
        const bytes before(source.begin() + s.offset, source.begin() + s.offset + s.size);
        const std::uint16_t kind = section_kind_of(s.code);
        if (kind == header) {
            for (std::size_t i = 0; i < s.size; ++i) {
                if (i >= rom_header_length || !rewritten_header_byte(i)) {
                    ASSERT_EQ(now[i], before[i]) << "header byte " << i;
                }
            }
        } else if (kind == arm9_overlay || kind == arm7_overlay) {
            const byte_span entry = overlay_entry_of(src, s);
            const byte_span new_entry = overlay_entry_of(rebuilt, s);
            EXPECT_EQ(read_section_contents(rebuilt, s), read_section_contents(src, s));
            for (std::size_t w : {nds::ovt_id, nds::ovt_ram_address, nds::ovt_bss_size, nds::ovt_sinit_start,
                                  nds::ovt_sinit_end, nds::ovt_file_id})
                EXPECT_EQ(get_le32(new_entry, w), get_le32(entry, w));
            EXPECT_EQ(get_le32(new_entry, nds::ovt_ram_size), read_section_contents(src, s).size());
            if (overlay_is_compressed(entry))
                EXPECT_EQ(get_le32(new_entry, nds::ovt_stored), (get_le32(entry, nds::ovt_stored) & 0xFF000000) | p.length);
            else
                EXPECT_EQ(now, before);
        } else if (kind != fat && kind != arm9_ovt && kind != arm7_ovt) {
            EXPECT_EQ(now, before);
        }
    }
    // Nothing of the source's gaps or padding is carried over.
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (!covered[i]) {
            ASSERT_EQ(out[i], 0) << "byte " << i;
        }
    }
}

TEST_P(rom_property_test, resized_sections_stay_consistent)
{
    const rom_description d = random_rom_description(GetParam());
    const auto source_path = dir.write("source.nds", build_rom_image(d).image);
    seeded_random random(GetParam() * 7919);
    recording_visitor resizing;
    std::map<std::uint32_t, bytes> returned_contents;
    resizing.transform = [&](const bytes& contents, std::uint32_t c) {
        bytes changed = contents;
        // A banner is always read as 0x840 bytes, so a shorter one could leave the ROM invalid.
        if (section_kind_of(c) != banner)
            changed.resize(random.below(contents.size() + 1000), static_cast<std::uint8_t>(random.next()));
        for (std::size_t i = 0; i < changed.size(); i += 97)
            changed[i] ^= 0x5A;
        if (section_kind_of(c) == arm9_overlay || section_kind_of(c) == arm7_overlay)
            changed.resize(changed.size() + 64, 0); // something the encoder can always pack
        returned_contents[c] = changed;
        return changed;
    };
    rebuild(source_path, dir.path() / "out.nds", resizing);
    const bytes out = read_whole_file(dir.path() / "out.nds");

    nds_rom src(source_path);
    nds_rom rebuilt(dir.path() / "out.nds");
    std::map<std::uint32_t, std::uint32_t> returned;
    for (const auto& [c, contents] : returned_contents)
        returned[c] = static_cast<std::uint32_t>(contents.size());
    check_layout(src.list_sections(), out, returned, src.has_arm9_footer());
    for (const rom_section& s : src.list_sections()) {
        const std::uint16_t kind = section_kind_of(s.code);
        if (kind == file || kind == arm9_overlay || kind == arm7_overlay || kind == arm7) {
            EXPECT_EQ(read_section_contents(rebuilt, s), returned_contents[s.code]) << std::hex << s.code;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(seeds, rom_property_test, ::testing::Range<std::uint64_t>(1, seed_count + 1));

} // namespace
} // namespace qm::test
