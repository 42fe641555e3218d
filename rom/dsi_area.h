#pragma once
// The DSi-only part of a DSi-enhanced ROM (unit code 2 or 3): the ARM9i and ARM7i binaries and the
// hash tables that go with them, located by the extended header (from 0x180 on). The rebuild lays
// out the DS sections afresh; this area is carried over unchanged after them as one block, so that
// every offset into it stays right once moved by the same distance. It can be carried only when it
// lies wholly inside the file and behind every DS section; otherwise (a dump trimmed past it, or
// regions laid over the DS sections) the ROM is rebuilt as any DS ROM is, its header as stored.

#include "common/bytes.h"
#include "rom/rom_visitor.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qm {

class nds_rom;

class dsi_area {
public:
    // The area of `rom`, whose DS sections are `sections`.
    static dsi_area of(nds_rom& rom, const std::vector<rom_section>& sections);

    bool carried() const noexcept { return area_size != 0; }
    std::uint32_t offset() const noexcept { return source_offset; } // in the source
    std::uint32_t size() const noexcept { return area_size; }
    // "absent", "carried", or "not carried: " and the reason.
    const std::string& status() const noexcept { return status_text; }

    // Where the area goes in a rebuilt ROM whose DS sections end at `ds_end`: the next section
    // boundary, or the next 512 KiB boundary when the header gives the DSi region's start in
    // those units.
    std::uint64_t place_after(std::uint64_t ds_end) const noexcept;

    // For the area placed at `at` after DS sections ending at `ds_end`: rewrites the region
    // start and size in `header` (the first 0x180 bytes of the file) and returns the extended
    // header's fields (the file's bytes from 0x180) with every offset into the area moved with it
    // and the total size following the new layout.
    bytes relocate(bytes& header, std::uint64_t at, std::uint64_t ds_end) const;

private:
    bytes header_fields; // the file's bytes from 0x180, as far as the header section holds fields
    bool region_start_in_units = false;
    std::uint32_t source_offset = 0;
    std::uint32_t area_size = 0;
    std::string status_text = "absent";
};

// Moves every region field of `fields` (the file's bytes from 0x180 on, as far as they are held)
// that lies wholly inside the area [from, from + size) to the same place in the area moved to `to`;
// fields that point elsewhere stay as they are.
void move_dsi_regions(mutable_byte_span fields, std::uint32_t from, std::uint32_t size, std::uint64_t to);

} // namespace qm
