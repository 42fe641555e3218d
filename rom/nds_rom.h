#pragma once
// A Nintendo DS ROM image opened for reading: header and tables validated and kept in memory,
// everything else read on demand by seeking.

#include "common/bytes.h"
#include "rom/fnt.h"
#include "rom/pending_output.h"
#include "rom/rom_visitor.h"

#include <array>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace qm {

constexpr std::size_t rom_header_length = 0x180;

class nds_rom : public std::ifstream {
public:
    // Opens and validates the file: "nds_rom::nds_rom - can't open input file" or
    // "nds_rom::nds_rom - input file is not a valid NDS ROM".
    explicit nds_rom(const std::filesystem::path& path);
    nds_rom(const nds_rom&) = delete;
    nds_rom& operator=(const nds_rom&) = delete;

    std::span<const std::uint8_t, rom_header_length> header() const noexcept { return raw_header; }
    std::uint32_t game_code() const noexcept;

    std::uint16_t get_file_id(std::string path) const;
    std::string fid_to_string(std::uint16_t id) const;

    // Rebuilds the ROM into a temporary file beside `destination`; the caller commits it (or lets
    // it be discarded). On error the temporary file is removed and nothing else is touched.
    pending_output copy_to(const std::filesystem::path& destination, rom_visitor& visitor);

    // Sections sorted by source offset, as the writer lays them out.
    std::vector<rom_section> list_sections() const;

    // Readers, each returning a new vector.
    bytes read_range(std::uint32_t offset, std::uint32_t size);
    bytes read_arm9(bool with_footer);
    bytes read_arm7();
    bytes read_file(std::uint32_t id);

    const bytes& fnt_bytes() const noexcept { return fnt; }
    const bytes& fat_bytes() const noexcept { return fat; }
    const bytes& arm9_ovt_bytes() const noexcept { return arm9_ovt; }
    const bytes& arm7_ovt_bytes() const noexcept { return arm7_ovt; }
    std::uint32_t size() const noexcept { return file_size; }
    bool has_arm9_footer() const noexcept { return arm9_footer; }

private:
    bool load_tables();

    bytes fnt;
    bytes fat;
    bytes arm9_ovt;
    bytes arm7_ovt;
    std::array<std::uint8_t, rom_header_length> raw_header{};
    std::uint32_t file_size = 0;
    bool arm9_footer = false;
    // Built by the first fid_to_string: a job asks for the path of every file in turn.
    mutable std::optional<fnt_path_index> path_index;
};

// Header checksum of the DS: CRC-16/MODBUS (reflected 0xA001, initial 0xFFFF, no final XOR).
std::uint16_t crc16(byte_span data);

} // namespace qm
