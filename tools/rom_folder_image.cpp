#include "tools/rom_folder_image.h"

#include "common/file_io.h"
#include "lz/nds_lz.h"
#include "rom/dsi_area.h"
#include "rom/nds_format.h"
#include "rom/rom_visitor.h"

#include <algorithm>
#include <limits>
#include <map>
#include <stdexcept>

namespace qm {

namespace {

namespace fs = std::filesystem;

[[noreturn]] void fail(const std::string& where, const std::string& reason)
{
    throw std::runtime_error("rom folder - " + where + ": " + reason);
}

bool is_overlay(std::uint16_t kind)
{
    return kind == section_kind::arm9_overlay || kind == section_kind::arm7_overlay;
}

// The first `length` bytes of a file: the header's fields, without a long header section whole.
bytes read_start(const fs::path& path, std::size_t length)
{
    std::ifstream in(path, std::ios::binary);
    bytes data(length);
    in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(length));
    if (static_cast<std::size_t>(in.gcount()) != length)
        fail(path.filename().string(), "can't read its first " + std::to_string(length) + " bytes");
    return data;
}

// The header's offset and size fields for a section of a kind that has them.
struct header_fields {
    std::uint16_t kind;
    std::size_t offset_field;
    std::size_t size_field; // 0: none
};
constexpr header_fields located_kinds[] = {
    {section_kind::arm9, nds::hdr_arm9_offset, nds::hdr_arm9_size},
    {section_kind::arm7, nds::hdr_arm7_offset, nds::hdr_arm7_size},
    {section_kind::fnt, nds::hdr_fnt_offset, nds::hdr_fnt_size},
    {section_kind::fat, nds::hdr_fat_offset, nds::hdr_fat_size},
    {section_kind::arm9_ovt, nds::hdr_arm9_ovt_offset, nds::hdr_arm9_ovt_size},
    {section_kind::arm7_ovt, nds::hdr_arm7_ovt_offset, nds::hdr_arm7_ovt_size},
    {section_kind::banner, nds::hdr_banner_offset, 0},
};

} // namespace

rom_folder_image::rom_folder_image(fs::path folder, const rom_folder_manifest& m) : dir(std::move(folder))
{
    // The header's fields (the DSi ones included) in memory, the rest of its section from the file.
    const std::uint32_t held = std::min<std::uint32_t>(m.header_length, nds::hdr_dsi_fields_end);
    const std::string header_path = rom_folder_fixed_path(section_kind::header);
    add_piece({0, held, read_start(dir / header_path, held), {}, 0});
    if (m.header_length > held)
        add_piece({held, m.header_length - held, {}, header_path, held});

    // Every other section one byte or more after the end of the one before.
    std::uint64_t end = m.header_length;
    const auto next_place = [&end](piece p, const std::string& where) {
        p.at = end + 1;
        end = p.at + p.length;
        if (end > std::numeric_limits<std::uint32_t>::max())
            fail(where, "the folder's files come to 4 GiB or more, more than a DS ROM can hold");
        return p;
    };
    std::map<std::uint32_t, std::size_t> overlay_of_file; // FAT file -> the first overlay section holding it
    std::size_t fat_piece = 0;
    section_pieces.assign(m.sections.size(), 0);
    for (std::size_t i = 1; i < m.sections.size(); ++i) {
        const rom_folder_section& s = m.sections[i];
        const std::uint16_t kind = section_kind_of(s.code);
        if (is_overlay(kind)) {
            if (const auto shared = overlay_of_file.find(s.file); shared != overlay_of_file.end()) {
                // One FAT file holds both overlays, so they cannot differ.
                const rom_folder_section& first = m.sections[shared->second];
                if (s.packed != first.packed ||
                    read_whole_file(dir / s.path) != read_whole_file(dir / first.path))
                    fail(s.path, "it shares FAT file " + std::to_string(s.file) + " with " + first.path +
                                     ", so the two must hold the same bytes");
                section_pieces[i] = section_pieces[shared->second];
                continue;
            }
            overlay_of_file.emplace(s.file, i);
        }
        piece p;
        if (kind == section_kind::fat) {
            p.data.resize(std::size_t{m.fat_entries} * nds::fat_entry_length); // filled below
        } else if (is_overlay(kind) && s.packed) {
            // Stored as the ROM stores it; the rebuild expands it and packs it again.
            p.data = nds_lz_comp(read_whole_file(dir / s.path));
        } else {
            p.path = s.path;
            p.length = fs::file_size(dir / s.path);
        }
        if (p.path.empty())
            p.length = p.data.size();
        section_pieces[i] = add_piece(next_place(std::move(p), s.path.empty() ? "the FAT" : s.path));
        if (kind == section_kind::fat)
            fat_piece = section_pieces[i];
    }
    if (m.dsi.state == dsi_state::carried) {
        const piece area{0, fs::file_size(dir / m.dsi.path), {}, m.dsi.path, 0};
        dsi_at = pieces[add_piece(next_place(area, m.dsi.path))].at;
    }
    image_size = end;

    // The FAT and the header point at the places.
    bytes& header = pieces.front().data;
    bytes& fat = pieces[fat_piece].data;
    for (std::size_t i = 0; i < m.sections.size(); ++i) {
        const rom_folder_section& s = m.sections[i];
        const std::uint16_t kind = section_kind_of(s.code);
        const piece& p = pieces[section_pieces[i]];
        const auto start = static_cast<std::uint32_t>(p.at);
        auto length = static_cast<std::uint32_t>(p.length);
        if (kind == section_kind::file || is_overlay(kind)) {
            put_le32(fat, std::size_t{s.file} * nds::fat_entry_length, start);
            put_le32(fat, std::size_t{s.file} * nds::fat_entry_length + 4, start + length);
        }
        for (const header_fields& f : located_kinds) {
            if (f.kind != kind)
                continue;
            // The ARM9 size leaves out the footer's 12 bytes.
            if (kind == section_kind::arm9 && m.arm9_footer)
                length -= nds::arm9_footer_length;
            put_le32(header, f.offset_field, start);
            if (f.size_field != 0)
                put_le32(header, f.size_field, length);
        }
    }
    if (m.dsi.state == dsi_state::carried)
        move_dsi_regions(mutable_byte_span(header).subspan(nds::hdr_dsi_fields), m.dsi.offset, m.dsi.size,
                         dsi_at);
}

std::size_t rom_folder_image::add_piece(piece p)
{
    pieces.push_back(std::move(p));
    return pieces.size() - 1;
}

void rom_folder_image::read_at(std::uint64_t offset, mutable_byte_span into)
{
    if (offset > image_size || into.size() > image_size - offset)
        throw std::runtime_error("rom_folder_image::read_at failed - range outside the image");
    std::fill(into.begin(), into.end(), std::uint8_t{0}); // the gaps
    const std::uint64_t end = offset + into.size();
    auto it = std::partition_point(pieces.begin(), pieces.end(),
                                   [offset](const piece& p) { return p.at + p.length <= offset; });
    for (; it != pieces.end() && it->at < end; ++it) {
        const std::uint64_t from = std::max(offset, it->at);
        const std::uint64_t to = std::min(end, it->at + it->length);
        if (from < to)
            read_piece(*it, from - it->at, into.subspan(from - offset, to - from));
    }
}

void rom_folder_image::read_piece(const piece& p, std::uint64_t offset, mutable_byte_span into)
{
    if (p.path.empty()) {
        std::copy_n(p.data.begin() + static_cast<std::ptrdiff_t>(offset), into.size(), into.begin());
        return;
    }
    const auto changed = [&] {
        open_path.clear();
        fail(p.path, "it changed while the ROM was being packed");
    };
    if (open_path != p.path) {
        open_file.close();
        open_path.clear();
        std::error_code error;
        if (fs::file_size(dir / p.path, error) != p.from + p.length || error)
            changed();
        open_file.open(dir / p.path, std::ios::binary);
        if (!open_file)
            fail(p.path, "can't read it");
        open_path = p.path;
    }
    open_file.clear();
    open_file.seekg(static_cast<std::streamoff>(p.from + offset));
    open_file.read(reinterpret_cast<char*>(into.data()), static_cast<std::streamsize>(into.size()));
    if (static_cast<std::size_t>(open_file.gcount()) != into.size())
        changed();
}

} // namespace qm
