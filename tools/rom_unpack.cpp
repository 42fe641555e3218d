// rom-unpack: a ROM as a folder of files by path, with the manifest that rebuilding it needs.

#include "rom/dsi_area.h"
#include "rom/fnt.h"
#include "rom/nds_format.h"
#include "rom/nds_rom.h"
#include "rom/section_contents.h"
#include "tools/rom_folder.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <stdexcept>

namespace qm {

namespace {

namespace fs = std::filesystem;

[[noreturn]] void fail(const std::string& reason)
{
    throw std::runtime_error("rom-unpack - " + reason);
}

// A name from the ROM as it can be shown: bytes that are no printable text as \xNN.
std::string printable(std::string_view name)
{
    std::string out;
    for (char c : name) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F || c == '\\') {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\x%02X", b);
            out += esc;
        } else {
            out += c;
        }
    }
    return out;
}

// A name that is one file or folder name here, and no other: not empty, "." or "..", and
// without a separator or control character.
bool usable_name(std::string_view name)
{
    return name.find('/') == std::string_view::npos && is_safe_folder_path(name);
}

// The folder path of every file that the name table names, by file id; refuses names that cannot
// be written as they are, and files that would be written twice.
std::map<std::uint32_t, std::string> named_files(const nds_rom& rom,
                                                 const std::set<std::uint32_t>& overlay_files,
                                                 std::vector<std::string>& directories)
{
    std::map<std::uint32_t, std::string> files;
    std::set<std::string> taken; // every path written, without a trailing "/"
    fnt_walk(rom.fnt_bytes(), [&](const std::string& path, const fnt_entry& entry) {
        const std::string shown = "data/" + printable(path);
        if (!usable_name(entry.name))
            fail("the file-name table holds " + shown + ", whose name \"" + printable(entry.name) +
                 "\" cannot be a name in a folder");
        const std::string bare = entry.is_directory ? path.substr(0, path.size() - 1) : path;
        if (!taken.insert(bare).second)
            fail("the file-name table names data/" + printable(bare) + " twice");
        if (entry.is_directory) {
            directories.push_back("data/" + bare);
        } else if (overlay_files.count(entry.id) != 0) {
            fail("the file-name table names " + shown + ", which is the file of an overlay");
        } else if (auto [it, added] = files.emplace(entry.id, "data/" + path); !added) {
            fail("the file-name table names file " + std::to_string(entry.id) + " twice: as " +
                 printable(it->second) + " and as " + shown);
        }
        return false;
    });
    return files;
}

// The files written so far, removed again unless the unpacking completes.
class written_entries {
public:
    explicit written_entries(fs::path dir) : dir(std::move(dir)) {}
    ~written_entries()
    {
        if (done)
            return;
        std::error_code error;
        for (auto it = top_level.rbegin(); it != top_level.rend(); ++it)
            fs::remove_all(*it, error);
        if (created_dir)
            fs::remove(dir, error);
    }
    written_entries(const written_entries&) = delete;
    written_entries& operator=(const written_entries&) = delete;

    void open_folder()
    {
        std::error_code error;
        if (fs::exists(dir, error)) {
            if (!fs::is_directory(dir, error))
                fail(dir.string() + " is not a folder");
            if (!fs::is_empty(dir, error))
                fail(dir.string() + " is not empty: unpack into a new or empty folder");
        } else {
            fs::create_directories(dir);
            created_dir = true;
        }
    }

    void make_directory(const std::string& relative)
    {
        note(relative);
        // The folder was empty: a folder already there is another name that this system takes for
        // the same one (letter case).
        if (!fs::create_directory(dir / relative))
            fail("can't create " + printable(relative) + ": something of that name already exists");
    }

    // Creates the file, which must not exist yet, and writes into it the blocks that `next`
    // returns until it returns an empty one.
    template <class F> void write_blocks(const std::string& relative, F next)
    {
        note(relative);
        std::FILE* f = std::fopen((dir / relative).c_str(), "wbx");
        if (!f)
            fail("can't create " + printable(relative) + ": " + std::strerror(errno));
        bool ok = true;
        try {
            for (bytes block = next(); ok && !block.empty(); block = next())
                ok = std::fwrite(block.data(), 1, block.size(), f) == block.size();
        } catch (...) {
            std::fclose(f);
            throw;
        }
        if (std::fclose(f) != 0 || !ok)
            fail("can't write " + printable(relative) + ": " + std::strerror(errno));
    }

    void write(const std::string& relative, bytes data)
    {
        write_blocks(relative, [&data] { return std::move(data); });
    }

    void commit() { done = true; }

private:
    void note(const std::string& relative)
    {
        const fs::path top = dir / relative.substr(0, relative.find('/'));
        if (top_level.empty() || top_level.back() != top)
            top_level.push_back(top);
    }

    fs::path dir;
    std::vector<fs::path> top_level;
    bool created_dir = false;
    bool done = false;
};

std::string overlay_path(std::uint16_t kind, std::uint32_t entry)
{
    const char* arm = kind == section_kind::arm9_overlay ? "9" : "7";
    char name[32];
    std::snprintf(name, sizeof name, "overlay%s_%04u.bin", arm, static_cast<unsigned>(entry));
    return std::string("overlay") + arm + "/" + name;
}

rom_folder_dsi dsi_of(nds_rom& rom, const std::vector<rom_section>& sections)
{
    rom_folder_dsi dsi;
    const dsi_area area = dsi_area::of(rom, sections);
    const std::string not_carried = "not carried: ";
    if (area.carried())
        dsi = {dsi_state::carried, area.offset(), area.size(), "dsi.bin", {}};
    else if (area.status().starts_with(not_carried))
        dsi = {dsi_state::not_carried, 0, 0, {}, area.status().substr(not_carried.size())};
    return dsi;
}

} // namespace

rom_folder_manifest unpack_rom(const fs::path& rom_path, const fs::path& dir)
{
    nds_rom rom(rom_path);
    const std::vector<rom_section> sections = rom.list_sections();

    rom_folder_manifest m;
    m.source_size = rom.size();
    m.arm9_footer = rom.has_arm9_footer();
    m.fat_entries = static_cast<std::uint32_t>(rom.fat_bytes().size() / nds::fat_entry_length);
    m.dsi = dsi_of(rom, sections);

    // Every path is settled, and every name checked, before anything is written.
    std::set<std::uint32_t> overlay_files;
    for (const rom_section& s : sections)
        if (const std::uint16_t kind = section_kind_of(s.code);
            kind == section_kind::arm9_overlay || kind == section_kind::arm7_overlay)
            overlay_files.insert(get_le32(overlay_entry_of(rom, s), nds::ovt_file_id));
    std::vector<std::string> directories;
    const std::map<std::uint32_t, std::string> named = named_files(rom, overlay_files, directories);
    for (const rom_section& s : sections) {
        rom_folder_section f;
        f.code = s.code;
        const std::uint16_t kind = section_kind_of(s.code);
        if (kind == section_kind::file) {
            f.entry = f.file = s.entry;
            const auto it = named.find(s.entry);
            f.path = it != named.end() ? it->second : "unnamed/" + std::to_string(s.entry) + ".bin";
        } else if (kind == section_kind::arm9_overlay || kind == section_kind::arm7_overlay) {
            const byte_span entry = overlay_entry_of(rom, s);
            f.entry = s.entry;
            f.file = get_le32(entry, nds::ovt_file_id);
            f.packed = overlay_is_compressed(entry);
            f.path = overlay_path(kind, s.entry);
        } else if (kind == section_kind::header) {
            m.header_length = s.size;
            f.path = rom_folder_fixed_path(kind);
        } else if (kind == section_kind::banner) {
            m.banner_length = nds::banner_length + rom.banner_extension();
            f.path = rom_folder_fixed_path(kind);
        } else if (const char* fixed = rom_folder_fixed_path(kind)) {
            f.path = fixed;
        }
        m.sections.push_back(std::move(f));
    }

    written_entries out(dir);
    out.open_folder();
    for (const char* folder : {"data", "overlay9", "overlay7", "unnamed"}) {
        const std::string prefix = std::string(folder) + "/";
        const bool used = std::any_of(m.sections.begin(), m.sections.end(), [&](const rom_folder_section& f) {
            return f.path.compare(0, prefix.size(), prefix) == 0;
        });
        if (used || (prefix == "data/" && !directories.empty()))
            out.make_directory(folder);
    }
    for (const std::string& d : directories)
        out.make_directory(d);
    for (std::size_t i = 0; i < sections.size(); ++i) {
        const rom_section& s = sections[i];
        const rom_folder_section& f = m.sections[i];
        if (f.path.empty())
            continue;
        bytes contents;
        try {
            contents = section_kind_of(s.code) == section_kind::banner
                           ? rom.read_range(s.offset, m.banner_length)
                           : read_section_contents(rom, s);
        } catch (const std::runtime_error& e) {
            fail("can't read " + printable(f.path) + " from the ROM: " + e.what());
        }
        out.write(f.path, std::move(contents));
    }
    if (m.dsi.state == dsi_state::carried) {
        constexpr std::uint32_t block = 1u << 20;
        std::uint32_t done = 0;
        out.write_blocks(m.dsi.path, [&] {
            const std::uint32_t n = std::min(block, m.dsi.size - done);
            bytes part = rom.read_range(m.dsi.offset + done, n);
            done += n;
            return part;
        });
    }
    const std::string text = format_rom_folder_manifest(m);
    out.write(rom_folder_manifest_name, bytes(text.begin(), text.end()));
    out.commit();
    return m;
}

} // namespace qm
