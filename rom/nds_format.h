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

// The banner: the visitor and the patch always see its first 0x840 bytes, which every version
// has. Later versions add titles and a DSi animated icon behind them; each stores a CRC-16 of
// its version's range.
constexpr std::uint32_t banner_length = 0x840;
constexpr std::size_t banner_version = 0x000; // u16: 1, 2, 3 or 0x0103
struct banner_layout {
    std::uint16_t version;
    std::uint32_t length;  // of the whole banner
    std::size_t crc_field; // u16 CRC-16 of [crc_begin, crc_end)
    std::uint32_t crc_begin;
    std::uint32_t crc_end;
};
constexpr banner_layout later_banners[] = {
    {0x0002, 0x0940, 0x004, 0x0020, 0x0940}, // + Chinese title
    {0x0003, 0x1240, 0x006, 0x0020, 0x0A40}, // + Korean title
    {0x0103, 0x23C0, 0x008, 0x1240, 0x23C0}, // + DSi animated icon
};

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

// Header fields of DSi-enhanced ROMs, beyond the DS ones (the extended header runs from 0x180).
constexpr std::size_t hdr_unit_code = 0x012; // bit 1 set: DSi-enhanced (2) or DSi only (3)
constexpr std::uint8_t unit_code_dsi = 0x02;
constexpr std::size_t hdr_ntr_region_size = 0x090;  // u16, in 512 KiB units; 0 when not given
constexpr std::size_t hdr_twl_region_start = 0x092; // u16, in 512 KiB units; 0 when not given
constexpr std::size_t hdr_dsi_fields = 0x180;       // the extended header
constexpr std::size_t hdr_arm9i_offset = 0x1C0;
constexpr std::size_t hdr_arm9i_size = 0x1CC;
constexpr std::size_t hdr_arm7i_offset = 0x1D0;
constexpr std::size_t hdr_arm7i_size = 0x1DC;
constexpr std::size_t hdr_digest_twl_offset = 0x1E8; // the range the DSi region's digest covers
constexpr std::size_t hdr_digest_twl_size = 0x1EC;
constexpr std::size_t hdr_sector_hashes_offset = 0x1F0; // digest sector hash table
constexpr std::size_t hdr_sector_hashes_size = 0x1F4;
constexpr std::size_t hdr_block_hashes_offset = 0x1F8; // digest block hash table
constexpr std::size_t hdr_block_hashes_size = 0x1FC;
constexpr std::size_t hdr_total_used_size = 0x210; // DSi area included; 0 when not given
constexpr std::size_t hdr_encrypted1_offset = 0x220;
constexpr std::size_t hdr_encrypted1_size = 0x224;
constexpr std::size_t hdr_encrypted2_offset = 0x228;
constexpr std::size_t hdr_encrypted2_size = 0x22C;
constexpr std::size_t hdr_dsi_fields_end = 0x230;
constexpr std::uint64_t dsi_region_unit = 0x80000; // the units of 0x090 and 0x092

// The rebuilt ROM places every section at a multiple of this.
constexpr std::uint32_t section_alignment = 0x200;

} // namespace qm::nds
