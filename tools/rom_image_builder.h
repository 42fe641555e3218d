#pragma once
// Builds a DS ROM image from a description: header, binaries, a file system with nested
// directories, overlays stored plain or in backward LZ form, an optional banner, laid out in the
// usual order or shuffled and spaced out. Used by the tests, the demo and the sample game.

#include "common/bytes.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace qm {

// One entry of the ROM's file system: a file with its contents, or a directory with its entries
// (written in this order in the directory's sub-table).
struct rom_fs_node {
    std::string name; // files 1-127 bytes, directories 0-127 bytes
    bool is_directory = false;
    bytes contents;                    // files
    std::vector<rom_fs_node> children; // directories

    static rom_fs_node file(std::string name, bytes contents = {});
    static rom_fs_node directory(std::string name, std::vector<rom_fs_node> children = {});
};

struct rom_overlay {
    std::uint32_t id = 0;         // word 0x00 of its table entry; need not be the entry's index
    bytes contents;               // the overlay as loaded (expanded)
    bool compressed = false;      // store it packed with nds_lz_comp (bit 0 of the flag byte)
    std::uint8_t other_flags = 0; // further bits of the flag byte, which say nothing of packing
    // Exact bytes to store instead of `contents` (packed or not): for malformed input.
    std::optional<bytes> stored = std::nullopt;
    std::uint32_t ram_address = 0x02100000;
    std::uint32_t bss_size = 0;
    std::uint32_t sinit_start = 0;
    std::uint32_t sinit_end = 0;
};

struct rom_layout_options {
    std::uint32_t alignment = 0x200; // every block starts at a multiple of this (a power of two)
    std::uint32_t gap = 0;           // bytes left free after each block before the next
    std::uint8_t fill = 0xFF;        // gaps and final padding
    std::uint64_t shuffle_seed = 0;  // non-zero: blocks after the header in a random order
    bool pad_to_power_of_two = true; // otherwise the image ends with its last block
};

struct rom_description {
    std::string title = "QM TEST";  // at most 12 bytes
    std::string game_code = "QMTE"; // 4 bytes
    std::string maker_code = "01";  // 2 bytes
    // The header size field. The header section spans max(header_size, 0x180) bytes; bytes from
    // 0x180 on are `header_extra`, then zero.
    std::uint32_t header_size = 0x4000;
    bytes header_extra;
    bytes arm9;
    std::optional<std::array<std::uint8_t, 8>> arm9_footer; // the 8 bytes after the footer's magic word
    bytes arm7;
    // Where the console copies each binary and starts it (header 0x024-0x028, 0x034-0x038).
    std::uint32_t arm9_entry_address = 0x02000000;
    std::uint32_t arm9_ram_address = 0x02000000;
    std::uint32_t arm7_entry_address = 0x02380000;
    std::uint32_t arm7_ram_address = 0x02380000;
    std::vector<rom_fs_node> root; // the root directory's entries
    std::vector<rom_overlay> arm9_overlays;
    std::vector<rom_overlay> arm7_overlays;
    std::optional<bytes> banner; // 0x840 bytes, or the length of a later version (0x940, 0x1240, 0x23C0)
    rom_layout_options layout;
};

struct built_rom_file {
    std::string path; // as the ROM names it: "dir/sub/name", no leading "/"
    std::uint16_t id;
};

struct built_rom {
    bytes image;
    std::vector<built_rom_file> files;             // every named file, in directory order
    std::vector<std::uint16_t> arm9_overlay_files; // file id of each ARM9 overlay, table order
    std::vector<std::uint16_t> arm7_overlay_files;
    std::uint32_t directory_count = 0;
};

// File ids: ARM9 overlays first, then ARM7 overlays, then the named files directory by
// directory (directories numbered depth-first from the root). Throws std::invalid_argument for
// a description the format cannot hold, and passes on errors of nds_lz_comp.
built_rom build_rom_image(const rom_description& description);

// build_rom_image, written to a file.
void write_rom_image(const rom_description& description, const std::filesystem::path& path);

} // namespace qm
