#pragma once
// The manifest of a ROM folder (manifest.txt, written by rom-unpack): what rebuilding the ROM
// from the folder's files needs beyond the files themselves. A small line-based text, meant to be
// read by people too:
//
//   quillmoor rom folder 1
//   source-size 4194304
//   header-length 0x4000
//   arm9-footer yes
//   fat-entries 350
//   banner-length 0x840
//   dsi none
//   section 0x00000001 header header.bin
//   section 0x00000002 arm9 arm9.bin
//   section 0x0003000a arm9_overlay entry 3 file 3 packed overlay9/overlay9_0003.bin
//   section 0x00140006 file 20 data/script/event.cpk
//   section 0x00150006 file 21 unnamed/21.bin
//   section 0x00000005 fat
//
// The first line names the format and its version. Then, in any order, each once:
//   source-size N        the source ROM file's length in bytes
//   header-length N      the header section's length: header.bin's size (at least 0x180)
//   arm9-footer yes|no   whether arm9.bin ends with the 12-byte footer that follows the binary
//   fat-entries N        the number of entries of the file allocation table
//   banner-length N      banner.bin's size (0 when the ROM has no banner): 0x840, or more when
//                        the banner's version says it is longer and the source holds it whole
//   dsi none | dsi OFFSET SIZE PATH | dsi not-carried REASON
//                        the DSi area: none; where it lay in the source and the file holding it;
//                        or why it cannot be carried over (the ROM is then rebuilt without it,
//                        its header as stored)
// and one "section" line per section of the ROM, in the order the rebuild writes them (by their
// offset in the source): the section code (as rom-info and the identity card show it), the kind,
// the kind's fields, and the file's path in the folder as the rest of the line:
//   header header.bin | arm9 arm9.bin | arm7 arm7.bin | fnt fnt.bin | fat (no file: the rebuild
//   writes the table) | arm9_ovt arm9ovt.bin | arm7_ovt arm7ovt.bin | banner banner.bin
//   file ID PATH                       FAT entry ID; PATH is data/ and its path in the file-name
//                                      table, or unnamed/ID.bin for an entry the table does not name
//   arm9_overlay entry E file F packed|plain PATH (arm7_overlay likewise)
//                                      entry E of the overlay table, whose file is FAT entry F,
//                                      stored packed (backward LZ) or plain; PATH holds it expanded
// Numbers are decimal or hexadecimal with 0x. Fields are separated by one space; a path is the
// rest of the line, spaces included. Blank lines and lines starting with # are ignored; a CR
// before the line feed is dropped.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

struct rom_folder_section {
    std::uint32_t code = 0;
    std::uint32_t entry = 0; // a file's FAT entry; an overlay's index in its table; 0 otherwise
    std::uint32_t file = 0;  // the FAT entry holding an overlay (a file's is its entry)
    bool packed = false;     // an overlay stored in backward LZ form in the ROM
    std::string path;        // in the folder, "/"-separated; empty for the FAT
    std::size_t line = 0;    // where manifest.txt lists it; 0 when not read from a file

    friend bool operator==(const rom_folder_section&, const rom_folder_section&) = default;
};

enum class dsi_state { none, carried, not_carried };

struct rom_folder_dsi {
    dsi_state state = dsi_state::none;
    std::uint32_t offset = 0; // in the source
    std::uint32_t size = 0;
    std::string path;   // carried: the file holding the area
    std::string reason; // not carried: why

    friend bool operator==(const rom_folder_dsi&, const rom_folder_dsi&) = default;
};

struct rom_folder_manifest {
    std::uint32_t source_size = 0;
    std::uint32_t header_length = 0;
    bool arm9_footer = false;
    std::uint32_t fat_entries = 0;
    std::uint32_t banner_length = 0;
    rom_folder_dsi dsi;
    std::vector<rom_folder_section> sections; // in writing order

    friend bool operator==(const rom_folder_manifest&, const rom_folder_manifest&) = default;
};

inline constexpr const char* rom_folder_manifest_name = "manifest.txt";

// The manifest's text (lines end with a line feed).
std::string format_rom_folder_manifest(const rom_folder_manifest& manifest);

// Reads and checks a manifest's text on its own: its syntax, section codes that agree with their
// kinds and fields, paths that stay inside the folder where their kind belongs, one of each
// table, the header first, and every FAT entry taken by exactly one file or by overlays only.
// Throws std::runtime_error "rom folder - manifest.txt line N: ..." naming the line.
rom_folder_manifest parse_rom_folder_manifest(std::string_view text);

// The name of a section kind as the manifest writes it ("arm9_overlay"); nullptr for none.
const char* rom_folder_kind_name(std::uint16_t kind);

// The file that holds the one section of a kind that has one ("header.bin"); nullptr for the
// kinds of many sections and for the FAT.
const char* rom_folder_fixed_path(std::uint16_t kind);

// True for a path that names something inside the folder: "/"-separated components, none empty,
// "." or "..", with no backslash, NUL or other control character.
bool is_safe_folder_path(std::string_view path);

} // namespace qm
