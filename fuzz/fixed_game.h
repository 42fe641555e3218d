#pragma once
// The small game ROM that the archive target patches, and the facts about it that seed archives
// need (its files, its CPK archive's entries). Built the same way every time.

#include "common/bytes.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qm::fuzz {

struct fixed_game {
    bytes rom;                    // the image
    bytes arm9;                   // with its footer, as the writer offers it
    bytes overlay;                // ARM9 overlay 0, expanded (stored compressed)
    bytes readme;                 // "/readme.txt"
    bytes cpk;                    // "/dir/data.cpk"
    std::vector<bytes> cpk_files; // its entries by id - 1
};

const fixed_game& the_fixed_game();

// A script container whose text (UTF-16LE) lies between the offsets at bytes 24 and 28.
bytes script_container(const std::u16string& text);

// The first byte of an archive target's input: bit 0 set means that the rest (after the cancel
// step byte) is an unpacked archive, packed by the target and then applied to the fixed game.
constexpr std::uint8_t archive_mode_apply = 1;
// The cancel step byte: the job is cancelled when it reports this position; this value never.
constexpr std::uint8_t no_cancel = 0xFF;

} // namespace qm::fuzz
