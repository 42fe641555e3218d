// The sections into which a ROM is cut for rebuilding, in source order.

#include "rom/nds_format.h"
#include "rom/nds_rom.h"

#include <algorithm>

namespace qm {

std::vector<rom_section> nds_rom::list_sections() const
{
    const auto field = [this](std::size_t offset) { return get_le32(raw_header, offset); };
    const auto fat_start = [this](std::uint32_t id) {
        return get_le32(fat, std::size_t{id} * nds::fat_entry_length);
    };
    const auto fat_end = [this](std::uint32_t id) {
        return get_le32(fat, std::size_t{id} * nds::fat_entry_length + 4);
    };
    const std::uint32_t fat_entries = static_cast<std::uint32_t>(fat.size() / nds::fat_entry_length);

    std::vector<rom_section> sections;
    sections.reserve(fat_entries + 8);

    // A header size field below the header's own length still gets the whole header, so that
    // no later section lands on top of it.
    sections.push_back({0, std::max(field(nds::hdr_header_size), nds::min_header_section),
                        make_section_code(section_kind::header)});
    sections.push_back({field(nds::hdr_arm9_offset),
                        field(nds::hdr_arm9_size) + (arm9_footer ? nds::arm9_footer_length : 0),
                        make_section_code(section_kind::arm9)});
    sections.push_back(
        {field(nds::hdr_arm7_offset), field(nds::hdr_arm7_size), make_section_code(section_kind::arm7)});
    sections.push_back(
        {field(nds::hdr_fnt_offset), field(nds::hdr_fnt_size), make_section_code(section_kind::fnt)});
    sections.push_back(
        {field(nds::hdr_fat_offset), field(nds::hdr_fat_size), make_section_code(section_kind::fat)});

    // Overlays: ARM7 table first, each table from its last entry to its first. The section keeps
    // the entry's index, since the overlay id in its code need not be one.
    std::vector<bool> is_overlay_file(fat_entries, false);
    for (auto [table, kind] : {std::pair{&arm7_ovt, section_kind::arm7_overlay},
                               std::pair{&arm9_ovt, section_kind::arm9_overlay}}) {
        for (std::size_t index = table->size() / nds::ovt_entry_length; index-- > 0;) {
            const std::size_t entry = index * nds::ovt_entry_length;
            const std::uint32_t file = get_le32(*table, entry + nds::ovt_file_id);
            const auto id = static_cast<std::uint16_t>(get_le32(*table, entry + nds::ovt_id));
            sections.push_back({fat_start(file), fat_end(file) - fat_start(file), make_section_code(kind, id),
                                static_cast<std::uint32_t>(index)});
            is_overlay_file[file] = true;
        }
    }

    for (std::uint32_t id = 0; id < fat_entries; ++id)
        if (!is_overlay_file[id])
            sections.push_back({fat_start(id), fat_end(id) - fat_start(id),
                                make_section_code(section_kind::file, static_cast<std::uint16_t>(id)), id});

    if (field(nds::hdr_arm9_ovt_offset) != 0)
        sections.push_back({field(nds::hdr_arm9_ovt_offset), field(nds::hdr_arm9_ovt_size),
                            make_section_code(section_kind::arm9_ovt)});
    if (field(nds::hdr_arm7_ovt_offset) != 0)
        sections.push_back({field(nds::hdr_arm7_ovt_offset), field(nds::hdr_arm7_ovt_size),
                            make_section_code(section_kind::arm7_ovt)});
    if (field(nds::hdr_banner_offset) != 0)
        sections.push_back(
            {field(nds::hdr_banner_offset), nds::banner_length, make_section_code(section_kind::banner)});

    // Stable, so that sections at the same offset keep the order above from run to run.
    std::stable_sort(sections.begin(), sections.end(),
                     [](const rom_section& a, const rom_section& b) { return a.offset < b.offset; });
    return sections;
}

} // namespace qm
