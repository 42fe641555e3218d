// Reading a ROM folder back: the manifest, and the folder's files checked against it and against
// the tables the folder holds, so that a rebuild from it cannot go out of step with the ROM's own
// tables.

#include "common/file_io.h"
#include "rom/fnt.h"
#include "rom/nds_format.h"
#include "rom/rom_visitor.h"
#include "rom/section_contents.h"
#include "tools/rom_folder.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <stdexcept>
#include <string>

namespace qm {

namespace {

namespace fs = std::filesystem;

[[noreturn]] void fail(const std::string& where, const std::string& reason)
{
    throw std::runtime_error("rom folder - " + where + ": " + reason);
}

std::string line_of(const rom_folder_section& s)
{
    return std::string(rom_folder_manifest_name) + " line " + std::to_string(s.line);
}

std::string hex(std::uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

class folder {
public:
    explicit folder(fs::path dir) : dir(std::move(dir)) {}

    // The size of a file the manifest lists, which must be a plain file (not a link that could
    // lead out of the folder).
    std::uint64_t size_of(const std::string& path) const
    {
        std::error_code error;
        const fs::file_status status = fs::symlink_status(dir / path, error);
        if (!fs::exists(status))
            fail(path, "missing (a file can be changed, not removed or renamed)");
        if (!fs::is_regular_file(status))
            fail(path, "not a plain file");
        const std::uint64_t size = fs::file_size(dir / path);
        if (size > UINT32_MAX)
            fail(path, "too large for a DS ROM");
        return size;
    }

    bytes read(const std::string& path) const
    {
        size_of(path);
        return read_whole_file(dir / path);
    }

    // Every plain file or other entry under `top`, as folder paths.
    std::vector<std::string> entries_under(const std::string& top) const
    {
        std::vector<std::string> found;
        std::error_code error;
        if (!fs::exists(fs::symlink_status(dir / top, error)))
            return found;
        if (!fs::is_directory(fs::symlink_status(dir / top, error)))
            fail(top, "not a folder");
        for (auto it = fs::recursive_directory_iterator(dir / top); it != fs::recursive_directory_iterator();
             ++it) {
            const fs::file_status status = it->symlink_status();
            if (fs::is_directory(status))
                continue;
            found.push_back(it->path().lexically_relative(dir).generic_string());
        }
        return found;
    }

    const fs::path dir;
};

void check_no_added_files(const folder& f, const rom_folder_manifest& m)
{
    std::set<std::string> listed;
    for (const rom_folder_section& s : m.sections)
        listed.insert(s.path);
    for (const char* top : {"data", "overlay9", "overlay7", "unnamed"})
        for (const std::string& path : f.entries_under(top))
            if (listed.count(path) == 0)
                fail(path, std::string("not in ") + rom_folder_manifest_name +
                               " (a file can be changed, not added, removed or renamed)");
}

// The paths under data/ are those that the file-name table gives the files; the others are
// named by nothing.
void check_names(const folder& f, const rom_folder_manifest& m, const rom_folder_section& fnt_section)
{
    const bytes fnt = f.read(fnt_section.path);
    if (!fnt_is_valid(fnt, m.fat_entries))
        fail(fnt_section.path,
             "not a valid file-name table for the " + std::to_string(m.fat_entries) + " entries of the FAT");
    std::map<std::uint32_t, std::string> named;
    for (const auto& [id, path] : fnt_list_files(fnt))
        named.emplace(id, "data/" + path);
    std::set<std::uint32_t> listed;
    for (const rom_folder_section& s : m.sections) {
        if (section_kind_of(s.code) != section_kind::file)
            continue;
        listed.insert(s.entry);
        const auto it = named.find(s.entry);
        if (it == named.end() && s.path.compare(0, 5, "data/") == 0)
            fail(line_of(s), "fnt.bin names no file " + std::to_string(s.entry) + ", so it is not " + s.path);
        if (it != named.end() && it->second != s.path)
            fail(line_of(s),
                 "fnt.bin names file " + std::to_string(s.entry) + " " + it->second + ", not " + s.path);
    }
    for (const auto& [id, path] : named)
        if (listed.count(id) == 0)
            fail(path, "fnt.bin names it, but the manifest has no file section for it");
}

// Each overlay section is one entry of its table, with the table's file and packing.
void check_overlays(const folder& f, const rom_folder_manifest& m)
{
    for (auto [table_kind, overlay_kind] : {std::pair{section_kind::arm9_ovt, section_kind::arm9_overlay},
                                            std::pair{section_kind::arm7_ovt, section_kind::arm7_overlay}}) {
        bytes table;
        std::string table_path;
        for (const rom_folder_section& s : m.sections)
            if (section_kind_of(s.code) == table_kind) {
                table_path = s.path;
                table = f.read(s.path);
            }
        if (table.size() % nds::ovt_entry_length != 0)
            fail(table_path, "not a whole number of 32-byte overlay entries");
        std::vector<bool> seen(table.size() / nds::ovt_entry_length, false);
        for (const rom_folder_section& s : m.sections) {
            if (section_kind_of(s.code) != overlay_kind)
                continue;
            if (s.entry >= seen.size())
                fail(line_of(s), "the overlay table " + (table_path.empty() ? std::string("is missing")
                                                                            : table_path + " has no entry " +
                                                                                  std::to_string(s.entry)));
            seen[s.entry] = true;
            const byte_span e =
                byte_span(table).subspan(std::size_t{s.entry} * nds::ovt_entry_length, nds::ovt_entry_length);
            const bool packed = overlay_is_compressed(e);
            if (get_le32(e, nds::ovt_file_id) != s.file || packed != s.packed ||
                static_cast<std::uint16_t>(get_le32(e, nds::ovt_id)) != section_id_of(s.code))
                fail(line_of(s), table_path + " entry " + std::to_string(s.entry) + " is overlay " +
                                     std::to_string(get_le32(e, nds::ovt_id)) + ", file " +
                                     std::to_string(get_le32(e, nds::ovt_file_id)) +
                                     (packed ? ", packed" : ", plain"));
        }
        for (std::size_t i = 0; i < seen.size(); ++i)
            if (!seen[i])
                fail(table_path, "entry " + std::to_string(i) + " has no overlay section in the manifest");
    }
}

void check_lengths(const folder& f, const rom_folder_manifest& m)
{
    for (const rom_folder_section& s : m.sections) {
        if (s.path.empty())
            continue;
        const std::uint64_t size = f.size_of(s.path);
        switch (section_kind_of(s.code)) {
        case section_kind::header: {
            if (size != m.header_length)
                fail(s.path, "it is " + hex(size) + " bytes long, the manifest says " + hex(m.header_length));
            const bytes header = f.read(s.path);
            const std::uint32_t field =
                std::max(get_le32(header, nds::hdr_header_size), nds::min_header_section);
            if (field != m.header_length)
                fail(s.path, "its header size field gives a header section of " + hex(field) +
                                 " bytes, not " + hex(m.header_length));
            break;
        }
        case section_kind::arm9:
            if (m.arm9_footer) {
                const bytes arm9 = f.read(s.path);
                if (arm9.size() < nds::arm9_footer_length ||
                    get_le32(arm9, arm9.size() - nds::arm9_footer_length) != nds::arm9_footer_magic)
                    fail(s.path, "it does not end with the 12-byte ARM9 footer that the manifest gives it");
            }
            break;
        case section_kind::banner:
            if (size != m.banner_length)
                fail(s.path, "it is " + hex(size) + " bytes long, the manifest says " + hex(m.banner_length));
            break;
        default:
            break;
        }
    }
    if (m.dsi.state == dsi_state::carried && f.size_of(m.dsi.path) != m.dsi.size)
        fail(m.dsi.path,
             "it is " + hex(f.size_of(m.dsi.path)) + " bytes long, the manifest says " + hex(m.dsi.size));
}

} // namespace

rom_folder_manifest load_rom_folder(const fs::path& dir)
{
    const fs::path manifest_path = dir / rom_folder_manifest_name;
    std::error_code error;
    if (!fs::is_regular_file(manifest_path, error))
        throw std::runtime_error("rom folder - " + dir.string() + " holds no " + rom_folder_manifest_name +
                                 ": not a folder made by rom-unpack");
    const bytes text = read_whole_file(manifest_path);
    const rom_folder_manifest m =
        parse_rom_folder_manifest(std::string_view(reinterpret_cast<const char*>(text.data()), text.size()));

    const folder f(dir);
    check_lengths(f, m);
    check_no_added_files(f, m);
    for (const rom_folder_section& s : m.sections)
        if (section_kind_of(s.code) == section_kind::fnt)
            check_names(f, m, s);
    check_overlays(f, m);
    return m;
}

} // namespace qm
