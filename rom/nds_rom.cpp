// Opening a ROM: the validity test, the tables kept in memory, and the readers that fetch
// everything else from the source on demand.

#include "rom/nds_rom.h"

#include "common/phase_timer.h"
#include "rom/fnt.h"
#include "rom/nds_format.h"

#include <limits>
#include <stdexcept>

namespace qm {

nds_rom::nds_rom(const std::filesystem::path& path) : nds_rom(std::make_unique<file_source>(path)) {}

nds_rom::nds_rom(std::unique_ptr<rom_source> source) : image(std::move(source))
{
    if (!load_tables())
        throw std::runtime_error("nds_rom::nds_rom - input file is not a valid NDS ROM");
    find_banner_extension();
}

std::uint32_t nds_rom::game_code() const noexcept
{
    return get_le32(raw_header, nds::hdr_game_code);
}

bool nds_rom::load_tables()
{
    const std::uint64_t length = image->size();
    // Offsets in the format are 32-bit: a file of 4 GiB or more cannot be a ROM.
    if (length < rom_header_length || length > std::numeric_limits<std::uint32_t>::max())
        return false;
    file_size = static_cast<std::uint32_t>(length);

    image->read_at(0, raw_header);
    const auto field = [this](std::size_t offset) { return get_le32(raw_header, offset); };
    const auto inside = [this](std::uint32_t offset, std::uint32_t size) {
        return in_bounds(file_size, offset, size);
    };

    if (!inside(0, field(nds::hdr_header_size)) ||
        !inside(field(nds::hdr_arm9_offset), field(nds::hdr_arm9_size)) ||
        !inside(field(nds::hdr_arm7_offset), field(nds::hdr_arm7_size)) ||
        !inside(field(nds::hdr_fnt_offset), field(nds::hdr_fnt_size)) ||
        !inside(field(nds::hdr_fat_offset), field(nds::hdr_fat_size)) ||
        !inside(field(nds::hdr_arm9_ovt_offset), field(nds::hdr_arm9_ovt_size)) ||
        !inside(field(nds::hdr_arm7_ovt_offset), field(nds::hdr_arm7_ovt_size)) ||
        !inside(field(nds::hdr_banner_offset), nds::banner_length))
        return false;

    fnt = read_range(field(nds::hdr_fnt_offset), field(nds::hdr_fnt_size));
    fat = read_range(field(nds::hdr_fat_offset), field(nds::hdr_fat_size));
    arm9_ovt = read_range(field(nds::hdr_arm9_ovt_offset), field(nds::hdr_arm9_ovt_size));
    arm7_ovt = read_range(field(nds::hdr_arm7_ovt_offset), field(nds::hdr_arm7_ovt_size));

    const std::uint32_t fat_entries = static_cast<std::uint32_t>(fat.size() / nds::fat_entry_length);
    for (auto [table, offset_field] :
         {std::pair{&arm9_ovt, nds::hdr_arm9_ovt_offset}, std::pair{&arm7_ovt, nds::hdr_arm7_ovt_offset}}) {
        // A table at offset 0 gets no section of its own, so the rebuild could not place it
        // anywhere but over the header.
        if (!table->empty() && field(offset_field) == 0)
            return false;
        if (table->size() % nds::ovt_entry_length != 0)
            return false;
        for (std::size_t e = 0; e < table->size(); e += nds::ovt_entry_length)
            if (get_le32(*table, e + nds::ovt_file_id) >= fat_entries)
                return false;
    }

    if (fat.size() % nds::fat_entry_length != 0)
        return false;
    for (std::size_t e = 0; e < fat.size(); e += nds::fat_entry_length) {
        const std::uint32_t start = get_le32(fat, e);
        const std::uint32_t end = get_le32(fat, e + 4);
        if (start > file_size || end > file_size || end < start)
            return false;
    }

    if (!fnt_is_valid(fnt, fat_entries))
        return false;

    const std::uint64_t arm9_end = std::uint64_t{field(nds::hdr_arm9_offset)} + field(nds::hdr_arm9_size);
    arm9_footer = false;
    if (arm9_end + nds::arm9_footer_length <= file_size) {
        const bytes word = read_range(static_cast<std::uint32_t>(arm9_end), 4);
        arm9_footer = get_le32(word, 0) == nds::arm9_footer_magic;
    }
    return true;
}

bytes nds_rom::read_range(std::uint32_t offset, std::uint32_t size)
{
    if (size == 0)
        return {};
    // Callers only ask for checked blocks; this keeps a bad request from allocating blindly.
    if (!in_bounds(file_size, offset, size))
        throw std::runtime_error("nds_rom::read_range failed - range outside the input file");
    bytes data(size);
    const timed_phase timing(job_phase::reading);
    image->read_at(offset, data);
    return data;
}

void nds_rom::find_banner_extension()
{
    // Only a banner that is plainly of a later version counts: its version field says so, the
    // file holds all of it, and the CRC-16 it stores for its version's range is right. Any other
    // is taken as its first 0x840 bytes, as every banner is.
    const std::uint32_t offset = get_le32(raw_header, nds::hdr_banner_offset);
    if (offset == 0)
        return;
    const std::uint16_t version = get_le16(read_range(offset, 2), 0);
    for (const nds::banner_layout& layout : nds::later_banners) {
        if (layout.version != version || !in_bounds(file_size, offset, layout.length))
            continue;
        const bytes banner = read_range(offset, layout.length);
        const byte_span covered =
            byte_span(banner).subspan(layout.crc_begin, layout.crc_end - layout.crc_begin);
        if (get_le16(banner, layout.crc_field) == crc16(covered))
            banner_extra = layout.length - nds::banner_length;
        return;
    }
}

bytes nds_rom::read_arm9(bool with_footer)
{
    const std::uint32_t extra = with_footer && arm9_footer ? nds::arm9_footer_length : 0;
    return read_range(get_le32(raw_header, nds::hdr_arm9_offset),
                      get_le32(raw_header, nds::hdr_arm9_size) + extra);
}

bytes nds_rom::read_arm7()
{
    return read_range(get_le32(raw_header, nds::hdr_arm7_offset), get_le32(raw_header, nds::hdr_arm7_size));
}

bytes nds_rom::read_file(std::uint32_t id)
{
    if (id >= fat.size() / nds::fat_entry_length)
        throw std::runtime_error("nds_rom::read_file failed - unknown file ID");
    const std::uint32_t start = get_le32(fat, std::size_t{id} * nds::fat_entry_length);
    const std::uint32_t end = get_le32(fat, std::size_t{id} * nds::fat_entry_length + 4);
    return read_range(start, end - start);
}

} // namespace qm
