#pragma once
// The characters of a translated script that the built-in font cannot draw. The patch engine
// builds each script's font from the built-in one and silently leaves such characters out, so the
// game would show a gap where they stand: patch authoring lists them instead.

#include "common/bytes.h"
#include "engine/char_table.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qm {

struct missing_glyph {
    char32_t character = 0;  // a code point; a lone surrogate stays as its code unit
    std::uint32_t count = 0; // occurrences in the script
};

// The characters of the script container's text that the index lacks, in order of first
// occurrence. Control characters (line breaks, the game's commands) are never drawn and are not
// listed. Throws std::runtime_error as script_text does for a container it cannot read.
std::vector<missing_glyph> glyphs_missing_from_font(const char_index_map& index, byte_span container);

// "ŷ U+0177", or "U+D800 (a lone surrogate)" for a code point that UTF-8 cannot carry.
std::string describe_character(char32_t character);

} // namespace qm
