// quillmoor-tool commands on ROM images: rom-info, rom-ls, rom-extract, rom-unpack, rom-pack,
// rom-rebuild, rom-diff, make-test-rom.

#include "cli/tool_command.h"
#include "common/file_io.h"
#include "engine/identity_card.h"
#include "rom/dsi_area.h"
#include "rom/file_sink.h"
#include "rom/fnt.h"
#include "rom/nds_format.h"
#include "rom/nds_rom.h"
#include "rom/section_contents.h"
#include "tools/rom_description_generator.h"
#include "tools/rom_diff.h"
#include "tools/rom_folder.h"
#include "tools/rom_image_builder.h"
#include "ui/progress_state.h"

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <set>
#include <string>

namespace qm::cli {

namespace {

std::string hex(std::uint64_t value, int digits = 8)
{
    char text[32];
    std::snprintf(text, sizeof text, "0x%0*llx", digits, static_cast<unsigned long long>(value));
    return text;
}

const char* kind_name(std::uint16_t kind)
{
    switch (kind) {
    case section_kind::padding:
        return "padding";
    case section_kind::header:
        return "header";
    case section_kind::arm9:
        return "arm9";
    case section_kind::arm7:
        return "arm7";
    case section_kind::fnt:
        return "fnt";
    case section_kind::fat:
        return "fat";
    case section_kind::file:
        return "file";
    case section_kind::arm9_ovt:
        return "arm9_ovt";
    case section_kind::arm7_ovt:
        return "arm7_ovt";
    case section_kind::banner:
        return "banner";
    case section_kind::arm9_overlay:
        return "arm9_overlay";
    case section_kind::arm7_overlay:
        return "arm7_overlay";
    default:
        return "unknown";
    }
}

// "file 12 data/town.bin", "arm9_overlay 3 (compressed)", "banner".
std::string section_label(const nds_rom& rom, const rom_section& section)
{
    const std::uint16_t kind = section_kind_of(section.code);
    std::string label = kind_name(kind);
    if (kind == section_kind::file) {
        label += " " + std::to_string(section.entry);
        if (const auto path = fnt_path_of(rom.fnt_bytes(), section_id_of(section.code)))
            label += " " + *path;
    } else if (kind == section_kind::arm9_overlay || kind == section_kind::arm7_overlay) {
        label += " " + std::to_string(section_id_of(section.code));
        if (overlay_is_compressed(overlay_entry_of(rom, section)))
            label += " (compressed)";
    }
    return label;
}

int rom_info(const args& a)
{
    expect_args(a, 1, 1);
    nds_rom rom(a[0]);
    const rom_fingerprint whole = fingerprint_file(a[0]);
    const auto h = rom.header();
    const auto field = [&](std::size_t offset) { return get_le32(h, offset); };
    const auto text = [&](std::size_t offset, std::size_t length) {
        std::string s(reinterpret_cast<const char*>(h.data() + offset), length);
        return s.substr(0, s.find('\0'));
    };
    const std::uint16_t stored_crc = get_le16(h, nds::hdr_crc16);
    const std::uint16_t crc = crc16(h.first(nds::hdr_crc16));
    const auto block = [&](const char* name, std::size_t offset_field, std::size_t size_field,
                           const std::string& note) {
        std::cout << name << "offset " << hex(field(offset_field)) << "  size " << hex(field(size_field))
                  << note << "\n";
    };

    std::cout << "title         " << text(nds::hdr_title, nds::hdr_title_length) << "\n"
              << "game code     " << text(nds::hdr_game_code, 4) << " (" << hex(rom.game_code()) << ")\n"
              << "maker code    " << text(nds::hdr_maker_code, 2) << "\n"
              << "capacity      " << unsigned{h[nds::hdr_capacity]} << "\n"
              << "header size   " << hex(field(nds::hdr_header_size)) << "\n"
              << "used size     " << hex(field(nds::hdr_used_rom_size)) << "\n"
              << "file size     " << hex(rom.size()) << " (" << whole.size << " bytes)\n"
              << "file crc32    " << hex(whole.crc32).substr(2) << "\n"
              << "file sha1     " << whole.sha1 << "\n"
              << "header crc    " << hex(stored_crc, 4)
              << (stored_crc == crc ? " (ok)" : " (computed " + hex(crc, 4) + ")") << "\n";
    block("arm9          ", nds::hdr_arm9_offset, nds::hdr_arm9_size,
          rom.has_arm9_footer() ? "  with footer" : "");
    block("arm7          ", nds::hdr_arm7_offset, nds::hdr_arm7_size, "");
    block("fnt           ", nds::hdr_fnt_offset, nds::hdr_fnt_size,
          "  (" + std::to_string(get_le16(rom.fnt_bytes(), 6)) + " directories)");
    block("fat           ", nds::hdr_fat_offset, nds::hdr_fat_size,
          "  (" + std::to_string(rom.fat_bytes().size() / nds::fat_entry_length) + " files)");
    block("arm9 ovt      ", nds::hdr_arm9_ovt_offset, nds::hdr_arm9_ovt_size,
          "  (" + std::to_string(rom.arm9_ovt_bytes().size() / nds::ovt_entry_length) + " overlays)");
    block("arm7 ovt      ", nds::hdr_arm7_ovt_offset, nds::hdr_arm7_ovt_size,
          "  (" + std::to_string(rom.arm7_ovt_bytes().size() / nds::ovt_entry_length) + " overlays)");
    std::cout << "banner        "
              << (field(nds::hdr_banner_offset) ? "offset " + hex(field(nds::hdr_banner_offset)) : "none");
    if (rom.banner_extension() != 0)
        std::cout << "  version " << hex(get_le16(rom.read_range(field(nds::hdr_banner_offset), 2), 0), 4)
                  << ", " << hex(nds::banner_length + rom.banner_extension()) << " bytes";
    std::cout << "\n";

    const std::vector<rom_section> sections = rom.list_sections();
    std::cout << "dsi area      " << dsi_area::of(rom, sections).status() << "\n";

    std::cout << "\nsections in writing order (" << sections.size() << "):\n"
              << "  offset      size        code        section\n";
    for (const rom_section& s : sections)
        std::cout << "  " << hex(s.offset) << "  " << hex(s.size) << "  " << hex(s.code) << "  "
                  << section_label(rom, s) << "\n";
    return 0;
}

int rom_ls(const args& a)
{
    expect_args(a, 1, 1);
    nds_rom rom(a[0]);
    for (const auto& [id, path] : fnt_list_files(rom.fnt_bytes()))
        std::cout << id << " " << path << "\n";
    return 0;
}

int rom_extract(const args& a)
{
    expect_args(a, 2, 2);
    nds_rom rom(a[0]);
    const std::filesystem::path dir = a[1];
    std::filesystem::create_directories(dir);
    std::set<std::string> names;
    std::size_t count = 0;
    for (const rom_section& s : rom.list_sections()) {
        // <code>-<kind>.bin; a second section with the same code (two overlays sharing an id)
        // gets the index of its table entry too.
        std::string name = hex(s.code).substr(2) + "-" + kind_name(section_kind_of(s.code));
        if (!names.insert(name).second)
            name += "-" + std::to_string(s.entry);
        write_whole_file(dir / (name + ".bin"), read_section_contents(rom, s));
        ++count;
    }
    std::cout << "extracted " << count << " sections to " << dir.string() << "\n";
    return 0;
}

int rom_unpack(const args& a)
{
    expect_args(a, 2, 2);
    const rom_folder_manifest m = unpack_rom(a[0], a[1]);
    std::size_t named = 0, unnamed = 0, overlays = 0, packed = 0;
    for (const rom_folder_section& s : m.sections) {
        named += s.path.rfind("data/", 0) == 0;
        unnamed += s.path.rfind("unnamed/", 0) == 0;
        const std::uint16_t kind = section_kind_of(s.code);
        if (kind == section_kind::arm9_overlay || kind == section_kind::arm7_overlay) {
            ++overlays;
            packed += s.packed;
        }
    }
    std::cout << "unpacked " << a[0] << " into " << a[1] << ": " << named << " files by path in data/, "
              << unnamed << " unnamed, " << overlays << " overlays (" << packed
              << " expanded from their packed form)"
              << (m.dsi.state == dsi_state::carried ? ", the DSi area" : "") << "\n";
    if (m.dsi.state == dsi_state::not_carried)
        std::cout << "note: the DSi area cannot be carried over (" << m.dsi.reason
                  << "): rom-pack rebuilds the ROM without it, its header as stored\n";
    return 0;
}

int rom_pack(const args& a)
{
    expect_args(a, 2, 2);
    file_sink sink(a[1]);
    pack_rom_folder(a[0], sink);
    sink.commit();
    std::cout << "packed " << a[0] << " into " << a[1] << " (" << std::filesystem::file_size(a[1])
              << " bytes)\n";
    return 0;
}

// The section as the progress names it; an unnamed file by its FAT entry.
std::string diff_label(const rom_difference& d)
{
    if (section_kind_of(d.code) == section_kind::file && d.path.empty())
        return "file " + std::to_string(d.entry);
    return ui::section_label(d.code, d.path.c_str()).value_or(hex(d.code));
}

// Exits as diff does: 0 when the ROMs hold the same, 1 when they differ, 2 on any error.
int rom_diff(const args& a)
{
    expect_args(a, 2, 2);
    std::vector<rom_difference> differences;
    try {
        differences = diff_roms(a[0], a[1]);
    } catch (const std::exception& e) {
        std::cerr << "quillmoor-tool rom-diff: " << e.what() << "\n";
        return 2;
    }
    for (const rom_difference& d : differences) {
        using change = rom_difference::change;
        std::cout << (d.what == change::changed     ? "changed "
                      : d.what == change::only_in_a ? "only in A: "
                                                    : "only in B: ")
                  << diff_label(d);
        if (d.in_archive) {
            std::cout << " entry " << d.archive_entry << ": ";
            if (d.what == change::changed)
                std::cout << "stored " << d.stored_a << " -> " << d.stored_b << ", expanded " << d.expanded_a
                          << " -> " << d.expanded_b;
            else if (d.what == change::only_in_a)
                std::cout << "stored " << d.stored_a << ", expanded " << d.expanded_a;
            else
                std::cout << "stored " << d.stored_b << ", expanded " << d.expanded_b;
        }
        std::cout << "\n";
    }
    return differences.empty() ? 0 : 1;
}

int rom_rebuild(const args& a)
{
    expect_args(a, 2, 2);
    nds_rom rom(a[0]);
    identity_visitor visitor;
    file_sink sink(a[1]);
    rom.copy_to(sink, visitor);
    sink.commit();
    std::cout << "wrote " << a[1] << " (" << std::filesystem::file_size(a[1]) << " bytes)\n";
    return 0;
}

int make_test_rom(const args& a)
{
    std::uint64_t seed = 1;
    if (a.size() == 3 && a[1] == "--seed")
        seed = parse_number(a[2]);
    else
        expect_args(a, 1, 1);
    const built_rom rom = build_rom_image(random_rom_description(seed));
    write_whole_file(a[0], rom.image);
    std::cout << "wrote " << a[0] << " (" << rom.image.size() << " bytes, " << rom.files.size()
              << " files in " << rom.directory_count << " directories, " << rom.arm9_overlay_files.size()
              << " ARM9 and " << rom.arm7_overlay_files.size() << " ARM7 overlays)\n";
    return 0;
}

const tool_command commands[] = {
    {"rom-info", "ROM", "header fields and the section list in writing order", rom_info,
     "ROM  a DS ROM image",
     "the header's fields, the file's size, CRC-32 and SHA-1, and one line per section\n"
     "(offset, size, section code, kind) on stdout",
     nullptr, "quillmoor-tool rom-info quillmoor.nds"},
    {"rom-ls", "ROM", "files named in the FNT, one per line: id path", rom_ls, "ROM  a DS ROM image",
     "one line per file that the file-name table names, on stdout: its file id and its path", nullptr,
     "quillmoor-tool rom-ls quillmoor.nds | grep cpk"},
    {"rom-extract", "ROM DIR", "every section as DIR/<code>-<kind>.bin (overlays expanded)", rom_extract,
     "ROM  a DS ROM image\nDIR  the folder to write into (created when missing)",
     "every section as DIR/<section code>-<kind>.bin, overlays expanded, the ARM9 binary with its footer",
     nullptr, "quillmoor-tool rom-extract quillmoor.nds sections"},
    {"rom-unpack", "ROM DIR",
     "the ROM as a folder of files by path, with the manifest that rebuilding it needs", rom_unpack,
     "ROM  a DS ROM image\nDIR  a new or empty folder (anything else is refused)",
     "DIR/header.bin, arm9.bin (with its footer), arm7.bin, arm9ovt.bin, arm7ovt.bin, fnt.bin,\n"
     "banner.bin, overlay9/overlay9_NNNN.bin and overlay7/overlay7_NNNN.bin (expanded; NNNN is the\n"
     "table entry), data/PATH for every file the file-name table names, unnamed/ID.bin for the FAT\n"
     "entries nothing names, dsi.bin (a DSi area), and manifest.txt. A name that would leave DIR or\n"
     "collide with another is refused before anything is written; after an error nothing is left.",
     nullptr,
     "quillmoor-tool rom-unpack quillmoor.nds work\nquillmoor-tool rom-ls quillmoor.nds   # the same paths, "
     "under work/data/"},
    {"rom-pack", "DIR OUT",
     "the ROM from a folder made by rom-unpack, through the same rebuild as the patch job", rom_pack,
     "DIR  a folder made by rom-unpack, its files edited (not added, removed or renamed)\nOUT  the ROM to "
     "write",
     "OUT, every section laid out afresh from the folder's files as the patch job lays out a ROM: the\n"
     "FAT, the overlay tables and the header's offsets, sizes and checksum follow the files, and an\n"
     "overlay stored packed is packed again. An untouched folder gives exactly what rom-rebuild gives\n"
     "of its ROM. A folder out of step with its manifest is refused, naming the path or the line.\n"
     "OUT is written whole or not at all.",
     "0 written, 1 error (the folder refused, or OUT cannot be written; the message on stderr):\n"
     "nothing written, 2 bad usage",
     "quillmoor-tool rom-pack work translated.nds   # work/ made by rom-unpack, then edited"},
    {"rom-rebuild", "SRC DST", "rebuild a ROM without changing any section", rom_rebuild,
     "SRC  a DS ROM image\nDST  the ROM to write",
     "DST, every section laid out afresh as the patch job lays it out; written whole or not at all", nullptr,
     "quillmoor-tool rom-rebuild quillmoor.nds rebuilt.nds"},
    {"rom-diff", "A B", "what differs between two ROMs: sections, files by path, CPK entries by id", rom_diff,
     "A, B  two DS ROM images",
     "one line per difference on stdout, in A's writing order: \"changed LABEL\", \"only in A: LABEL\" or\n"
     "\"only in B: LABEL\", LABEL as the progress shows it (a file's path, \"OVL9-0003\", \"Banner\");\n"
     "inside two CPK archives that differ, one line per entry: \"changed PATH entry ID: stored X -> Y,\n"
     "expanded X -> Y\". The layout (offsets, the FAT, sizes in the header and overlay tables) is not\n"
     "compared.",
     "0 the same, 1 different, 2 error or bad usage (as diff)",
     "quillmoor-tool rom-diff quillmoor.nds quillmoor-fr.nds"},
    {"make-test-rom", "OUT [--seed N]", "write a small generated ROM for trying the tools", make_test_rom,
     "OUT       the ROM to write\n--seed N  another generated ROM (1 when not given)",
     "OUT, a valid ROM with a random file system, overlays and a banner", nullptr,
     "quillmoor-tool make-test-rom test.nds --seed 7"},
};

} // namespace

std::span<const tool_command> rom_tool_commands()
{
    return commands;
}

} // namespace qm::cli
