#include "rom/dsi_area.h"

#include "rom/nds_format.h"
#include "rom/nds_rom.h"

#include <algorithm>
#include <optional>

namespace qm {

namespace {

struct region_field {
    std::size_t offset_field;
    std::size_t size_field;
    bool makes_up_area; // otherwise a range that lies inside the others, when it is set
};
constexpr region_field region_fields[] = {
    {nds::hdr_arm9i_offset, nds::hdr_arm9i_size, true},
    {nds::hdr_arm7i_offset, nds::hdr_arm7i_size, true},
    {nds::hdr_digest_twl_offset, nds::hdr_digest_twl_size, false},
    {nds::hdr_sector_hashes_offset, nds::hdr_sector_hashes_size, true},
    {nds::hdr_block_hashes_offset, nds::hdr_block_hashes_size, true},
    {nds::hdr_encrypted1_offset, nds::hdr_encrypted1_size, false},
    {nds::hdr_encrypted2_offset, nds::hdr_encrypted2_size, false},
};

struct region {
    std::uint32_t offset;
    std::uint32_t size;
};

// The region a pair of fields names, when the fields are held and both are non-zero.
std::optional<region> region_of(byte_span fields, const region_field& f)
{
    const std::size_t base = nds::hdr_dsi_fields;
    if (f.size_field + 4 > base + fields.size())
        return std::nullopt;
    const region r{get_le32(fields, f.offset_field - base), get_le32(fields, f.size_field - base)};
    if (r.offset == 0 || r.size == 0)
        return std::nullopt;
    return r;
}

} // namespace

dsi_area dsi_area::of(nds_rom& rom, const std::vector<rom_section>& sections)
{
    dsi_area area;
    const auto header = rom.header();
    const std::uint32_t header_section =
        std::max(get_le32(header, nds::hdr_header_size), nds::min_header_section);
    const std::uint32_t held = std::min<std::uint32_t>(
        {header_section, rom.size(), static_cast<std::uint32_t>(nds::hdr_dsi_fields_end)});
    if ((header[nds::hdr_unit_code] & nds::unit_code_dsi) == 0 || held <= nds::hdr_dsi_fields)
        return area;
    bytes fields = rom.read_range(nds::hdr_dsi_fields, held - nds::hdr_dsi_fields);

    std::uint64_t start = UINT64_MAX, end = 0;
    for (const region_field& f : region_fields) {
        const std::optional<region> r = region_of(fields, f);
        if (!f.makes_up_area || !r)
            continue;
        if (!in_bounds(rom.size(), r->offset, r->size)) {
            area.status_text = "not carried: it lies outside the file";
            return area;
        }
        start = std::min<std::uint64_t>(start, r->offset);
        end = std::max<std::uint64_t>(end, std::uint64_t{r->offset} + r->size);
    }
    if (end == 0)
        return area;
    // Laid out behind the DS sections, the area must lie behind all of them in the source too,
    // or carrying it whole would copy some of their old bytes along.
    for (const rom_section& s : sections)
        if (s.size != 0 && std::uint64_t{s.offset} + s.size > start) {
            area.status_text = "not carried: it overlaps the DS sections";
            return area;
        }
    area.header_fields = std::move(fields);
    area.region_start_in_units = get_le16(header, nds::hdr_twl_region_start) != 0;
    area.source_offset = static_cast<std::uint32_t>(start);
    area.area_size = static_cast<std::uint32_t>(end - start);
    area.status_text = "carried";
    return area;
}

std::uint64_t dsi_area::place_after(std::uint64_t ds_end) const noexcept
{
    return round_up(ds_end, region_start_in_units ? nds::dsi_region_unit : nds::section_alignment);
}

void move_dsi_regions(mutable_byte_span fields, std::uint32_t from, std::uint32_t size, std::uint64_t to)
{
    const std::uint64_t area_end = std::uint64_t{from} + size;
    for (const region_field& f : region_fields) {
        const std::optional<region> r = region_of(fields, f);
        if (r && r->offset >= from && r->offset + std::uint64_t{r->size} <= area_end)
            put_le32(fields, f.offset_field - nds::hdr_dsi_fields,
                     static_cast<std::uint32_t>(to + (r->offset - from)));
    }
}

bytes dsi_area::relocate(bytes& header, std::uint64_t at, std::uint64_t ds_end) const
{
    bytes fields = header_fields;
    move_dsi_regions(fields, source_offset, area_size, at);
    const std::size_t total = nds::hdr_total_used_size - nds::hdr_dsi_fields;
    if (total + 4 <= fields.size() && get_le32(fields, total) != 0)
        put_le32(fields, total, static_cast<std::uint32_t>(at + area_size));
    if (region_start_in_units)
        put_le16(header, nds::hdr_twl_region_start, static_cast<std::uint16_t>(at / nds::dsi_region_unit));
    if (get_le16(header, nds::hdr_ntr_region_size) != 0)
        put_le16(header, nds::hdr_ntr_region_size,
                 static_cast<std::uint16_t>((ds_end + nds::dsi_region_unit - 1) / nds::dsi_region_unit));
    return fields;
}

} // namespace qm
