#pragma once
// A Nintendo DS ROM image opened for reading: header and tables validated and kept in memory,
// everything else read from its source on demand.

#include "common/bytes.h"
#include "rom/fnt.h"
#include "rom/rom_sink.h"
#include "rom/rom_source.h"
#include "rom/rom_visitor.h"

#include <array>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qm {

constexpr std::size_t rom_header_length = 0x180;

class nds_rom {
public:
    // Opens and validates the file: "nds_rom::nds_rom - can't open input file" or
    // "nds_rom::nds_rom - input file is not a valid NDS ROM".
    explicit nds_rom(const std::filesystem::path& path);
    // Validates the image of any source, which the ROM keeps.
    explicit nds_rom(std::unique_ptr<rom_source> image);
    nds_rom(const nds_rom&) = delete;
    nds_rom& operator=(const nds_rom&) = delete;

    std::span<const std::uint8_t, rom_header_length> header() const noexcept { return raw_header; }
    std::uint32_t game_code() const noexcept;

    std::uint16_t get_file_id(std::string path) const;
    std::string fid_to_string(std::uint16_t id) const;

    // The rebuild: every section handed to `visitor` in writing order, laid out afresh, and the
    // resulting image given to `sink` front to back once every section has its place. The one
    // routine behind every output: a file, nothing (a check), memory, a browser download. New
    // contents are held in memory up to `held_at_most` bytes, then set aside with the sink: the
    // memory a run takes stays about what it was when sections were written at their turn.
    static constexpr std::uint64_t default_held_at_most = 8u << 20;
    void copy_to(rom_sink& sink, rom_visitor& visitor, std::uint64_t held_at_most = default_held_at_most);

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
    // The bytes of a banner of a later version past the 0x840 that every version has, carried
    // as stored behind the banner; 0 unless the banner is plainly of such a version.
    std::uint32_t banner_extension() const noexcept { return banner_extra; }
    rom_source& source() noexcept { return *image; }

private:
    bool load_tables();
    void find_banner_extension();

    std::unique_ptr<rom_source> image;
    bytes fnt;
    bytes fat;
    bytes arm9_ovt;
    bytes arm7_ovt;
    std::array<std::uint8_t, rom_header_length> raw_header{};
    std::uint32_t file_size = 0;
    bool arm9_footer = false;
    std::uint32_t banner_extra = 0;
    // Built by the first fid_to_string: a job asks for the path of every file in turn.
    mutable std::optional<fnt_path_index> path_index;
};

// Header checksum of the DS: CRC-16/MODBUS (reflected 0xA001, initial 0xFFFF, no final XOR).
std::uint16_t crc16(byte_span data);

} // namespace qm
