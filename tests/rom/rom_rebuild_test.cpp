// copy_to on fixed ROMs: the layout it writes, how each kind of section is handed over and
// written back, and what visitors that change, empty or refuse sections lead to.

#include "rom_test_support.h"

#include "common/file_io.h"
#include "lz/nds_lz.h"
#include "rom/nds_format.h"
#include "rom/nds_rom.h"
#include "tools/rom_image_builder.h"

#include <gtest/gtest.h>

namespace qm::test {
namespace {

constexpr std::uint32_t code(std::uint16_t kind, std::uint16_t id = 0)
{
    return make_section_code(kind, id);
}

class rebuild_test : public ::testing::Test {
protected:
    // Rebuilds `image` through the visitor and returns the output.
    bytes rebuild_image(const bytes& image, rom_visitor& visitor)
    {
        const auto source = dir.write("source.nds", image);
        rebuild(source, dir.path() / "out.nds", visitor);
        return read_whole_file(dir.path() / "out.nds");
    }
    bytes rebuild_sample(rom_visitor& visitor) { return rebuild_image(build_rom_image(description).image, visitor); }

    // FAT entry of a file in an image: (start, end).
    static std::pair<std::uint32_t, std::uint32_t> fat_entry(byte_span image, std::uint32_t id)
    {
        const std::uint32_t fat = field(image, nds::hdr_fat_offset);
        return {field(image, fat + id * 8), field(image, fat + id * 8 + 4)};
    }
    static bytes file_bytes(byte_span image, std::uint32_t id)
    {
        const auto [start, end] = fat_entry(image, id);
        return bytes(image.begin() + start, image.begin() + end);
    }
    static std::uint32_t ovt_word(byte_span image, std::size_t offset_field, std::uint32_t entry, std::size_t word)
    {
        return field(image, field(image, offset_field) + entry * 32 + word);
    }

    scratch_dir dir;
    rom_description description = sample_description();
};

TEST_F(rebuild_test, hand_made_rom_is_laid_out_afresh)
{
    recording_visitor identity;
    const bytes out = rebuild_image(hand_made_rom(), identity);
    ASSERT_EQ(out.size(), 0x1000u); // P = 0xA04, so 2^12 bytes
    EXPECT_EQ(field(out, 0x020), 0x200u);
    EXPECT_EQ(field(out, 0x02C), 0x10u);
    EXPECT_EQ(field(out, 0x030), 0x400u);
    EXPECT_EQ(field(out, 0x040), 0x600u);
    EXPECT_EQ(field(out, 0x044), 11u);
    EXPECT_EQ(field(out, 0x048), 0x800u);
    EXPECT_EQ(field(out, 0x080), 0xA04u);
    EXPECT_EQ(out[0x014], 0);
    EXPECT_EQ(fat_entry(out, 0), std::pair(0xA00u, 0xA04u));
    EXPECT_EQ(file_bytes(out, 0), (bytes{'a', 'b', 'c', 'd'}));
    EXPECT_EQ(get_le16(out, 0x15E), crc16(byte_span(out).first(0x15E)));
    // Gaps and padding are zero, unlike the source's 0xEE filler.
    EXPECT_EQ(out[0x210], 0);
    EXPECT_EQ(out[0xA04], 0);
    EXPECT_EQ(out[0xFFF], 0);
    EXPECT_EQ(bytes(out.begin() + 0x400, out.begin() + 0x410), bytes(0x10, 0xEE)); // ARM7 kept
}

TEST_F(rebuild_test, sections_are_entered_in_list_order_whatever_the_visitor_returns)
{
    nds_rom rom(dir.write("source.nds", build_rom_image(description).image));
    std::vector<std::uint32_t> expected;
    std::vector<std::uint32_t> expected_visits;
    for (const rom_section& s : rom.list_sections()) {
        expected.push_back(s.code);
        const auto kind = section_kind_of(s.code);
        if (kind != header && kind != fnt && kind != fat && kind != arm9_ovt && kind != arm7_ovt)
            expected_visits.push_back(s.code);
    }
    expected.push_back(0);

    recording_visitor identity;
    rebuild_sample(identity);
    EXPECT_EQ(identity.entered, expected);
    EXPECT_EQ(identity.visited, expected_visits);

    recording_visitor emptying;
    emptying.transform = [](const bytes&, std::uint32_t) { return bytes{}; };
    rebuild_sample(emptying);
    EXPECT_EQ(emptying.entered, expected);
}

TEST_F(rebuild_test, longer_arm9_keeps_its_footer_and_pushes_later_sections)
{
    recording_visitor identity;
    const bytes before = rebuild_sample(identity);
    recording_visitor longer;
    longer.transform = [](const bytes& contents, std::uint32_t c) {
        if (c != code(arm9))
            return contents;
        bytes grown(contents.begin(), contents.end() - 12);
        grown.resize(grown.size() + 100, 0xAB);
        grown.insert(grown.end(), contents.end() - 12, contents.end()); // the footer stays last
        return grown;
    };
    const bytes after = rebuild_sample(longer);
    EXPECT_EQ(field(after, nds::hdr_arm9_size), field(before, nds::hdr_arm9_size) + 100);
    const std::uint32_t arm9 = field(after, nds::hdr_arm9_offset);
    EXPECT_EQ(field(after, arm9 + 1100), nds::arm9_footer_magic);
    nds_rom rom(dir.path() / "out.nds");
    EXPECT_TRUE(rom.has_arm9_footer());
    // ARM9 and its footer follow the header at 0x4000: 1012 bytes end before 0x4400, 1112 bytes
    // after it, so the section after them moves to the next boundary.
    EXPECT_EQ(field(before, nds::hdr_arm9_ovt_offset), 0x4400u);
    EXPECT_EQ(field(after, nds::hdr_arm9_ovt_offset), 0x4600u);
}

TEST_F(rebuild_test, plain_overlay_is_written_as_returned)
{
    recording_visitor v;
    const bytes replacement(50, 0x3C);
    v.transform = [&](const bytes& contents, std::uint32_t c) { return c == code(arm9_overlay, 1) ? replacement : contents; };
    const bytes out = rebuild_sample(v);
    const auto given = std::find(v.visited.begin(), v.visited.end(), code(arm9_overlay, 1)) - v.visited.begin();
    EXPECT_EQ(v.given[given], bytes(100, 0x91)); // as stored
    EXPECT_EQ(file_bytes(out, 1), replacement);
    EXPECT_EQ(ovt_word(out, nds::hdr_arm9_ovt_offset, 1, nds::ovt_ram_size), 50u);
    EXPECT_EQ(ovt_word(out, nds::hdr_arm9_ovt_offset, 1, nds::ovt_stored), 0u);
    EXPECT_EQ(fat_entry(out, 1).first % 0x200, 0u);
}

TEST_F(rebuild_test, compressed_overlay_is_expanded_then_packed_again)
{
    const bytes expanded = description.arm9_overlays[0].contents;
    bytes changed = expanded;
    changed.resize(changed.size() + 600, 0);
    recording_visitor v;
    v.transform = [&](const bytes& contents, std::uint32_t c) { return c == code(arm9_overlay, 0) ? changed : contents; };
    const bytes out = rebuild_sample(v);
    const auto given = std::find(v.visited.begin(), v.visited.end(), code(arm9_overlay, 0)) - v.visited.begin();
    EXPECT_EQ(v.given[given], expanded);

    const bytes stored = file_bytes(out, 0);
    EXPECT_EQ(nds_lz_inplace_decomp(stored), changed);
    EXPECT_EQ(ovt_word(out, nds::hdr_arm9_ovt_offset, 0, nds::ovt_ram_size), changed.size());
    const std::uint32_t word = ovt_word(out, nds::hdr_arm9_ovt_offset, 0, nds::ovt_stored);
    EXPECT_EQ(word & 0xFFFFFF, stored.size());
    EXPECT_EQ(word >> 24, 1u);
}

TEST_F(rebuild_test, missing_banner_and_overlay_table_get_no_section)
{
    description.banner.reset();
    description.arm9_overlays.clear();
    recording_visitor v;
    const bytes out = rebuild_sample(v);
    EXPECT_EQ(field(out, nds::hdr_banner_offset), 0u);
    EXPECT_EQ(field(out, nds::hdr_arm9_ovt_offset), 0u);
    EXPECT_EQ(field(out, nds::hdr_arm9_ovt_size), 0u);
    for (std::uint32_t c : v.entered) {
        EXPECT_NE(c, code(banner));
        EXPECT_NE(c, code(arm9_ovt));
    }
}

TEST_F(rebuild_test, empty_file_keeps_an_empty_entry_on_a_boundary)
{
    recording_visitor v;
    const bytes out = rebuild_sample(v);
    nds_rom rom(dir.path() / "out.nds");
    const std::uint16_t id = rom.get_file_id("/data/empty.bin");
    const auto [start, end] = fat_entry(out, id);
    EXPECT_EQ(start, end);
    EXPECT_EQ(start % 0x200, 0u);
    EXPECT_GT(start, 0u);
}

TEST_F(rebuild_test, image_is_padded_to_a_power_of_two_with_its_capacity)
{
    recording_visitor identity;
    const bytes small = rebuild_sample(identity);
    EXPECT_LT(field(small, nds::hdr_used_rom_size), 0x20000u);
    EXPECT_EQ(small[nds::hdr_capacity], 0);

    // leaf.bin (id 7) is the last section: stretch it so that the ROM ends exactly at 1 MiB, then
    // one byte past it.
    const std::uint32_t leaf_start = fat_entry(small, 7).first;
    for (const auto& [end, size, capacity] : {std::tuple{0x100000u, 0x100000u, 3}, std::tuple{0x100001u, 0x200000u, 4}}) {
        recording_visitor stretch;
        stretch.transform = [&, end = end](const bytes& contents, std::uint32_t c) {
            return c == code(file, 7) ? bytes(end - leaf_start, 0x42) : contents;
        };
        const bytes out = rebuild_sample(stretch);
        EXPECT_EQ(field(out, nds::hdr_used_rom_size), end);
        EXPECT_EQ(out.size(), size);
        EXPECT_EQ(out[nds::hdr_capacity], capacity);
        EXPECT_EQ(std::count(out.begin() + end, out.end(), 0), size - end); // zero padding
        EXPECT_EQ(get_le16(out, nds::hdr_crc16), crc16(byte_span(out).first(nds::hdr_crc16)));
    }
}

TEST_F(rebuild_test, after_a_cancel_every_visited_section_is_empty)
{
    recording_visitor cancelled;
    cancelled.transform = [](const bytes&, std::uint32_t) { return bytes{}; };
    const bytes out = rebuild_sample(cancelled);
    const bytes source = build_rom_image(description).image;
    EXPECT_EQ(field(out, nds::hdr_arm9_size), 0u);
    EXPECT_EQ(field(out, nds::hdr_arm7_size), 0u);
    EXPECT_EQ(fnt_of(out), fnt_of(source)); // copied, never visited
    for (std::uint32_t id = 3; id < 8; ++id)
        EXPECT_EQ(fat_entry(out, id).first, fat_entry(out, id).second);
    // A compressed overlay is packed from nothing; a plain one is simply empty.
    EXPECT_EQ(file_bytes(out, 0), nds_lz_comp(bytes{}));
    EXPECT_EQ(ovt_word(out, nds::hdr_arm9_ovt_offset, 0, nds::ovt_ram_size), 0u);
    EXPECT_TRUE(file_bytes(out, 1).empty());
}

TEST_F(rebuild_test, header_size_below_the_header_still_gets_the_whole_header)
{
    description.header_size = 0;
    recording_visitor v;
    const bytes out = rebuild_sample(v);
    EXPECT_EQ(field(out, nds::hdr_header_size), 0u); // carried through
    EXPECT_EQ(field(out, nds::hdr_arm9_offset), 0x200u);
    nds_rom rom(dir.path() / "out.nds");
    EXPECT_EQ(rom.read_arm9(false), description.arm9);
    EXPECT_EQ(rom.list_sections().front().size, 0x180u);
}

TEST_F(rebuild_test, overlay_updates_its_own_entry_when_ids_are_not_indexes)
{
    description.arm9_overlays[0].id = 0x1234; // stored compressed
    description.arm9_overlays[1].id = 0;      // plain: id 0 names entry 1
    recording_visitor v;
    v.transform = [](const bytes& contents, std::uint32_t c) {
        bytes grown = contents;
        if (c == code(arm9_overlay, 0))
            grown.resize(grown.size() + 10, 0x55);
        return grown;
    };
    const bytes out = rebuild_sample(v);
    EXPECT_EQ(ovt_word(out, nds::hdr_arm9_ovt_offset, 1, nds::ovt_ram_size), 110u);
    EXPECT_EQ(file_bytes(out, 1).size(), 110u);
    EXPECT_EQ(ovt_word(out, nds::hdr_arm9_ovt_offset, 0, nds::ovt_ram_size), 1200u);
    EXPECT_EQ(nds_lz_inplace_decomp(file_bytes(out, 0)), description.arm9_overlays[0].contents);
    EXPECT_EQ(ovt_word(out, nds::hdr_arm9_ovt_offset, 0, nds::ovt_stored) & 0xFFFFFF, file_bytes(out, 0).size());
}

TEST_F(rebuild_test, errors_pass_through_and_leave_nothing_behind)
{
    const auto source = dir.write("source.nds", build_rom_image(description).image);
    const auto destination = dir.path() / "out.nds";
    write_whole_file(destination, bytes{'o', 'l', 'd'});
    const auto names = dir.names();

    const auto failure = [&](rom_visitor& visitor) {
        nds_rom rom(source);
        try {
            rom.copy_to(destination, visitor).commit();
        } catch (const std::exception& e) {
            return std::string(e.what());
        }
        return std::string("no error");
    };

    recording_visitor throwing;
    throwing.transform = [](const bytes& contents, std::uint32_t c) {
        if (c == code(file, 6))
            throw std::runtime_error("patcher::visit - bad checksum");
        return contents;
    };
    EXPECT_EQ(failure(throwing), "patcher::visit - bad checksum");
    EXPECT_EQ(dir.names(), names);
    EXPECT_EQ(read_whole_file(destination), (bytes{'o', 'l', 'd'}));

    struct entering_fails : recording_visitor {
        void enter_section(std::uint32_t c) override
        {
            if (c == 0)
                throw std::runtime_error("cancelled at the end");
        }
    } late;
    EXPECT_EQ(failure(late), "cancelled at the end");
    EXPECT_EQ(dir.names(), names);
    EXPECT_EQ(read_whole_file(destination), (bytes{'o', 'l', 'd'}));
}

TEST_F(rebuild_test, lz_errors_pass_through)
{
    description.arm7_overlays[0].stored = bytes{1, 2, 3};
    const auto source = dir.write("source.nds", build_rom_image(description).image);
    recording_visitor identity;
    nds_rom rom(source);
    try {
        rom.copy_to(dir.path() / "out.nds", identity);
        ADD_FAILURE();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "nds_lz_inplace_decomp failed - unexpected size of input");
    }

    // Two bytes cannot be packed: the encoder's own error comes through.
    description = sample_description();
    const auto packable = dir.write("packable.nds", build_rom_image(description).image);
    recording_visitor tiny;
    tiny.transform = [](const bytes& contents, std::uint32_t c) {
        return c == code(arm7_overlay, 0) ? bytes{1, 2} : contents;
    };
    nds_rom rom2(packable);
    try {
        rom2.copy_to(dir.path() / "out.nds", tiny);
        ADD_FAILURE();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "nds_lz_comp failed - compressed buffer larger than source buffer");
    }
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "out.nds"));
}

} // namespace
} // namespace qm::test
