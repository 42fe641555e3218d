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
constexpr std::uint16_t section_kind_of(std::uint32_t code) noexcept
{
    return static_cast<std::uint16_t>(code);
}
constexpr std::uint16_t section_id_of(std::uint32_t code) noexcept
{
    return static_cast<std::uint16_t>(code >> 16);
}

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

    // Work ahead. Before each section's turn (after its enter_section), the writer offers the
    // sections it would read and hand to visit (not overlays), in writing order from the current
    // one on, to a visitor that can begin on them early, for instance on other threads while the
    // sections before them are written. The answer to each:
    //   now:    the writer reads the section and hands it to begin_ahead; at its turn it calls
    //           end_ahead, in place of visit, for its new contents;
    //   never:  the section is handled at its turn as usual;
    //   later:  ask again at the next turn, and ask nothing about the sections after it meanwhile.
    // A section that cannot be read ahead is handled at its turn as usual (where its error is
    // raised then). Whatever a visitor finds ahead must only show (errors, listener calls) at the
    // section's turn.
    enum class ahead { never, now, later };
    virtual ahead wants_ahead(std::uint32_t code, std::uint64_t size)
    {
        return (void)code, (void)size, ahead::never;
    }
    virtual void begin_ahead(bytes contents, std::uint32_t code) { (void)contents, (void)code; }
    virtual bytes end_ahead(std::uint32_t code) { return (void)code, bytes(); }
    // Called when the writer stops, also on an error: sections begun and not ended are dropped.
    virtual void drop_ahead() noexcept {}
};

// Changes nothing: every section is copied as stored, and a packed overlay is packed again.
class identity_visitor final : public rom_visitor {
public:
    bytes visit(const bytes& contents, std::uint32_t) override { return contents; }
    void enter_section(std::uint32_t) override {}
    bool passes_through(std::uint32_t) override { return true; }
};

} // namespace qm
