#pragma once
// Layout of the DS ROM structures this program reads and rewrites. All fields are little-endian.

#include <cstddef>
#include <cstdint>

namespace qm::nds {

// Header: the first 0x180 bytes of the file.
constexpr std::size_t hdr_title = 0x000; // 12 ASCII bytes, NUL-padded
constexpr std::size_t hdr_title_length = 12;
constexpr std::size_t hdr_game_code = 0x00C;
constexpr std::size_t hdr_maker_code = 0x010;
constexpr std::size_t hdr_capacity = 0x014; // chip size = 128 KiB << value
constexpr std::size_t hdr_arm9_offset = 0x020;
constexpr std::size_t hdr_arm9_entry = 0x024;
constexpr std::size_t hdr_arm9_ram_address = 0x028;
constexpr std::size_t hdr_arm9_size = 0x02C; // without the footer
constexpr std::size_t hdr_arm7_offset = 0x030;
constexpr std::size_t hdr_arm7_entry = 0x034;
constexpr std::size_t hdr_arm7_ram_address = 0x038;
constexpr std::size_t hdr_arm7_size = 0x03C;
constexpr std::size_t hdr_fnt_offset = 0x040;
constexpr std::size_t hdr_fnt_size = 0x044;
constexpr std::size_t hdr_fat_offset = 0x048;
constexpr std::size_t hdr_fat_size = 0x04C;
constexpr std::size_t hdr_arm9_ovt_offset = 0x050; // 0 when there is no table
constexpr std::size_t hdr_arm9_ovt_size = 0x054;
constexpr std::size_t hdr_arm7_ovt_offset = 0x058;
constexpr std::size_t hdr_arm7_ovt_size = 0x05C;
constexpr std::size_t hdr_banner_offset = 0x068; // 0 when there is no banner
constexpr std::size_t hdr_used_rom_size = 0x080;
constexpr std::size_t hdr_header_size = 0x084; // length of the header section
constexpr std::size_t hdr_crc16 = 0x15E;       // CRC-16 of bytes 0x000 to 0x15D

// The header section is never shorter than the header itself.
constexpr std::uint32_t min_header_section = 0x180;

// Capacity code n means a chip of 2^(n + 17) bytes.
constexpr unsigned capacity_base_exponent = 17;

// The banner is always taken as 0x840 bytes, whatever its version.
constexpr std::uint32_t banner_length = 0x840;

// Optional 12 bytes right after the ARM9 binary, starting with this word.
constexpr std::uint32_t arm9_footer_length = 12;
constexpr std::uint32_t arm9_footer_magic = 0xDEC00621;

// FAT: one entry per file id, start offset then end offset (one past the last byte).
constexpr std::uint32_t fat_entry_length = 8;

// Overlay tables: 32-byte entries of eight words.
constexpr std::uint32_t ovt_entry_length = 32;
constexpr std::size_t ovt_id = 0x00;
constexpr std::size_t ovt_ram_address = 0x04;
constexpr std::size_t ovt_ram_size = 0x08;
constexpr std::size_t ovt_bss_size = 0x0C;
constexpr std::size_t ovt_sinit_start = 0x10;
constexpr std::size_t ovt_sinit_end = 0x14;
constexpr std::size_t ovt_file_id = 0x18;
constexpr std::size_t ovt_stored = 0x1C; // bits 0-23 stored size, bits 24-31 flag byte
constexpr std::uint32_t ovt_stored_size_mask = 0x00FFFFFF;
constexpr unsigned ovt_flag_shift = 24;
// Bit 0 of the flag byte: the overlay's file is stored in backward LZ form. The other bits mean
// something else (some ROMs set bit 1 on plain overlays) and are carried over untouched.
constexpr std::uint32_t ovt_flag_compressed = 0x01;

// FNT main table: one 8-byte entry per directory (sub-table offset, first file id, then the
// directory count in the root's entry or the parent's id in the others).
constexpr std::uint32_t fnt_dir_entry_length = 8;
constexpr std::uint32_t max_directories = 0x1000;
constexpr std::uint16_t dir_id_base = 0xF000;
constexpr std::uint16_t dir_index_mask = 0x0FFF;

// FNT sub-table entry type byte: 0 ends the table, 0x01-0x7F a file with a name of that many
// bytes, 0x80-0xFF a sub-directory (name length in the low 7 bits) followed by its 16-bit id.
constexpr std::uint8_t fnt_end = 0x00;
constexpr std::uint8_t fnt_dir_flag = 0x80;
constexpr std::uint8_t fnt_name_mask = 0x7F;

// The rebuilt ROM places every section at a multiple of this.
constexpr std::uint32_t section_alignment = 0x200;

} // namespace qm::nds
