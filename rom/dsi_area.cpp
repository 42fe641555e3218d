#include "rom/dsi_area.h"

#include "rom/nds_format.h"
#include "rom/nds_rom.h"

#include <algorithm>
#include <optional>
#include <stdexcept>

namespace qm {

namespace {

// Fields of the header beyond the DS ones, as file offsets.
constexpr std::size_t hdr_unit_code = 0x012;        // bit 1 set: DSi-enhanced (2) or DSi only (3)
constexpr std::size_t hdr_ntr_region_size = 0x090;  // u16, in 512 KiB units; 0 when not given
constexpr std::size_t hdr_twl_region_start = 0x092; // u16, in 512 KiB units; 0 when not given
constexpr std::size_t hdr_total_used_size = 0x210;  // including the DSi area; 0 when not given
constexpr std::size_t fields_end = 0x230;
constexpr std::uint64_t region_unit = 0x80000;

struct region_field {
    std::size_t offset_field;
    std::size_t size_field;
    bool makes_up_area; // otherwise a range that lies inside the others, when it is set
};
constexpr region_field region_fields[] = {
    {0x1C0, 0x1CC, true},  // ARM9i binary
    {0x1D0, 0x1DC, true},  // ARM7i binary
    {0x1E8, 0x1EC, false}, // the range the DSi region's digest covers
    {0x1F0, 0x1F4, true},  // digest sector hash table
    {0x1F8, 0x1FC, true},  // digest block hash table
    {0x220, 0x224, false}, // encrypted range 1
    {0x228, 0x22C, false}, // encrypted range 2
};

struct region {
    std::uint32_t offset;
    std::uint32_t size;
};

// The region a pair of fields names, when the fields are held and both are non-zero.
std::optional<region> region_of(byte_span fields, const region_field& f)
{
    const std::size_t base = dsi_area::extended_header_offset;
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
    const std::uint32_t held = std::min<std::uint32_t>({header_section, rom.size(), fields_end});
    if ((header[hdr_unit_code] & 0x02) == 0 || held <= extended_header_offset)
        return area;
    area.header_fields = rom.read_range(extended_header_offset, held - extended_header_offset);

    std::uint64_t start = UINT64_MAX, end = 0;
    for (const region_field& f : region_fields) {
        const std::optional<region> r = region_of(area.header_fields, f);
        if (!f.makes_up_area || !r)
            continue;
        if (!in_bounds(rom.size(), r->offset, r->size))
            throw std::runtime_error("nds_rom::copy_to failed - the DSi area lies outside the input file");
        start = std::min<std::uint64_t>(start, r->offset);
        end = std::max<std::uint64_t>(end, std::uint64_t{r->offset} + r->size);
    }
    if (end == 0)
        return area;
    // Laid out behind the DS sections, the area must lie behind all of them in the source too,
    // or carrying it whole would copy some of their old bytes along.
    for (const rom_section& s : sections)
        if (s.size != 0 && std::uint64_t{s.offset} + s.size > start)
            throw std::runtime_error("nds_rom::copy_to failed - the DSi area overlaps the DS sections, so it "
                                     "can't be carried over");
    area.region_start_in_units = get_le16(header, hdr_twl_region_start) != 0;
    area.source_offset = static_cast<std::uint32_t>(start);
    area.area_size = static_cast<std::uint32_t>(end - start);
    return area;
}

std::uint64_t dsi_area::place_after(std::uint64_t ds_end) const noexcept
{
    return round_up(ds_end, region_start_in_units ? region_unit : nds::section_alignment);
}

bytes dsi_area::relocate(bytes& header, std::uint64_t at, std::uint64_t ds_end) const
{
    bytes fields = header_fields;
    const std::uint64_t area_end = std::uint64_t{source_offset} + area_size;
    for (const region_field& f : region_fields) {
        const std::optional<region> r = region_of(fields, f);
        if (r && r->offset >= source_offset && r->offset + std::uint64_t{r->size} <= area_end)
            put_le32(fields, f.offset_field - extended_header_offset,
                     static_cast<std::uint32_t>(at + (r->offset - source_offset)));
    }
    const std::size_t total = hdr_total_used_size - extended_header_offset;
    if (total + 4 <= fields.size() && get_le32(fields, total) != 0)
        put_le32(fields, total, static_cast<std::uint32_t>(at + area_size));
    if (region_start_in_units)
        put_le16(header, hdr_twl_region_start, static_cast<std::uint16_t>(at / region_unit));
    if (get_le16(header, hdr_ntr_region_size) != 0)
        put_le16(header, hdr_ntr_region_size,
                 static_cast<std::uint16_t>((ds_end + region_unit - 1) / region_unit));
    return fields;
}

} // namespace qm
