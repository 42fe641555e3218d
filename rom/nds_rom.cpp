// Opening a ROM: the validity test, the tables kept in memory, and the readers that fetch
// everything else from the file on demand.

#include "rom/nds_rom.h"

#include "common/phase_timer.h"
#include "rom/fnt.h"
#include "rom/nds_format.h"

#include <limits>
#include <stdexcept>
#include <system_error>

namespace qm {

nds_rom::nds_rom(const std::filesystem::path& path) : std::ifstream(path, std::ios::binary)
{
    // Some systems open a folder for reading as if it were a file; it is no input file all the same.
    std::error_code error;
    if (fail() || std::filesystem::is_directory(path, error))
        throw std::runtime_error("nds_rom::nds_rom - can't open input file");
    exceptions(std::ios::failbit | std::ios::badbit);
    if (!load_tables())
        throw std::runtime_error("nds_rom::nds_rom - input file is not a valid NDS ROM");
}

std::uint32_t nds_rom::game_code() const noexcept
{
    return get_le32(raw_header, nds::hdr_game_code);
}

bool nds_rom::load_tables()
{
    seekg(0, std::ios::end);
    const std::streamoff length = tellg();
    // Offsets in the format are 32-bit: a file of 4 GiB or more cannot be a ROM.
    if (length < static_cast<std::streamoff>(rom_header_length) ||
        length > static_cast<std::streamoff>(std::numeric_limits<std::uint32_t>::max()))
        return false;
    file_size = static_cast<std::uint32_t>(length);

    seekg(0);
    read(reinterpret_cast<char*>(raw_header.data()), rom_header_length);
    const auto field = [this](std::size_t offset) { return get_le32(raw_header, offset); };
    const auto inside = [this](std::uint32_t offset, std::uint32_t size) {
        return in_bounds(file_size, offset, size);
    };

    if (!inside(0, field(nds::hdr_header_size)) ||
        !inside(field(nds::hdr_arm9_offset), field(nds::hdr_arm9_size)) ||
        !inside(field(nds::hdr_arm7_offset), field(nds::hdr_arm7_size)) ||
        !inside(field(nds::hdr_fnt_offset), field(nds::hdr_fnt_size)) ||
        !inside(field(nds::hdr_fat_offset), field(nds::hdr_fat_size)) ||
        !inside(field(nds::hdr_arm9_ovt_offset), field(nds::hdr_arm9_ovt_size)) ||
        !inside(field(nds::hdr_arm7_ovt_offset), field(nds::hdr_arm7_ovt_size)) ||
        !inside(field(nds::hdr_banner_offset), nds::banner_length))
        return false;

    fnt = read_range(field(nds::hdr_fnt_offset), field(nds::hdr_fnt_size));
    fat = read_range(field(nds::hdr_fat_offset), field(nds::hdr_fat_size));
    arm9_ovt = read_range(field(nds::hdr_arm9_ovt_offset), field(nds::hdr_arm9_ovt_size));
    arm7_ovt = read_range(field(nds::hdr_arm7_ovt_offset), field(nds::hdr_arm7_ovt_size));

    const std::uint32_t fat_entries = static_cast<std::uint32_t>(fat.size() / nds::fat_entry_length);
    for (auto [table, offset_field] :
         {std::pair{&arm9_ovt, nds::hdr_arm9_ovt_offset}, std::pair{&arm7_ovt, nds::hdr_arm7_ovt_offset}}) {
        // A table at offset 0 gets no section of its own, so the rebuild could not place it
        // anywhere but over the header.
        if (!table->empty() && field(offset_field) == 0)
            return false;
        if (table->size() % nds::ovt_entry_length != 0)
            return false;
        for (std::size_t e = 0; e < table->size(); e += nds::ovt_entry_length)
            if (get_le32(*table, e + nds::ovt_file_id) >= fat_entries)
                return false;
    }

    if (fat.size() % nds::fat_entry_length != 0)
        return false;
    for (std::size_t e = 0; e < fat.size(); e += nds::fat_entry_length) {
        const std::uint32_t start = get_le32(fat, e);
        const std::uint32_t end = get_le32(fat, e + 4);
        if (start > file_size || end > file_size || end < start)
            return false;
    }

    if (!fnt_is_valid(fnt, fat_entries))
        return false;

    const std::uint64_t arm9_end = std::uint64_t{field(nds::hdr_arm9_offset)} + field(nds::hdr_arm9_size);
    arm9_footer = false;
    if (arm9_end + nds::arm9_footer_length <= file_size) {
        const bytes word = read_range(static_cast<std::uint32_t>(arm9_end), 4);
        arm9_footer = get_le32(word, 0) == nds::arm9_footer_magic;
    }
    return true;
}

bytes nds_rom::read_range(std::uint32_t offset, std::uint32_t size)
{
    if (size == 0)
        return {};
    // Callers only ask for checked blocks; this keeps a bad request from allocating blindly.
    if (!in_bounds(file_size, offset, size))
        throw std::runtime_error("nds_rom::read_range failed - range outside the input file");
    bytes data(size);
    const timed_phase timing(job_phase::reading);
    seekg(offset);
    read(reinterpret_cast<char*>(data.data()), size);
    return data;
}

bytes nds_rom::read_arm9(bool with_footer)
{
    const std::uint32_t extra = with_footer && arm9_footer ? nds::arm9_footer_length : 0;
    return read_range(get_le32(raw_header, nds::hdr_arm9_offset),
                      get_le32(raw_header, nds::hdr_arm9_size) + extra);
}

bytes nds_rom::read_arm7()
{
    return read_range(get_le32(raw_header, nds::hdr_arm7_offset), get_le32(raw_header, nds::hdr_arm7_size));
}

bytes nds_rom::read_file(std::uint32_t id)
{
    if (id >= fat.size() / nds::fat_entry_length)
        throw std::runtime_error("nds_rom::read_file failed - unknown file ID");
    const std::uint32_t start = get_le32(fat, std::size_t{id} * nds::fat_entry_length);
    const std::uint32_t end = get_le32(fat, std::size_t{id} * nds::fat_entry_length + 4);
    return read_range(start, end - start);
}

} // namespace qm
