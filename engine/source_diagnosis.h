#pragma once
// What a source ROM is, as far as the patch is concerned: the answer to a player who brought a
// file the patch refuses (or wants to know beforehand). Made from the file itself and, when the
// patch has one, its identity card.

#include "engine/identity_card.h"

#include <cstdint>
#include <filesystem>
#include <optional>

namespace qm {

enum class source_verdict {
    unreadable,         // the file cannot be opened
    not_a_rom,          // not a DS ROM image
    cut,                // the game's release, but shorter than it: a copy cut short
    other_game,         // a DS ROM of another game
    already_translated, // the ROM the patch produces (whole, or in every section it changes)
    other_release,      // the game, but a section the patch changes is not the expected one
    expected,           // the release the patch was made for (in every section it changes)
    game_unverified,    // the game, but without a card nothing more can be said
};

struct source_diagnosis {
    source_verdict verdict = source_verdict::unreadable;
    rom_fingerprint found; // title, code and size always; CRC-32 and SHA-1 once the file was read
    // already_translated, expected: the whole file is the card's ROM, not only its changed sections.
    bool whole_file = false;
    // expected: the file is the original without its final padding (a trimmed dump), whose
    // result is the card's translation all the same.
    bool trimmed = false;
    // other_release: the first section that differs, and its CRC-32 in this file (none when the
    // file has no such section).
    card_section differing;
    std::optional<std::uint32_t> found_crc;
};

// `card` may be null: the verdicts that need one are then not given.
source_diagnosis diagnose_source(const std::filesystem::path& path, const identity_card* card);

} // namespace qm
