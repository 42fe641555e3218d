#include "rom/section_contents.h"

#include "lz/nds_lz.h"
#include "rom/nds_format.h"

namespace qm {

byte_span overlay_entry_of(const nds_rom& rom, const rom_section& section)
{
    const bytes& table = section_kind_of(section.code) == section_kind::arm9_overlay ? rom.arm9_ovt_bytes()
                                                                                     : rom.arm7_ovt_bytes();
    const std::size_t offset = std::size_t{section.entry} * nds::ovt_entry_length;
    require_bounds(table.size(), offset, nds::ovt_entry_length);
    return byte_span(table).subspan(offset, nds::ovt_entry_length);
}

bool overlay_is_compressed(byte_span entry)
{
    return ((get_le32(entry, nds::ovt_stored) >> nds::ovt_flag_shift) & nds::ovt_flag_compressed) != 0;
}

bytes read_section_contents(nds_rom& rom, const rom_section& section)
{
    switch (section_kind_of(section.code)) {
    case section_kind::arm9:
        return rom.read_arm9(true);
    case section_kind::arm7:
        return rom.read_arm7();
    case section_kind::file:
        return rom.read_file(section.entry);
    case section_kind::arm9_overlay:
    case section_kind::arm7_overlay: {
        const byte_span entry = overlay_entry_of(rom, section);
        bytes stored = rom.read_file(get_le32(entry, nds::ovt_file_id));
        if (overlay_is_compressed(entry))
            return nds_lz_inplace_decomp(std::move(stored));
        return stored;
    }
    default:
        return rom.read_range(section.offset, section.size);
    }
}

} // namespace qm
