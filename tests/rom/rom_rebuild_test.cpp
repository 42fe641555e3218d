// copy_to on fixed ROMs: a layout checked against literal offsets, the capacity boundaries,
// visitors that empty, pass through, grow or fail, the sinks, banners of later versions, the DSi
// area, and the layout arithmetic at its limits.

#include "rom_test_support.h"

#include "common/file_io.h"
#include "lz/nds_lz.h"
#include "rom/dsi_area.h"
#include "rom/file_sink.h"
#include "rom/nds_format.h"
#include "rom/nds_rom.h"
#include "rom/rom_layout.h"
#include "support/error_of.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace qm::test {
namespace {

class rebuild_test : public ::testing::Test {
protected:
    bytes rebuild_image(const bytes& image, rom_visitor& visitor)
    {
        return rebuild(dir.write("source.nds", image), dir.path / "out.nds", visitor);
    }
    bytes rebuild_sample(rom_visitor& visitor)
    {
        return rebuild_image(build_rom_image(description).image, visitor);
    }
    static std::uint32_t arm9_ovt_word(byte_span image, std::uint32_t entry, std::size_t word)
    {
        return get_le32(image, get_le32(image, nds::hdr_arm9_ovt_offset) + entry * 32 + word);
    }

    scratch_dir dir;
    rom_description description = sample_description();
};

// The one layout checked against literal offsets (a ROM made without the builder): sections at
// 512-byte boundaries after a 0x200-byte header, zero gaps and padding unlike the source's filler.
TEST_F(rebuild_test, hand_made_rom_is_laid_out_afresh)
{
    recording_visitor identity;
    const bytes out = rebuild_image(hand_made_rom(), identity);
    ASSERT_EQ(out.size(), 0x1000u); // the last section ends at 0xA04
    const std::pair<std::size_t, std::uint32_t> fields[] = {
        {0x020, 0x200}, {0x02C, 0x10},  {0x030, 0x400}, {0x040, 0x600}, {0x044, 11},        {0x048, 0x800},
        {0x080, 0xA04}, {0x084, 0x200}, {0x800, 0xA00}, {0x804, 0xA04}, {0xA00, 0x64636261}};
    for (auto [offset, value] : fields)
        EXPECT_EQ(get_le32(out, offset), value) << offset;
    EXPECT_EQ(std::tuple(out[0x014], get_le16(out, 0x15E), nds_rom(dir.path / "out.nds").game_code()),
              std::tuple(0, crc16(byte_span(out).first(0x15E)), 0x44414D48u)); // "HMAD"
    EXPECT_EQ(bytes(out.begin() + 0x400, out.begin() + 0x410), bytes(0x10, 0xEE));
    for (std::size_t gap : {0x210, 0x5FF, 0xA04, 0xFFF})
        EXPECT_EQ(out[gap], 0) << gap;
}

// Both start from the identity rebuild of the sample, which fits in the smallest capacity.
TEST_F(rebuild_test, image_is_padded_to_a_power_of_two_and_a_cancel_empties_what_was_visited)
{
    recording_visitor identity;
    const bytes small = rebuild_sample(identity);
    EXPECT_LT(get_le32(small, nds::hdr_used_rom_size), 0x20000u);
    EXPECT_EQ(small[nds::hdr_capacity], 0);
    // leaf.bin (file 7) is the last section: stretch it to end at 1 MiB, then one byte past it.
    const std::uint32_t leaf = get_le32(small, get_le32(small, nds::hdr_fat_offset) + 7 * 8);
    for (auto [end, size, capacity] :
         {std::tuple{0x100000u, 0x100000u, 3}, std::tuple{0x100001u, 0x200000u, 4}}) {
        recording_visitor stretch = changing(
            make_section_code(file, 7), [&, end = end](const bytes&) { return bytes(end - leaf, 0x42); });
        const bytes out = rebuild_sample(stretch);
        EXPECT_EQ(get_le32(out, nds::hdr_used_rom_size), end);
        EXPECT_EQ(out.size(), size);
        EXPECT_EQ(out[nds::hdr_capacity], capacity);
        EXPECT_EQ(std::count(out.begin() + end, out.end(), 0), size - end);
    }

    // A cancel: every visited section comes back empty, the walk is the same.
    recording_visitor cancelled;
    cancelled.transform = [](const bytes&, std::uint32_t) { return bytes{}; };
    const bytes out = rebuild_sample(cancelled);
    EXPECT_EQ(cancelled.entered, identity.entered);
    EXPECT_EQ(get_le32(out, nds::hdr_arm9_size), 0u);
    EXPECT_EQ(nds_rom(dir.path / "out.nds").fnt_bytes(),
              nds_rom(dir.path / "source.nds").fnt_bytes()); // never visited
    for (std::uint32_t id : {1, 3, 6, 7})
        EXPECT_TRUE(file_bytes(out, id).empty()) << id;
    // Packed overlays are packed again from nothing.
    EXPECT_EQ(file_bytes(out, 0), nds_lz_comp(bytes{}));
    EXPECT_EQ(arm9_ovt_word(out, 0, nds::ovt_ram_size), 0u);
}

// Lets every section it is asked about pass through, and records which ones those were.
struct passing_visitor : recording_visitor {
    std::vector<std::uint32_t> asked;

    bool passes_through(std::uint32_t code) override
    {
        asked.push_back(code);
        return true;
    }
};

// Everything a sink is given, in the order given.
struct recording_tap : sink_tap {
    bytes seen;
    void take(byte_span data) override { seen.insert(seen.end(), data.begin(), data.end()); }
    void take_zeros(std::uint64_t count) override { seen.resize(seen.size() + count, 0); }
};

TEST_F(rebuild_test, header_size_overlay_ids_and_flags_other_than_bit_0_do_not_decide_the_layout)
{
    // A header size below the header's length still gets the whole header; an overlay whose id is
    // not its entry's index updates its own entry; only bit 0 of the flag byte means packed.
    description.header_size = 0;
    description.arm9_overlays[0].id = 0x1234; // packed: flag byte 0x03
    description.arm9_overlays[1].id = 0;      // plain, in entry 1: flag byte 0x02
    for (auto& overlay : description.arm9_overlays)
        overlay.other_flags = 0x02;
    recording_visitor grow = changing(make_section_code(arm9_overlay, 0), [](bytes grown) {
        grown.resize(grown.size() + 10, 0x55);
        return grown;
    });
    const bytes out = rebuild_sample(grow);
    EXPECT_EQ(get_le32(out, nds::hdr_header_size), 0u); // carried through
    EXPECT_EQ(get_le32(out, nds::hdr_arm9_offset), 0x200u);
    EXPECT_EQ(nds_rom(dir.path / "out.nds").read_arm9(false), description.arm9);
    bytes grown = description.arm9_overlays[1].contents;
    grown.resize(grown.size() + 10, 0x55);
    EXPECT_EQ(grow.returned.at(make_section_code(arm9_overlay, 0)), grown); // given as it was stored
    EXPECT_EQ(grow.returned.at(make_section_code(arm9_overlay, 0x1234)),
              description.arm9_overlays[0].contents);
    EXPECT_EQ(std::tuple(file_bytes(out, 1), arm9_ovt_word(out, 1, nds::ovt_ram_size),
                         arm9_ovt_word(out, 1, nds::ovt_stored) >> 24),
              std::tuple(grown, 110u, 0x02u));
    EXPECT_EQ(nds_lz_inplace_decomp(file_bytes(out, 0)), description.arm9_overlays[0].contents);
    EXPECT_EQ(arm9_ovt_word(out, 0, nds::ovt_ram_size), 1200u);
    EXPECT_EQ(arm9_ovt_word(out, 0, nds::ovt_stored), 0x03000000u | file_bytes(out, 0).size());
}

TEST_F(rebuild_test, sections_passed_through_give_the_same_rom_to_every_sink_in_file_order)
{
    bytes big(2'500'000, 0x3C); // copied in several blocks
    for (std::size_t i = 0; i < big.size(); i += 4099)
        big[i] = static_cast<std::uint8_t>(i);
    description.root.push_back(rom_fs_node::file("big.bin", std::move(big)));
    const bytes source = build_rom_image(description).image;
    recording_visitor identity;
    const bytes expected = rebuild_image(source, identity);
    // The visitor is asked about every visited section but the packed overlays, which must be
    // expanded anyway and are visited as before.
    std::vector<std::uint32_t> asked, visited;
    for (std::uint32_t c : identity.visited)
        (c == make_section_code(arm9_overlay, 0) || c == make_section_code(arm7_overlay, 0) ? visited : asked)
            .push_back(c);
    passing_visitor passing;
    EXPECT_EQ(rebuild_image(source, passing), expected);
    EXPECT_EQ(std::tuple(passing.entered, passing.asked, passing.visited),
              std::tuple(identity.entered, asked, visited));

    // From memory into memory, and through a file sink with a tap: the same image, and the tap
    // sees it whole, in file order.
    nds_rom rom(std::make_unique<memory_source>(source));
    recording_tap in_memory_tap, file_tap;
    memory_sink in_memory(&in_memory_tap);
    passing_visitor again;
    rom.copy_to(in_memory, again);
    EXPECT_EQ(in_memory.image(), expected);
    EXPECT_EQ(in_memory_tap.seen, expected);
    file_sink to_file(dir.path / "tapped.nds", &file_tap);
    rom.copy_to(to_file, again);
    to_file.commit();
    EXPECT_EQ(file_tap.seen, expected);
    EXPECT_EQ(read_whole_file(dir.path / "tapped.nds"), expected);

    // Holding nothing between the passes: every new contents goes to its place in the file at
    // once, and is read back for the tap in its turn.
    recording_tap aside_tap;
    file_sink aside(dir.path / "aside.nds", &aside_tap);
    recording_visitor changing_all;
    rom.copy_to(aside, changing_all, 0);
    aside.commit();
    EXPECT_EQ(read_whole_file(dir.path / "aside.nds"), expected);
    EXPECT_EQ(aside_tap.seen, expected);
}

TEST_F(rebuild_test, a_banner_of_a_later_version_is_carried_whole_and_any_other_is_cut_as_before)
{
    // A version 3 banner: its Korean title ends at 0xA40, its stored length is 0x1240.
    bytes banner(0x1240, 0);
    for (std::size_t i = 0x20; i < banner.size(); ++i)
        banner[i] = static_cast<std::uint8_t>(i * 31 + 5);
    put_le16(banner, 0, 3);
    put_le16(banner, 6, crc16(byte_span(banner).subspan(0x20, 0xA40 - 0x20)));
    description.banner = banner;
    recording_visitor identity;
    bytes out = rebuild_sample(identity);
    const std::uint32_t at = get_le32(out, nds::hdr_banner_offset);
    ASSERT_LE(at + banner.size(), out.size());
    EXPECT_TRUE(std::equal(banner.begin(), banner.end(), out.begin() + at));
    EXPECT_EQ(identity.returned.at(make_section_code(section_kind::banner)),
              bytes(banner.begin(), banner.begin() + 0x840)); // what the visitor sees
    // The next section starts behind the whole banner.
    for (const rom_section& s : nds_rom(dir.path / "out.nds").list_sections())
        EXPECT_TRUE(s.offset <= at || s.offset >= at + banner.size()) << s.code;

    // The same bytes with a stale checksum are no banner of version 3: cut at 0x840 as always.
    put_le16(description.banner.value(), 6, static_cast<std::uint16_t>(get_le16(banner, 6) ^ 1));
    out = rebuild_sample(identity);
    const std::uint32_t cut_at = get_le32(out, nds::hdr_banner_offset);
    EXPECT_EQ(nds_rom(dir.path / "out.nds").banner_extension(), 0u);
    EXPECT_TRUE(std::all_of(out.begin() + cut_at + 0x840, out.begin() + cut_at + 0xA00,
                            [](auto b) { return b == 0; }));
}

// The sample made DSi-enhanced: behind its DS sections and some filler, the DSi area of an ARM9i
// binary, a hash table and an ARM7i binary, with an encrypted range inside the ARM9i.
struct dsi_sample {
    bytes image;
    std::uint32_t area_offset = 0;
    bytes area;

    explicit dsi_sample(const rom_description& d, bool start_in_units)
    {
        rom_description plain = d;
        plain.layout.pad_to_power_of_two = false;
        image = build_rom_image(plain).image;
        area_offset =
            static_cast<std::uint32_t>(round_up(image.size() + 0x1000, start_in_units ? 0x80000 : 0x200));
        image.resize(area_offset, 0xCC);
        for (std::uint32_t i = 0; i < 0x700; ++i)
            area.push_back(static_cast<std::uint8_t>(i * 13 + 7));
        append_bytes(image, area);
        const std::pair<std::size_t, std::uint32_t> fields[] = {
            {0x1C0, area_offset},         {0x1CC, 0x300},                   // ARM9i
            {0x1F0, area_offset + 0x400}, {0x1F4, 0x40},                    // hash table
            {0x1D0, area_offset + 0x500}, {0x1DC, 0x200},                   // ARM7i
            {0x220, area_offset + 0x10},  {0x224, 0x20},                    // encrypted, inside the ARM9i
            {0x210, area_offset + 0x700}, {0x1E0, 0x4000}, {0x1E4, 0x100}}; // the DS region's digest stays
        for (auto [field, value] : fields)
            put_le32(image, field, value);
        // A digest range and an encrypted range outside the area: neither moves nor belongs to it.
        for (const std::size_t field : {0x1E8, 0x228}) {
            put_le32(image, field, 0x4000);
            put_le32(image, field + 4, 0x100);
        }
        image[0x012] = 3;
        if (start_in_units) {
            put_le16(image, 0x090, static_cast<std::uint16_t>(area_offset >> 19));
            put_le16(image, 0x092, static_cast<std::uint16_t>(area_offset >> 19));
        }
    }
};

TEST_F(rebuild_test, a_dsi_area_is_carried_behind_the_ds_sections_with_its_fields)
{
    // A file grows, so the area lands elsewhere than in the source.
    recording_visitor grow = changing(make_section_code(file, 6), [](const bytes& b) {
        bytes grown = b;
        grown.resize(b.size() + 0x3000, 0x66);
        return grown;
    });
    for (const bool start_in_units : {false, true}) {
        SCOPED_TRACE(start_in_units ? "region start in 512 KiB units" : "no region start");
        const dsi_sample sample(description, start_in_units);
        const bytes out = rebuild_image(sample.image, grow);
        const std::uint32_t used = get_le32(out, nds::hdr_used_rom_size);
        const std::uint32_t at = get_le32(out, 0x1C0);
        EXPECT_EQ(at, round_up(used, start_in_units ? 0x80000 : 0x200));
        EXPECT_TRUE(start_in_units || at != sample.area_offset);
        ASSERT_LE(at + sample.area.size(), out.size());
        EXPECT_TRUE(std::equal(sample.area.begin(), sample.area.end(), out.begin() + at));
        const std::pair<std::size_t, std::uint32_t> moved[] = {
            {0x1CC, 0x300},     {0x1F0, at + 0x400}, {0x1D0, at + 0x500},
            {0x220, at + 0x10}, {0x210, at + 0x700}, {0x1E0, 0x4000},
            {0x1E4, 0x100},     {0x1E8, 0x4000},     {0x228, 0x4000}};
        for (auto [field, value] : moved)
            EXPECT_EQ(get_le32(out, field), value) << field;
        EXPECT_EQ(out.size(), std::size_t{1} << image_size_exponent(at + 0x700));
        EXPECT_EQ(get_le16(out, 0x092), start_in_units ? at >> 19 : 0u);
        EXPECT_EQ(get_le16(out, 0x090), start_in_units ? (used + 0x7FFFF) >> 19 : 0u);
        EXPECT_EQ(get_le16(out, nds::hdr_crc16), crc16(byte_span(out).first(nds::hdr_crc16)));
    }
}

TEST_F(rebuild_test, a_dsi_area_that_cannot_be_carried_leaves_a_rom_rebuilt_as_any_ds_rom)
{
    for (const auto& [field, value, status] :
         {std::tuple{0x1DC, 0x2000u, "not carried: it lies outside the file"}, // the ARM7i runs past the end
          std::tuple{0x1F0, 0x4000u, "not carried: it overlaps the DS sections"}}) {
        dsi_sample sample(description, false);
        put_le32(sample.image, field, value);
        recording_visitor identity;
        const bytes out = rebuild_image(sample.image, identity);
        nds_rom source(dir.path / "source.nds");
        EXPECT_EQ(dsi_area::of(source, source.list_sections()).status(), status);
        // The extended header as stored, nothing behind the DS sections.
        EXPECT_TRUE(std::equal(out.begin() + 0x180, out.begin() + 0x230, sample.image.begin() + 0x180));
        EXPECT_EQ(out.size(), std::size_t{1} << image_size_exponent(get_le32(out, nds::hdr_used_rom_size)));
        EXPECT_EQ(identity.entered.size(), source.list_sections().size() + 1);
    }
}

TEST_F(rebuild_test, errors_pass_through_and_leave_nothing_behind)
{
    write_whole_file(dir.path / "out.nds", bytes{'o', 'l', 'd'});
    struct late_failure : recording_visitor {
        void enter_section(std::uint32_t c) override
        {
            if (c == 0)
                throw std::runtime_error("stopped before the padding");
        }
    } late;
    EXPECT_EQ(error_of([&] { rebuild_sample(late); }), "stopped before the padding");

    EXPECT_EQ(dir.names(), (std::vector<std::string>{"out.nds", "source.nds"}));
    EXPECT_EQ(read_whole_file(dir.path / "out.nds"), (bytes{'o', 'l', 'd'}));
}

TEST(rom_layout, limits_of_the_rebuilt_rom_and_of_a_packed_overlay_length)
{
    EXPECT_EQ(section_start(0x201), 0x400u);
    // Up to 2 GiB the padded image stays at most 2 GiB; one byte more would pad it to 4 GiB.
    EXPECT_EQ(section_end(0x7FFFFE00, 0x200), 0x80000000u);
    EXPECT_EQ(error_of([] { section_end(0x7FFFFE00, 0x201); }),
              "nds_rom::copy_to failed - rebuilt ROM would reach 4 GiB");
    EXPECT_THROW(section_end(0x200, 0xFFFFFFFF), std::runtime_error); // wraps a 32-bit sum
    EXPECT_EQ(std::tuple(image_size_exponent(0x80000000), image_size_exponent(2), capacity_code(16)),
              std::tuple(31u, 1u, 0));
    EXPECT_EQ(overlay_stored_word(0xFF123456, 0xFFFFFF), 0xFFFFFFFFu);
    EXPECT_EQ(error_of([] { overlay_stored_word(0x01000010, 0x1000000); }),
              "nds_rom::copy_to failed - compressed overlay too large for its table entry");
}

} // namespace
} // namespace qm::test
