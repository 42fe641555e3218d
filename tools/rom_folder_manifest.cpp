#include "tools/rom_folder_manifest.h"

#include "rom/rom_visitor.h"

#include <cstdio>
#include <map>
#include <set>
#include <stdexcept>

namespace qm {

namespace {

constexpr std::string_view format_line = "quillmoor rom folder 1";

struct kind_info {
    std::uint16_t kind;
    const char* name;
    const char* fixed_path; // the one file of a kind that has one; nullptr otherwise
};
constexpr kind_info kinds[] = {
    {section_kind::header, "header", "header.bin"},
    {section_kind::arm9, "arm9", "arm9.bin"},
    {section_kind::arm7, "arm7", "arm7.bin"},
    {section_kind::fnt, "fnt", "fnt.bin"},
    {section_kind::fat, "fat", nullptr},
    {section_kind::file, "file", nullptr},
    {section_kind::arm9_ovt, "arm9_ovt", "arm9ovt.bin"},
    {section_kind::arm7_ovt, "arm7_ovt", "arm7ovt.bin"},
    {section_kind::banner, "banner", "banner.bin"},
    {section_kind::arm9_overlay, "arm9_overlay", nullptr},
    {section_kind::arm7_overlay, "arm7_overlay", nullptr},
};

const kind_info* kind_named(std::string_view name)
{
    for (const kind_info& k : kinds)
        if (name == k.name)
            return &k;
    return nullptr;
}

const kind_info& info_of(std::uint16_t kind)
{
    for (const kind_info& k : kinds)
        if (k.kind == kind)
            return k;
    throw std::runtime_error("rom folder - no section kind " + std::to_string(kind));
}

std::string hex(std::uint32_t value, int digits)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*x", digits, static_cast<unsigned>(value));
    return text;
}

bool starts_with(std::string_view s, std::string_view prefix)
{
    return s.substr(0, prefix.size()) == prefix;
}

// One line being read: its number for messages, and its fields taken one by one.
class line_reader {
public:
    line_reader(std::size_t number, std::string_view text) : number(number), rest(text) {}

    [[noreturn]] void fail(const std::string& reason) const
    {
        throw std::runtime_error("rom folder - manifest.txt line " + std::to_string(number) + ": " + reason);
    }

    // The next space-separated field.
    std::string_view word(const char* what)
    {
        if (rest.empty())
            fail(std::string("missing ") + what);
        const std::size_t space = rest.find(' ');
        const std::string_view w = rest.substr(0, space);
        rest = space == std::string_view::npos ? std::string_view() : rest.substr(space + 1);
        if (w.empty())
            fail(std::string("empty ") + what + " (fields are separated by one space)");
        return w;
    }

    void keyword(std::string_view expected)
    {
        if (word(std::string(expected).c_str()) != expected)
            fail("expected \"" + std::string(expected) + "\"");
    }

    std::uint32_t number_field(const char* what)
    {
        const std::string_view w = word(what);
        const bool is_hex = starts_with(w, "0x");
        const std::string_view digits = is_hex ? w.substr(2) : w;
        std::uint64_t value = 0;
        if (digits.empty() || digits.size() > 10)
            fail(std::string("bad ") + what + " \"" + std::string(w) + "\"");
        for (char c : digits) {
            int d = -1;
            if (c >= '0' && c <= '9')
                d = c - '0';
            else if (is_hex && c >= 'a' && c <= 'f')
                d = c - 'a' + 10;
            else if (is_hex && c >= 'A' && c <= 'F')
                d = c - 'A' + 10;
            if (d < 0)
                fail(std::string("bad ") + what + " \"" + std::string(w) + "\"");
            value = value * (is_hex ? 16 : 10) + static_cast<unsigned>(d);
        }
        if (value > UINT32_MAX)
            fail(std::string(what) + " " + std::string(w) + " does not fit in 32 bits");
        return static_cast<std::uint32_t>(value);
    }

    std::string_view remainder() const { return rest; }

    void end()
    {
        if (!rest.empty())
            fail("unexpected \"" + std::string(rest) + "\" at the end of the line");
    }

    const std::size_t number;

private:
    std::string_view rest;
};

rom_folder_section parse_section(line_reader& r)
{
    rom_folder_section s;
    s.line = r.number;
    s.code = r.number_field("section code");
    const std::string_view kind_word = r.word("section kind");
    const kind_info* kind = kind_named(kind_word);
    if (!kind)
        r.fail("unknown section kind \"" + std::string(kind_word) + "\"");
    if (section_kind_of(s.code) != kind->kind)
        r.fail("section code " + hex(s.code, 8) + " is not of kind " + kind->name);

    const bool overlay = kind->kind == section_kind::arm9_overlay || kind->kind == section_kind::arm7_overlay;
    if (kind->kind == section_kind::file) {
        s.entry = s.file = r.number_field("file id");
        if (section_id_of(s.code) != static_cast<std::uint16_t>(s.entry))
            r.fail("section code " + hex(s.code, 8) + " is not that of file " + std::to_string(s.entry));
    } else if (overlay) {
        r.keyword("entry");
        s.entry = r.number_field("overlay table entry");
        r.keyword("file");
        s.file = r.number_field("file id");
        const std::string_view packing = r.word("packed or plain");
        if (packing != "packed" && packing != "plain")
            r.fail("expected \"packed\" or \"plain\", not \"" + std::string(packing) + "\"");
        s.packed = packing == "packed";
    } else if (section_id_of(s.code) != 0) {
        r.fail("section code " + hex(s.code, 8) + " has an id, which a " + kind->name + " section has not");
    }

    if (kind->kind == section_kind::fat) {
        r.end();
        return s;
    }
    s.path = std::string(r.remainder());
    if (s.path.empty())
        r.fail("missing path");
    if (!is_safe_folder_path(s.path))
        r.fail("path \"" + s.path + "\" does not stay inside the folder");
    bool in_place = true;
    if (kind->fixed_path)
        in_place = s.path == kind->fixed_path;
    else if (kind->kind == section_kind::file)
        in_place = starts_with(s.path, "data/") || s.path == "unnamed/" + std::to_string(s.entry) + ".bin";
    else
        in_place = starts_with(s.path, kind->kind == section_kind::arm9_overlay ? "overlay9/" : "overlay7/");
    if (!in_place)
        r.fail("a " + std::string(kind->name) + " section cannot be held by \"" + s.path + "\"");
    return s;
}

rom_folder_dsi parse_dsi(line_reader& r)
{
    rom_folder_dsi dsi;
    const std::string_view first = r.word("DSi area");
    if (first == "none") {
        r.end();
    } else if (first == "not-carried") {
        dsi.state = dsi_state::not_carried;
        dsi.reason = std::string(r.remainder());
    } else {
        dsi.state = dsi_state::carried;
        line_reader offset(r.number, first);
        dsi.offset = offset.number_field("DSi area offset");
        dsi.size = r.number_field("DSi area size");
        dsi.path = std::string(r.remainder());
        if (dsi.path != "dsi.bin")
            r.fail("the DSi area is held by dsi.bin, not \"" + dsi.path + "\"");
    }
    return dsi;
}

// Every FAT entry is one file, or the file of one or more overlays; the tables and binaries come
// once each, the header first.
void check_sections(const rom_folder_manifest& m, std::size_t last_line)
{
    const auto fail = [](std::size_t line, const std::string& reason) {
        throw std::runtime_error("rom folder - manifest.txt line " + std::to_string(line) + ": " + reason);
    };
    if (m.sections.empty() || section_kind_of(m.sections.front().code) != section_kind::header)
        fail(m.sections.empty() ? last_line : m.sections.front().line,
             "the first section must be the header");

    // Each FAT entry needs a section line, so their count bounds the tables below.
    if (m.fat_entries > m.sections.size())
        fail(last_line, "fat-entries " + std::to_string(m.fat_entries) + ", but only " +
                            std::to_string(m.sections.size()) + " sections: every FAT entry needs one");
    std::map<std::uint16_t, std::size_t> kind_count;
    std::vector<std::size_t> file_line(m.fat_entries, 0), overlay_line(m.fat_entries, 0);
    std::set<std::pair<std::uint16_t, std::uint32_t>> overlay_entries;
    std::set<std::string> paths;
    for (const rom_folder_section& s : m.sections) {
        const std::uint16_t kind = section_kind_of(s.code);
        const kind_info& info = info_of(kind);
        if (++kind_count[kind] > 1 && kind != section_kind::file && kind != section_kind::arm9_overlay &&
            kind != section_kind::arm7_overlay)
            fail(s.line, std::string("a second ") + info.name + " section");
        if (!s.path.empty() && !paths.insert(s.path).second)
            fail(s.line, s.path + " is listed twice");
        if (kind != section_kind::file && kind != section_kind::arm9_overlay &&
            kind != section_kind::arm7_overlay)
            continue;
        if (s.file >= m.fat_entries)
            fail(s.line, "file " + std::to_string(s.file) + " is past the " + std::to_string(m.fat_entries) +
                             " entries of the FAT");
        if (kind == section_kind::file) {
            if (file_line[s.file] != 0 || overlay_line[s.file] != 0)
                fail(s.line, "file " + std::to_string(s.file) + " is already listed on line " +
                                 std::to_string(file_line[s.file] + overlay_line[s.file]));
            file_line[s.file] = s.line;
        } else {
            if (!overlay_entries.insert({kind, s.entry}).second)
                fail(s.line,
                     std::string("a second section for ") + info.name + " entry " + std::to_string(s.entry));
            if (file_line[s.file] != 0)
                fail(s.line, "file " + std::to_string(s.file) + " is already listed on line " +
                                 std::to_string(file_line[s.file]));
            overlay_line[s.file] = s.line;
        }
    }
    for (std::uint16_t kind : {section_kind::arm9, section_kind::arm7, section_kind::fnt, section_kind::fat})
        if (kind_count[kind] == 0)
            fail(last_line, std::string("no ") + info_of(kind).name + " section");
    if ((kind_count[section_kind::banner] != 0) != (m.banner_length != 0))
        fail(last_line, "a banner section goes with a banner length other than 0, and only with one");
    if (m.banner_length != 0 && m.banner_length < 0x840)
        fail(last_line, "a banner is at least 0x840 bytes long");
    for (std::uint32_t id = 0; id < m.fat_entries; ++id)
        if (file_line[id] == 0 && overlay_line[id] == 0)
            fail(last_line, "no section for file " + std::to_string(id));
}

} // namespace

const char* rom_folder_kind_name(std::uint16_t kind)
{
    for (const kind_info& k : kinds)
        if (k.kind == kind)
            return k.name;
    return nullptr;
}

const char* rom_folder_fixed_path(std::uint16_t kind)
{
    for (const kind_info& k : kinds)
        if (k.kind == kind)
            return k.fixed_path;
    return nullptr;
}

bool is_safe_folder_path(std::string_view path)
{
    if (path.empty())
        return false;
    std::size_t start = 0;
    while (true) {
        const std::size_t slash = path.find('/', start);
        const std::string_view part = path.substr(start, slash - start);
        if (part.empty() || part == "." || part == "..")
            return false;
        for (char c : part)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F || c == '\\')
                return false;
        if (slash == std::string_view::npos)
            return true;
        start = slash + 1;
    }
}

std::string format_rom_folder_manifest(const rom_folder_manifest& m)
{
    std::string out;
    out += "# quillmoor-tool rom-unpack: the sections of the ROM in the order they are written, and what\n"
           "# rebuilding it exactly needs beyond the files. Fields are described in the README.\n";
    out += std::string(format_line) + "\n";
    out += "source-size " + std::to_string(m.source_size) + "\n";
    out += "header-length " + hex(m.header_length, 1) + "\n";
    out += std::string("arm9-footer ") + (m.arm9_footer ? "yes" : "no") + "\n";
    out += "fat-entries " + std::to_string(m.fat_entries) + "\n";
    out += "banner-length " + hex(m.banner_length, 1) + "\n";
    switch (m.dsi.state) {
    case dsi_state::none:
        out += "dsi none\n";
        break;
    case dsi_state::carried:
        out += "dsi " + hex(m.dsi.offset, 8) + " " + hex(m.dsi.size, 8) + " " + m.dsi.path + "\n";
        break;
    case dsi_state::not_carried:
        out += "dsi not-carried " + m.dsi.reason + "\n";
        break;
    }
    for (const rom_folder_section& s : m.sections) {
        const std::uint16_t kind = section_kind_of(s.code);
        out += "section " + hex(s.code, 8) + " " + info_of(kind).name;
        if (kind == section_kind::file)
            out += " " + std::to_string(s.entry);
        else if (kind == section_kind::arm9_overlay || kind == section_kind::arm7_overlay)
            out += " entry " + std::to_string(s.entry) + " file " + std::to_string(s.file) +
                   (s.packed ? " packed" : " plain");
        if (!s.path.empty())
            out += " " + s.path;
        out += "\n";
    }
    return out;
}

rom_folder_manifest parse_rom_folder_manifest(std::string_view text)
{
    rom_folder_manifest m;
    std::set<std::string> keys_seen;
    bool format_seen = false;
    std::size_t number = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t newline = text.find('\n', pos);
        std::string_view line = text.substr(pos, newline - pos);
        pos = newline == std::string_view::npos ? text.size() : newline + 1;
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty() || line.front() == '#')
            continue;
        line_reader r(number, line);
        if (!format_seen) {
            if (line != format_line)
                r.fail("not a ROM folder manifest of this version (expected \"" + std::string(format_line) +
                       "\")");
            format_seen = true;
            continue;
        }
        const std::string key(r.word("key"));
        if (key == "section") {
            m.sections.push_back(parse_section(r));
            continue;
        }
        if (!keys_seen.insert(key).second)
            r.fail(key + " is given twice");
        if (key == "source-size") {
            m.source_size = r.number_field(key.c_str());
        } else if (key == "header-length") {
            m.header_length = r.number_field(key.c_str());
            if (m.header_length < 0x180)
                r.fail("the header section is at least 0x180 bytes long");
        } else if (key == "arm9-footer") {
            const std::string_view v = r.word("yes or no");
            if (v != "yes" && v != "no")
                r.fail("expected \"yes\" or \"no\", not \"" + std::string(v) + "\"");
            m.arm9_footer = v == "yes";
        } else if (key == "fat-entries") {
            m.fat_entries = r.number_field(key.c_str());
        } else if (key == "banner-length") {
            m.banner_length = r.number_field(key.c_str());
        } else if (key == "dsi") {
            m.dsi = parse_dsi(r);
            continue;
        } else {
            r.fail("unknown key \"" + key + "\"");
        }
        r.end();
    }
    if (!format_seen)
        throw std::runtime_error("rom folder - manifest.txt is empty");
    for (const char* key :
         {"source-size", "header-length", "arm9-footer", "fat-entries", "banner-length", "dsi"})
        if (keys_seen.count(key) == 0)
            throw std::runtime_error("rom folder - manifest.txt line " + std::to_string(number) + ": no " +
                                     key + " line");
    check_sections(m, number);
    return m;
}

} // namespace qm
