#pragma once
// Text of the sample game: English script lines and their French counterparts, and the script
// container that carries a script inside a script entry.
//
// Script container (all words little-endian):
//   0  "QSCR"            4  version (1)          8  line count N        12 script number
//   16 line table offset 20 command block offset 24 text start          28 text end
//   32 line table: N x u16, each line's first code unit counted from the text start (padded to 4)
//   text: UTF-16LE, lines separated by U+000A
//   command block: the scene's event commands (opaque bytes, the same in every language)

#include "common/bytes.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qm {

class seeded_random;

// UTF-8 source text to UTF-16 code units (the sample's strings are all in the Basic
// Multilingual Plane).
std::u16string utf16_of(const std::string& utf8);

// Lines of a scene in English: ASCII only.
std::vector<std::u16string> english_lines(seeded_random& random, std::size_t count);
// Lines of a scene in French: accented letters, « » with no-break spaces, ’, —, … and œ.
std::vector<std::u16string> french_lines(seeded_random& random, std::size_t count);

// The container holding `lines` and the scene's command block.
bytes make_script_container(std::uint32_t script_number, const std::vector<std::u16string>& lines,
                            byte_span commands);

// A UTF-16LE string in a field of `code_units` units, zero-filled (the string is cut to fit).
void put_utf16_field(mutable_byte_span out, std::size_t offset, const std::u16string& text,
                     std::size_t code_units);

// Item, place and creature names for the data tables.
std::u16string english_name(seeded_random& random);
std::u16string french_name(seeded_random& random);

} // namespace qm
