#pragma once
// What differs between two ROMs, section by section, whatever their layout: the sections are
// matched by their code and table entry and compared by contents as the patch job sees them
// (overlays expanded). The header is compared without the fields that only place the sections
// (offsets, sizes, capacity, used size, checksum), the overlay tables without the sizes that
// follow from the overlays, and the FAT not at all: two ROMs that hold the same files, laid out
// differently, do not differ. Inside two CPK archives that differ, the entries are compared by id.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace qm {

struct rom_difference {
    enum class change { changed, only_in_a, only_in_b };
    change what = change::changed;
    std::uint32_t code = 0;
    std::uint32_t entry = 0; // the FAT entry of a file, the table entry of an overlay
    std::string path;        // a file's path in the name table; empty for other kinds and unnamed files
    // Set for one entry of a CPK archive: its id, and its stored and expanded sizes in A and B
    // (0 on the side that lacks it).
    bool in_archive = false;
    std::uint32_t archive_entry = 0;
    std::uint32_t stored_a = 0, stored_b = 0, expanded_a = 0, expanded_b = 0;
};

// The differences in A's writing order, an archive's entries after the archive, then what only
// B holds in B's order. Throws std::runtime_error when either ROM cannot be read.
std::vector<rom_difference> diff_roms(const std::filesystem::path& a, const std::filesystem::path& b);

} // namespace qm
