// Properties over many generated ROMs: the source reads back as described, and an identity rebuild visits the
// sections in source order and keeps their contents in a fresh layout: each at the first 512-byte boundary
// after the previous one (by the rebuilt ROM's own tables), up to a power of two. The exact header fields,
// gaps and resized sections are the fixed tests' part.

#include "rom_test_support.h"

#include "rom/nds_format.h"
#include "rom/nds_rom.h"
#include "rom/section_contents.h"
#include "tools/rom_description_generator.h"

#include <gtest/gtest.h>

#include <bit>
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
    nds_rom src(source_path), rebuilt(dir.path / "out.nds");
    const bool footer = description.arm9_footer.has_value();
    EXPECT_EQ(std::tuple(rebuilt.has_arm9_footer(), src.read_arm9(false), src.read_arm7()),
              std::tuple(footer, description.arm9, description.arm7));

    std::map<std::uint32_t, rom_section> places; // the ARM9 binary with its footer's 12 bytes
    for (const rom_section& s : rebuilt.list_sections())
        places[s.code] = s;
    places[make_section_code(arm9)].size =
        get_le32(out, nds::hdr_arm9_size) +
        (footer && identity.returned.at(make_section_code(arm9)).size() >= 12 ? 12 : 0);
    std::vector<std::uint32_t> entered;
    std::uint64_t end = 0;
    for (const rom_section& s : src.list_sections()) {
        SCOPED_TRACE(s.code);
        const rom_section& now = places.at(s.code);
        const std::uint16_t kind = section_kind_of(s.code);
        entered.push_back(s.code);
        EXPECT_EQ(now.offset, round_up(end, 0x200));
        end = round_up(end, 0x200) + now.size;
        if (kind != header && kind != fat && kind != arm9_ovt && kind != arm7_ovt) { // rewritten
            EXPECT_EQ(read_section_contents(rebuilt, now), read_section_contents(src, s));
        }
    }
    entered.push_back(0);
    EXPECT_EQ(identity.entered, entered);
    EXPECT_EQ(get_le32(out, nds::hdr_used_rom_size), end);
    EXPECT_EQ(out.size(), std::bit_ceil(end));
    EXPECT_EQ(get_le16(out, nds::hdr_crc16), crc16(byte_span(out).first(nds::hdr_crc16)));
}

INSTANTIATE_TEST_SUITE_P(seeds, rom_property_test, ::testing::Range<std::uint64_t>(1, 41));

} // namespace
} // namespace qm::test
