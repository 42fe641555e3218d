#pragma once
// Fonts generated for translated scripts: the set of characters a script uses, a Nitro font
// (NFTR) holding exactly those glyphs of the built-in font, and the script entry that carries
// the script and its font inside a CPK archive.

#include "common/bytes.h"
#include "engine/char_table.h"

#include <bitset>
#include <cstdint>
#include <string>

namespace qm {

// Bit i set: the character char_table[i] occurs in the script.
using used_char_set = std::bitset<char_count>;

// Marks every code unit of the container's text (UTF-16LE between the start offset at byte 24
// and the end offset at byte 28) that the index knows; other code units are ignored.
// Throws std::runtime_error when the container is too short to hold the offsets, or the text
// lies outside the container, ends before it starts or has an odd length.
used_char_set used_chars(const char_index_map& index, byte_span container);

// The container's text as UTF-16 code units, with the same checks as used_chars.
std::u16string script_text(byte_span container);

// The NFTR font (2 bits per pixel, UTF-16 character maps) holding the used characters' glyphs
// in character table order.
bytes build_font(const used_char_set& used);

// The script entry: the kept prefix, then the chunks DCM (the script container), TFN (the
// font, padded to 16 bytes) and DNE. `prefix` holds at least `prefix_length` bytes.
bytes assemble_script_entry(byte_span prefix, std::uint32_t prefix_length, byte_span container,
                            byte_span font);

} // namespace qm
