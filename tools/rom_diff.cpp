#include "tools/rom_diff.h"

#include "cpk/cpk_visit.h"
#include "rom/fnt.h"
#include "rom/nds_format.h"
#include "rom/nds_rom.h"
#include "rom/section_contents.h"

#include <map>
#include <optional>
#include <stdexcept>

namespace qm {

namespace {

using key = std::pair<std::uint32_t, std::uint32_t>; // code, entry

// The header fields that the rebuild rewrites to place the sections.
constexpr std::pair<std::size_t, std::size_t> layout_fields[] = {
    {nds::hdr_capacity, 1},        {nds::hdr_arm9_offset, 4},   {nds::hdr_arm9_size, 4},
    {nds::hdr_arm7_offset, 4},     {nds::hdr_arm7_size, 4},     {nds::hdr_fnt_offset, 4},
    {nds::hdr_fnt_size, 4},        {nds::hdr_fat_offset, 4},    {nds::hdr_fat_size, 4},
    {nds::hdr_arm9_ovt_offset, 4}, {nds::hdr_arm9_ovt_size, 4}, {nds::hdr_arm7_ovt_offset, 4},
    {nds::hdr_arm7_ovt_size, 4},   {nds::hdr_banner_offset, 4}, {nds::hdr_used_rom_size, 4},
    {nds::hdr_crc16, 2},
};

// A section's contents with what only reflects the layout cleared; nothing for the FAT, which
// holds nothing else.
std::optional<bytes> comparable_contents(nds_rom& rom, const rom_section& s)
{
    switch (section_kind_of(s.code)) {
    case section_kind::fat:
        return std::nullopt;
    case section_kind::header: {
        bytes h = read_section_contents(rom, s);
        for (auto [offset, length] : layout_fields)
            for (std::size_t i = 0; i < length; ++i)
                put_u8(h, offset + i, 0);
        return h;
    }
    case section_kind::arm9_ovt:
    case section_kind::arm7_ovt: {
        bytes table = read_section_contents(rom, s);
        for (std::size_t e = 0; e + nds::ovt_entry_length <= table.size(); e += nds::ovt_entry_length) {
            put_le32(table, e + nds::ovt_ram_size, 0);
            put_le32(table, e + nds::ovt_stored,
                     get_le32(table, e + nds::ovt_stored) & ~nds::ovt_stored_size_mask);
        }
        return table;
    }
    default:
        return read_section_contents(rom, s);
    }
}

bool is_cpk(const bytes& b)
{
    return b.size() >= 4 && b[0] == 'C' && b[1] == 'P' && b[2] == 'K' && b[3] == ' ';
}

struct archive_entry {
    std::uint32_t stored = 0;
    bytes expanded;
};

std::map<std::uint32_t, archive_entry> entries_of(const bytes& archive)
{
    std::map<std::uint32_t, archive_entry> out;
    for (const cpk_entry& e : cpk_entries(archive))
        out[e.id].stored = e.file_size;
    cpk_visit(archive,
              [&](std::uint32_t id, byte_span data) { out[id].expanded.assign(data.begin(), data.end()); });
    return out;
}

// The entries of two archives that differ, by id; nothing when either cannot be read as one.
void diff_archives(const bytes& a, const bytes& b, const rom_difference& section,
                   std::vector<rom_difference>& out)
{
    std::map<std::uint32_t, archive_entry> ea, eb;
    try {
        ea = entries_of(a);
        eb = entries_of(b);
    } catch (const std::runtime_error&) {
        return;
    }
    const auto add = [&](rom_difference::change what, std::uint32_t id, const archive_entry* x,
                         const archive_entry* y) {
        rom_difference d = section;
        d.what = what;
        d.in_archive = true;
        d.archive_entry = id;
        if (x) {
            d.stored_a = x->stored;
            d.expanded_a = static_cast<std::uint32_t>(x->expanded.size());
        }
        if (y) {
            d.stored_b = y->stored;
            d.expanded_b = static_cast<std::uint32_t>(y->expanded.size());
        }
        out.push_back(std::move(d));
    };
    for (const auto& [id, x] : ea) {
        const auto y = eb.find(id);
        if (y == eb.end())
            add(rom_difference::change::only_in_a, id, &x, nullptr);
        else if (x.expanded != y->second.expanded)
            add(rom_difference::change::changed, id, &x, &y->second);
    }
    for (const auto& [id, y] : eb)
        if (ea.count(id) == 0)
            add(rom_difference::change::only_in_b, id, nullptr, &y);
}

rom_difference difference(rom_difference::change what, const rom_section& s, const fnt_path_index& names)
{
    rom_difference d;
    d.what = what;
    d.code = s.code;
    d.entry = s.entry;
    if (section_kind_of(s.code) == section_kind::file && s.entry <= UINT16_MAX)
        d.path = names.path_of(static_cast<std::uint16_t>(s.entry)).value_or("");
    return d;
}

} // namespace

std::vector<rom_difference> diff_roms(const std::filesystem::path& a_path,
                                      const std::filesystem::path& b_path)
{
    nds_rom a(a_path);
    nds_rom b(b_path);
    const fnt_path_index a_names(a.fnt_bytes()), b_names(b.fnt_bytes());
    const std::vector<rom_section> a_sections = a.list_sections();
    const std::vector<rom_section> b_sections = b.list_sections();
    std::map<key, const rom_section*> in_b;
    for (const rom_section& s : b_sections)
        in_b.emplace(key{s.code, s.entry}, &s);

    std::vector<rom_difference> out;
    std::map<key, bool> matched;
    for (const rom_section& s : a_sections) {
        const auto other = in_b.find(key{s.code, s.entry});
        if (other == in_b.end()) {
            out.push_back(difference(rom_difference::change::only_in_a, s, a_names));
            continue;
        }
        matched[other->first] = true;
        const std::optional<bytes> x = comparable_contents(a, s);
        const std::optional<bytes> y = comparable_contents(b, *other->second);
        if (x == y)
            continue;
        const rom_difference changed = difference(rom_difference::change::changed, s, a_names);
        out.push_back(changed);
        if (x && y && is_cpk(*x) && is_cpk(*y))
            diff_archives(*x, *y, changed, out);
    }
    for (const rom_section& s : b_sections)
        if (!matched.count(key{s.code, s.entry}))
            out.push_back(difference(rom_difference::change::only_in_b, s, b_names));
    return out;
}

} // namespace qm
