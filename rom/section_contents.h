#pragma once
// What a section holds as the ROM writer offers it to its visitor.

#include "common/bytes.h"
#include "rom/nds_rom.h"
#include "rom/rom_visitor.h"

namespace qm {

// The overlay table entry (32 bytes) that an overlay section came from.
byte_span overlay_entry_of(const nds_rom& rom, const rom_section& section);

// True when the overlay entry's flag byte marks its file as stored in backward LZ form.
bool overlay_is_compressed(byte_span entry);

// A section's contents as the visitor sees them: the ARM9 binary with its footer, an overlay
// expanded when it is stored compressed, every other kind as stored. Errors of the LZ decoder
// pass through.
bytes read_section_contents(nds_rom& rom, const rom_section& section);

} // namespace qm
