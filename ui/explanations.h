#pragma once
// What a player is told, in French, about the ROM they brought: why the patch refuses it and what
// to do, what a check found, and whether a written ROM is the translation. Made from a
// source_diagnosis and, when the patch has one, its identity card (null otherwise). Used by the
// command-line patcher and the browser edition; the Windows program keeps its own texts.

#include "engine/identity_card.h"
#include "engine/source_diagnosis.h"

#include <string>

namespace qm::ui {

// After a failed run (or check): what the file is and what to do, one or a few sentences.
std::string explain_refusal(const source_diagnosis& d, const identity_card* card);

// After a successful check: one line naming the game and its release.
std::string describe_accepted_source(const source_diagnosis& d, const identity_card* card);

// "Quillmoor (QLMOR, code YQLE, Amérique du Nord)": the game, its title field, game code and the
// region the code names.
std::string game_name(const rom_fingerprint& release);

// After a successful run: the SHA-1 of the written ROM, "vérifiée" when it is the card's
// translated ROM.
std::string describe_result(const rom_fingerprint& written, const identity_card* card);

} // namespace qm::ui
