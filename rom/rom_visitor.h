#pragma once
// Sections of a ROM and the interface through which the ROM writer hands them to the patch engine.

#include "common/bytes.h"

#include <cstdint>

namespace qm {

// Section code: bits 0-15 the kind, bits 16-31 the file id (kind 6) or overlay id (kinds 10, 11).
enum section_kind : std::uint16_t {
    padding = 0,
    header = 1,
    arm9 = 2,
    arm7 = 3,
    fnt = 4,
    fat = 5,
    file = 6,
    arm9_ovt = 7,
    arm7_ovt = 8,
    banner = 9,
    arm9_overlay = 10,
    arm7_overlay = 11,
};

constexpr std::uint32_t make_section_code(std::uint16_t kind, std::uint16_t id = 0) noexcept
{
    return (static_cast<std::uint32_t>(id) << 16) | kind;
}
constexpr std::uint16_t section_kind_of(std::uint32_t code) noexcept { return static_cast<std::uint16_t>(code); }
constexpr std::uint16_t section_id_of(std::uint32_t code) noexcept { return static_cast<std::uint16_t>(code >> 16); }

struct rom_section {
    std::uint32_t offset; // in the source
    std::uint32_t size;   // in the source
    std::uint32_t code;
    // Which table entry the section came from: the FAT index for files, the entry's index in its
    // overlay table for overlays (overlay ids need not match indexes, and file ids above 0xFFFF do
    // not fit in the code), 0 otherwise.
    std::uint32_t entry = 0;
};

class rom_visitor {
public:
    virtual ~rom_visitor() = default;
    // Returns the section's new contents (may be shorter, longer or empty).
    virtual bytes visit(const bytes& contents, std::uint32_t code) = 0;
    // Called before each section is read, and once more with code 0 before the final padding.
    virtual void enter_section(std::uint32_t code) = 0;
    // Asked after enter_section, in place of visit, for a section that would reach visit as
    // stored (not an expanded overlay): true lets the writer copy it unchanged straight from the
    // source, without reading it into memory; visit is then not called for it.
    virtual bool passes_through(std::uint32_t code) { return (void)code, false; }
    // Asked before the writer copies `size` bytes of the source at `offset` unchanged to
    // `destination` in the output: true when the visitor puts them there itself, by reference to
    // the source (the browser edition composes its result from the source file and the bytes
    // written). The writer then leaves that range of the output unwritten.
    virtual bool places_unchanged(std::uint32_t offset, std::uint32_t size, std::uint64_t destination)
    {
        return (void)offset, (void)size, (void)destination, false;
    }
};

} // namespace qm
